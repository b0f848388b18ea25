#include "containers/sequences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "containers/sequence_test_support.h"

namespace qn::db::nosql::nosql_db {
namespace {

using testing::answer;
using testing::contents;
using testing::i32_adt;
using testing::make_kind;
using testing::typed;
using keys = out_list<int32_t>;

TEST(Sequences, KindNamesAndDescriptors) {
  const std::string_view kinds[] = {vector_kind, deque_kind, list_kind};
  for (std::string_view kind : kinds) {
    auto made = make_kind(kind, string_type);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->kind_name(), kind);
    EXPECT_EQ(made->key_type(), string_type);
    EXPECT_EQ(made->value_type(), u08_type);
  }
  EXPECT_EQ(make_container(vector_kind, i32_type, i32_type, 0), nullptr);
}

// ---- list handles ----

struct handles {
  std::unique_ptr<ab_adt> made = make_kind(list_kind);
  i32_adt& list = typed<int32_t>(*made);
  node_handle ten = 0, twenty = 0, thirty = 0;

  handles() {
    for (int32_t v : {10, 20, 30}) EXPECT_TRUE(list.insert_last(v));
    EXPECT_TRUE(list.find_node(10, ten));
    EXPECT_TRUE(list.find_node(20, twenty));
    EXPECT_TRUE(list.find_node(30, thirty));
  }
  std::string value_at(node_handle h) {
    int32_t v = -1;
    const bool ok = list.value_at_node(h, v);
    return answer(ok, v);
  }
};

TEST(ListHandles, WalkTheListBothWays) {
  handles h;
  EXPECT_NE(h.ten, 0u);
  EXPECT_EQ(h.value_at(h.twenty), "true 20");
  node_handle out = 99;
  ASSERT_TRUE(h.list.next_node(h.ten, out));
  EXPECT_EQ(out, h.twenty);
  ASSERT_TRUE(h.list.next_node(h.thirty, out));
  EXPECT_EQ(out, 0u);
  ASSERT_TRUE(h.list.prev_node(h.twenty, out));
  EXPECT_EQ(out, h.ten);
  ASSERT_TRUE(h.list.prev_node(h.ten, out));
  EXPECT_EQ(out, 0u);
  out = 99;
  ASSERT_TRUE(h.list.next_node(0, out));
  EXPECT_EQ(out, 0u);
  out = 99;
  ASSERT_TRUE(h.list.prev_node(0, out));
  EXPECT_EQ(out, 0u);
  EXPECT_FALSE(h.list.find_node(25, out));
}

TEST(ListHandles, FindNodeGivesTheFirstEqualNode) {
  handles h;
  ASSERT_TRUE(h.list.insert_first(30));
  node_handle first_thirty = 0;
  ASSERT_TRUE(h.list.find_node(30, first_thirty));
  EXPECT_NE(first_thirty, h.thirty);
  node_handle out = 0;
  ASSERT_TRUE(h.list.next_node(first_thirty, out));
  EXPECT_EQ(out, h.ten);
}

TEST(ListHandles, ChangeTheListAtANode) {
  handles h;
  ASSERT_TRUE(h.list.insert_at_node(h.ten, 5));  // before the first: becomes the first
  ASSERT_TRUE(h.list.insert_at_node(h.thirty, 25));
  ASSERT_TRUE(h.list.insert_at_node(0, 40));  // 0 appends
  EXPECT_EQ(contents(h.list), "5 10 20 25 30 40");
  ASSERT_TRUE(h.list.assign_node(h.twenty, 21));
  ASSERT_TRUE(h.list.erase_node(h.ten));
  EXPECT_EQ(contents(h.list), "5 21 25 30 40");
  // Positional changes leave the other handles alone.
  ASSERT_TRUE(h.list.erase_at(1));
  ASSERT_TRUE(h.list.insert_at(1, 1));
  EXPECT_EQ(h.value_at(h.thirty), "true 30");
  EXPECT_EQ(contents(h.list), "1 21 25 30 40");
}

TEST(ListHandles, RefuseHandlesThatNameNoLiveNode) {
  handles h, other;
  ASSERT_TRUE(h.list.erase_node(h.twenty));
  const node_handle stale = h.twenty;
  const node_handle foreign = other.twenty;
  const node_handle cases[] = {
      stale, foreign, 0, 1, ~node_handle{0}, h.thirty + 1, h.ten ^ (node_handle{1} << 40)};
  for (node_handle bad : cases) {
    int32_t v = -1;
    node_handle out = 99;
    EXPECT_FALSE(h.list.value_at_node(bad, v)) << bad;
    EXPECT_FALSE(h.list.erase_node(bad)) << bad;
    EXPECT_FALSE(h.list.assign_node(bad, 7)) << bad;
    if (bad != 0) {  // 0 has its own meaning for these three
      EXPECT_FALSE(h.list.next_node(bad, out)) << bad;
      EXPECT_FALSE(h.list.prev_node(bad, out)) << bad;
      EXPECT_FALSE(h.list.insert_at_node(bad, 7)) << bad;
    }
    EXPECT_EQ(out, 99u);
    EXPECT_EQ(v, -1);
  }
  EXPECT_EQ(contents(h.list), "10 30");
  EXPECT_EQ(contents(other.list), "10 20 30");
  // After clear no handle of before names anything.
  ASSERT_TRUE(h.list.clear());
  for (int32_t v : {10, 20, 30}) ASSERT_TRUE(h.list.insert_last(v));
  EXPECT_EQ(h.value_at(h.ten), "false");
  EXPECT_EQ(h.value_at(h.thirty), "false");
}

TEST(ListHandles, OtherKindsHaveNoNodes) {
  for (std::string_view kind : {vector_kind, deque_kind}) {
    auto made = make_kind(kind);
    i32_adt& s = typed<int32_t>(*made);
    ASSERT_TRUE(s.insert_last(10));
    node_handle out = 0;
    EXPECT_FALSE(s.find_node(10, out)) << kind;
    EXPECT_FALSE(s.next_node(0, out)) << kind;
    EXPECT_FALSE(s.insert_at_node(0, 1)) << kind;
    EXPECT_EQ(contents(s), "10");
  }
}

// ---- random operations against a model of the rules ----

// The positional rules written out plainly over std::vector.
struct model_sequence {
  std::vector<int32_t> v;
  bool removes_inside;

