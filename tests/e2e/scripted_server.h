// A loopback server for one connection that answers each request frame with scripted bytes, for
// the replies the real server never sends (garbage, refusals, cut connections). One thread of its
// own serves the connection; every wait of that thread is bounded, and the destructor joins it.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "values/little_endian.h"

namespace qn::e2e {

class scripted_server {
 public:
  // Listens on 127.0.0.1 on a port of the system's choice and serves the first connection: after
  // the i-th request frame has come in whole, writes `replies[i]`; after the last reply (at once,
  // for no replies) it ends its side of the connection, reads the rest and closes.
  // `port()` is 0 when the listener could not be made.
  explicit scripted_server(std::vector<std::string> replies) : replies_(std::move(replies)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listener_, 4) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~scripted_server() {
    is_stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
  }
  scripted_server(const scripted_server&) = delete;
  scripted_server& operator=(const scripted_server&) = delete;

  uint16_t port() const { return port_; }
  // Waits until the connection has ended (the client closed it, or 20 seconds passed without a
  // byte) and returns how many whole request frames came in, the login included.
  size_t finish() {
    if (thread_.joinable()) thread_.join();
    return requests_seen_;
  }

 private:
  // Waits up to 20 seconds, in short steps so that the destructor is never held up for long.
  bool wait(int fd, short events) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!is_stopping_ && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd, events, 0};
      if (poll(&p, 1, 50) > 0) return true;
    }
    return false;
  }

  // Reads one whole request frame; false when the peer closed or nothing came in time.
  bool read_request(int fd, std::string& pending) {
    for (;;) {
      if (pending.size() >= 4) {
        const uint32_t length = load_le<uint32_t>(pending.data());
        if (pending.size() - 4 >= length) {
          pending.erase(0, 4 + size_t{length});
          ++requests_seen_;
          return true;
        }
      }
      char chunk[4096];
      if (!wait(fd, POLLIN)) return false;
      const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      pending.append(chunk, static_cast<size_t>(n));
    }
  }

  void serve() {
    if (!wait(listener_, POLLIN)) return;
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    std::string pending;
    for (const std::string& reply : replies_) {
      if (!read_request(fd, pending)) break;
      if (send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) != ssize_t(reply.size())) break;
    }
    // An orderly end: the peer reads everything sent, then the end of the stream; what it sends
    // after that is still counted.
    shutdown(fd, SHUT_WR);
    while (read_request(fd, pending)) {
    }
    close(fd);
  }

  std::vector<std::string> replies_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> is_stopping_{false};
  size_t requests_seen_ = 0;  // written by the serving thread, read after joining it
  std::thread thread_;
};

// The five-byte reply to a login: accepted or refused.
inline std::string login_reply(bool is_accepted) {
  return std::string("\x01\x00\x00\x00", 4) + (is_accepted ? '\0' : '\x01');
}

}  // namespace qn::e2e
