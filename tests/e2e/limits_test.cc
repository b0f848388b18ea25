// The server under misbehaving clients, end to end: readers that stall or trickle, peers that
// vanish, sockets that never log in, failed logins, oversized login and command frames, and more
// connections than allowed.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/server_harness.h"
#include "values/little_endian.h"

namespace qn::e2e {
namespace {

using net::testing::failure_reply;
using net::testing::frame_of;
using net::testing::login_payload;

// A request header that declares `length` payload bytes.
std::string header_of(uint32_t length) {
  std::string header;
  append_le(header, length);
  return header;
}

TEST(Limits, ClientsThatStopReadingHoldNoWorker) {
  server_process server({.settings = "[limits]\nsend_timeout_s = 5\n"});
  ASSERT_TRUE(server.start_serving());
  auto steady = server.client();
  ASSERT_TRUE(is_success(steady->request("c vector string")));
  const std::string insert = "i 0 last " + std::string(50000, 's');
  for (int i = 0; i < 60; ++i) ASSERT_TRUE(is_success(steady->request(insert))) << i;

  // Replies of about 3 MB to clients with a small receive buffer that never read: far more than
  // the socket buffers hold, and twice as many clients as workers.
  std::vector<std::unique_ptr<test_client>> stalled;
  for (int i = 0; i < 32; ++i) {
    stalled.push_back(std::make_unique<test_client>(server.port(), "127.0.0.1", 4096));
    ASSERT_TRUE(stalled.back()->log_in("admin", "secret")) << i;
    ASSERT_TRUE(stalled.back()->send_frame("g 0 all")) << i;
  }
  // Served while the stalled replies are still under way: a worker stuck in one of them would
  // only be freed when the send timeout closes its client.
  EXPECT_EQ(last_u64(server.client("127.0.0.2")->request("g 0 count")), 60u);
  int closed_before = 0;
  for (auto& c : stalled) closed_before += c->is_closed_by_server(0ms) ? 1 : 0;
  EXPECT_EQ(closed_before, 0);

  // A client that keeps taking a few kilobytes at a time, at most about 250 KB a second: every
  // wait for room ends with progress, so only the deadline for the whole frame ends the send. The
  // server closes; what it had queued still arrives, then the end of the stream.
  const size_t reply_size = 4 + 1 + 8 + (2 + 3 + 8) + 60 * (2 + 50000);
  test_client slow(server.port(), "127.0.0.1", 4096);
  ASSERT_TRUE(slow.log_in("admin", "secret"));
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
    std::this_thread::sleep_until(begin + std::chrono::microseconds(received * 4));
  }
  EXPECT_TRUE(is_ended);
  EXPECT_LT(received, reply_size);
  for (auto& c : stalled) EXPECT_TRUE(c->is_closed_by_server(15s));

