#include "client/connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qn::client {

namespace {

using clock = std::chrono::steady_clock;

// Bytes asked of the kernel per receive call; the reply buffer grows only as bytes arrive, so a
// length field that announces more than the server sends never allocates the announced size.
constexpr size_t receive_chunk = 64 * 1024;

std::string system_error_text(int error) { return std::strerror(error); }

// Polls one descriptor until it is ready for `events` or `deadline` passes, restarting after
// signals. Returns 1 when ready (or in error: the next call on the socket reports it), 0 on
// timeout, -1 with errno set when poll itself fails.
int poll_until(int fd, short events, clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
    const int wait_ms = static_cast<int>(std::clamp<int64_t>(left.count(), 0, 1 << 30));
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, wait_ms);
    if (n > 0) return 1;
    if (n == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

// Connects one socket to `address` within the timeout. Returns the connected socket, or -1 with
// `error` set to a description.
int connect_one(const addrinfo& address, std::chrono::milliseconds timeout, std::string& error) {
  const int s = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                         address.ai_protocol);
  if (s < 0) {
    error = system_error_text(errno);
    return -1;
  }
  if (::connect(s, address.ai_addr, address.ai_addrlen) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) {
      error = system_error_text(errno);
      ::close(s);
      return -1;
    }
    const int ready = poll_until(s, POLLOUT, clock::now() + timeout);
    int so_error = 0;
    socklen_t length = sizeof(so_error);
    if (ready <= 0 || ::getsockopt(s, SOL_SOCKET, SO_ERROR, &so_error, &length) != 0 ||
        so_error != 0) {
      error = ready == 0 ? "connection attempt timed out"
                         : system_error_text(ready < 0 ? errno : so_error);
      ::close(s);
      return -1;
    }
  }
  // Each request is one small frame answered before the next is sent: send it at once.
  const int one = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  return s;
}

}  // namespace

std::string_view describe(result r) {
  switch (r) {
    case result::ok:
      return "ok";
    case result::command_failed:
      return "command failed";
    case result::login_refused:
      return "login refused";
    case result::connect_failed:
      return "cannot connect";
    case result::connection_closed:
      return "connection closed";
    case result::timed_out:
      return "timed out";
    case result::malformed_reply:
      return "reply does not decode";
    case result::request_too_long:
      return "request too long";
    case result::not_connected:
      return "not connected";
  }
  return "unknown result";
}

connection::~connection() { close(); }

void connection::close() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

result connection::fail(result r, std::string detail) {
  last_error_ = std::move(detail);
  if (r != result::command_failed && r != result::login_refused) close();
  return r;
}

result connection::open(const connect_options& options) {
  close();
  last_error_.clear();
  io_timeout_ = options.io_timeout;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  // A numeric address resolves without any wait; a host name goes through the system resolver,
  // whose own timeouts (resolv.conf) bound that wait.
  const int rc =
      ::getaddrinfo(options.host.c_str(), std::to_string(options.port).c_str(), &hints, &list);
  if (rc != 0) {
    return fail(result::connect_failed,
                "cannot resolve " + options.host + ": " + ::gai_strerror(rc));
  }
  std::string error = "no address";
  for (const addrinfo* a = list; a != nullptr && socket_ < 0; a = a->ai_next) {
    socket_ = connect_one(*a, options.connect_timeout, error);
  }
  ::freeaddrinfo(list);
  if (socket_ < 0) return fail(result::connect_failed, std::move(error));
  return result::ok;
}

result connection::log_in(std::string_view user, std::string_view password) {
  std::string request;
  if (!append_login_frame(user, password, request)) {
    return fail(result::request_too_long, "user name and password too long");
  }
  std::string frame;
  if (const result r = exchange(request, frame); r != result::ok) return r;
  bool is_accepted = false;
  if (decode_login_reply(frame, is_accepted) != decode_status::complete) {
    return fail(result::malformed_reply, "the login reply does not decode");
  }
  if (!is_accepted) return fail(result::login_refused, "wrong user name or password");
  return result::ok;
}

result connection::execute(std::string_view line, command_reply& reply) {
  std::string request;
  if (!append_request_frame(line, request)) {
    // Nothing was sent, so the session is still in step: keep it open.
    last_error_ = "command line longer than 4294967294 bytes";
    return result::request_too_long;
  }
  std::string frame;
  if (const result r = exchange(request, frame); r != result::ok) return r;
  if (decode_command_reply(frame, reply) != decode_status::complete) {
    return fail(result::malformed_reply, "the command reply does not decode");
  }
  if (!reply.is_success) return fail(result::command_failed, "the server did not carry it out");
  return result::ok;
}

result connection::exchange(const std::string& request, std::string& reply_frame) {
  last_error_.clear();
  if (socket_ < 0) {
    last_error_ = "no open connection";
    return result::not_connected;
  }
  if (const result r = send_all(request); r != result::ok) return r;
  return receive_frame(reply_frame);
}

result connection::wait_for(short events) {
  const int ready = poll_until(socket_, events, clock::now() + io_timeout_);
  if (ready > 0) return result::ok;
  if (ready == 0) return fail(result::timed_out, "no answer from the server in time");
  return fail(result::connection_closed, system_error_text(errno));
}

result connection::send_all(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (const result r = wait_for(POLLOUT); r != result::ok) return r;
    } else if (n < 0 && errno != EINTR) {
      return fail(result::connection_closed, system_error_text(errno));
    }
  }
  return result::ok;
}

result connection::receive_some(std::string& buffer, size_t max_bytes) {
  char chunk[receive_chunk];
  for (;;) {
    const ssize_t n = ::recv(socket_, chunk, std::min(max_bytes, sizeof(chunk)), 0);
    if (n > 0) {
      buffer.append(chunk, static_cast<size_t>(n));
      return result::ok;
    }
    if (n == 0) return fail(result::connection_closed, "the server closed the connection");
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (const result r = wait_for(POLLIN); r != result::ok) return r;
    } else if (errno != EINTR) {
      return fail(result::connection_closed, system_error_text(errno));
    }
  }
}

result connection::receive_frame(std::string& frame) {
  frame.clear();
  uint64_t size = 0;
  while (!peek_frame_size(frame, size)) {
    if (const result r = receive_some(frame, 4 - frame.size()); r != result::ok) return r;
  }
  // Never read past the frame: whatever follows it is not ours to take.
  while (frame.size() < size) {
    if (const result r = receive_some(frame, size - frame.size()); r != result::ok) return r;
  }
  return result::ok;
}

}  // namespace qn::client
