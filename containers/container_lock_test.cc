#include "containers/container_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <vector>

namespace qn::db::nosql::nosql_db {
namespace {

TEST(ContainerLock, WritersExcludeEachOtherAndReaders) {
  // Writers keep two counters equal under the exclusive lock, readers check them under the
  // shared lock: more threads than cores, so writers meet each other in every phase of the lock,
  // the yielding tries and the blocking fall-back included.
  container_lock lock;
  uint64_t first = 0;
  uint64_t second = 0;
  std::atomic<bool> torn{false};
  constexpr int writers = 8;
  constexpr int rounds = 1000;
  std::vector<std::thread> threads;
  for (int w = 0; w < writers; ++w) {
    threads.emplace_back([&] {
      for (int i = 0; i < rounds; ++i) {
        std::unique_lock hold(lock);
        ++first;
        std::this_thread::yield();
        ++second;
      }
    });
  }
  for (int r = 0; r < 4; ++r) {
    threads.emplace_back([&] {
      for (int i = 0; i < rounds; ++i) {
        std::shared_lock hold(lock);
        if (first != second) torn = true;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(torn.load());
  EXPECT_EQ(first, uint64_t{writers} * rounds);
  EXPECT_EQ(second, first);
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
