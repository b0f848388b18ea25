// Login throttle: per-address failure tiers, the address blacklist and their delayed removals.
// Locking: one blacklist lock (mutex_) guards the tracked addresses and the blacklist; the removal
// pool keeps its own queue lock and takes the blacklist lock only after releasing it.
//
// An address climbs the tiers: 30 failures in tier 1 ban it for 60 s and move it to tier 2, 20
// more ban it for 1800 s (tier 3), 5 more for 15 days (tier 4), and 3 more for good. A ban is
// lifted by a removal task that sleeps out the ban on a pool of four threads taking tasks in FIFO
// order, so at most four bans count down at a time.
//
// An address is in at most one tier at a time, so the four tiers are kept as one table of tracked
// addresses with their tier. The table holds at most max_tracked_addresses entries: a new address
// first drops the entry with the oldest last failure among the addresses not banned (an index by
// last failure holds exactly those). Banned entries are never dropped, so the table may exceed
// its bound only while every entry in it is banned.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "values/byte_order.h"

namespace qn::net {

// Ban lengths of tiers 1 to 3 (tier 4 bans until the process ends) and the table bound. Tests
// shorten them.
struct throttle_settings {
  std::array<std::chrono::milliseconds, 3> ban_lengths = {
      std::chrono::seconds(60), std::chrono::seconds(1800), std::chrono::seconds(1296000)};
  size_t max_tracked_addresses = 1000000;
};

// Four threads running delayed removals in FIFO order; each task holds its thread for its delay.
// The threads are started by the first enqueue; destruction drops pending tasks and cuts short the
// delays under way (their removals do not run).
class removal_pool {
 public:
  static constexpr size_t thread_count = 4;

  // `remove` runs on a pool thread once an address's delay has passed.
  explicit removal_pool(std::function<void(const std::string&)> remove);
  ~removal_pool();
  removal_pool(const removal_pool&) = delete;
  removal_pool& operator=(const removal_pool&) = delete;

  // Queues the removal of `address` after `delay`, counted from when a thread takes the task.
  void enqueue(std::string address, std::chrono::milliseconds delay);

 private:
  struct task {
    std::string address;
    std::chrono::milliseconds delay;
  };
  void run_thread();

  std::function<void(const std::string&)> remove_;
  std::mutex mutex_;  // guards the fields below
  // Idle threads wait on wake_ for tasks; threads sleeping out a delay wait on stop_, so a new task
  // always wakes an idle thread rather than one that is counting down.
  std::condition_variable wake_;
  std::condition_variable stop_;
  std::deque<task> queue_;
  std::vector<std::thread> threads_;
  bool is_stopping_ = false;
};

class login_throttle {
 public:
  static constexpr int tier_count = 4;
  static constexpr std::array<uint8_t, tier_count> triggers = {30, 20, 5, 3};

  explicit login_throttle(throttle_settings settings = {});
  login_throttle(const login_throttle&) = delete;
  login_throttle& operator=(const login_throttle&) = delete;

  // Counts a failed login from `address` in the highest tier that holds it (tier 1 when none
  // does). Returns true when the connection may stay open; false when this failure banned the
  // address (it is then blacklisted, moved to the next tier and, below tier 4, its removal queued).
  [[nodiscard]] bool record_failure(std::string_view address);
  // Forgets the address's counter in the highest tier that holds it; other tiers are untouched.
  void record_success(std::string_view address);
  // True while the address is banned. Locking: takes the blacklist lock shared.
  bool is_banned(std::string_view address) const;

  // Inspection: "tier=<1..4 or 0> counter=<n> banned=<0|1>" for one address.
  std::string render_state(std::string_view address) const;
  size_t blacklist_count() const;

 private:
  struct tracked {
    int tier = 0;  // 0 for tier 1
    uint8_t counter = 0;
    uint64_t last_failure = 0;  // sequence number of the address's latest failure
  };
  using tracked_map = std::map<std::string, tracked, qn::byte_string_less>;

  void lift_ban(const std::string& address);
  // Requires: mutex_ held exclusively. Drops the oldest unbanned entries while the table is full.
  void make_room();
  // Requires: mutex_ held exclusively and the address not banned.
  void index_by_age(tracked_map::iterator entry);

  const throttle_settings settings_;
  mutable std::shared_mutex mutex_;  // the blacklist lock; guards the fields below
  tracked_map tracked_;
  // The tracked addresses that are not banned, by last failure, oldest first.
  std::map<uint64_t, tracked_map::iterator> unbanned_by_age_;
  uint64_t failure_count_ = 0;
  std::set<std::string, qn::byte_string_less> blacklist_;
  // Declared last so that it is destroyed first: its threads touch the tables above.
  removal_pool removals_;
};

}  // namespace qn::net
