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

TEST(WriteWords, EachWordCallsItsOperation) {
  const call_case cases[] = {
      {"s 0 all 5", "assign_all(5)"},
      {"s 0 a 5", "assign_all(5)"},
      {"s 0 equal 3 4", "replace_equal(3,4)"},
      {"s 0 first 5", "assign_first(5)"},
      {"s 0 fxxxx 5", "assign_first(5)"},
      {"s 0 first_n 2 5", "assign_first_n(2,5)"},
      {"s 0 fi 5", ""},
      {"s 0 gt 3 5", "replace_greater(3,5)"},
      {"s 0 ge 3 5", "replace_greater_equal(3,5)"},
      {"s 0 lt 3 5", "replace_less(3,5)"},
      {"s 0 le 3 5", "replace_less_equal(3,5)"},
      {"s 0 last 5", "assign_last(5)"},
      {"s 0 lege 1 9 5", "replace_between_ge_le(1,9,5)"},
      {"s 0 legt 1 9 5", "replace_between_gt_le(1,9,5)"},
      {"s 0 ltge 1 9 5", "replace_between_ge_lt(1,9,5)"},
      {"s 0 ltgt 1 9 5", "replace_between_gt_lt(1,9,5)"},
      {"s 0 lxgt 1 9 5", ""},
      {"s 0 last_n 2 5", "assign_last_n(2,5)"},
      {"s 0 l 5", ""},
      {"s 0 max 5", "replace_max(5)"},
      {"s 0 min 5", "replace_min(5)"},
      {"s 0 max_n 2 5", "replace_max_n(2,5)"},
      {"s 0 min_n 2 5", "replace_min_n(2,5)"},
      {"s 0 mi 5", ""},
      {"s 0 nth 2 5", "assign_at(2,5)"},
      {"s 0 nt 2 5", ""},
      {"s 0 range 1 3 5", "assign_range(1,3,5)"},
      {"s 0 r 1 3 5", "assign_range(1,3,5)"},
      {"s 0 val 3 5", "assign_node(3,5)"},
      {"s 0 v 3 5", "assign_node(3,5)"},
      {"s 0 value 3 abc", "assign_value(3,\"abc\")"},
      {"s 0 vxxx 3 abc", "assign_value(3,\"abc\")"},
      {"s 0 value 3 \"\"", "assign_value(3,\"\")"},
      {"s 0 zzz 5", ""},
      {"s 0 \"\" 5", ""},
  };
  expect_calls(cases);
}

TEST(WriteWords, TheValueIsParsedBeforeTheWordIsLookedAt) {
  // K is i32, V is string: only the value-taking word may carry a value that is no i32.
  for (std::string_view line :
       {"s 0 all 5x", "s 0 zzz 5x", "s 0 first abc", "s 0 equal 3 abc", "s 0 nth 1 1.5",
        "s 0 val 3 abc", "s 0 equal x 4", "s 0 nth x 4", "s 0 range 1 x 4", "s 0 lege 1 x 4",
        "s 0 value x abc", "s 0 val x 4", "s 0 first_n -1 4"}) {
    probed_runner p;
    EXPECT_EQ(p.runner.run(line), "false") << line;
    EXPECT_EQ(p.probe->calls, "") << line;
  }
}

TEST(WriteWords, TheOperationsAnswerIsTheCommandsAnswer) {
  probed_runner p;
  p.probe->answer = false;
  EXPECT_EQ(p.runner.run("s 0 all 5"), "false");
  EXPECT_EQ(p.runner.run("s 0 value 1 a"), "false");
  EXPECT_EQ(p.probe->calls, "assign_all(5) assign_value(1,\"a\")");
}

// ---- hash kinds through the write family ----

TEST(WriteHash, HashMapValuesAndReKeying) {
  command_runner r;
  ASSERT_EQ(r.create("c hashmap u08 string 10"), 0u);
  const std::pair<std::string_view, std::string_view> steps[] = {
      {"i 0 3 three", "ok"},
      {"i 0 9 nine", "ok"},
      {"s 0 value 3 abc", "ok"},
      {"g 0 value 3", "ok [string: \"abc\"]"},
      {"s 0 value 4 x", "false"},  // absent: never inserts
      {"g 0 all", "ok [u08: 3 9]"},
      {"s 0 equal 3 4", "ok"},  // onto a free key
      {"g 0 all", "ok [u08: 4 9]"},
      {"g 0 value 4", "ok [string: \"abc\"]"},
      {"s 0 equal 4 9", "ok"},  // onto an occupied key: it takes the moved value
      {"g 0 all", "ok [u08: 9]"},
      {"g 0 value 9", "ok [string: \"abc\"]"},
      {"s 0 equal 9 10", "false"},  // outside the table: stays where it was
      {"g 0 value 9", "ok [string: \"abc\"]"},
      {"s 0 equal 5 6", "false"},  // absent
      {"s 0 equal 9 9", "ok"},
      {"g 0 all", "ok [u08: 9]"},
      {"s 0 first x", "false"},  // the value must parse as the key type first
      {"s 0 first 1", "false"},  // not a hash map operation
      {"s 0 max 1", "false"},
  };
  for (const auto& [line, expected] : steps) EXPECT_EQ(r.run(line), expected) << line;
}

TEST(WriteHash, HashTableReKeying) {
  command_runner r;
  ASSERT_EQ(r.create("c hashtable i16 4"), 0u);
  const std::pair<std::string_view, std::string_view> steps[] = {
      {"i 0 -32768", "ok"},
      {"i 0 -32767", "ok"},
      {"s 0 equal -32768 -32767", "ok"},  // both present: only the new key stays
      {"g 0 all", "ok [i16: -32767]"},
      {"s 0 equal -32767 0", "false"},  // outside the table
      {"g 0 all", "ok [i16: -32767]"},
      {"s 0 equal -32767 -32765", "ok"},
      {"g 0 all", "ok [i16: -32765]"},
      {"s 0 value -32765 1", "false"},
  };
  for (const auto& [line, expected] : steps) EXPECT_EQ(r.run(line), expected) << line;
}

TEST(WriteHash, SignedKeyRangesThroughCommands) {
  command_runner r;
  ASSERT_EQ(r.create("c hashmap i32 u08 1000"), 0u);
  const std::pair<std::string_view, std::string_view> steps[] = {
      {"i 0 -2147483648 1", "ok"},
      {"i 0 -2147482649 2", "ok"},
      {"i 0 -2147482648 3", "false"},
      {"i 0 0 4", "false"},
      {"s 0 equal -2147482649 -2147482648", "false"},
      {"s 0 equal -2147482649 -2147483647", "ok"},
      {"g 0 all", "ok [i32: -2147483648 -2147483647]"},
      {"g 0 value -2147483647", "ok [u08: 2]"},
  };
  for (const auto& [line, expected] : steps) EXPECT_EQ(r.run(line), expected) << line;
}

TEST(WriteHash, ShellsRefuseEveryTypedWrite) {
  command_runner r;
  ASSERT_EQ(r.create("c hashtable float 10"), 0u);
  for (std::string_view line : {"s 0 equal 1 2", "s 0 value 1 0", "s 0 all 1"}) {
    EXPECT_EQ(r.run(line), "false") << line;
  }
}

}  // namespace
}  // namespace qn::db::nosql
