#include "client/connection.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace qn::client {
namespace {

using namespace std::chrono_literals;

// A one-connection server on 127.0.0.1 that plays a scripted part on its own thread. Every
// blocking call of the script is bounded by a 5-second receive timeout.
class scripted_server {
 public:
  explicit scripted_server(std::function<void(int socket)> play) {
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof(address);
    const timeval limit{5, 0};
    ::setsockopt(listener_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, play = std::move(play), limit] {
      const int s = ::accept(listener_, nullptr, nullptr);
      if (s < 0) return;
      ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
      play(s);
      ::close(s);
    });
  }
  ~scripted_server() {
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
  }
  connect_options options(std::chrono::milliseconds io_timeout = 5000ms) const {
    return {"127.0.0.1", port_, 5000ms, io_timeout};
  }

 private:
  int listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  uint16_t port_ = 0;
  std::thread thread_;
};

// Reads one request frame (prefix included); empty when the peer closed or the wait ran out.
std::string read_request(int s) {
  std::string frame(4, '\0');
  if (::recv(s, frame.data(), 4, MSG_WAITALL) != 4) return {};
  uint32_t length = 0;
  std::memcpy(&length, frame.data(), 4);
  frame.resize(4 + length);
  if (length != 0 && ::recv(s, frame.data() + 4, length, MSG_WAITALL) != length) return {};
  return frame;
}

void send_bytes(int s, std::string_view bytes) {
  ::send(s, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

const std::string success("\x01\0\0\0\0", 5), failure("\x01\0\0\0\x01", 5);
// Successful reply with one unlabelled u08 item holding 7: length, status, item count, label
// length, descriptor, value count, value.
const std::string one_u08_reply("\x17\0\0\0\0\x01\0\0\0\0\0\0\0\0\0\0\x01\0\x01\0\0\0\0\0\0\0\x07",
                                27);

// A refused login leaves the connection open for another try; then one command, whose reply
// the server sends whole, byte by byte, cut short or not at all. A reply (even a failure) leaves
// the session usable; each broken exchange ends in its own result and closes the connection for
// good.
TEST(ConnectionTest, LogsInRunsACommandAndClosesOnBrokenExchanges) {
  struct case_t {
    std::string name, reply;  // no reply: the server holds the connection until the client quits
    bool is_byte_by_byte;
    std::chrono::milliseconds io_timeout;
    result expected;
  } cases[] = {
      {"reply byte by byte", one_u08_reply, true, 5000ms, result::ok},
      {"failed command", failure, false, 5000ms, result::command_failed},
      {"closed in the middle of a reply", one_u08_reply.substr(0, 10), false, 5000ms,
       result::connection_closed},
      {"silent server", "", false, 200ms, result::timed_out},
      {"reply that does not decode", std::string("\x01\0\0\0\x07", 5), false, 5000ms,
       result::malformed_reply},
  };
  for (const auto& c : cases) {
    scripted_server server([&](int s) {
      read_request(s);
      send_bytes(s, failure);
      read_request(s);
      send_bytes(s, success);
      read_request(s);
      for (size_t at = 0; at < c.reply.size(); at += c.is_byte_by_byte ? 1 : c.reply.size()) {
        send_bytes(s, std::string_view(c.reply).substr(at, c.is_byte_by_byte ? 1 : c.reply.size()));
        if (c.is_byte_by_byte) std::this_thread::sleep_for(1ms);
      }
      if (c.reply.empty()) read_request(s);
    });
    connection client;
    ASSERT_EQ(client.open(server.options(c.io_timeout)), result::ok) << c.name;
    EXPECT_EQ(client.log_in("admin", "wrong"), result::login_refused) << c.name;
    ASSERT_EQ(client.log_in("admin", "pw"), result::ok) << c.name;
    command_reply reply;
    EXPECT_EQ(describe(client.execute("k", reply)), describe(c.expected)) << c.name;
    const bool is_broken = c.expected != result::ok && c.expected != result::command_failed;
    EXPECT_EQ(client.is_open(), !is_broken) << c.name;
    if (c.expected == result::ok) {
      EXPECT_EQ(std::get<uint8_t>(reply.items.at(0).values.at(0)), 7);
    }
    if (!is_broken) continue;
    EXPECT_FALSE(client.last_error().empty()) << c.name;
    EXPECT_EQ(client.execute("k", reply), result::not_connected) << c.name;
  }
}

}  // namespace
}  // namespace qn::client
