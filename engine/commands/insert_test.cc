#include <gtest/gtest.h>

#include <string>

#include "engine/commands/probe_container.h"
#include "engine/commands/test_support.h"

namespace qn::db::nosql {
namespace {

using testing::call_case;
using testing::command_runner;
using testing::expect_calls;
using testing::probed_runner;

TEST(InsertShapes, TheTokenCountDecidesWordAndArguments) {
  const call_case cases[] = {
      {"i 0 5", "insert(5,\"\")"},         // a key with the zero value
      {"i 0 5 abc", "insert(5,\"abc\")"},  // key and value
      {"i 0 5 \"a b\"", "insert(5,\"a b\")"},
      {"i 0 first 5", "insert_first(5)"},  // unquoted f or l: a word
      {"i 0 foo 5", "insert_first(5)"},
      {"i 0 last 5", "insert_last(5)"},
      {"i 0 lol 5", "insert_last(5)"},
      {"i 0 \"first\" 5", ""},  // quoted: a key, which must parse as i32
      {"i 0 \"7\" 5", "insert(7,\"5\")"},
      {"i 0 nth 2 5", "insert_at(2,5)"},
      {"i 0 n 2 5", "insert_at(2,5)"},
      {"i 0 val 3 5", "insert_at_node(3,5)"},
      {"i 0 v 0 5", "insert_at_node(0,5)"},
      {"i 0 first zz 5", "insert_first(5)"},  // A is ignored by first and last
      {"i 0 last zz 5", "insert_last(5)"},
      {"i 0 \"\" 5 abc", "insert(5,\"abc\")"},  // an empty word inserts a key
      {"i 0 \"\" 5", "insert(5,\"\")"},         // an empty A: B is the key, the value zero
      {"i 0 \"\" \"\" 5", "insert(5,\"\")"},
      {"i 0 x 1 2", ""},
      {"i 0 key 1 2", ""},
      {"i 0 nth x 5", ""},
      {"i 0 nth 1 x", ""},
      {"i 0 val -1 5", ""},
      {"i 0 5x", ""},
      {"i 0 5x abc", ""},
      {"i 0 first x", ""},
      {"i 0 a b c d", ""},  // six tokens
      {"i 0", ""},
      {"i", ""},
      {"i 1 5", ""},  // no container
  };
  expect_calls(cases);
}

TEST(InsertShapes, TheOperationsAnswerIsTheCommandsAnswer) {
  probed_runner p;
  p.probe->answer = false;
  EXPECT_EQ(p.runner.run("i 0 5"), "false");
  EXPECT_EQ(p.runner.run("i 0 last 5"), "false");
  EXPECT_EQ(p.probe->calls, "insert(5,\"\") insert_last(5)");
}

// ---- hash kinds through the insert family ----

TEST(InsertHash, HashMapKeysAndZeroValues) {
  struct row {
    std::string_view create;
    std::string_view insert;
    std::string_view read;
    std::string_view expected;
  };
  const row rows[] = {
      {"c hashmap u08 i32 10", "i 0 5", "g 0 value 5", "ok [i32: 0]"},
      {"c hashmap u08 string 10", "i 0 5", "g 0 value 5", "ok [string: \"\"]"},
      {"c hashmap u08 date 10", "i 0 5", "g 0 value 5", "ok [date: 0000-00-00]"},
      {"c hashmap u08 time 10", "i 0 5", "g 0 value 5", "ok [time: 00:00:00]"},
      {"c hashmap u08 datetime 10", "i 0 5", "g 0 value 5", "ok [datetime: 0000-00-00T00:00:00]"},
      {"c hashmap u08 double 10", "i 0 5 -0.5", "g 0 value 5", "ok [double: -0.5]"},
      {"c hashmap u08 string 10", "i 0 5 abc", "g 0 value 5", "ok [string: \"abc\"]"},
      {"c hashmap u08 string 10", "i 0 \"5\" \"\"", "g 0 value 5", "ok [string: \"\"]"},
      {"c hashmap u08 u08 256", "i 0 255 1", "g 0 all", "ok [u08: 255]"},
      {"c hashmap i08 u08 10", "i 0 -128 1", "g 0 all", "ok [i08: -128]"},
      {"c hashmap i08 u08 10", "i 0 -119 1", "g 0 all", "ok [i08: -119]"},
      {"c hashmap u64 u08 10", "i 0 0x9 1", "g 0 all", "ok [u64: 9]"},
  };
  for (const row& w : rows) {
    command_runner r;
    ASSERT_EQ(r.create(w.create), 0u) << w.create;
    EXPECT_EQ(r.run(w.insert), "ok") << w.create << " / " << w.insert;
    EXPECT_EQ(r.run(w.read), w.expected) << w.create << " / " << w.insert;
  }
}

TEST(InsertHash, RefusedKeys) {
  struct row {
    std::string_view create;
    std::string_view insert;
  };
  const row rows[] = {
      {"c hashmap u08 u08 10", "i 0 10 1"},  // beyond the capacity
      {"c hashmap i08 u08 10", "i 0 0 1"},   // signed keys start at the minimum
      {"c hashmap i08 u08 10", "i 0 -118 1"},
      {"c hashmap u08 u08 0", "i 0 0 1"},       // capacity 0 stores nothing
      {"c hashmap u08 u08 10", "i 0 -1 1"},     // not an unsigned number
      {"c hashmap u08 i32 10", "i 0 1 x"},      // the value does not parse
      {"c hashmap u08 i32 10", "i 0 first 1"},  // no sequence operations
      {"c hashmap u08 i32 10", "i 0 nth 1 1"},
      {"c hashtable u08 10", "i 0 10"},
      {"c hashtable u08 10", "i 0 last 1"},
      {"c hashmap string i32 10", "i 0 a 1"},  // a shell refuses everything
      {"c hashtable date 10", "i 0 2024-01-01"},
  };
  for (const row& w : rows) {
    command_runner r;
    ASSERT_EQ(r.create(w.create), 0u) << w.create;
    EXPECT_EQ(r.run(w.insert), "false") << w.create << " / " << w.insert;
  }
}

TEST(InsertHash, APresentKeyKeepsItsValue) {
  command_runner r;
  ASSERT_EQ(r.create("c hashmap u08 string 10"), 0u);
  EXPECT_EQ(r.run("i 0 first 5"), "false");  // an unquoted f word with 4 tokens is `first`
  EXPECT_EQ(r.run("i 0 5 one"), "ok");
  EXPECT_EQ(r.run("i 0 5 two"), "false");
  EXPECT_EQ(r.run("i 0 5"), "false");
  EXPECT_EQ(r.run("g 0 value 5"), "ok [string: \"one\"]");
  ASSERT_EQ(r.create("c hashtable u08 10"), 1u);
  EXPECT_EQ(r.run("i 1 5"), "ok");
  EXPECT_EQ(r.run("i 1 5"), "false");
  EXPECT_EQ(r.run("i 1 6 9"), "ok");  // a hash table ignores the value
  EXPECT_EQ(r.run("g 1 all"), "ok [u08: 5 6]");
}

}  // namespace
}  // namespace qn::db::nosql
