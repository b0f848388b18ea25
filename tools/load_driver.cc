#include "tools/load_driver.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>

#include "client/frame.h"

namespace qn::tools {
namespace {

uint64_t now_ns() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// Blocking until the whole buffer is written; the sockets are small-request only.
bool write_all(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 10000) <= 0) return false;
    } else {
      return false;
    }
  }
  return true;
}

// Reads until one whole frame is in `buffer` (blocking, 10 s per wait); moves it to `frame`.
bool read_frame(int fd, std::string& buffer, std::string& frame) {
  char chunk[4096];
  for (;;) {
    uint64_t size = 0;
    if (client::peek_frame_size(buffer, size) && buffer.size() >= size) {
      frame.assign(buffer, 0, size);
      buffer.erase(0, size);
      return true;
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) return false;
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
    if (n > 0) buffer.append(chunk, static_cast<size_t>(n));
  }
}

int connect_to(const load_options& o, std::string& error) {
  addrinfo hints{}, *found = nullptr;
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  if (getaddrinfo(o.host.c_str(), std::to_string(o.port).c_str(), &hints, &found) != 0) {
    error = "cannot resolve " + o.host;
    return -1;
  }
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  const int ok = fd >= 0 ? connect(fd, found->ai_addr, found->ai_addrlen) : -1;
  freeaddrinfo(found);
  if (ok != 0) {
    error = "cannot connect to " + o.host + ":" + std::to_string(o.port) + ": " +
            std::strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

}  // namespace

load_driver::~load_driver() {
  for (conn& c : conns_) close(c.fd);
  if (epoll_fd_ >= 0) close(epoll_fd_);
}

bool load_driver::open(const load_options& o, std::string& error) {
  epoll_fd_ = epoll_create1(0);
  for (int i = 0; i < o.connections; ++i) {
    conn c;
    c.fd = connect_to(o, error);
    if (c.fd < 0) return false;
    conns_.push_back(c);
    std::string login, frame;
    bool accepted = false;
    if (!client::append_login_frame(o.user, o.password, login) || !write_all(c.fd, login) ||
        !read_frame(c.fd, conns_.back().in, frame) ||
        client::decode_login_reply(frame, accepted) != client::decode_status::complete) {
      error = "login exchange failed";
      return false;
    }
    if (!accepted) {
      error = "login refused for user " + o.user;
      return false;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u32 = static_cast<uint32_t>(i);
    epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, c.fd, &ev);
  }
  return true;
}

bool load_driver::send_request(conn& c, const std::string& line) {
  std::string frame;
  if (!client::append_request_frame(line, frame)) return false;
  c.sent_at = now_ns();
  c.waiting = true;
  return write_all(c.fd, frame);
}

bool load_driver::run_one(const std::string& line, std::string& reply_frame) {
  conn& c = conns_.front();
  if (!send_request(c, line) || !read_frame(c.fd, c.in, reply_frame)) return false;
  c.waiting = false;
  return true;
}

bool load_driver::run_phase(const std::function<bool(int, std::string&)>& next, double seconds,
                            phase_result& out) {
  const uint64_t start = now_ns();
  const uint64_t deadline =
      seconds > 0 ? start + static_cast<uint64_t>(seconds * 1e9) : UINT64_MAX;
  std::string line;
  int outstanding = 0;
  bool exhausted = false;
  auto refill = [&](int i) {
    if (exhausted || now_ns() >= deadline || !next(i, line)) {
      exhausted = true;
      return true;
    }
    ++outstanding;
    return send_request(conns_[static_cast<size_t>(i)], line);
  };
  for (size_t i = 0; i < conns_.size(); ++i) {
    if (!refill(static_cast<int>(i))) return false;
  }
  epoll_event events[512];
  char chunk[16384];
  while (outstanding > 0) {
    const int n = epoll_wait(epoll_fd_, events, 512, 10000);
    if (n <= 0) return false;  // ten seconds without any reply: the server is stuck
    for (int e = 0; e < n; ++e) {
      const int i = static_cast<int>(events[e].data.u32);
      conn& c = conns_[static_cast<size_t>(i)];
      const ssize_t got = recv(c.fd, chunk, sizeof chunk, 0);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) return false;
      if (got < 0) continue;
      c.in.append(chunk, static_cast<size_t>(got));
      uint64_t size = 0;
      if (!c.waiting || !client::peek_frame_size(c.in, size) || c.in.size() < size) continue;
      out.latency.record(now_ns() - c.sent_at);
      ++out.requests;
      if (size >= 5 && static_cast<unsigned char>(c.in[4]) != 0) ++out.failures;
      c.in.erase(0, size);
      c.waiting = false;
      --outstanding;
      if (!refill(i)) return false;
    }
  }
  out.seconds = static_cast<double>(now_ns() - start) / 1e9;
  return true;
}

}  // namespace qn::tools
