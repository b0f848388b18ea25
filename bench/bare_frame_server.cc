// The ceiling of the wire protocol on loopback: a server that frames requests and answers without
// executing anything. The first frame of a connection (the login) gets the 5-byte success reply,
// every later frame the 13-byte empty success reply. One thread, so nothing is shared.
//
// The design is the fastest we know for one thread: level-triggered epoll, every connection that
// one wait reports is served before the next wait, one recv per report straight into the
// connection's own buffer (level triggering reports the rest, so no recv is spent on finding a
// socket empty), frames measured where they lie, and one send of all the replies a recv made
// possible, from constant bytes when it is one reply. A frame longer than the buffer is skipped
// as it streams past, never held.
//
// usage: bare_frame_server <port> [bind address]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr unsigned char login_ok[5] = {1, 0, 0, 0, 0};
constexpr unsigned char empty_ok[13] = {9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr size_t buffer_size = 16384;

struct connection {
  size_t used = 0;        // bytes of unanswered frames at the front of `bytes`
  uint64_t skipping = 0;  // bytes still to drop of a frame longer than the buffer
  bool logged_in = false;
  char bytes[buffer_size];
};

// Replies of one recv: at most one per four bytes received.
unsigned char replies[buffer_size / 4 * sizeof empty_ok];

// Sends `n` bytes; loopback replies this small never block in practice, and a short write on a
// peer that stopped reading simply drops them.
void send_bytes(int fd, const void* bytes, size_t n) {
  if (n > 0) (void)send(fd, bytes, n, MSG_NOSIGNAL | MSG_DONTWAIT);
}

// Reads once and answers every frame that completes. False when the connection should close.
bool serve(int fd, connection& c) {
  const ssize_t got = recv(fd, c.bytes + c.used, buffer_size - c.used, 0);
  if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  if (got == 0) return false;
  size_t fresh = static_cast<size_t>(got);
  if (c.skipping > 0) {  // the tail of a long frame: drop it, answer it once it has passed
    const size_t drop = static_cast<size_t>(std::min<uint64_t>(c.skipping, fresh));
    std::memmove(c.bytes + c.used, c.bytes + c.used + drop, fresh - drop);
    fresh -= drop;
    c.skipping -= drop;
    if (c.skipping > 0) return true;
    std::memcpy(replies, empty_ok, sizeof empty_ok);  // a long frame is never the login
    send_bytes(fd, replies, sizeof empty_ok);
  }
  c.used += fresh;
  size_t at = 0, reply_bytes = 0;
  const void* single = nullptr;  // the one reply, sent from constant bytes
  while (c.used - at >= 4) {
    uint32_t length = 0;
    std::memcpy(&length, c.bytes + at, 4);
    if (length == 0xFFFFFFFFu) return false;
    const uint64_t whole = uint64_t{4} + length;
    if (whole > c.used - at) {
      if (whole <= buffer_size) break;  // the rest arrives later
      c.skipping = whole - (c.used - at);
      at = c.used;
      c.logged_in = true;  // answered with empty_ok once skipped
      break;
    }
    at += whole;
    const void* bytes = c.logged_in ? empty_ok : login_ok;
    const size_t n = c.logged_in ? sizeof empty_ok : sizeof login_ok;
    single = reply_bytes == 0 ? bytes : nullptr;
    std::memcpy(replies + reply_bytes, bytes, n);
    reply_bytes += n;
    c.logged_in = true;
  }
  send_bytes(fd, single != nullptr ? single : replies, reply_bytes);
  c.used -= at;
  if (c.used > 0 && at > 0) std::memmove(c.bytes, c.bytes + at, c.used);
  return true;
}

int open_listener(uint16_t port, const char* address) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (inet_pton(AF_INET, address, &addr.sin_addr) != 1 ||
      bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 1024) != 0) {
    std::printf("bare_frame_server: cannot listen on %s:%u: %s\n", address, port,
                std::strerror(errno));
    std::exit(1);
  }
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: bare_frame_server <port> [bind address]\n");
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  const int listener =
      open_listener(static_cast<uint16_t>(std::atoi(argv[1])), argc > 2 ? argv[2] : "127.0.0.1");
  const int ep = epoll_create1(EPOLL_CLOEXEC);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = listener;
  epoll_ctl(ep, EPOLL_CTL_ADD, listener, &ev);
  std::printf("bare_frame_server listening on port %s\n", argv[1]);
  std::fflush(stdout);

  std::vector<std::unique_ptr<connection>> connections;  // by file descriptor
  epoll_event events[1024];
  for (;;) {
    const int n = epoll_wait(ep, events, 1024, -1);
    for (int i = 0; i < n; ++i) {
      const int fd = events[i].data.fd;
      if (fd == listener) {
        for (int client;
             (client = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
          const int one = 1;
          setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
          if (connections.size() <= static_cast<size_t>(client)) connections.resize(client + 1);
          connections[client] = std::make_unique<connection>();
          epoll_event cev{};
          cev.events = EPOLLIN;
          cev.data.fd = client;
          epoll_ctl(ep, EPOLL_CTL_ADD, client, &cev);
        }
        continue;
      }
      if (!serve(fd, *connections[fd])) {
        close(fd);
        connections[fd].reset();
      }
    }
  }
}
