// The sequence kinds, stack and queue: random operations against the positional rules over
// std::vector; stale list node handles; the trie shell over other keys.
#include "containers/sequences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "containers/kind_test_support.h"

namespace qn::db::nosql::nosql_db {
namespace {

using namespace testing;
using keys = out_list<int32_t>;

// ---- list handles (structures_test pins every kind of bad handle of the node list; walking,
// writing and erasing at a handle are the documented example's, in cli_test) ----

TEST(ListHandles, EveryOperationRefusesStaleHandles) {
  auto made = make_kind(list_kind);
  i32_adt& list = typed<int32_t>(*made);
  for (int32_t v : {10, 20, 10}) ASSERT_TRUE(list.insert_last(v));
  node_handle ten = 0, twenty = 0, out = 99;
  ASSERT_TRUE(list.find_node(10, ten));
  ASSERT_TRUE(list.find_node(20, twenty));
  ASSERT_TRUE(list.prev_node(twenty, out));
  EXPECT_EQ(out, ten);  // the first equal node
  ASSERT_TRUE(list.prev_node(ten, out));
  EXPECT_EQ(out, 0u);
  ASSERT_TRUE(list.erase_node(ten));
  int32_t v = -1;
  for (node_handle bad : {ten, ~node_handle{0}, node_handle{1}}) {
    EXPECT_FALSE(list.value_at_node(bad, v)) << bad;
    EXPECT_FALSE(list.erase_node(bad)) << bad;
    EXPECT_FALSE(list.assign_node(bad, 7)) << bad;
    EXPECT_FALSE(list.next_node(bad, out)) << bad;
    EXPECT_FALSE(list.prev_node(bad, out)) << bad;
    EXPECT_FALSE(list.insert_at_node(bad, 7)) << bad;
  }
  EXPECT_EQ(contents(list), "20 10");
  ASSERT_TRUE(list.clear());  // no handle of before names anything afterwards
  for (int32_t x : {10, 20, 30}) ASSERT_TRUE(list.insert_last(x));
  EXPECT_FALSE(list.value_at_node(twenty, v));
}

// ---- trie (its words are trie_test's and the documented example's) ----

TEST(TrieAdt, AnEmptyShellOverOtherKeys) {
  auto shell_made = make_kind(trie_kind, i32_type);
  i32_adt& shell = typed<int32_t>(*shell_made);
  EXPECT_EQ(shell.kind_name(), trie_kind);
  uint64_t n = 9;
  EXPECT_TRUE(shell.count_into(n));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(shell.insert(1, 0));
  EXPECT_EQ(contents(shell), "refused");
  bool found = true;
  EXPECT_FALSE(shell.has_word(1, found));
  EXPECT_TRUE(shell.clear());
  // The value-less kinds exist only over the u08 value type.
  EXPECT_EQ(make_container(trie_kind, string_type, i32_type, 0), nullptr);
  EXPECT_EQ(make_container(vector_kind, i32_type, i32_type, 0), nullptr);
}

// ---- random operations against a model of the rules ----

// What an operation does, and where: a position, a range, the first or last n, the first or last
// element, or all of them.
enum class does { insert, erase, assign, read };
enum class where { at, range, first_n, last_n, first, last, all };
using enum does;
using enum where;

// Whether the positional rules let the operation act over n elements, and the elements [from, to)
// it covers (for an insert, `from` is where the new element goes).
struct span {
  bool valid;
  uint64_t from, to;
};
span span_of(does what, where w, uint64_t n, uint64_t a, uint64_t b) {
  if (what == insert) {
    return {w != at || (a >= 1 && a <= n + 1), w == at ? a - 1 : w == first ? 0 : n, 0};
  }
  switch (w) {
    case at:
      return {a >= 1 && a <= n, a - 1, a};
    case range:
      return {n != 0 && a >= 1 && b >= a && a <= n, a - 1, std::min(b, n)};
    case first_n:
      return {a != 0, 0, std::min(a, n)};
    case last_n:
      return {a != 0, n - std::min(a, n), n};
    case first:
      return {n != 0, 0, 1};
    case last:
      return {n != 0, n - 1, n};
    default:
      return {true, 0, n};
  }
}

// Every positional operation; a read of one element delivers it as a list of one.
const struct {
  does what;
  where w;
  bool (*run)(i32_adt& s, uint64_t a, uint64_t b, int32_t x, keys& out);
} ops[] = {
    {insert, at, [](auto& s, auto a, auto, auto x, auto&) { return s.insert_at(a, x); }},
    {insert, first, [](auto& s, auto, auto, auto x, auto&) { return s.insert_first(x); }},
    {insert, last, [](auto& s, auto, auto, auto x, auto&) { return s.insert_last(x); }},
    {erase, at, [](auto& s, auto a, auto, auto, auto&) { return s.erase_at(a); }},
    {erase, range, [](auto& s, auto a, auto b, auto, auto&) { return s.erase_range(a, b); }},
    {erase, first_n, [](auto& s, auto a, auto, auto, auto&) { return s.erase_first_n(a); }},
    {erase, last_n, [](auto& s, auto a, auto, auto, auto&) { return s.erase_last_n(a); }},
    {erase, first, [](auto& s, auto, auto, auto, auto&) { return s.erase_first(); }},
    {erase, last, [](auto& s, auto, auto, auto, auto&) { return s.erase_last(); }},
    {assign, at, [](auto& s, auto a, auto, auto x, auto&) { return s.assign_at(a, x); }},
    {assign, range, [](auto& s, auto a, auto b, auto x, auto&) { return s.assign_range(a, b, x); }},
    {assign, first_n, [](auto& s, auto a, auto, auto x, auto&) { return s.assign_first_n(a, x); }},
    {assign, last_n, [](auto& s, auto a, auto, auto x, auto&) { return s.assign_last_n(a, x); }},
    {assign, first, [](auto& s, auto, auto, auto x, auto&) { return s.assign_first(x); }},
    {assign, last, [](auto& s, auto, auto, auto x, auto&) { return s.assign_last(x); }},
    {assign, all, [](auto& s, auto, auto, auto x, auto&) { return s.assign_all(x); }},
    {read, at, [](auto& s, auto a, auto, auto, auto& o) { return s.at(a, o.emplace_back()); }},
    {read, range, [](auto& s, auto a, auto b, auto, auto& o) { return s.range(a, b, o); }},
    {read, first_n, [](auto& s, auto a, auto, auto, auto& o) { return s.first_n(a, o); }},
    {read, last_n, [](auto& s, auto a, auto, auto, auto& o) { return s.last_n(a, o); }},
    {read, first, [](auto& s, auto, auto, auto, auto& o) { return s.first(o.emplace_back()); }},
    {read, last, [](auto& s, auto, auto, auto, auto& o) { return s.last(o.emplace_back()); }},
};
constexpr uint64_t count_op = std::size(ops), index_op = count_op + 1, keyed_ops = count_op + 2;

// Runs operation `op` (an index of `ops`, or one of the three after them) on both; "" when the
// container answered as the rules say. An operation the kind does not offer is refused and
// changes nothing.
std::string apply(i32_adt& s, std::vector<int32_t>& m, uint32_t allowed, uint64_t op, uint64_t a,
                  uint64_t b, int32_t x) {
  const bool offered = (allowed >> op & 1) != 0;
  keys out;
  uint64_t n = 99;
  if (op < count_op) {
    const auto& o = ops[op];
    const auto [valid, from, to] = span_of(o.what, o.w, m.size(), a, b);
    const bool expected = offered && valid;
    if (o.run(s, a, b, x, out) != expected) return "answer";
    if (!expected) return "";
    if (o.what == insert) m.insert(m.begin() + from, x);
    if (o.what == erase) m.erase(m.begin() + from, m.begin() + to);
    if (o.what == assign) std::fill(m.begin() + from, m.begin() + to, x);
    return o.what != read || out == keys(m.begin() + from, m.begin() + to) ? "" : "values";
  }
  if (op == count_op) return s.count_into(n) && n == m.size() ? "" : "count_into";
  if (op == index_op) {
    const auto it = std::find(m.begin(), m.end(), x);
    const bool expected = offered && it != m.end();
    if (s.index_of(x, n) != expected) return "index_of";
    return !expected || n == uint64_t(it - m.begin()) ? "" : "index_of value";
  }
  int32_t got = 0;
  return !s.insert(x, 0) && !s.min(got) ? "" : "insert or min";  // not a map, not ordered
}

// The operations each kind offers, as bits of `apply`'s operation numbers: a deque removes only
// at its ends, a stack works at its top, a queue adds at the back and removes at the front.
constexpr uint32_t bits(std::initializer_list<int> numbers) {
  uint32_t mask = 0;
  for (int n : numbers) mask |= uint32_t{1} << n;
  return mask;
}
constexpr uint32_t every_op = (uint32_t{1} << keyed_ops) - 1;

TEST(Sequences, MatchTheRulesUnderRandomOperations) {
  const struct {
    std::string_view kind;
    uint32_t allowed;
  } kinds[] = {
      {vector_kind, every_op},
      {list_kind, every_op},
      {deque_kind, every_op & ~bits({3, 4})},  // erase_at, erase_range
      // insert_last, erase_last, assign_last, assign_all, last
      {stack_kind, bits({2, 8, 14, 15, 21, count_op})},
      // insert_last, erase_first, assign_first, assign_last, assign_all, first, last
      {queue_kind, bits({2, 7, 13, 14, 15, 20, 21, count_op, index_op})},
  };
  for (const auto& [kind, allowed] : kinds) {
    std::mt19937_64 random(4242);
    auto made = make_kind(kind);
    i32_adt& s = typed<int32_t>(*made);
    std::vector<int32_t> m;
    for (int step = 0; step < 8000; ++step) {
      // Positions a little past the end, so the refusals are exercised too.
      const uint64_t op = random() % (keyed_ops + 1);
      const uint64_t a = random() % (m.size() + 3);
      const uint64_t b = random() % (m.size() + 3);
      const auto x = static_cast<int32_t>(random() % 50);
      if (random() % 500 == 0) {
        ASSERT_TRUE(s.clear());
        m.clear();
      }
      ASSERT_EQ(apply(s, m, allowed, op, a, b, x), "") << kind << " step " << step << " op " << op;
      ASSERT_EQ(s.count(), m.size()) << kind << " step " << step;
      if (step % 20 == 0) {
        ASSERT_EQ(contents(s), join(m)) << kind << " step " << step;
      }
    }
  }
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
