#include "net/session.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "engine/executor.h"
#include "net/digest.h"
#include "net/reply_frame.h"

namespace qn::net {
namespace {

constexpr uint32_t close_marker = 0xFFFFFFFF;
// A request buffer grown past this by a large frame is given back once the frame is answered.
constexpr size_t kept_request_capacity = size_t{1} << 20;

uint32_t load_le32(const char* p) {
  return static_cast<uint32_t>(static_cast<uint8_t>(p[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(p[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(p[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(p[3])) << 24;
}

// Reads a u32 length and that many bytes from the front of `payload`, consuming them.
// False when the payload is too short for either.
bool take_counted(std::string_view& payload, std::string_view& out) {
  if (payload.size() < 4) return false;
  const uint64_t n = load_le32(payload.data());
  if (payload.size() - 4 < n) return false;
  out = payload.substr(4, n);
  payload.remove_prefix(4 + n);
  return true;
}

// Waits until `socket` can take more bytes (or has an error the next send reports). False when
// `deadline` passes first or the wait itself fails.
bool wait_writable(int socket, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{socket, POLLOUT, 0};
    const int ready = poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), INT_MAX)));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

void reset_request(connection& c) {
  if (c.request.capacity() > kept_request_capacity) {
    std::string().swap(c.request);
  } else {
    c.request.clear();
  }
  c.expected_length = 0;
}

bool is_known_user(const connection& c, std::string_view name, std::string_view password) {
  if (c.users == nullptr) return false;
  const auto user = c.users->find(name);
  return user != c.users->end() && password_digest(password) == user->second;
}

// The frame is complete and the session not logged in yet.
bool run_login(connection& c) {
  std::string_view payload(c.request);
  payload.remove_prefix(4);
  std::string_view name;
  std::string_view password;
  if (!take_counted(payload, name) || !take_counted(payload, password)) {
    // Malformed: no reply; the bytes stay and the login is read again when more arrive.
    return c.throttle->record_failure(c.client_address);
  }
  if (!is_known_user(c, name, password)) {
    reset_request(c);
    // A reply that cannot be sent closes the connection without counting the failure.
    if (!send_whole(c.socket, status_frame(false), c.send_timeout)) return false;
    return c.throttle->record_failure(c.client_address);
  }
  c.throttle->record_success(c.client_address);
  c.is_logged_in = true;
  reset_request(c);
  return send_whole(c.socket, status_frame(true), c.send_timeout);
}

// The frame is complete and the session logged in.
bool run_command(connection& c) {
  bool is_sent = false;
  {
    db::nosql::reply_record reply;
    // Bytes after the prefix, including any that arrived past the frame (clients wait for each
    // reply, so there are none in practice).
    const bool is_done =
        db::nosql::execute(*c.registry, c.request.data() + 4, c.request.size() - 4, reply);
    std::string frame;
    if (is_done && build_reply_frame(reply, frame)) {
      is_sent = send_whole(c.socket, frame, c.send_timeout);
    } else {
      is_sent = send_whole(c.socket, status_frame(false), c.send_timeout);
    }
  }
  reset_request(c);
  return is_sent;
}

}  // namespace

// Non-blocking sends with a poll for room in between, so that the deadline covers the whole
// frame: a per-call send timeout would let a peer that takes a few bytes now and then keep the
// worker for ever.
bool send_whole(int socket, std::string_view bytes, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!bytes.empty()) {
    const ssize_t n = send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!wait_writable(socket, deadline)) return false;
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

bool receive_bytes(connection& c, uint32_t bytes) {
  const size_t before = c.request.size();
  c.request.append(c.receive_area.data(), bytes);
  if (before < 4 && c.request.size() >= 4) c.expected_length = load_le32(c.request.data());
  // Checked on every receive, so a ban also ends sessions that are already logged in.
  if (c.expected_length == close_marker || c.throttle->is_banned(c.client_address)) return false;
  if (c.request.size() < uint64_t{c.expected_length} + 4) {
    return c.is_logged_in || c.throttle->record_failure(c.client_address);
  }
  return c.is_logged_in ? run_command(c) : run_login(c);
}

}  // namespace qn::net
