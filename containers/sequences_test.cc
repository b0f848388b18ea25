// The sequence kinds, stack and queue: random operations against the positional rules over
// std::vector; list node handles; the trie over its key types.
#include "containers/sequences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
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

// ---- list handles (node_list_test pins every kind of bad handle) ----

TEST(ListHandles, WalkChangeAndRefuseStaleHandles) {
  auto made = make_kind(list_kind);
  i32_adt& list = typed<int32_t>(*made);
  for (int32_t v : {10, 20, 30, 10}) ASSERT_TRUE(list.insert_last(v));
  node_handle ten = 0, twenty = 0, thirty = 0, out = 99;
  ASSERT_TRUE(list.find_node(10, ten));  // the first equal node
  ASSERT_TRUE(list.find_node(20, twenty));
  ASSERT_TRUE(list.find_node(30, thirty));
  EXPECT_FALSE(list.find_node(25, out));
  ASSERT_TRUE(list.next_node(ten, out));
  EXPECT_EQ(out, twenty);
  ASSERT_TRUE(list.prev_node(ten, out));
  EXPECT_EQ(out, 0u);
  ASSERT_TRUE(list.next_node(0, out));  // 0 names no node: nothing follows it
  EXPECT_EQ(out, 0u);
  ASSERT_TRUE(list.insert_at_node(ten, 5));  // before the node
  ASSERT_TRUE(list.insert_at_node(0, 40));   // 0 appends
  ASSERT_TRUE(list.assign_node(twenty, 21));
  ASSERT_TRUE(list.erase_node(ten));
  ASSERT_TRUE(list.erase_at(1));  // positional changes leave the other handles alone
  EXPECT_EQ(contents(list), "21 30 10 40");
  int32_t v = -1;
  EXPECT_EQ(answer(list.value_at_node(thirty, v), v), "true 30");
  for (node_handle bad : {ten, ~node_handle{0}, node_handle{1}}) {
    EXPECT_FALSE(list.value_at_node(bad, v)) << bad;
    EXPECT_FALSE(list.erase_node(bad)) << bad;
    EXPECT_FALSE(list.assign_node(bad, 7)) << bad;
    EXPECT_FALSE(list.next_node(bad, out)) << bad;
    EXPECT_FALSE(list.prev_node(bad, out)) << bad;
    EXPECT_FALSE(list.insert_at_node(bad, 7)) << bad;
  }
  EXPECT_EQ(contents(list), "21 30 10 40");
  ASSERT_TRUE(list.clear());  // no handle of before names anything afterwards
  for (int32_t x : {10, 20, 30}) ASSERT_TRUE(list.insert_last(x));
  EXPECT_FALSE(list.value_at_node(thirty, v));
  for (std::string_view kind : {vector_kind, deque_kind}) {
    auto other = make_kind(kind);
    ASSERT_TRUE(typed<int32_t>(*other).insert_last(10));
    EXPECT_FALSE(typed<int32_t>(*other).find_node(10, out)) << kind;
  }
}

// ---- trie ----

TEST(TrieAdt, WordsOverStringsAndAnEmptyShellOverOtherKeys) {
  auto made = make_kind(trie_kind, string_type);
  auto& t = typed<xstring>(*made);
  for (const char* w : {"cart", "car", "Car"}) ASSERT_TRUE(t.insert(xstring(w), 0));
  EXPECT_FALSE(t.insert(xstring("car"), 0));
  EXPECT_EQ(contents(t), "Car car cart");
  bool exact = true, any_case = false;
  ASSERT_TRUE(t.has_word(xstring("CART"), exact));
  ASSERT_TRUE(t.has_word_any_case(xstring("CART"), any_case));
  EXPECT_FALSE(exact);
  EXPECT_TRUE(any_case);
  EXPECT_TRUE(t.clear());
  EXPECT_EQ(t.count(), 0u);

  auto shell_made = make_kind(trie_kind, i32_type);
  i32_adt& shell = typed<int32_t>(*shell_made);
  EXPECT_EQ(shell.kind_name(), trie_kind);
  uint64_t n = 9;
  EXPECT_TRUE(shell.count_into(n));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(shell.insert(1, 0));
  EXPECT_EQ(contents(shell), "refused");
  EXPECT_FALSE(shell.has_word(1, exact));
  EXPECT_TRUE(shell.clear());
  // The value-less kinds exist only over the u08 value type.
  EXPECT_EQ(make_container(trie_kind, string_type, i32_type, 0), nullptr);
  EXPECT_EQ(make_container(vector_kind, i32_type, i32_type, 0), nullptr);
}

// ---- random operations against a model of the rules ----

