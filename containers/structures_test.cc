// The structures under the kinds: the growable array's growth, the heap's sift order, the tree's
// backward walk, the node list's handles, the block deque against std::deque, and the container
// lock's exclusion.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <random>
#include <set>
#include <shared_mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "containers/avl_tree.h"
#include "containers/binary_heap.h"
#include "containers/block_deque.h"
#include "containers/container_lock.h"
#include "containers/growable_array.h"
#include "containers/node_list.h"
#include "values/xstring.h"

namespace qn::db::nosql::nosql_db {
namespace {

TEST(GrowableArray, AppendingGrowsToTwiceTheNeededSize) {
  // Appends, then the capacity they leave.
  const std::pair<uint64_t, uint64_t> cases[] = {{0, 0}, {1, 2},  {2, 2},   {3, 6},
                                                 {6, 6}, {7, 14}, {14, 14}, {15, 30}};
  for (const auto& [appends, capacity] : cases) {
    growable_array<int32_t> a;
    for (uint64_t i = 0; i < appends; ++i) a.push_back(static_cast<int32_t>(i));
    EXPECT_EQ(a.capacity(), capacity) << appends << " appends";
    EXPECT_EQ(a.size(), appends);
  }
}

TEST(GrowableArray, PushingAnElementOfItselfWhileGrowing) {
  growable_array<xstring> a;
  a.push_back(xstring("first"));
  a.push_back(xstring("second"));  // size 2, capacity 2: the next push reallocates
  a.push_back(a[0]);
  a.insert(0, a[2]);
  std::string got;
  a.for_each_in(0, a.size(), [&](xstring& s) { got += std::string(s.view()) + ","; });
  EXPECT_EQ(got, "first,first,second,first,");
}

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

// The tree's backward walk: the set and map models (set_test, map_test) check every other part of
// the tree through the kinds, but no kind walks it backwards.
class owned_tree : public avl_tree<int64_t, true, true> {
 public:
  ~owned_tree() { dispose_all(&free_node); }
  static void free_node(avl_node* n) { delete static_cast<node*>(n); }
};

TEST(AvlTree, WalksBackwardsThroughEveryKey) {
  std::mt19937 rng(1);
  owned_tree tree;
  std::set<int64_t> model;
  for (int i = 0; i < 3000; ++i) {
    const auto k = static_cast<int64_t>(rng() % 500);
    owned_tree::slot s;
    if (rng() % 3 != 0) {
      if (tree.find_slot(k, s)) tree.link_at(s, new owned_tree::node(k));
      model.insert(k);
    } else if (owned_tree::node* n = tree.find(k)) {
      tree.unlink(n);
      owned_tree::free_node(n);
      model.erase(k);
    }
  }
  std::vector<int64_t> backwards;
  for (auto* n = tree.last(); n != nullptr; n = owned_tree::prev(n)) backwards.push_back(n->key);
  EXPECT_TRUE(std::equal(backwards.begin(), backwards.end(), model.rbegin(), model.rend()));
}

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

// Erasing the last node of a large list frees the array; old handles stay dead. (A clear's are
// the list kind's, in sequences_test.)
TEST(NodeList, EmptyingInvalidatesEveryHandle) {
  list_t l;
  for (int32_t v = 0; v < 2000; ++v) l.push_back(v);
  list_t::position p;
  std::vector<uint64_t> second;
  for (auto q = l.head(); q != list_t::none; q = l.next(q)) second.push_back(l.handle_of(q));
  l.pop_front_n(l.size());
  EXPECT_EQ(l.slot_count(), 0u);
  for (int32_t v = 0; v < 2000; ++v) l.push_back(v);
  for (uint64_t h : second) ASSERT_FALSE(l.find(h, p));
}

// A deque used as a queue for long keeps a map the size of what it holds, not of its history.
TEST(BlockDeque, QueueUseKeepsTheMapBounded) {
  block_deque<int64_t> d;
  int64_t next_in = 0, next_out = 0;
  for (int round = 0; round < 200; ++round) {
    for (int i = 0; i < 3000; ++i) d.push_back(next_in++);
    for (int i = 0; i < 3000; ++i) {
      ASSERT_EQ(d.front(), next_out++);
      d.pop_front();
    }
  }
  EXPECT_TRUE(d.empty());
  EXPECT_LE(d.map_length(), 16u);
  // The same from the other end.
  for (int round = 0; round < 200; ++round) {
    for (int i = 0; i < 3000; ++i) d.push_front(next_in++);
    for (int i = 0; i < 3000; ++i) d.pop_back();
  }
  EXPECT_LE(d.map_length(), 16u);
}

// Random operations against std::deque over strings (which own memory), the contents compared
// after every step. The sizes stay around a few thousand so both sides cross block boundaries in
// both directions.
TEST(BlockDeque, MatchesStdDequeUnderRandomOperations) {
  std::mt19937_64 random(77);
  block_deque<xstring> d;
  std::deque<std::string> model;
  for (int step = 0; step < 60000; ++step) {
    const std::string v = std::to_string(random() % 100000);
    const uint64_t op = random() % 10;
    // Drift: grow for a while, then shrink for a while.
    const bool growing = (step / 5000) % 2 == 0;
    if (op < 3 || (growing && op < 5)) {
      d.push_back(xstring(v));
      model.push_back(v);
    } else if (op < 6 || (growing && op < 8)) {
      d.push_front(xstring(v));
      model.push_front(v);
    } else if (op == 8 && !model.empty()) {
      d.pop_front();
      model.pop_front();
    } else if (op == 9 && !model.empty()) {
      d.pop_back();
      model.pop_back();
    } else if (random() % 16 == 0) {
      const uint64_t i = random() % (model.size() + 1);
      d.insert(i, xstring(v));
      model.insert(model.begin() + i, v);
    } else if (!model.empty()) {
      const uint64_t n = std::min<uint64_t>(random() % 2000, model.size());
      if (random() % 2) {
        d.pop_front_n(n);
        model.erase(model.begin(), model.begin() + n);
      } else {
        d.pop_back_n(n);
        model.erase(model.end() - n, model.end());
      }
    }
    ASSERT_EQ(d.size(), model.size()) << "step " << step;
    if (step % 97 == 0 || model.size() < 50) {
      for (uint64_t i = 0; i < model.size(); ++i) ASSERT_EQ(d[i].view(), model[i]) << step;
    } else if (!model.empty()) {
      const uint64_t i = random() % model.size();
      ASSERT_EQ(d.front().view(), model.front());
      ASSERT_EQ(d.back().view(), model.back());
      ASSERT_EQ(d[i].view(), model[i]);
    }
  }
  d.clear();
  EXPECT_EQ(d.map_length(), 0u);
}

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
