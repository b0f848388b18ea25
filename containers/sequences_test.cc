#include "containers/sequences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
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

struct case_t {
  const char* name;
  std::function<std::string(i32_adt&)> op;
  const char* result;
  const char* after;
};

// Runs each case on a fresh container of the kind holding 10, 20, 30 (or nothing).
void run_cases(std::string_view kind, bool filled, const std::vector<case_t>& cases) {
  for (const case_t& c : cases) {
    auto made = make_kind(kind);
    ASSERT_NE(made, nullptr);
    i32_adt& s = typed<int32_t>(*made);
    if (filled) {
      for (int32_t v : {10, 20, 30}) ASSERT_TRUE(s.insert_last(v));
    }
    EXPECT_EQ(c.op(s), c.result) << kind << ": " << c.name;
    EXPECT_EQ(contents(s), c.after) << kind << ": " << c.name;
  }
}

// Cases every sequence kind answers alike, on 10, 20, 30.
std::vector<case_t> positional_cases() {
  auto at = [](uint64_t p) {
    return [p](i32_adt& s) {
      int32_t v = -1;
      const bool ok = s.at(p, v);
      return answer(ok, v);
    };
  };
  auto range = [](uint64_t from, uint64_t to) {
    return [from, to](i32_adt& s) {
      keys out{-1};
      const bool ok = s.range(from, to, out);
      return ok ? answer(ok, out) : "false " + testing::join(out);
    };
  };
  auto first_n = [](uint64_t n) {
    return [n](i32_adt& s) {
      keys out{-1};
      const bool ok = s.first_n(n, out);
      return ok ? answer(ok, out) : "false " + testing::join(out);
    };
  };
  auto last_n = [](uint64_t n) {
    return [n](i32_adt& s) {
      keys out{-1};
      const bool ok = s.last_n(n, out);
      return ok ? answer(ok, out) : "false " + testing::join(out);
    };
  };
  return {
      {"count", [](i32_adt& s) { return std::to_string(s.count()); }, "3", "10 20 30"},
      {"at 1", at(1), "true 10", "10 20 30"},
      {"at 3", at(3), "true 30", "10 20 30"},
      {"at 0", at(0), "false", "10 20 30"},
      {"at 4", at(4), "false", "10 20 30"},
      {"index_of 20",
       [](i32_adt& s) {
         uint64_t i = 99;
         const bool ok = s.index_of(20, i);
         return answer(ok, i);
       },
       "true 1", "10 20 30"},
      {"index_of absent",
       [](i32_adt& s) {
         uint64_t i = 99;
         return answer(s.index_of(25, i));
       },
       "false", "10 20 30"},
      {"first",
       [](i32_adt& s) {
         int32_t v = -1;
         const bool ok = s.first(v);
         return answer(ok, v);
       },
       "true 10", "10 20 30"},
      {"last",
       [](i32_adt& s) {
         int32_t v = -1;
         const bool ok = s.last(v);
         return answer(ok, v);
       },
       "true 30", "10 20 30"},
      {"range 2 9", range(2, 9), "true [20 30]", "10 20 30"},
      {"range 3 3", range(3, 3), "true [30]", "10 20 30"},
      {"range 1 3", range(1, 3), "true [10 20 30]", "10 20 30"},
      {"range 3 2", range(3, 2), "false -1", "10 20 30"},
      {"range 4 5", range(4, 5), "false -1", "10 20 30"},
      {"range 0 2", range(0, 2), "false -1", "10 20 30"},
      {"range 1 0", range(1, 0), "false -1", "10 20 30"},
      {"first_n 2", first_n(2), "true [10 20]", "10 20 30"},
      {"first_n 10", first_n(10), "true [10 20 30]", "10 20 30"},
      {"first_n 0", first_n(0), "false -1", "10 20 30"},
      {"last_n 2", last_n(2), "true [20 30]", "10 20 30"},
      {"last_n 10", last_n(10), "true [10 20 30]", "10 20 30"},
      {"last_n 0", last_n(0), "false -1", "10 20 30"},
      {"insert_at 3", [](i32_adt& s) { return answer(s.insert_at(3, 99)); }, "true", "10 20 99 30"},
      {"insert_at 4 appends", [](i32_adt& s) { return answer(s.insert_at(4, 99)); }, "true",
       "10 20 30 99"},
      {"insert_at 1", [](i32_adt& s) { return answer(s.insert_at(1, 99)); }, "true", "99 10 20 30"},
      {"insert_at 5", [](i32_adt& s) { return answer(s.insert_at(5, 99)); }, "false", "10 20 30"},
      {"insert_at 0", [](i32_adt& s) { return answer(s.insert_at(0, 99)); }, "false", "10 20 30"},
      {"insert_first", [](i32_adt& s) { return answer(s.insert_first(5)); }, "true", "5 10 20 30"},
      {"clear", [](i32_adt& s) { return answer(s.clear()); }, "true", ""},
      {"erase_first", [](i32_adt& s) { return answer(s.erase_first()); }, "true", "20 30"},
      {"erase_last", [](i32_adt& s) { return answer(s.erase_last()); }, "true", "10 20"},
      {"erase_first_n 2", [](i32_adt& s) { return answer(s.erase_first_n(2)); }, "true", "30"},
      {"erase_first_n 10", [](i32_adt& s) { return answer(s.erase_first_n(10)); }, "true", ""},
      {"erase_first_n 0", [](i32_adt& s) { return answer(s.erase_first_n(0)); }, "false",
       "10 20 30"},
      {"erase_last_n 2", [](i32_adt& s) { return answer(s.erase_last_n(2)); }, "true", "10"},
      {"erase_last_n 0", [](i32_adt& s) { return answer(s.erase_last_n(0)); }, "false", "10 20 30"},
      {"assign_all", [](i32_adt& s) { return answer(s.assign_all(7)); }, "true", "7 7 7"},
      {"assign_at 2", [](i32_adt& s) { return answer(s.assign_at(2, 7)); }, "true", "10 7 30"},
      {"assign_at 4", [](i32_adt& s) { return answer(s.assign_at(4, 7)); }, "false", "10 20 30"},
      {"assign_at 0", [](i32_adt& s) { return answer(s.assign_at(0, 7)); }, "false", "10 20 30"},
      {"assign_first", [](i32_adt& s) { return answer(s.assign_first(7)); }, "true", "7 20 30"},
      {"assign_last", [](i32_adt& s) { return answer(s.assign_last(7)); }, "true", "10 20 7"},
      {"assign_range 2 99", [](i32_adt& s) { return answer(s.assign_range(2, 99, 0)); }, "true",
       "10 0 0"},
      {"assign_range 3 2", [](i32_adt& s) { return answer(s.assign_range(3, 2, 0)); }, "false",
       "10 20 30"},
      {"assign_range 4 4", [](i32_adt& s) { return answer(s.assign_range(4, 4, 0)); }, "false",
       "10 20 30"},
      {"assign_first_n 2", [](i32_adt& s) { return answer(s.assign_first_n(2, 7)); }, "true",
       "7 7 30"},
      {"assign_first_n 0", [](i32_adt& s) { return answer(s.assign_first_n(0, 7)); }, "false",
       "10 20 30"},
      {"assign_last_n 5", [](i32_adt& s) { return answer(s.assign_last_n(5, 7)); }, "true",
       "7 7 7"},
      {"assign_last_n 0", [](i32_adt& s) { return answer(s.assign_last_n(0, 7)); }, "false",
       "10 20 30"},
      {"not a set: min",
       [](i32_adt& s) {
         int32_t v;
         return answer(s.min(v));
       },
       "false", "10 20 30"},
      {"not a map: insert", [](i32_adt& s) { return answer(s.insert(1, 0)); }, "false", "10 20 30"},
  };
}

