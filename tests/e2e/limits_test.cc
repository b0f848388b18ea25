// The server under misbehaving clients, end to end: sockets that never log in and more
// connections than allowed. Oversized frames are the session's unit tests, stalled readers the
// completion port's and the listener's.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/server_harness.h"

namespace qn::e2e {
namespace {

using net::testing::failure_reply;

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

TEST(Limits, ConnectionsOverTheLimitAreClosedAtOnce) {
  server_process server({.settings = "[limits]\nmax_connections = 4\n"});
  ASSERT_TRUE(server.start_serving());
  std::vector<std::unique_ptr<test_client>> first;
  for (int i = 0; i < 4; ++i) first.push_back(server.client());
  test_client extra(server.port());
  ASSERT_TRUE(extra.is_connected());  // the kernel accepts; the server closes at once
  EXPECT_TRUE(extra.is_closed_by_server());
  for (auto& c : first) EXPECT_EQ(c->command("g 0 count"), failure_reply);
  EXPECT_NE(server.log_text().find("max_connections"), std::string::npos);
}

}  // namespace
}  // namespace qn::e2e
