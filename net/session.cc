#include "net/session.h"

#include "engine/executor.h"
#include "net/digest.h"
#include "net/reply_frame.h"
#include "net/wire_format.h"
#include "values/little_endian.h"

namespace qn::net {
namespace {

// A request or reply buffer grown past this by a large frame is given back once it is done with.
constexpr size_t kept_buffer_capacity = size_t{1} << 20;

// Reads a u32 length and that many bytes from the front of `payload`, consuming them.
// False when the payload is too short for either.
bool take_counted(std::string_view& payload, std::string_view& out) {
  if (payload.size() < wire::length_bytes) return false;
  const uint64_t n = load_le<uint32_t>(payload.data());
  if (payload.size() - wire::length_bytes < n) return false;
  out = payload.substr(wire::length_bytes, n);
  payload.remove_prefix(wire::length_bytes + n);
  return true;
}

void clear_keeping_small(std::string& buffer) {
  if (buffer.capacity() > kept_buffer_capacity) {
    std::string().swap(buffer);
  } else {
    buffer.clear();
  }
}

void reset_request(connection& c) {
  clear_keeping_small(c.request);
  c.expected_length = 0;
}

session_step send_reply(connection& c, std::string_view frame, connection::after_reply then) {
  c.outgoing = frame;
  c.then = then;
  return session_step::send;
}

session_step keep_unless(bool is_refused) {
  return is_refused ? session_step::close : session_step::receive;
}

bool is_known_user(const connection& c, std::string_view name, std::string_view password) {
  const user_table* users = c.context->users;
  if (users == nullptr) return false;
  const auto user = users->find(name);
  return user != users->end() && password_digest(password) == user->second;
}

// The frame is complete and the session not logged in yet.
session_step run_login(connection& c) {
  std::string_view payload(c.request);
  payload.remove_prefix(wire::length_bytes);
  std::string_view name;
  std::string_view password;
  if (!take_counted(payload, name) || !take_counted(payload, password)) {
    // Malformed: no reply; the bytes stay and the login is read again when more arrive.
    return keep_unless(!c.context->throttle->record_failure(c.client_address));
  }
  if (!is_known_user(c, name, password)) {
    reset_request(c);
    // Counted once the reply has left: a reply that cannot be sent closes without counting.
    return send_reply(c, status_frame(false), connection::after_reply::count_failure);
  }
  c.context->throttle->record_success(c.client_address);
  c.is_logged_in = true;
  c.login_deadline.store(0, std::memory_order_relaxed);
  reset_request(c);
  return send_reply(c, status_frame(true), connection::after_reply::receive);
}

// The frame is complete and the session logged in.
session_step run_command(connection& c) {
  {
    db::nosql::reply_record reply;
    // Bytes after the prefix, including any that arrived past the frame (clients wait for each
    // reply, so there are none in practice).
    const bool is_done =
        db::nosql::execute(*c.context->registry, c.request.data() + wire::length_bytes,
                           c.request.size() - wire::length_bytes, reply);
    if (is_done && build_reply_frame(reply, c.reply)) {
      c.outgoing = c.reply;
    } else {
      c.outgoing = status_frame(false);
    }
  }
  reset_request(c);
  c.then = connection::after_reply::receive;
  return session_step::send;
}

// A frame whose declared length is over its limit: a login is refused like a wrong password
// without being gathered or digested; a command closes the connection.
session_step refuse_oversized(connection& c) {
  if (!c.is_logged_in) {
    reset_request(c);
    return send_reply(c, status_frame(false), connection::after_reply::count_failure_and_close);
  }
  if (c.context->warn) {
    c.context->warn("connection from " + c.client_address + " closed: a frame of " +
                    std::to_string(c.expected_length) + " bytes is over max_frame_bytes (" +
                    std::to_string(c.context->max_frame_bytes) + ")");
  }
  return session_step::close;
}

}  // namespace

int64_t steady_now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

session_step receive_bytes(connection& c, uint32_t bytes) {
  const session_context& context = *c.context;
  const size_t before = c.request.size();
  // The buffer grows with the bytes that arrive, never with the length a frame declares.
  c.request.append(c.receive_area.data(), bytes);
  const bool is_length_new = before < wire::length_bytes && c.request.size() >= wire::length_bytes;
  if (is_length_new) c.expected_length = load_le<uint32_t>(c.request.data());
  // Checked on every receive, so a ban also ends sessions that are already logged in.
  if (c.expected_length == wire::close_marker || context.throttle->is_banned(c.client_address)) {
    return session_step::close;
  }
  const uint32_t limit = c.is_logged_in ? context.max_frame_bytes : context.max_login_bytes;
  if (is_length_new && c.expected_length > limit) return refuse_oversized(c);
  if (c.request.size() < uint64_t{c.expected_length} + wire::length_bytes) {
    if (c.is_logged_in) return session_step::receive;
    return keep_unless(!context.throttle->record_failure(c.client_address));
  }
  return c.is_logged_in ? run_command(c) : run_login(c);
}

session_step reply_sent(connection& c) {
  c.outgoing = {};
  clear_keeping_small(c.reply);
  switch (c.then) {
    case connection::after_reply::receive:
      return session_step::receive;
    case connection::after_reply::count_failure:
      return keep_unless(!c.context->throttle->record_failure(c.client_address));
    case connection::after_reply::count_failure_and_close:
      (void)c.context->throttle->record_failure(c.client_address);
      return session_step::close;
  }
  return session_step::close;
}

}  // namespace qn::net