// Cases on an empty sequence.
std::vector<case_t> empty_cases() {
  return {
      {"count", [](i32_adt& s) { return std::to_string(s.count()); }, "0", ""},
      {"count_into",
       [](i32_adt& s) {
         uint64_t n = 9;
         const bool ok = s.count_into(n);
         return answer(ok, n);
       },
       "true 0", ""},
      {"at 1",
       [](i32_adt& s) {
         int32_t v;
         return answer(s.at(1, v));
       },
       "false", ""},
      {"first",
       [](i32_adt& s) {
         int32_t v;
         return answer(s.first(v));
       },
       "false", ""},
      {"last",
       [](i32_adt& s) {
         int32_t v;
         return answer(s.last(v));
       },
       "false", ""},
      {"range 1 1",
       [](i32_adt& s) {
         keys out;
         return answer(s.range(1, 1, out));
       },
       "false", ""},
      {"first_n 3",
       [](i32_adt& s) {
         keys out{-1};
         const bool ok = s.first_n(3, out);
         return answer(ok, out);
       },
       "true []", ""},
      {"erase_first", [](i32_adt& s) { return answer(s.erase_first()); }, "false", ""},
      {"erase_last", [](i32_adt& s) { return answer(s.erase_last()); }, "false", ""},
      {"erase_last_n 1", [](i32_adt& s) { return answer(s.erase_last_n(1)); }, "true", ""},
      {"assign_first", [](i32_adt& s) { return answer(s.assign_first(1)); }, "false", ""},
      {"assign_all", [](i32_adt& s) { return answer(s.assign_all(1)); }, "true", ""},
      {"assign_range", [](i32_adt& s) { return answer(s.assign_range(1, 1, 1)); }, "false", ""},
      {"insert_at 1", [](i32_adt& s) { return answer(s.insert_at(1, 7)); }, "true", "7"},
      {"insert_at 2", [](i32_adt& s) { return answer(s.insert_at(2, 7)); }, "false", ""},
      {"clear", [](i32_adt& s) { return answer(s.clear()); }, "true", ""},
  };
}

