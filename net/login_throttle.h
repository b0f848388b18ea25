// Login throttle: per-address failure tiers, the address blacklist and their delayed removals.
// Locking: one blacklist lock (mutex_) guards the four tiers and the blacklist; the removal pool
// keeps its own queue lock and takes the blacklist lock only after releasing it.
//
// An address climbs the tiers: 30 failures in tier 1 ban it for 60 s and move it to tier 2, 20
// more ban it for 1800 s (tier 3), 5 more for 15 days (tier 4), and 3 more for good. A ban is
// lifted by a removal task that sleeps out the ban on a pool of four threads taking tasks in FIFO
// order, so at most four bans count down at a time.
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

#include "values/byte_string_order.h"

namespace qn::net {

// Ban lengths of tiers 1 to 3 (tier 4 bans until the process ends). Tests shorten them.
struct throttle_settings {
  std::array<std::chrono::milliseconds, 3> ban_lengths = {
      std::chrono::seconds(60), std::chrono::seconds(1800), std::chrono::seconds(1296000)};
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
  void lift_ban(const std::string& address);

  const throttle_settings settings_;
  mutable std::shared_mutex mutex_;  // the blacklist lock; guards the fields below
  std::array<std::map<std::string, uint8_t, qn::byte_string_less>, tier_count> tiers_;
  std::set<std::string, qn::byte_string_less> blacklist_;
  // Declared last so that it is destroyed first: its threads touch the tables above.
  removal_pool removals_;
};

// The throttle of the running server, with the production ban lengths. Created on first use and
// never destroyed, so exit handlers and connections closing at exit may still reach it; its
// removal threads start with the first ban.
login_throttle& process_throttle();

}  // namespace qn::net