  // Peers that vanish: logged in with half of a large frame sent, then a reset; or in the middle
  // of the login frame.
  for (int i = 0; i < 20; ++i) {
    test_client c(server.port());
    if (i % 2 == 0) {
      ASSERT_TRUE(c.log_in("admin", "secret"));
      ASSERT_TRUE(c.send_raw(frame_of(std::string(100000, 'x')).substr(0, 50000)));
      const linger reset{1, 0};
      ASSERT_EQ(setsockopt(c.fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset), 0);
    } else {
      ASSERT_TRUE(c.send_raw(frame_of(login_payload("admin", "secret")).substr(0, 5)));
    }
  }
  EXPECT_EQ(last_u64(steady->request("g 0 count")), 60u);
}

// A login frame over its limit counts one failure; the thirtieth failed login bans the address:
// that connection is closed, and the next ones from it at accept; other addresses are served.
TEST(Limits, LongLoginFrameCountsOnceAndTheThirtiethFailureBans) {
  // No login timeout closes the refused connection instead of the ban.
  server_process server({.settings = "[limits]\nlogin_timeout_s = 600\n"});
  ASSERT_TRUE(server.start_serving());
  const auto cpu_before = cpu_time_of(server.pid());
  {
    test_client c(server.port(), "127.0.0.4");
    // 900 KB: about 28 receives, just under the 30 failures that would ban the address if each
    // counted. The server may close before it has all of it.
    (void)c.send_raw(header_of(900000) + login_payload("admin", std::string(900000 - 13, 'p')));
    const std::string reply = net::testing::to_hex(c.read_reply());
    EXPECT_TRUE(reply.empty() || reply == failure_reply);
    EXPECT_TRUE(c.is_closed_by_server());
  }
  EXPECT_LT(cpu_time_of(server.pid()) - cpu_before, 50ms);  // no digest of the 900 KB
  // One failure was counted, not one per receive: the address is not banned.
  EXPECT_TRUE(test_client(server.port(), "127.0.0.4").log_in("admin", "secret"));

  test_client c(server.port(), "127.0.0.5");
  for (int i = 1; i < 30; ++i) ASSERT_EQ(c.login("admin", "wrong"), failure_reply) << i;
  EXPECT_EQ(c.login("admin", "wrong"), failure_reply);
  EXPECT_TRUE(c.is_closed_by_server());
  test_client refused(server.port(), "127.0.0.5");
  ASSERT_TRUE(refused.is_connected());  // the kernel accepts; the server closes at once
  EXPECT_TRUE(refused.is_closed_by_server());
  EXPECT_TRUE(is_success(server.client("127.0.0.6")->request("c vector i32")));
}

TEST(Limits, HugeDeclaredFrameClosesWithAWarningAndNoGrowth) {
  server_process server;
  ASSERT_TRUE(server.start_serving());
  auto c = server.client();
  const size_t resident_before = resident_bytes_of(server.pid());
  ASSERT_TRUE(c->send_raw(header_of(0xFFFFFFF0)));
  const std::string chunk(1 << 20, 'x');
  for (int i = 0; i < 128 && c->send_raw(chunk); ++i) {
  }
  EXPECT_TRUE(c->is_closed_by_server());
  EXPECT_LE(resident_bytes_of(server.pid()), resident_before + (size_t{64} << 20));
  EXPECT_TRUE(is_success(server.client()->request("c vector i32")));
  EXPECT_NE(server.log_text().find("max_frame_bytes"), std::string::npos);
}

TEST(Limits, SilentSocketsAtTheDescriptorLimitAreClosedAndOthersLogIn) {
  // About 50 descriptors are left for connections; more silent sockets than that wait in the
  // backlog until the login timeout frees descriptors.
  server_process server({.settings = "[limits]\nlogin_timeout_s = 2\n", .descriptor_limit = 64});
  ASSERT_TRUE(server.start_serving());
  std::vector<std::unique_ptr<test_client>> silent;
  for (int i = 0; i < 70; ++i) {
    silent.push_back(std::make_unique<test_client>(server.port(), "127.0.0.2"));
    ASSERT_TRUE(silent.back()->is_connected()) << i;
  }
  auto other = server.client("127.0.0.3");
  EXPECT_EQ(other->command("g 0 count"), failure_reply);  // no container yet
  for (auto& c : silent) EXPECT_TRUE(c->is_closed_by_server(10s));
  EXPECT_TRUE(is_success(other->request("c vector i32")));
}

// Connections over max_connections are closed at once; and the bound on a hash table's slot array
// holds exactly: 1024 slots of 8 bytes, not 1025.
TEST(Limits, ConnectionsAndSlotArrayBoundsHold) {
  server_process server(
      {.settings = "[limits]\nmax_connections = 4\nmax_hash_slot_bytes = 8192\n"});
  ASSERT_TRUE(server.start_serving());
  std::vector<std::unique_ptr<test_client>> first;
  for (int i = 0; i < 4; ++i) first.push_back(server.client());
  test_client extra(server.port());
  ASSERT_TRUE(extra.is_connected());  // the kernel accepts; the server closes at once
  EXPECT_TRUE(extra.is_closed_by_server());
  for (auto& c : first) EXPECT_EQ(c->command("g 0 count"), failure_reply);
  EXPECT_NE(server.log_text().find("max_connections"), std::string::npos);
  EXPECT_FALSE(is_success(first[0]->request("c hashmap u64 i32 1025")));
  EXPECT_TRUE(is_success(first[0]->request("c hashmap u64 i32 1024")));
}

}  // namespace
}  // namespace qn::e2e
