#include "net/session.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/digest.h"
#include "net/test_client.h"

namespace qn::net {
namespace {

using testing::frame_of;
using testing::login_payload;
using testing::to_hex;

constexpr auto& success = testing::success_reply;
constexpr auto& failure = testing::failure_reply;
using testing::empty_reply;
constexpr char address[] = "10.1.1.1";

// Receives handed to a session in a fresh state, and what must come of them.
struct stream_case {
  bool was_logged_in;
  std::vector<std::string> receives;
  std::string sent;  // every reply, hexadecimal
  std::string throttle = "tier=0 counter=0 banned=0";
  bool keeps = true;
  bool is_logged_in = true;
  bool warns = false;  // of max_frame_bytes
};

// A session on one end of a socket pair; the test plays the client on the other end.
class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    c_.socket = fds[0];
    peer_ = fds[1];
    users_["alice"] = password_digest("wonderland");
    static db::nosql::container_registry registry;  // one for all: a million slots each
    context_.registry = &registry;
    context_.users = &users_;
    context_.throttle = &throttle_;
    context_.warn = [this](const std::string& line) { warnings_ += line + "\n"; };
    c_.context = &context_;
    c_.client_address = address;
  }
  void TearDown() override {
    close(c_.socket);
    if (peer_ >= 0) close(peer_);
  }

  // Hands `bytes` to the session as receives of at most the receive area's size, sending each
  // reply it leaves as the listener would. False once the session asks to close.
  bool feed(std::string_view bytes) {
    session_step step = session_step::receive;
    while (!bytes.empty() && step == session_step::receive) {
      const size_t n = std::min<size_t>(bytes.size(), connection::receive_capacity);
      std::memcpy(c_.receive_area.data(), bytes.data(), n);
      step = receive_bytes(c_, static_cast<uint32_t>(n));
      bytes.remove_prefix(n);
      if (step == session_step::send) step = deliver();
    }
    return step != session_step::close;
  }
  // A reply that cannot be sent closes the connection, and reply_sent is not called.
  session_step deliver() {
    const ssize_t n = send(c_.socket, c_.outgoing.data(), c_.outgoing.size(), MSG_NOSIGNAL);
    if (n != static_cast<ssize_t>(c_.outgoing.size())) return session_step::close;
    return reply_sent(c_);
  }
  // Everything the session has sent so far, as hexadecimal text.
  std::string sent() {
    std::string out;
    char buffer[4096];
    for (;;) {
      const ssize_t n = recv(peer_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n <= 0) return to_hex(out);
      out.append(buffer, static_cast<size_t>(n));
    }
  }
  // Hands each receive of `c` (in pieces of at most the receive area's size) to the session,
  // starting from a fresh state, and checks every reply sent, the address's throttle state
  // afterwards, and whether the session is still open and logged in.
  void expect_stream(const stream_case& c) {
    const std::string label = c.receives.empty() ? "" : c.receives.front().substr(0, 24);
    throttle_.record_success(address);
    warnings_.clear();
    c_.is_logged_in = c.was_logged_in;
    c_.request.clear();
    c_.expected_length = 0;
    bool keeps = true;
    for (size_t i = 0; keeps && i < c.receives.size(); ++i) keeps = feed(c.receives[i]);
    EXPECT_EQ(sent(), c.sent) << label;
    EXPECT_EQ(throttle_.render_state(address), c.throttle) << label;
    EXPECT_EQ(keeps, c.keeps) << label;
    EXPECT_TRUE(!keeps || c_.is_logged_in == c.is_logged_in) << label;
    EXPECT_EQ(warnings_.find("max_frame_bytes") != std::string::npos, c.warns) << warnings_;
  }

  user_table users_;
  login_throttle throttle_{
      {{std::chrono::minutes(10), std::chrono::minutes(10), std::chrono::minutes(10)}}};
  session_context context_;
  std::string warnings_;
  connection c_;
  int peer_ = -1;
};

