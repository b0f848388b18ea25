#include "tools/load_driver.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "client/frame.h"
#include "tools/resp.h"

namespace qn::tools {
namespace {

// Bounds of the blocking waits: the connect, and each wait for a socket during setup and phases
// (a server that answers nothing for this long counts as stuck).
constexpr int connect_timeout_ms = 5000;
constexpr int io_timeout_ms = 10000;

uint64_t now_ns() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// User and system time of this process so far, in seconds.
double cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(u.ru_utime) + seconds(u.ru_stime);
}

// Waits (bounded) until the whole buffer is written; the sockets carry small requests only.
bool write_all(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, io_timeout_ms) <= 0) return false;
    } else {
      return false;
    }
  }
  return true;
}

enum class reply_read { complete, incomplete, malformed };

// Whether `in` starts with a whole reply of `protocol`: then sets its `size`, and `failed` for a
// zor frame of status 1 or a RESP reply whose kind is not in `resp_accepts`.
reply_read measure_reply(wire_protocol protocol, std::string_view in, unsigned resp_accepts,
                         size_t& size, bool& failed) {
  if (protocol == wire_protocol::zor) {
    uint64_t frame = 0;
    if (!client::peek_frame_size(in, frame) || in.size() < frame) return reply_read::incomplete;
    size = frame;
    failed = frame >= 5 && static_cast<unsigned char>(in[4]) != 0;
    return reply_read::complete;
  }
  resp_kind kind{};
  const resp_parse r = parse_resp_reply(in, kind, size);
  failed = (kind & resp_accepts) == 0;
  return r == resp_parse::complete     ? reply_read::complete
         : r == resp_parse::incomplete ? reply_read::incomplete
                                       : reply_read::malformed;
}

// Reads until one whole reply is in `buffer` (each wait bounded); moves it to `reply`.
// Incomplete: the connection closed, or nothing came in time.
reply_read read_reply(int fd, wire_protocol protocol, std::string& buffer, std::string& reply) {
  char chunk[4096];
  for (;;) {
    size_t size = 0;
    bool failed = false;
    const reply_read r = measure_reply(protocol, buffer, resp_any_success, size, failed);
    if (r == reply_read::malformed) return r;
    if (r == reply_read::complete) {
      reply.assign(buffer, 0, size);
      buffer.erase(0, size);
      return r;
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, io_timeout_ms) <= 0) return reply_read::incomplete;
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return reply_read::incomplete;
    if (n > 0) buffer.append(chunk, static_cast<size_t>(n));
  }
}

std::string endpoint(const load_options& o) { return o.host + ":" + std::to_string(o.port); }

// Connects without blocking past `connect_timeout_ms`, to the first address of the host, and
// leaves the socket non-blocking with TCP_NODELAY. Returns the socket, or -1 with `error` set.
int connect_to(const load_options& o, std::string& error) {
  addrinfo hints{}, *found = nullptr;
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  if (const int e = getaddrinfo(o.host.c_str(), std::to_string(o.port).c_str(), &hints, &found);
      e != 0) {
    error = "cannot resolve " + o.host + ": " + gai_strerror(e);
    return -1;
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("cannot make a socket: ") + std::strerror(errno);
    freeaddrinfo(found);
    return -1;
  }
  int code = connect(fd, found->ai_addr, found->ai_addrlen) == 0 ? 0 : errno;
  freeaddrinfo(found);
  if (code == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    int ready;
    while ((ready = poll(&p, 1, connect_timeout_ms)) < 0 && errno == EINTR) {
    }
    socklen_t size = sizeof code;
    if (ready == 0) {
      code = ETIMEDOUT;
    } else if (ready < 0) {
      code = errno;
    } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &size) != 0) {
      code = errno;
    }
  }
  if (code != 0) {
    error = "cannot connect to " + endpoint(o) + ": " +
            (code == ETIMEDOUT ? std::string("no answer within ") +
                                     std::to_string(connect_timeout_ms / 1000) + " s"
                               : std::string(std::strerror(code)));
    close(fd);
    return -1;
  }
  const int one = 1;
  (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // best effort: latency only
  return fd;
}

// Logs in on `fd` (reading into `buffer`). Returns false with `error` set.
bool log_in(int fd, const load_options& o, std::string& buffer, std::string& error) {
  std::string login, frame;
  if (!client::append_login_frame(o.user, o.password, login)) {
    error = "user name or password too long";
    return false;
  }
  if (!write_all(fd, login) ||
      read_reply(fd, wire_protocol::zor, buffer, frame) != reply_read::complete) {
    error = "no login reply from " + endpoint(o) + " (closed, or nothing within " +
            std::to_string(io_timeout_ms / 1000) + " s)";
    return false;
  }
  bool accepted = false;
  if (client::decode_login_reply(frame, accepted) != client::decode_status::complete) {
    error = "the login reply from " + endpoint(o) + " does not decode";
    return false;
  }
  if (!accepted) {
    error = "login refused for user " + o.user;
    return false;
  }
  return true;
}

