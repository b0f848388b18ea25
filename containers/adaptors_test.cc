#include "containers/adaptors.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "containers/sequence_test_support.h"
#include "containers/trie.h"

namespace qn::db::nosql::nosql_db {
namespace {

using testing::answer;
using testing::contents;
using testing::i32_adt;
using testing::make_kind;
using testing::typed;
using keys = out_list<int32_t>;
using string_adt = adt<xstring, uint8_t>;

struct case_t {
  const char* name;
  std::function<std::string(i32_adt&)> op;
  const char* result;
  const char* after;
};

// Runs each case on a fresh container of the kind filled by `fill`.
void run_cases(std::string_view kind, const std::function<void(i32_adt&)>& fill,
               const std::vector<case_t>& cases) {
  for (const case_t& c : cases) {
    auto made = make_kind(kind);
    ASSERT_NE(made, nullptr);
    i32_adt& s = typed<int32_t>(*made);
    fill(s);
    EXPECT_EQ(c.op(s), c.result) << kind << ": " << c.name;
    EXPECT_EQ(contents(s), c.after) << kind << ": " << c.name;
  }
}

auto push_each(std::vector<int32_t> values) {
  return [values](i32_adt& s) {
    for (int32_t v : values) ASSERT_TRUE(s.insert_last(v));
  };
}
auto insert_each(std::vector<int32_t> values) {
  return [values](i32_adt& s) {
    for (int32_t v : values) ASSERT_TRUE(s.insert(v, 0));
  };
}

std::function<std::string(i32_adt&)> read(bool (i32_adt::*op)(int32_t&)) {
  return [op](i32_adt& s) {
    int32_t v = -1;
    const bool ok = (s.*op)(v);
    return answer(ok, v);
  };
}
std::function<std::string(i32_adt&)> index_of(int32_t k) {
  return [k](i32_adt& s) {
    uint64_t i = 99;
    const bool ok = s.index_of(k, i);
    return answer(ok, i);
  };
}
// Runs `times` times and answers the last result.
std::function<std::string(i32_adt&)> repeat(int times, bool (i32_adt::*op)()) {
  return [times, op](i32_adt& s) {
    bool ok = false;
    for (int i = 0; i < times; ++i) ok = (s.*op)();
    return answer(ok);
  };
}

TEST(Stack, PushesPopsAndTheTop) {
  run_cases(
      stack_kind, push_each({1, 2, 3}),
      {
          {"last is the top", read(&i32_adt::last), "true 3", "1 2 3"},
          {"pop twice", repeat(2, &i32_adt::erase_last), "true", "1"},
          {"pop past empty", repeat(4, &i32_adt::erase_last), "false", ""},
          {"assign_last", [](i32_adt& s) { return answer(s.assign_last(9)); }, "true", "1 2 9"},
          {"assign_all", [](i32_adt& s) { return answer(s.assign_all(0)); }, "true", "0 0 0"},
          {"count", [](i32_adt& s) { return std::to_string(s.count()); }, "3", "1 2 3"},
          {"clear", [](i32_adt& s) { return answer(s.clear()); }, "true", ""},
          // Only the top end is reachable.
          {"first", read(&i32_adt::first), "false", "1 2 3"},
          {"insert_first", [](i32_adt& s) { return answer(s.insert_first(7)); }, "false", "1 2 3"},
          {"erase_first", [](i32_adt& s) { return answer(s.erase_first()); }, "false", "1 2 3"},
          {"at",
           [](i32_adt& s) {
             int32_t v;
             return answer(s.at(1, v));
           },
           "false", "1 2 3"},
          {"index_of", index_of(1), "false", "1 2 3"},
      });
  run_cases(stack_kind, push_each({}),
            {
                {"last on empty", read(&i32_adt::last), "false", ""},
                {"assign_last on empty", [](i32_adt& s) { return answer(s.assign_last(1)); },
                 "false", ""},
            });
}

TEST(Queue, FirstInFirstOut) {
  run_cases(
      queue_kind, push_each({1, 2, 3}),
      {
          {"first", read(&i32_adt::first), "true 1", "1 2 3"},
          {"last", read(&i32_adt::last), "true 3", "1 2 3"},
          {"index_of 3", index_of(3), "true 2", "1 2 3"},
          {"index_of absent", index_of(4), "false", "1 2 3"},
          {"dequeue", repeat(1, &i32_adt::erase_first), "true", "2 3"},
          {"dequeue past empty", repeat(4, &i32_adt::erase_first), "false", ""},
          {"assign_first", [](i32_adt& s) { return answer(s.assign_first(9)); }, "true", "9 2 3"},
          {"assign_last", [](i32_adt& s) { return answer(s.assign_last(9)); }, "true", "1 2 9"},
          {"assign_all", [](i32_adt& s) { return answer(s.assign_all(4)); }, "true", "4 4 4"},
          {"clear", [](i32_adt& s) { return answer(s.clear()); }, "true", ""},
          {"erase_last", [](i32_adt& s) { return answer(s.erase_last()); }, "false", "1 2 3"},
          {"insert_first", [](i32_adt& s) { return answer(s.insert_first(0)); }, "false", "1 2 3"},
          {"find_node",
           [](i32_adt& s) {
             node_handle h;
             return answer(s.find_node(1, h));
           },
           "false", "1 2 3"},
      });
  // After a dequeue the indexes count from the new front.
  auto made = make_kind(queue_kind);
  i32_adt& q = typed<int32_t>(*made);
  for (int32_t v : {1, 2, 3}) ASSERT_TRUE(q.insert_last(v));
  ASSERT_TRUE(q.erase_first());
  EXPECT_EQ(index_of(3)(q), "true 1");
}

TEST(Heap, TopFirstAndTheSiftOrder) {
  run_cases(
      heap_kind, insert_each({5, 3, 8, 1}),
      {
          {"min", read(&i32_adt::min), "true 1", "1 3 8 5"},
          {"pop three times", repeat(3, &i32_adt::erase_min), "true", "8"},
          {"pop past empty", repeat(5, &i32_adt::erase_min), "false", ""},
          {"replace_min 9", [](i32_adt& s) { return answer(s.replace_min(9)); }, "true", "3 5 8 9"},
          {"replace_min 0", [](i32_adt& s) { return answer(s.replace_min(0)); }, "true", "0 3 8 5"},
          {"count", [](i32_adt& s) { return std::to_string(s.count()); }, "4", "1 3 8 5"},
          {"clear", [](i32_adt& s) { return answer(s.clear()); }, "true", ""},
          {"insert_last", [](i32_adt& s) { return answer(s.insert_last(0)); }, "false", "1 3 8 5"},
          {"max", read(&i32_adt::max), "false", "1 3 8 5"},
          {"last", read(&i32_adt::last), "false", "1 3 8 5"},
      });
  run_cases(heap_kind, insert_each({}),
            {
                {"min on empty", read(&i32_adt::min), "false", ""},
                {"erase_min on empty", repeat(1, &i32_adt::erase_min), "false", ""},
                {"replace_min on empty", [](i32_adt& s) { return answer(s.replace_min(1)); },
                 "false", ""},
            });
}

// ---- trie ----

std::string trie_words(string_adt& t) { return contents(t); }

std::string lookups(string_adt& t, const char* word) {
  bool exact = true, any_case = true;
  const bool ok = t.has_word(xstring(word), exact) && t.has_word_any_case(xstring(word), any_case);
  return std::string(ok ? "" : "refused ") + (exact ? "1" : "0") + (any_case ? "1" : "0");
}

TEST(Trie, WordsLookupsAndOrder) {
  auto made = make_kind(trie_kind, string_type);
  ASSERT_NE(made, nullptr);
  string_adt& t = typed<xstring>(*made);
  EXPECT_TRUE(t.insert(xstring("car"), 0));
  EXPECT_TRUE(t.insert(xstring("cart"), 0));
  EXPECT_TRUE(t.insert(xstring("Car"), 0));
  EXPECT_FALSE(t.insert(xstring("car"), 0));
  EXPECT_FALSE(t.insert(xstring(""), 0));
  EXPECT_FALSE(t.insert(xstring("\xc3\xa9t\xc3\xa9"), 0));
  EXPECT_EQ(t.count(), 3u);
  EXPECT_EQ(trie_words(t), "Car car cart");
  const struct {
    const char* word;
    const char* expected;  // has_word, has_word_any_case
  } cases[] = {
      {"car", "11"}, {"ca", "00"}, {"CART", "01"},        {"CART!", "00"},
      {"cAr", "01"}, {"", "00"},   {"car\xc3\xa9", "00"},
  };
  for (const auto& c : cases) EXPECT_EQ(lookups(t, c.word), c.expected) << c.word;
  EXPECT_TRUE(t.clear());
  EXPECT_EQ(t.count(), 0u);
  EXPECT_EQ(trie_words(t), "");
}

TEST(Trie, OtherKeyTypesAreEmptyShells) {
  auto made = make_kind(trie_kind, i32_type);
  ASSERT_NE(made, nullptr);
  i32_adt& t = typed<int32_t>(*made);
  EXPECT_EQ(t.kind_name(), trie_kind);
  EXPECT_EQ(t.count(), 0u);
  uint64_t n = 9;
  EXPECT_TRUE(t.count_into(n));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(t.insert(1, 0));
  EXPECT_EQ(contents(t), "refused");
  bool found = true;
  EXPECT_FALSE(t.has_word(1, found));
  EXPECT_TRUE(t.clear());
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