TEST_F(SessionTest, StreamsGetTheirRepliesAndCountTheirFailures) {
  const std::string payload = login_payload("alice", "wonderland");
  const std::string login = frame_of(payload), wrong = frame_of(login_payload("alice", "nope"));
  const std::string one = "tier=1 counter=1 banned=0";
  const std::string empty = empty_reply, bytes = login + frame_of("clear") + frame_of("x");
  std::vector<std::string> each_byte;  // each byte as a receive of its own
  for (const char b : bytes) each_byte.emplace_back(1, b);
  const auto failed_login = [&](std::string_view name, std::string_view password) {
    return stream_case{false, {frame_of(login_payload(name, password))}, failure, one, true, false};
  };
  const stream_case cases[] = {
      {false, {login}, success},
      // The name and the password's digest are checked; the stored digest is not the password.
      failed_login("alice", "Wonderland"),
      failed_login("alicE", "wonderland"),
      failed_login("alice", users_["alice"]),
      // Every receive that leaves the login incomplete counts.
      {false,
       {wrong.substr(0, 7), wrong.substr(7)},
       failure,
       "tier=1 counter=2 banned=0",
       true,
       false},
      // A complete frame of 4 payload bytes announcing a 5-byte name: no reply, one failure; when
      // the rest follows the whole buffer after the prefix is read from the start.
      {false, {frame_of(payload.substr(0, 4)), payload.substr(4)}, success},
      // One byte per receive; the successful login forgets the failures before it.
      {false, each_byte, success + empty + failure},
      // An empty command reaches the executor.
      {true, {frame_of(""), frame_of("clear")}, failure + empty},
      // Larger than the receive area: gathered, and the next frame is still in step.
      {true, {frame_of(std::string(100000, 'x')), frame_of("clear")}, failure + empty},
      // The length 0xFFFFFFFF closes, also in pieces after the login.
      {false, {"\xff\xff\xff\xff"}, "", "tier=0 counter=0 banned=0", false},
      {true, {"\xff\xff", "\xff\xffmore"}, "", "tier=0 counter=0 banned=0", false},
  };
  for (const stream_case& c : cases) expect_stream(c);
}

// Only the first receive of each: the limit applies before the frame is gathered.
TEST_F(SessionTest, FramesOverTheirLimitAreRefusedAtTheirLength) {
  context_.max_login_bytes = 64;
  context_.max_frame_bytes = 100;
  const std::string padded_login = login_payload("alice", "wonderland" + std::string(42, 'p'));
  ASSERT_EQ(padded_login.size(), 65u);
  const std::string one = "tier=1 counter=1 banned=0";
  const stream_case cases[] = {
      // A login at its limit is read as usual; one byte more is refused without a digest: the
      // failure reply, one failure counted (not one per receive), then the close.
      {false, {frame_of(login_payload("alice", std::string(50, 'p')))}, failure, one, true, false},
      {false, {frame_of(padded_login).substr(0, 10)}, failure, one, false},
      {false, {"GET / HTTP/1.1\r\n"}, failure, one, false},  // "GET " announces about 540 MB
      // After the login the frame limit holds: a frame at it is executed, one over it closes with
      // a warning and no reply.
      {true, {frame_of(std::string(100, 'x'))}, failure},
      {.was_logged_in = true,
       .receives = {frame_of(std::string(101, 'x')).substr(0, 4)},
       .sent = "",
       .keeps = false,
       .warns = true},
  };
  for (const stream_case& c : cases) expect_stream(c);
}

TEST_F(SessionTest, BanEndsALoggedInSessionOnItsNextReceive) {
  c_.is_logged_in = true;
  for (int i = 0; i < 30; ++i) (void)throttle_.record_failure(address);
  EXPECT_FALSE(feed(frame_of("clear")));
  EXPECT_EQ(sent(), "");
}

TEST_F(SessionTest, FailedReplySendClosesWithoutCounting) {
  close(peer_);
  peer_ = -1;
  EXPECT_FALSE(feed(frame_of(login_payload("alice", "wrong"))));  // no SIGPIPE either
  EXPECT_EQ(throttle_.render_state(address), "tier=0 counter=0 banned=0");
}

}  // namespace
}  // namespace qn::net
