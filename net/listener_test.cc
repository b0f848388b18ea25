#include "net/listener.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "net/digest.h"
#include "net/test_client.h"

namespace qn::net {
namespace {

using std::chrono::milliseconds;
using testing::frame_of;
using testing::login_payload;
using testing::test_client;

constexpr auto& success = testing::success_reply;
constexpr auto& failure = testing::failure_reply;
using testing::empty_reply;

// Polls `condition` every 5 ms for at most 10 s; true once it holds.
bool wait_until(const std::function<bool()>& condition) {
  for (int i = 0; i < 2000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return condition();
}

// Binds (and with `is_listening` listens on) 127.0.0.1:port so the listener cannot bind it.
// Returns the socket, or -1.
int occupy_port(uint16_t port, bool is_listening) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in a = testing::loopback("127.0.0.1", port);
  if (bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
      (is_listening && listen(s, 1) != 0)) {
    close(s);
    return -1;
  }
  return s;
}

// A real listener on 127.0.0.1 and a free port, run by the restart loop on its own thread.
class ListenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    users_["alice"] = password_digest("wonderland");
    options_.port = testing::find_free_port();
    ASSERT_NE(options_.port, 0);
    options_.bind_address = "127.0.0.1";
    options_.users = &users_;
    options_.throttle = &throttle_;
    options_.limits.send_timeout = milliseconds(500);
    options_.on_first_start = [this](db::nosql::container_registry&) {
      first_starts_.fetch_add(1);
    };
  }
  void TearDown() override {
    if (listener_ == nullptr) return;
    listener_->stop_request();
    if (loop_.joinable()) loop_.join();
    EXPECT_EQ(listener_->listening_socket(), -1);
    EXPECT_FALSE(listener_->has_registry());
  }

  // Creates the listener from options_ and runs its restart loop on a thread of its own.
  void launch() {
    listener_ = std::make_unique<listener>(options_);
    loop_ = std::thread([this] { listener_->restart_loop(); });
  }
  void start() {
    launch();
    ASSERT_TRUE(wait_until([this] { return listener_->listening_socket() != -1; }));
  }
  bool is_listening() const { return listener_->listening_socket() != -1; }

  // A logged-in client from `source`.
  std::unique_ptr<test_client> logged_in(const char* source = "127.0.0.1") {
    auto c = std::make_unique<test_client>(options_.port, source);
    EXPECT_EQ(c->login("alice", "wonderland"), success);
    return c;
  }

  user_table users_;
  // Bans that outlast the test (their lifting is login_throttle_test's).
  login_throttle throttle_{
      {{std::chrono::minutes(10), std::chrono::minutes(10), std::chrono::minutes(10)}}};
  listener_options options_;
  std::atomic<int> first_starts_{0};
  std::unique_ptr<listener> listener_;
  std::thread loop_;
};

// A busy port is retried (the start-up callback runs once); then each hostile client in turn,
// after which a steady client is still served.
TEST_F(ListenerTest, BusyPortAndHostileClientsDoNotStopTheServing) {
  const int blocker = occupy_port(options_.port, true);
  ASSERT_GE(blocker, 0);
  launch();
  ASSERT_TRUE(wait_until([this] { return first_starts_.load() == 1; }));
  std::this_thread::sleep_for(milliseconds(500));  // a few bind attempts
  EXPECT_FALSE(is_listening());
  close(blocker);
  ASSERT_TRUE(wait_until([this] { return is_listening(); }));
  EXPECT_EQ(first_starts_.load(), 1);
  auto steady = logged_in();
  const std::function<void()> hostile[] = {
      // A reply of about 4 MB to a client with a tiny receive buffer that keeps taking a few
      // kilobytes at a time, at most about 1 MB a second: every wait for room ends with progress,
      // so only the deadline for the whole frame (500 ms) ends the send before the reply is
      // complete. The server closes; what it had queued still arrives, then the end of the stream.
      [&] {
        ASSERT_EQ(steady->command("c vector string").substr(0, 10), "3d00000000");
        constexpr size_t strings = 80, length = 50000;
        const std::string line = "i 0 last " + std::string(length, 's');
        for (size_t i = 0; i < strings; ++i) ASSERT_EQ(steady->command(line), empty_reply);
        const size_t reply_size = 4 + 1 + 8 + (2 + 3 + 8) + strings * (2 + length);
        test_client slow(options_.port, "127.0.0.1", 4096);
        ASSERT_EQ(slow.login("alice", "wonderland"), success);
        ASSERT_TRUE(slow.send_frame("g 0 all"));
        const auto begin = std::chrono::steady_clock::now();
        size_t received = 0;
        bool is_ended = false;
        char buffer[4096];
        while (received < reply_size && !is_ended) {
          const ssize_t n = recv(slow.fd(), buffer, sizeof buffer, 0);
          if (n < 0 && errno == EINTR) continue;
          is_ended = n == 0 || (n < 0 && errno == ECONNRESET);
          if (n < 0 && !is_ended) break;  // the client's own 20 s limit: the server never closed
          if (n > 0) received += static_cast<size_t>(n);
          std::this_thread::sleep_until(begin + std::chrono::microseconds(received));
        }
        EXPECT_TRUE(is_ended);
        EXPECT_LT(received, reply_size);
      },
      // Peers that vanish: logged in with half of a large frame sent, then a reset; or in the
      // middle of the login frame.
      [&] {
        for (int i = 0; i < 20; ++i) {
          test_client c(options_.port);
          if (i % 2 == 0) {
            ASSERT_EQ(c.login("alice", "wonderland"), success);
            ASSERT_TRUE(c.send_raw(frame_of(std::string(100000, 'x')).substr(0, 50000)));
            const linger reset{1, 0};
            ASSERT_EQ(setsockopt(c.fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset), 0);
          } else {
            ASSERT_TRUE(c.send_raw(frame_of(login_payload("alice", "wonderland")).substr(0, 5)));
          }
        }
      },
  };
  for (const auto& play : hostile) {
    play();
    EXPECT_EQ(steady->command("clear"), empty_reply);
  }
}

TEST_F(ListenerTest, ThrottleBansAtTheThirtiethFailureAndRefusesAtAccept) {
  start();
  const char* source = "127.0.0.2";  // keeps the ban away from the other tests' address
  for (int i = 1; i < 30; ++i) (void)throttle_.record_failure(source);  // the session's tiers
  test_client c(options_.port, source);
  EXPECT_EQ(c.login("alice", "wrong"), failure);  // the 30th failure: banned and closed
  EXPECT_TRUE(c.is_closed_by_server());

  test_client refused(options_.port, source);
  ASSERT_TRUE(refused.is_connected());  // the kernel accepts; the listener closes at once
  EXPECT_TRUE(refused.is_closed_by_server());

  EXPECT_EQ(logged_in()->command("clear"), empty_reply);  // other addresses are served as before
}

TEST_F(ListenerTest, StopWhileTheBindKeepsFailingEnds) {
  const int blocker = occupy_port(options_.port, false);
  ASSERT_GE(blocker, 0);
  launch();
  ASSERT_TRUE(wait_until([this] { return listener_->has_registry(); }));
  listener_->stop_request();  // must not wait for a listener that never comes
  EXPECT_FALSE(listener_->has_registry());
  loop_.join();
  close(blocker);
}

}  // namespace
}  // namespace qn::net
