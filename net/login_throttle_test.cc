#include "net/login_throttle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

TEST(LoginThrottle, TiersBanAtTheirTriggersAndSuccessForgetsTheCurrentTier) {
  login_throttle t(long_bans());
  constexpr int success = -1;
  struct {
    const char* address;
    int failures;  // or a success
    int kept;
    std::string state;
  } steps[] = {
      {"10.0.0.1", 30, 29, "tier=2 counter=0 banned=1"},  // the 30th failure bans
      {"10.0.0.1", 20, 19, "tier=3 counter=0 banned=1"},  // 20 more
      {"10.0.0.1", 5, 4, "tier=4 counter=0 banned=1"},
      {"10.0.0.1", 3, 2, "tier=0 counter=0 banned=1"},   // banned for good, out of every tier
      {"10.0.0.1", 1, 1, "tier=1 counter=1 banned=1"},   // counting starts over, the ban stays
      {"10.0.0.10", 5, 5, "tier=1 counter=5 banned=0"},  // addresses are counted apart
      {"a", 37, 36, "tier=2 counter=7 banned=1"},
      {"a", success, 0, "tier=0 counter=0 banned=1"},  // the ban itself stays
      {"c", 3, 3, "tier=1 counter=3 banned=0"},
      {"c", success, 0, "tier=0 counter=0 banned=0"},
  };
  for (const auto& s : steps) {
    if (s.failures == success) t.record_success(s.address);
    EXPECT_EQ(fail(t, s.address, std::max(s.failures, 0)), s.kept) << s.address << s.state;
    EXPECT_EQ(t.render_state(s.address), s.state) << s.address;
  }
  EXPECT_EQ(t.blacklist_count(), 2u);
}

TEST(LoginThrottle, FullTableDropsTheOldestUnbannedEntry) {
  throttle_settings settings = bans(milliseconds(300));
  settings.max_tracked_addresses = 3;
  login_throttle t(settings);
  EXPECT_EQ(fail(t, "banned", 30), 29);  // oldest failures of all, but banned: never dropped
  EXPECT_EQ(fail(t, "old", 1), 1);
  EXPECT_EQ(fail(t, "new", 1), 1);
  EXPECT_EQ(fail(t, "old", 1), 1);  // "new" now has the oldest last failure
  EXPECT_EQ(fail(t, "newest", 1), 1);
  EXPECT_EQ(t.render_state("new"), "tier=0 counter=0 banned=0");
  EXPECT_EQ(t.render_state("old"), "tier=1 counter=2 banned=0");
  EXPECT_EQ(t.render_state("banned"), "tier=2 counter=0 banned=1");
  // Once its ban is lifted the entry ages like any other, from its last failure.
  ASSERT_TRUE(wait_unbanned(t, "banned"));
  EXPECT_EQ(fail(t, "later", 1), 1);
  EXPECT_EQ(t.render_state("banned"), "tier=0 counter=0 banned=0");
  EXPECT_EQ(t.render_state("old"), "tier=1 counter=2 banned=0");
  EXPECT_EQ(t.render_state("later"), "tier=1 counter=1 banned=0");
}

TEST(LoginThrottle, BansExpireAfterTheirLengthButTheLast) {
  login_throttle t(bans(milliseconds(30)));
  for (const int failures : {30, 20, 5}) {  // the triggers of tiers 1 to 3
    EXPECT_EQ(fail(t, "a", failures), failures - 1);
    EXPECT_TRUE(wait_unbanned(t, "a")) << failures;
  }
  EXPECT_EQ(t.render_state("a"), "tier=4 counter=0 banned=0");
  EXPECT_EQ(fail(t, "a", 3), 2);                  // the fourth ban is for good
  std::this_thread::sleep_for(milliseconds(50));  // longer than any queued removal
  EXPECT_TRUE(t.is_banned("a"));
}

// The four threads held by removals that block: queued tasks wait however long, and a delay counts
// from when a thread takes its task (the shorter one, queued second, is lifted first).
TEST(RemovalPool, DelaysCountFromWhenAThreadTakesTheTask) {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> lifted;
  bool is_held = true;
  const auto wait_lifted = [&](size_t n) {
    std::unique_lock lock(mutex);
    changed.wait_for(lock, std::chrono::seconds(10), [&] { return lifted.size() >= n; });
    return lifted;
  };
  removal_pool pool([&](const std::string& address) {
    std::unique_lock lock(mutex);
    lifted.push_back(address);
    changed.notify_all();
    changed.wait(lock, [&] { return !is_held || address.size() > 1; });
  });
  for (int i = 0; i < 4; ++i) pool.enqueue(std::to_string(i), milliseconds(1));
  pool.enqueue("slow", milliseconds(300));
  pool.enqueue("quick", milliseconds(50));
  ASSERT_EQ(wait_lifted(4).size(), 4u);
  std::this_thread::sleep_for(milliseconds(400));  // longer than either delay
  EXPECT_EQ(wait_lifted(0).size(), 4u);
  {
    std::lock_guard lock(mutex);
    is_held = false;
    changed.notify_all();
  }
  const std::vector<std::string> all = wait_lifted(6);
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all[4], "quick");
  EXPECT_EQ(all[5], "slow");
}

// The end of the test destroys the throttle with removal tasks sleeping out long bans: it must cut
// them short, not wait.
TEST(LoginThrottle, ConcurrentFailuresAreAllCountedAndPendingBansDoNotHoldTheEnd) {
  login_throttle t(long_bans());
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([&t] { fail(t, "shared", 7); });
  for (auto& th : threads) th.join();
  EXPECT_EQ(t.render_state("shared"), "tier=1 counter=28 banned=0");
  for (int i = 0; i < 6; ++i) EXPECT_EQ(fail(t, "x" + std::to_string(i), 30), 29);
}

}  // namespace
}  // namespace qn::net
