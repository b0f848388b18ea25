#include "containers/node_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace qn::db::nosql::nosql_db {
namespace {

using list_t = node_list<int32_t>;

TEST(NodeList, RefusesHandlesThatNameNoLiveNode) {
  list_t l, other;
  const uint64_t a = l.handle_of(l.push_back(1));
  const uint64_t b = l.handle_of(l.push_back(2));
  const list_t::position last = l.push_back(4);
  const uint64_t erased = l.handle_of(last);
  const uint64_t foreign = other.handle_of(other.push_back(1));
  list_t::position p;
  l.erase(l.head());                                    // a is now stale; its slot is free
  const uint64_t reused = l.handle_of(l.push_back(3));  // takes a's slot with a new generation
  ASSERT_NE(reused, a);
  l.erase(last);  // its slot is free and stays free
  const struct {
    uint64_t handle;
    bool expected;
    const char* what;
  } cases[] = {
      {0, false, "zero"},
      {a, false, "erased (slot reused)"},
      {b, true, "live"},
      {reused, true, "live in a reused slot"},
      {foreign, false, "from another list"},
      {(b & 0xffffffff00000000u) | 99, false, "slot past the array"},
      {b & 0xffffffff00000000u, false, "slot part zero"},
      {b + (uint64_t{1} << 32), false, "free generation of a live slot"},
      {erased + (uint64_t{1} << 32), false, "generation of an erased, unused slot"},
      {b + (uint64_t{2} << 32), false, "later generation of a live slot"},
      {~uint64_t{0}, false, "all ones"},
  };
  for (const auto& c : cases) EXPECT_EQ(l.find(c.handle, p), c.expected) << c.what;
}

TEST(NodeList, ClearAndEmptyingInvalidateEveryHandle) {
  list_t l;
  std::vector<uint64_t> before;
  for (int32_t v = 0; v < 2000; ++v) before.push_back(l.handle_of(l.push_back(v)));
  l.clear();
  for (int32_t v = 0; v < 2000; ++v) l.push_back(v);  // same slots, new life
  list_t::position p;
  for (uint64_t h : before) ASSERT_FALSE(l.find(h, p));
  // Erasing the last node of a large list frees the array; old handles stay dead.
  std::vector<uint64_t> second;
  for (auto q = l.head(); q != list_t::none; q = l.next(q)) second.push_back(l.handle_of(q));
  l.pop_front_n(l.size());
  EXPECT_EQ(l.slot_count(), 0u);
  for (int32_t v = 0; v < 2000; ++v) l.push_back(v);
  for (uint64_t h : second) ASSERT_FALSE(l.find(h, p));
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