// Sends PING on `fd` (reading into `buffer`) and wants a simple string back: a server that speaks
// RESP and lets us in. Returns false with `error` set.
bool greet(int fd, const load_options& o, std::string& buffer, std::string& error) {
  std::string reply;
  const reply_read r = write_all(fd, "*1\r\n$4\r\nPING\r\n")
                           ? read_reply(fd, wire_protocol::resp, buffer, reply)
                           : reply_read::incomplete;
  if (r == reply_read::incomplete) {
    error = "no reply to PING from " + endpoint(o) + " (closed, or nothing within " +
            std::to_string(io_timeout_ms / 1000) + " s)";
  } else if (r == reply_read::malformed) {
    error = "the reply to PING from " + endpoint(o) + " is not RESP";
  } else if (reply[0] != '+') {
    error = endpoint(o) + " answered PING with " + reply.substr(0, reply.find('\r'));
  }
  return error.empty();
}

}  // namespace

load_driver::~load_driver() {
  for (conn& c : conns_) close(c.fd);
  if (epoll_fd_ >= 0) close(epoll_fd_);
}

bool load_driver::open(const load_options& o, std::string& error) {
  protocol_ = o.protocol;
  epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
  if (epoll_fd_ < 0) {
    error = std::string("cannot make an epoll instance: ") + std::strerror(errno);
    return false;
  }
  for (int i = 0; i < o.connections; ++i) {
    conn c;
    c.fd = connect_to(o, error);
    if (c.fd < 0) return false;
    conns_.push_back(c);  // owned (closed by the destructor) from here on
    std::string& in = conns_.back().in;
    if (protocol_ == wire_protocol::zor ? !log_in(c.fd, o, in, error)
                                        : !greet(c.fd, o, in, error)) {
      if (i > 0) error += " (on connection " + std::to_string(i + 1) + ")";
      return false;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u32 = static_cast<uint32_t>(i);
    if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, c.fd, &ev) != 0) {
      error = std::string("cannot watch connection ") + std::to_string(i + 1) + ": " +
              std::strerror(errno);
      return false;
    }
  }
  return true;
}

bool load_driver::send_request(conn& c, const std::string& line) {
  out_.clear();
  if (protocol_ == wire_protocol::resp) {
    append_resp_command(line, out_);
  } else if (!client::append_request_frame(line, out_)) {
    return false;
  }
  c.sent_at = now_ns();
  c.waiting = true;
  return write_all(c.fd, out_);
}

bool load_driver::run_one(const std::string& line, std::string& reply) {
  conn& c = conns_.front();
  const reply_read r =
      send_request(c, line) ? read_reply(c.fd, protocol_, c.in, reply) : reply_read::incomplete;
  if (r == reply_read::malformed) return fail("the reply to '" + line + "' is not RESP");
  if (r != reply_read::complete) {
    return fail("no reply to '" + line + "' (connection closed, or nothing within " +
                std::to_string(io_timeout_ms / 1000) + " s)");
  }
  c.waiting = false;
  return true;
}

bool load_driver::fail(std::string message) {
  error_ = std::move(message);
  return false;
}

bool load_driver::run_phase(const std::function<bool(int, std::string&)>& next, double seconds,
                            unsigned resp_accepts, phase_result& out) {
  const uint64_t start = now_ns();
  const double cpu_at_start = cpu_seconds();
  const uint64_t deadline = seconds > 0 ? start + static_cast<uint64_t>(seconds * 1e9) : UINT64_MAX;
  std::string line;
  int outstanding = 0;
  bool exhausted = false;
  auto refill = [&](int i) {
    if (exhausted || now_ns() >= deadline || !next(i, line)) {
      exhausted = true;
      return true;
    }
    ++outstanding;
    return send_request(conns_[static_cast<size_t>(i)], line) ||
           fail("cannot send on connection " + std::to_string(i + 1));
  };
  for (size_t i = 0; i < conns_.size(); ++i) {
    if (!refill(static_cast<int>(i))) return false;
  }
  epoll_event events[512];
  char chunk[16384];
  while (outstanding > 0) {
    const int n = epoll_wait(epoll_fd_, events, 512, io_timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(std::string("cannot wait for replies: ") + std::strerror(errno));
    if (n == 0) {
      return fail("no reply within " + std::to_string(io_timeout_ms / 1000) +
                  " s: the server is stuck");
    }
    for (int e = 0; e < n; ++e) {
      const int i = static_cast<int>(events[e].data.u32);
      conn& c = conns_[static_cast<size_t>(i)];
      const ssize_t got = recv(c.fd, chunk, sizeof chunk, 0);
      if (got == 0) return fail("the server closed connection " + std::to_string(i + 1));
      if (got < 0 && errno != EAGAIN && errno != EINTR) {
        return fail("connection " + std::to_string(i + 1) + ": " + std::strerror(errno));
      }
      if (got < 0) continue;
      c.in.append(chunk, static_cast<size_t>(got));
      size_t size = 0;
      bool failed = false;
      if (!c.waiting) continue;
      const reply_read r = measure_reply(protocol_, c.in, resp_accepts, size, failed);
      if (r == reply_read::malformed) {
        return fail("connection " + std::to_string(i + 1) + ": a reply that is not RESP");
      }
      if (r == reply_read::incomplete) continue;
      out.latency.record(now_ns() - c.sent_at);
      ++out.requests;
      out.failures += failed;
      c.in.erase(0, size);
      c.waiting = false;
      --outstanding;
      if (!refill(i)) return false;
    }
  }
  out.seconds = static_cast<double>(now_ns() - start) / 1e9;
  out.cpu_seconds = cpu_seconds() - cpu_at_start;
  return true;
}

}  // namespace qn::tools