  uint64_t n() const { return v.size(); }
  bool valid_range(uint64_t from, uint64_t to) const {
    return n() != 0 && from >= 1 && to >= from && from <= n();
  }
  std::string render() const {
    std::string out;
    for (int32_t x : v) out += (out.empty() ? "" : " ") + std::to_string(x);
    return out;
  }
};

std::string apply(i32_adt& s, model_sequence& m, uint64_t op, uint64_t a, uint64_t b, int32_t x) {
  keys out;
  int32_t got = 0;
  auto slice = [&](uint64_t from, uint64_t to) {
    return keys(m.v.begin() + from, m.v.begin() + to);
  };
  switch (op) {
    case 0: {
      const bool expected = a >= 1 && a <= m.n() + 1;
      if (expected) m.v.insert(m.v.begin() + (a - 1), x);
      return s.insert_at(a, x) == expected ? "" : "insert_at";
    }
    case 1:
      m.v.insert(m.v.begin(), x);
      return s.insert_first(x) ? "" : "insert_first";
    case 2:
      m.v.push_back(x);
      return s.insert_last(x) ? "" : "insert_last";
    case 3: {
      const bool expected = m.removes_inside && a >= 1 && a <= m.n();
      if (expected) m.v.erase(m.v.begin() + (a - 1));
      return s.erase_at(a) == expected ? "" : "erase_at";
    }
    case 4: {
      const bool expected = m.removes_inside && m.valid_range(a, b);
      if (expected) m.v.erase(m.v.begin() + (a - 1), m.v.begin() + std::min(b, m.n()));
      return s.erase_range(a, b) == expected ? "" : "erase_range";
    }
    case 5: {
      const bool expected = a != 0;
      if (expected) m.v.erase(m.v.begin(), m.v.begin() + std::min(a, m.n()));
      return s.erase_first_n(a) == expected ? "" : "erase_first_n";
    }
    case 6: {
      const bool expected = a != 0;
      if (expected) m.v.erase(m.v.end() - std::min(a, m.n()), m.v.end());
      return s.erase_last_n(a) == expected ? "" : "erase_last_n";
    }
    case 7: {
      const bool expected = m.n() != 0;
      if (expected) m.v.erase(m.v.begin());
      return s.erase_first() == expected ? "" : "erase_first";
    }
    case 8: {
      const bool expected = m.n() != 0;
      if (expected) m.v.pop_back();
      return s.erase_last() == expected ? "" : "erase_last";
    }
    case 9: {
      const bool expected = m.valid_range(a, b);
      if (expected) std::fill(m.v.begin() + (a - 1), m.v.begin() + std::min(b, m.n()), x);
      return s.assign_range(a, b, x) == expected ? "" : "assign_range";
    }
    case 10: {
      const bool expected = a >= 1 && a <= m.n();
      if (expected) m.v[a - 1] = x;
      return s.assign_at(a, x) == expected ? "" : "assign_at";
    }
    case 11: {
      const bool expected = a != 0;
      if (expected) std::fill(m.v.end() - std::min(a, m.n()), m.v.end(), x);
      return s.assign_last_n(a, x) == expected ? "" : "assign_last_n";
    }
    case 12: {
      const bool expected = m.valid_range(a, b);
      if (s.range(a, b, out) != expected) return "range";
      return !expected || out == slice(a - 1, std::min(b, m.n())) ? "" : "range values";
    }
    case 13: {
      const bool expected = a >= 1 && a <= m.n();
      if (s.at(a, got) != expected) return "at";
      return !expected || got == m.v[a - 1] ? "" : "at value";
    }
    case 14: {
      if (s.last_n(a, out) != (a != 0)) return "last_n";
      return a == 0 || out == slice(m.n() - std::min(a, m.n()), m.n()) ? "" : "last_n values";
    }
    case 15: {
      if (s.first_n(a, out) != (a != 0)) return "first_n";
      return a == 0 || out == slice(0, std::min(a, m.n())) ? "" : "first_n values";
    }
    case 16:
      if (s.first(got) != (m.n() != 0)) return "first";
      return m.n() == 0 || got == m.v.front() ? "" : "first value";
    case 17:
      if (s.last(got) != (m.n() != 0)) return "last";
      return m.n() == 0 || got == m.v.back() ? "" : "last value";
    case 18: {
      const bool expected = m.n() != 0;
      if (expected) m.v.front() = x;
      return s.assign_first(x) == expected ? "" : "assign_first";
    }
    case 19: {
      const bool expected = m.n() != 0;
      if (expected) m.v.back() = x;
      return s.assign_last(x) == expected ? "" : "assign_last";
    }
    case 20: {
      const bool expected = a != 0;
      if (expected) std::fill(m.v.begin(), m.v.begin() + std::min(a, m.n()), x);
      return s.assign_first_n(a, x) == expected ? "" : "assign_first_n";
    }
    case 21:
      std::fill(m.v.begin(), m.v.end(), x);
      return s.assign_all(x) ? "" : "assign_all";
    case 22: {
      uint64_t n = 99;
      return s.count_into(n) && n == m.n() ? "" : "count_into";
    }
    case 23:
      // Not a map, not ordered: refused, nothing changes.
      return !s.insert(x, 0) && !s.min(got) ? "" : "insert or min";
    default: {
      uint64_t index = 0;
      const auto it = std::find(m.v.begin(), m.v.end(), x);
      if (s.index_of(x, index) != (it != m.v.end())) return "index_of";
      return it == m.v.end() || index == uint64_t(it - m.v.begin()) ? "" : "index_of value";
    }
  }
}

TEST(Sequences, MatchTheRulesUnderRandomOperations) {
  for (std::string_view kind : {vector_kind, deque_kind, list_kind}) {
    std::mt19937_64 random(4242);
    auto made = make_kind(kind);
    i32_adt& s = typed<int32_t>(*made);
    model_sequence m{{}, kind != deque_kind};
    for (int step = 0; step < 8000; ++step) {
      // Positions a little past the end, so the refusals are exercised too.
      const uint64_t op = random() % 25;
      const uint64_t a = random() % (m.n() + 3);
      const uint64_t b = random() % (m.n() + 3);
      const auto x = static_cast<int32_t>(random() % 50);
      if (random() % 500 == 0) {
        ASSERT_TRUE(s.clear());
        m.v.clear();
      }
      ASSERT_EQ(apply(s, m, op, a, b, x), "") << kind << " step " << step << " op " << op;
      ASSERT_EQ(s.count(), m.n()) << kind << " step " << step;
      if (step % 20 == 0) {
        ASSERT_EQ(contents(s), m.render()) << kind << " step " << step;
      }
    }
  }
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
