#include "net/test_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "net/wire_format.h"
#include "values/little_endian.h"

namespace qn::net::testing {

sockaddr_in loopback(const char* address, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, address, &a.sin_addr);
  return a;
}

std::string frame_of(std::string_view payload) {
  std::string f;
  append_le(f, static_cast<uint32_t>(payload.size()));
  f.append(payload);
  return f;
}

std::string login_payload(std::string_view name, std::string_view password) {
  return frame_of(name) + frame_of(password);
}

std::string to_hex(std::string_view bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  for (char c : bytes) {
    hex.push_back(digits[static_cast<uint8_t>(c) >> 4]);
    hex.push_back(digits[static_cast<uint8_t>(c) & 15]);
  }
  return hex;
}

uint64_t last_u64(std::string_view frame) {
  return is_success(frame) && frame.size() >= 13
             ? load_le<uint64_t>(frame.data() + frame.size() - 8)
             : UINT64_MAX;
}

uint16_t find_free_port() {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = loopback("127.0.0.1", 0);
  socklen_t length = sizeof a;
  uint16_t port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0) {
    port = ntohs(a.sin_port);
  }
  close(s);
  return port;
}

test_client::test_client(uint16_t port, const char* source, int receive_buffer) {
  socket_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) return;
  if (receive_buffer > 0) {
    setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  }
  const timeval timeout{20, 0};
  setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  const sockaddr_in from = loopback(source, 0);
  const sockaddr_in to = loopback("127.0.0.1", port);
  if (bind(socket_, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0 ||
      connect(socket_, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    close(socket_);
    socket_ = -1;
  }
}

test_client::~test_client() {
  if (socket_ >= 0) close(socket_);
}

// The socket blocks: a send or a receive ends whole, or short at the 20-second limit or an error.
bool test_client::send_raw(std::string_view bytes) {
  return bytes.empty() || send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                              static_cast<ssize_t>(bytes.size());
}

bool test_client::read_exactly(char* out, size_t n) {
  return n == 0 || recv(socket_, out, n, MSG_WAITALL) == static_cast<ssize_t>(n);
}

std::string test_client::read_reply() {
  std::string reply(wire::length_bytes, '\0');
  if (!read_exactly(reply.data(), wire::length_bytes)) return {};
  const uint32_t length = load_le<uint32_t>(reply.data());
  reply.resize(wire::length_bytes + size_t{length});
  if (!read_exactly(reply.data() + wire::length_bytes, length)) return {};
  return reply;
}

std::string test_client::request(std::string_view payload) {
  return send_frame(payload) ? read_reply() : std::string();
}

std::string test_client::login(std::string_view name, std::string_view password) {
  return to_hex(request(login_payload(name, password)));
}

bool test_client::is_closed_by_server(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd p{socket_, POLLRDHUP, 0};
    const int n = poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (n > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) return true;
    if ((n < 0 && errno != EINTR) || left.count() <= 0) return false;
  }
}

}  // namespace qn::net::testing
