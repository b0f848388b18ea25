// container_lock: the reader/writer lock of one container, a std::shared_mutex that is taken for
// writing by trying first and giving the processor away between tries.
// Not recursive; the same rules as std::shared_mutex.
//
// Why: the C library's writer lock spins, instead of sleeping, while another writer is between
// the two steps of taking or releasing the lock. With more workers than cores, a writer
// preempted in that window makes every other writer of the container spin through its whole time
// slice. A failed try costs nothing, and yielding lets the preempted writer finish; after a few
// tries the writer blocks in the ordinary way, so a long hold (a backup, a large erase) is waited
// for asleep. Readers never meet the window and lock as usual.
#pragma once

#include <sched.h>

#include <shared_mutex>

namespace qn::db::nosql::nosql_db {

class container_lock {
 public:
  void lock() {
    for (int i = 0; i < yielding_tries; ++i) {
      if (mutex_.try_lock()) return;
      sched_yield();
    }
    mutex_.lock();
  }
  bool try_lock() { return mutex_.try_lock(); }
  void unlock() { mutex_.unlock(); }
  void lock_shared() { mutex_.lock_shared(); }
  bool try_lock_shared() { return mutex_.try_lock_shared(); }
  void unlock_shared() { mutex_.unlock_shared(); }

 private:
  static constexpr int yielding_tries = 4;
  std::shared_mutex mutex_;
};

}  // namespace qn::db::nosql::nosql_db