// The positional rules written out plainly over std::vector.
struct model_sequence {
  std::vector<int32_t> v;
  uint32_t allowed;  // bit n: the kind offers operation n of `apply`

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

// Runs operation `op` on both; "" when the container answered as the rules say. An operation the
// kind does not offer is refused and changes nothing.
std::string apply(i32_adt& s, model_sequence& m, uint64_t op, uint64_t a, uint64_t b, int32_t x) {
  const bool allowed = (m.allowed >> op & 1) != 0;
  keys out;
  int32_t got = 0;
  auto slice = [&](uint64_t from, uint64_t to) {
    return keys(m.v.begin() + from, m.v.begin() + to);
  };
  switch (op) {
    case 0: {
      const bool expected = allowed && a >= 1 && a <= m.n() + 1;
      if (expected) m.v.insert(m.v.begin() + (a - 1), x);
      return s.insert_at(a, x) == expected ? "" : "insert_at";
    }
    case 1:
      if (allowed) m.v.insert(m.v.begin(), x);
      return s.insert_first(x) == allowed ? "" : "insert_first";
    case 2:
      m.v.push_back(x);
      return s.insert_last(x) ? "" : "insert_last";
    case 3: {
      const bool expected = allowed && a >= 1 && a <= m.n();
      if (expected) m.v.erase(m.v.begin() + (a - 1));
      return s.erase_at(a) == expected ? "" : "erase_at";
    }
    case 4: {
      const bool expected = allowed && m.valid_range(a, b);
      if (expected) m.v.erase(m.v.begin() + (a - 1), m.v.begin() + std::min(b, m.n()));
      return s.erase_range(a, b) == expected ? "" : "erase_range";
    }
    case 5: {
      const bool expected = allowed && a != 0;
      if (expected) m.v.erase(m.v.begin(), m.v.begin() + std::min(a, m.n()));
      return s.erase_first_n(a) == expected ? "" : "erase_first_n";
    }
    case 6: {
      const bool expected = allowed && a != 0;
      if (expected) m.v.erase(m.v.end() - std::min(a, m.n()), m.v.end());
      return s.erase_last_n(a) == expected ? "" : "erase_last_n";
    }
    case 7: {
      const bool expected = allowed && m.n() != 0;
      if (expected) m.v.erase(m.v.begin());
      return s.erase_first() == expected ? "" : "erase_first";
    }
    case 8: {
      const bool expected = allowed && m.n() != 0;
      if (expected) m.v.pop_back();
      return s.erase_last() == expected ? "" : "erase_last";
    }
    case 9: {
      const bool expected = allowed && m.valid_range(a, b);
      if (expected) std::fill(m.v.begin() + (a - 1), m.v.begin() + std::min(b, m.n()), x);
      return s.assign_range(a, b, x) == expected ? "" : "assign_range";
    }
    case 10: {
      const bool expected = allowed && a >= 1 && a <= m.n();
      if (expected) m.v[a - 1] = x;
      return s.assign_at(a, x) == expected ? "" : "assign_at";
    }
    case 11: {
      const bool expected = allowed && a != 0;
      if (expected) std::fill(m.v.end() - std::min(a, m.n()), m.v.end(), x);
      return s.assign_last_n(a, x) == expected ? "" : "assign_last_n";
    }
    case 12: {
      const bool expected = allowed && m.valid_range(a, b);
      if (s.range(a, b, out) != expected) return "range";
      return !expected || out == slice(a - 1, std::min(b, m.n())) ? "" : "range values";
    }
    case 13: {
      const bool expected = allowed && a >= 1 && a <= m.n();
      if (s.at(a, got) != expected) return "at";
      return !expected || got == m.v[a - 1] ? "" : "at value";
    }
    case 14: {
      const bool expected = allowed && a != 0;
      if (s.last_n(a, out) != expected) return "last_n";
      return !expected || out == slice(m.n() - std::min(a, m.n()), m.n()) ? "" : "last_n values";
    }
    case 15: {
      const bool expected = allowed && a != 0;
      if (s.first_n(a, out) != expected) return "first_n";
      return !expected || out == slice(0, std::min(a, m.n())) ? "" : "first_n values";
    }
    case 16: {
      const bool expected = allowed && m.n() != 0;
      if (s.first(got) != expected) return "first";
      return !expected || got == m.v.front() ? "" : "first value";
    }
    case 17: {
      const bool expected = allowed && m.n() != 0;
      if (s.last(got) != expected) return "last";
      return !expected || got == m.v.back() ? "" : "last value";
    }
    case 18: {
      const bool expected = allowed && m.n() != 0;
      if (expected) m.v.front() = x;
      return s.assign_first(x) == expected ? "" : "assign_first";
    }
    case 19: {
      const bool expected = allowed && m.n() != 0;
      if (expected) m.v.back() = x;
      return s.assign_last(x) == expected ? "" : "assign_last";
    }
    case 20: {
      const bool expected = allowed && a != 0;
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
      const bool expected = allowed && it != m.v.end();
      if (s.index_of(x, index) != expected) return "index_of";
      return !expected || index == uint64_t(it - m.v.begin()) ? "" : "index_of value";
    }
  }
}

// The operations each kind offers, as bits of `apply`'s operation numbers: a deque removes only
// at its ends, a stack works at its top, a queue adds at the back and removes at the front.
constexpr uint32_t ops(std::initializer_list<int> numbers) {
  uint32_t mask = 0;
  for (int n : numbers) mask |= uint32_t{1} << n;
  return mask;
}
constexpr uint32_t every_op = ~ops({23});

TEST(Sequences, MatchTheRulesUnderRandomOperations) {
  const struct {
    std::string_view kind;
    uint32_t allowed;
  } kinds[] = {
      {vector_kind, every_op},
      {list_kind, every_op},
      {deque_kind, every_op & ~ops({3, 4})},
      {stack_kind, ops({2, 8, 17, 19, 21, 22})},
      {queue_kind, ops({2, 7, 16, 17, 18, 19, 21, 22, 24})},
  };
  for (const auto& [kind, allowed] : kinds) {
    std::mt19937_64 random(4242);
    auto made = make_kind(kind);
    i32_adt& s = typed<int32_t>(*made);
    model_sequence m{{}, allowed};
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
