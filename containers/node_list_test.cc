#include "containers/node_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <list>
#include <random>
#include <string>
#include <vector>

namespace qn::db::nosql::nosql_db {
namespace {

using list_t = node_list<int32_t>;

// Walks the links both ways and checks they agree with the count.
void expect_consistent_links(const list_t& l) {
  uint64_t forward = 0;
  list_t::position last = list_t::none;
  for (auto p = l.head(); p != list_t::none; p = l.next(p), ++forward) {
    ASSERT_EQ(l.prev(p), last);
    last = p;
  }
  ASSERT_EQ(last, l.tail());
  ASSERT_EQ(forward, l.size());
}

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

// Random operations against std::list. Each model element carries its handle, so the handle
// operations are checked as well as the positional ones.
TEST(NodeList, MatchesStdListUnderRandomOperations) {
  struct entry {
    int32_t value;
    uint64_t handle;
  };
  std::mt19937_64 random(99);
  list_t l;
  std::list<entry> model;
  std::vector<uint64_t> dead;
  auto model_at = [&](uint64_t i) { return std::next(model.begin(), static_cast<long>(i)); };
  for (int step = 0; step < 20000; ++step) {
    const auto v = static_cast<int32_t>(random() % 1000);
    const uint64_t n = model.size();
    switch (random() % 8) {
      case 0:
        model.push_back({v, l.handle_of(l.push_back(v))});
        break;
      case 1:
        model.push_front({v, l.handle_of(l.push_front(v))});
        break;
      case 2: {
        const uint64_t i = random() % (n + 1);
        l.insert(i, v);
        const auto p = l.position_at(i);
        model.insert(model_at(i), {v, l.handle_of(p)});
        break;
      }
      case 3:
        if (n != 0) {
          const auto it = model_at(random() % n);
          list_t::position p;
          ASSERT_TRUE(l.find(it->handle, p));
          model.insert(it, {v, l.handle_of(l.insert_before(p, v))});
        }
        break;
      case 4:
        if (n != 0) {
          const auto it = model_at(random() % n);
          list_t::position p;
          ASSERT_TRUE(l.find(it->handle, p));
          l.erase(p);
          dead.push_back(it->handle);
          model.erase(it);
        }
        break;
      case 5: {
        const uint64_t b = random() % (n + 1);
        const uint64_t e = b + random() % (std::min<uint64_t>(n - b, 5) + 1);
        l.erase(b, e);
        auto it = model_at(b);
        for (uint64_t k = b; k != e; ++k) {
          dead.push_back(it->handle);
          it = model.erase(it);
        }
        break;
      }
      case 6:
        if (n != 0) {
          const bool front = random() % 2;
          dead.push_back(front ? model.front().handle : model.back().handle);
          front ? l.pop_front() : l.pop_back();
          front ? model.pop_front() : model.pop_back();
        }
        break;
      case 7:
        if (n != 0) {
          const auto it = model_at(random() % n);
          list_t::position p;
          ASSERT_TRUE(l.find(it->handle, p));
          l.value(p) = it->value = v;
        }
        break;
    }
    ASSERT_EQ(l.size(), model.size()) << "step " << step;
    if (step % 50 == 0) {
      expect_consistent_links(l);
      uint64_t i = 0;
      for (const entry& e : model) {
        list_t::position p;
        ASSERT_TRUE(l.find(e.handle, p)) << "step " << step;
        ASSERT_EQ(p, l.position_at(i++));
        ASSERT_EQ(l.value(p), e.value);
      }
      for (uint64_t h : dead) {
        list_t::position p;
        ASSERT_FALSE(l.find(h, p)) << "step " << step;
      }
    }
  }
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
