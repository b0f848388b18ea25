#include "net/login_throttle.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace qn::net {
namespace {

using std::chrono::milliseconds;

// The same ban length for tiers 1 to 3.
throttle_settings bans(milliseconds length) { return {{length, length, length}}; }
// Ban lengths long enough that no ban is lifted while a test looks at it.
throttle_settings long_bans() { return bans(milliseconds(600000)); }

// Records `n` failures; returns how many of them allowed the connection to stay.
int fail(login_throttle& t, const std::string& address, int n) {
  int kept = 0;
  for (int i = 0; i < n; ++i) kept += t.record_failure(address) ? 1 : 0;
  return kept;
}

// Waits (bounded) until the address is no longer banned.
bool wait_unbanned(const login_throttle& t, const std::string& address) {
  for (int i = 0; i < 500 && t.is_banned(address); ++i) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  return !t.is_banned(address);
}

TEST(LoginThrottle, TiersBanAtTheirTriggers) {
  login_throttle t(long_bans());
  struct {
    int failures;
    int kept;
    std::string state;
  } steps[] = {
      {1, 1, "tier=1 counter=1 banned=0"},
      {28, 28, "tier=1 counter=29 banned=0"},
      {1, 0, "tier=2 counter=0 banned=1"},  // the 30th failure bans
      {19, 19, "tier=2 counter=19 banned=1"},
      {1, 0, "tier=3 counter=0 banned=1"},  // 20 more
      {4, 4, "tier=3 counter=4 banned=1"},
      {1, 0, "tier=4 counter=0 banned=1"},  // 5 more
      {2, 2, "tier=4 counter=2 banned=1"},
      {1, 0, "tier=0 counter=0 banned=1"},  // 3 more: banned for good, out of every tier
      {1, 1, "tier=1 counter=1 banned=1"},  // counting starts over, the ban stays
  };
  for (const auto& s : steps) {
    EXPECT_EQ(fail(t, "10.0.0.1", s.failures), s.kept) << s.state;
    EXPECT_EQ(t.render_state("10.0.0.1"), s.state);
  }
  EXPECT_EQ(t.blacklist_count(), 1u);
}

TEST(LoginThrottle, AddressesAreCountedApart) {
  login_throttle t(long_bans());
  EXPECT_EQ(fail(t, "10.0.0.1", 30), 29);
  EXPECT_EQ(fail(t, "10.0.0.10", 5), 5);
  EXPECT_TRUE(t.is_banned("10.0.0.1"));
  EXPECT_FALSE(t.is_banned("10.0.0.10"));
  EXPECT_FALSE(t.is_banned("10.0.0"));
  EXPECT_EQ(t.render_state("10.0.0.10"), "tier=1 counter=5 banned=0");
}

TEST(LoginThrottle, SuccessForgetsOnlyTheCurrentTier) {
  login_throttle t(long_bans());
  EXPECT_EQ(fail(t, "a", 30), 29);  // now in tier 2
  EXPECT_EQ(fail(t, "a", 7), 7);
  t.record_success("a");
  EXPECT_EQ(t.render_state("a"), "tier=0 counter=0 banned=1");  // the ban itself stays
  t.record_success("b");                                         // unknown address: no effect
  EXPECT_EQ(t.render_state("b"), "tier=0 counter=0 banned=0");
  EXPECT_EQ(fail(t, "c", 3), 3);
  t.record_success("c");
  EXPECT_EQ(t.render_state("c"), "tier=0 counter=0 banned=0");
}

TEST(LoginThrottle, BanExpiresAfterItsLength) {
  login_throttle t(bans(milliseconds(30)));
  EXPECT_EQ(fail(t, "a", 30), 29);
  EXPECT_TRUE(wait_unbanned(t, "a"));
  EXPECT_EQ(t.render_state("a"), "tier=2 counter=0 banned=0");
  EXPECT_EQ(fail(t, "a", 20), 19);  // the next ban needs 20 more
  EXPECT_TRUE(wait_unbanned(t, "a"));
  EXPECT_EQ(fail(t, "a", 5), 4);
  EXPECT_TRUE(wait_unbanned(t, "a"));
  EXPECT_EQ(t.render_state("a"), "tier=4 counter=0 banned=0");
}

TEST(LoginThrottle, PermanentBanIsNeverLifted) {
  login_throttle t(bans(milliseconds(1)));
  for (int tier = 0; tier < 3; ++tier) {
    EXPECT_EQ(fail(t, "a", login_throttle::triggers[tier]), login_throttle::triggers[tier] - 1);
    ASSERT_TRUE(wait_unbanned(t, "a"));
  }
  EXPECT_EQ(fail(t, "a", 3), 2);
  std::this_thread::sleep_for(milliseconds(50));  // longer than any queued removal
  EXPECT_TRUE(t.is_banned("a"));
}

TEST(LoginThrottle, MoreBansThanRemovalThreadsAreAllLifted) {
  // The fifth ban queues until one of the four removal threads is free again.
  login_throttle t(bans(milliseconds(300)));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(fail(t, "h" + std::to_string(i), 30), 29);
  EXPECT_EQ(t.blacklist_count(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(wait_unbanned(t, "h" + std::to_string(i))) << i;
  EXPECT_EQ(t.blacklist_count(), 0u);
}

TEST(LoginThrottle, DestroyingWithPendingBansDoesNotWait) {
  // The destructor must cut short removal tasks sleeping out a long ban.
  login_throttle t(long_bans());
  for (int i = 0; i < 6; ++i) EXPECT_EQ(fail(t, "x" + std::to_string(i), 30), 29);
}

TEST(LoginThrottle, ConcurrentFailuresAreAllCounted) {
  login_throttle t(long_bans());
  std::vector<std::thread> threads;
  int kept[4] = {};
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&t, &kept, i] { kept[i] = fail(t, "shared", 7); });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(kept[0] + kept[1] + kept[2] + kept[3], 28);
  EXPECT_EQ(t.render_state("shared"), "tier=1 counter=28 banned=0");
}

}  // namespace
}  // namespace qn::net
