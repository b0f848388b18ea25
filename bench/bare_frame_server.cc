// The ceiling of the wire protocol on loopback: a server that frames requests and answers without
// executing anything. The first frame of a connection (the login) gets the 5-byte success reply,
// every later frame the 13-byte empty success reply. One thread, epoll, non-blocking sockets.
//
// usage: bare_frame_server <port> [bind address]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

namespace {

constexpr unsigned char login_ok[5] = {1, 0, 0, 0, 0};
constexpr unsigned char empty_ok[13] = {9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

struct connection {
  std::string pending;  // bytes of the frame being assembled
  bool logged_in = false;
};

// Sends the whole reply; loopback replies this small never block in practice, and a short write
// on a peer that stopped reading simply drops it.
void reply(int fd, bool login) {
  const void* bytes = login ? static_cast<const void*>(login_ok) : empty_ok;
  const size_t n = login ? sizeof login_ok : sizeof empty_ok;
  (void)send(fd, bytes, n, MSG_NOSIGNAL);
}

// Answers every complete frame in the buffer. Returns false when the connection should close.
bool drain_frames(int fd, connection& c) {
  size_t at = 0;
  while (c.pending.size() - at >= 4) {
    uint32_t length = 0;
    std::memcpy(&length, c.pending.data() + at, 4);
    if (length == 0xFFFFFFFFu) return false;
    if (c.pending.size() - at - 4 < length) break;
    at += 4 + length;
    reply(fd, !c.logged_in);
    c.logged_in = true;
  }
  c.pending.erase(0, at);
  return true;
}

int open_listener(uint16_t port, const char* address) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
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
  const int listener = open_listener(static_cast<uint16_t>(std::atoi(argv[1])),
                                     argc > 2 ? argv[2] : "127.0.0.1");
  const int ep = epoll_create1(0);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = listener;
  epoll_ctl(ep, EPOLL_CTL_ADD, listener, &ev);
  std::printf("bare_frame_server listening on port %s\n", argv[1]);
  std::fflush(stdout);

  std::unordered_map<int, connection> connections;
  epoll_event events[256];
  char buffer[32768];
  for (;;) {
    const int n = epoll_wait(ep, events, 256, -1);
    for (int i = 0; i < n; ++i) {
      const int fd = events[i].data.fd;
      if (fd == listener) {
        for (int client; (client = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
          const int one = 1;
          setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
          epoll_event cev{};
          cev.events = EPOLLIN;
          cev.data.fd = client;
          epoll_ctl(ep, EPOLL_CTL_ADD, client, &cev);
          connections[client] = connection{};
        }
        continue;
      }
      connection& c = connections[fd];
      bool open = true;
      for (;;) {
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got > 0) {
          c.pending.append(buffer, static_cast<size_t>(got));
          continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) open = false;
        break;
      }
      if (open) open = drain_frames(fd, c);
      if (!open) {
        close(fd);
        connections.erase(fd);
      }
    }
  }
}
