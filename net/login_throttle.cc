#include "net/login_throttle.h"

#include <optional>
#include <utility>

namespace qn::net {

// ---- removal pool ----

removal_pool::removal_pool(std::function<void(const std::string&)> remove)
    : remove_(std::move(remove)) {}

removal_pool::~removal_pool() {
  {
    std::lock_guard lock(mutex_);
    is_stopping_ = true;
  }
  wake_.notify_all();
  stop_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void removal_pool::enqueue(std::string address, std::chrono::milliseconds delay) {
  {
    std::lock_guard lock(mutex_);
    // Lazy start: a process that never bans anybody runs no removal threads.
    if (threads_.empty()) {
      for (size_t i = 0; i < thread_count; ++i) threads_.emplace_back([this] { run_thread(); });
    }
    queue_.push_back(task{std::move(address), delay});
  }
  wake_.notify_one();
}

void removal_pool::run_thread() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return is_stopping_ || !queue_.empty(); });
    if (is_stopping_) return;
    task t = std::move(queue_.front());
    queue_.pop_front();
    const auto deadline = std::chrono::steady_clock::now() + t.delay;
    if (stop_.wait_until(lock, deadline, [this] { return is_stopping_; })) return;
    lock.unlock();
    remove_(t.address);
    lock.lock();
  }
}

// ---- login throttle ----

login_throttle::login_throttle(throttle_settings settings)
    : settings_(settings), removals_([this](const std::string& a) { lift_ban(a); }) {}

bool login_throttle::record_failure(std::string_view address) {
  std::optional<std::chrono::milliseconds> ban;
  {
    std::unique_lock lock(mutex_);
    int tier = tier_count - 1;
    auto entry = tiers_[tier].end();
    for (; tier >= 0; --tier) {
      entry = tiers_[tier].find(address);
      if (entry != tiers_[tier].end()) break;
    }
    if (tier < 0) {
      tiers_[0].emplace(std::string(address), uint8_t{1});
      return true;
    }
    if (++entry->second < triggers[tier]) return true;
    blacklist_.emplace(address);
    if (tier + 1 < tier_count) {
      tiers_[tier + 1].emplace(std::string(address), uint8_t{0});
      ban = settings_.ban_lengths[tier];
    }
    tiers_[tier].erase(entry);
  }
  // Queued outside the blacklist lock: the pool's lock is never taken under it.
  if (ban) removals_.enqueue(std::string(address), *ban);
  return false;
}

void login_throttle::record_success(std::string_view address) {
  std::unique_lock lock(mutex_);
  for (int tier = tier_count - 1; tier >= 0; --tier) {
    auto entry = tiers_[tier].find(address);
    if (entry != tiers_[tier].end()) {
      tiers_[tier].erase(entry);
      return;
    }
  }
}

bool login_throttle::is_banned(std::string_view address) const {
  std::shared_lock lock(mutex_);
  return blacklist_.find(address) != blacklist_.end();
}

std::string login_throttle::render_state(std::string_view address) const {
  std::shared_lock lock(mutex_);
  int tier = 0;
  unsigned counter = 0;
  for (int t = tier_count - 1; t >= 0; --t) {
    auto entry = tiers_[t].find(address);
    if (entry != tiers_[t].end()) {
      tier = t + 1;
      counter = entry->second;
      break;
    }
  }
  const bool banned = blacklist_.find(address) != blacklist_.end();
  return "tier=" + std::to_string(tier) + " counter=" + std::to_string(counter) +
         " banned=" + (banned ? "1" : "0");
}

size_t login_throttle::blacklist_count() const {
  std::shared_lock lock(mutex_);
  return blacklist_.size();
}

void login_throttle::lift_ban(const std::string& address) {
  std::unique_lock lock(mutex_);
  blacklist_.erase(address);
}

login_throttle& process_throttle() {
  static login_throttle* const throttle = new login_throttle();
  return *throttle;
}

}  // namespace qn::net