// Removal by position and range: vector and list only.
std::vector<case_t> removal_cases(bool supported) {
  auto expect = [supported](const char* after) { return supported ? after : "10 20 30"; };
  const char* yes = supported ? "true" : "false";
  return {
      {"erase_at 3", [](i32_adt& s) { return answer(s.erase_at(3)); }, yes, expect("10 20")},
      {"erase_at 1", [](i32_adt& s) { return answer(s.erase_at(1)); }, yes, expect("20 30")},
      {"erase_at 0", [](i32_adt& s) { return answer(s.erase_at(0)); }, "false", "10 20 30"},
      {"erase_at 4", [](i32_adt& s) { return answer(s.erase_at(4)); }, "false", "10 20 30"},
      {"erase_range 2 3", [](i32_adt& s) { return answer(s.erase_range(2, 3)); }, yes,
       expect("10")},
      {"erase_range 1 99", [](i32_adt& s) { return answer(s.erase_range(1, 99)); }, yes,
       expect("")},
      {"erase_range 3 2", [](i32_adt& s) { return answer(s.erase_range(3, 2)); }, "false",
       "10 20 30"},
      {"erase_range 4 5", [](i32_adt& s) { return answer(s.erase_range(4, 5)); }, "false",
       "10 20 30"},
  };
}

TEST(Sequences, PositionalOperations) {
  for (std::string_view kind : {vector_kind, deque_kind, list_kind}) {
    run_cases(kind, true, positional_cases());
    run_cases(kind, false, empty_cases());
  }
}

TEST(Sequences, RemovalByPositionIsForVectorAndList) {
  run_cases(vector_kind, true, removal_cases(true));
  run_cases(list_kind, true, removal_cases(true));
  run_cases(deque_kind, true, removal_cases(false));
}

TEST(Sequences, DequeFrontInsertsComeFirst) {
  auto made = make_kind(deque_kind);
  i32_adt& d = typed<int32_t>(*made);
  ASSERT_TRUE(d.insert_first(1));
  ASSERT_TRUE(d.insert_first(2));
  ASSERT_TRUE(d.insert_last(3));
  EXPECT_EQ(contents(d), "2 1 3");
}

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
      const uint64_t op = random() % 16;
      const uint64_t a = random() % (m.n() + 3);
      const uint64_t b = random() % (m.n() + 3);
      const auto x = static_cast<int32_t>(random() % 50);
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
