#include <gtest/gtest.h>

#include <cstdint>
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

}  // namespace
}  // namespace qn::db::nosql::nosql_db
