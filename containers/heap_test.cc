#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "containers/binary_heap.h"
#include "containers/growable_array.h"

namespace qn::db::nosql::nosql_db {
namespace {

template <class T>
std::string render(growable_array<T>& h) {
  std::string out;
  h.for_each_in(0, h.size(), [&](T& v) { out += std::to_string(v) + " "; });
  return out;
}

template <class T>
bool has_heap_order(growable_array<T>& h) {
  for (uint64_t i = 1; i < h.size(); ++i) {
    if (compare_keys(h[(i - 1) / 2], h[i]) > 0) return false;
  }
  return true;
}

TEST(BinaryHeap, KeepsTheSiftOrder) {
  struct case_t {
    std::vector<int32_t> pushes;
    int pops;
    const char* expected;
  };
  const case_t cases[] = {
      {{5, 3, 8, 1}, 0, "1 3 8 5 "},
      {{5, 3, 8, 1}, 1, "3 5 8 "},
      {{5, 3, 8, 1}, 3, "8 "},
      {{5, 3, 8, 1}, 4, ""},
      // Equal children: the sift-down takes the right one.
      {{0, 2, 2, 5, 6, 3, 4}, 0, "0 2 2 5 6 3 4 "},
      {{0, 2, 2, 5, 6, 3, 4}, 1, "2 2 3 5 6 4 "},
      {{9, 8, 7, 6, 5, 4, 3}, 0, "3 6 4 9 7 8 5 "},
  };
  for (const case_t& c : cases) {
    growable_array<int32_t> h;
    for (int32_t v : c.pushes) heap_push(h, v);
    for (int i = 0; i < c.pops; ++i) heap_pop(h);
    EXPECT_EQ(render(h), c.expected);
  }
}

// Random pushes and pops against std::priority_queue; the heap order is checked after every pop.
TEST(BinaryHeap, MatchesStdPriorityQueueUnderRandomOperations) {
  std::mt19937_64 random(314);
  growable_array<int64_t> h;
  std::priority_queue<int64_t, std::vector<int64_t>, std::greater<>> model;
  for (int step = 0; step < 50000; ++step) {
    if (random() % 5 < 3 || model.empty()) {
      const auto v = static_cast<int64_t>(random() % 500) - 250;  // many repeats
      heap_push(h, v);
      model.push(v);
    } else {
      heap_pop(h);
      model.pop();
      ASSERT_TRUE(has_heap_order(h)) << "step " << step;
    }
    ASSERT_EQ(h.size(), model.size());
    if (!model.empty()) {
      ASSERT_EQ(h[0], model.top()) << "step " << step;
    }
  }
  while (!model.empty()) {
    ASSERT_EQ(h[0], model.top());
    heap_pop(h);
    model.pop();
    ASSERT_TRUE(has_heap_order(h));
  }
  EXPECT_EQ(h.size(), 0u);
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
