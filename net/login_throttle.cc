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
    const uint64_t now = ++failure_count_;
    const bool is_banned_now = blacklist_.find(address) != blacklist_.end();
    auto entry = tracked_.find(address);
    if (entry == tracked_.end()) {
      make_room();
      entry = tracked_.emplace(std::string(address), tracked{0, 1, now}).first;
      if (!is_banned_now) index_by_age(entry);
      return true;
    }
    tracked& t = entry->second;
    if (!is_banned_now) unbanned_by_age_.erase(t.last_failure);
    t.last_failure = now;
    if (++t.counter < triggers[t.tier]) {
      if (!is_banned_now) index_by_age(entry);
      return true;
    }
    blacklist_.emplace(address);
    if (t.tier + 1 < tier_count) {
      ban = settings_.ban_lengths[t.tier];
      ++t.tier;
      t.counter = 0;
    } else {
      tracked_.erase(entry);
    }
  }
  // Queued outside the blacklist lock: the pool's lock is never taken under it.
  if (ban) removals_.enqueue(std::string(address), *ban);
  return false;
}

void login_throttle::make_room() {
  while (tracked_.size() >= settings_.max_tracked_addresses && !unbanned_by_age_.empty()) {
    tracked_.erase(unbanned_by_age_.begin()->second);
    unbanned_by_age_.erase(unbanned_by_age_.begin());
  }
}

void login_throttle::index_by_age(tracked_map::iterator entry) {
  unbanned_by_age_.emplace(entry->second.last_failure, entry);
}

void login_throttle::record_success(std::string_view address) {
  std::unique_lock lock(mutex_);
  auto entry = tracked_.find(address);
  if (entry == tracked_.end()) return;
  if (blacklist_.find(address) == blacklist_.end()) {
    unbanned_by_age_.erase(entry->second.last_failure);
  }
  tracked_.erase(entry);
}

bool login_throttle::is_banned(std::string_view address) const {
  std::shared_lock lock(mutex_);
  return blacklist_.find(address) != blacklist_.end();
}

std::string login_throttle::render_state(std::string_view address) const {
  std::shared_lock lock(mutex_);
  const auto entry = tracked_.find(address);
  const int tier = entry == tracked_.end() ? 0 : entry->second.tier + 1;
  const unsigned counter = entry == tracked_.end() ? 0 : entry->second.counter;
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
  if (blacklist_.erase(address) == 0) return;
  const auto entry = tracked_.find(address);
  if (entry != tracked_.end()) index_by_age(entry);
}

}  // namespace qn::net
