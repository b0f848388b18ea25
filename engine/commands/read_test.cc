#include <gtest/gtest.h>

#include <string>

#include "engine/commands/probe_container.h"
#include "engine/commands/test_support.h"

namespace qn::db::nosql {
namespace {

using testing::command_runner;
using testing::probed_runner;

struct word_case {
  std::string_view line;
  std::string_view reply;
  std::string_view calls;  // what the probe was asked
};

TEST(ReadWords, EachWordCallsItsOperation) {
  const word_case cases[] = {
      {"g 0 all", "ok [i32: 1 2]", "all()"},
      {"g 0 a", "ok [i32: 1 2]", "all()"},
      {"g 0 count", "ok [u64: 42]", "count_into()"},
      {"g 0 cxxxx", "ok [u64: 42]", "count_into()"},
      {"g 0 con_type", "ok [string: \"vector\"]", ""},
      {"g 0 cxxxxxxx", "ok [string: \"vector\"]", ""},
      {"g 0 contain 5", "ok [u08: 1]", "has_word(5)"},
      {"g 0 cont 5", "ok [u08: 1]", "has_word(5)"},
      {"g 0 c", "ok [u08: 1]", "has_word(0)"},
      {"g 0 equal 3", "ok [i32: 1 2]", "equal(3)"},
      {"g 0 equal \"\"", "ok [i32: 1 2]", "equal(0)"},
      {"g 0 first", "ok [i32: 7]", "first()"},
      {"g 0 fxxxx", "ok [i32: 7]", "first()"},
      {"g 0 first_n 3", "ok [i32: 1 2]", "first_n(3)"},
      {"g 0 fir 3", "ok", ""},
      {"g 0 gt 4", "ok [i32: 1 2]", "greater(4)"},
      {"g 0 ge 4", "ok [i32: 1 2]", "greater_equal(4)"},
      {"g 0 g 4", "ok [i32: 1 2]", "greater_equal(4)"},
      {"g 0 great 4", "ok [i32: 1 2]", "greater(4)"},
      {"g 0 index 0x10", "ok [u64: 42]", "index_of(16)"},
      {"g 0 key_type", "ok [string: \"i32\"]", ""},
      {"g 0 k", "ok [string: \"i32\"]", ""},
      {"g 0 lt -1", "ok [i32: 1 2]", "less(-1)"},
      {"g 0 le -1", "ok [i32: 1 2]", "less_equal(-1)"},
      {"g 0 lx -1", "ok [i32: 1 2]", "less_equal(-1)"},
      {"g 0 last", "ok [i32: 7]", "last()"},
      {"g 0 lege 10 20", "ok [i32: 1 2]", "between_ge_le(10,20)"},
      {"g 0 legt 10 20", "ok [i32: 1 2]", "between_gt_le(10,20)"},
      {"g 0 ltge 10 20", "ok [i32: 1 2]", "between_ge_lt(10,20)"},
      {"g 0 ltgt 10 20", "ok [i32: 1 2]", "between_gt_lt(10,20)"},
      {"g 0 lexx 10 20", "ok [i32: 1 2]", "between_ge_le(10,20)"},
      {"g 0 lxgt 10 20", "ok", ""},
      {"g 0 last_n 2", "ok [i32: 1 2]", "last_n(2)"},
      {"g 0 lasts", "ok", ""},
      {"g 0 l", "ok", ""},
      {"g 0 max", "ok [i32: 7]", "max()"},
      {"g 0 min", "ok [i32: 7]", "min()"},
      {"g 0 mxn", "ok [i32: 7]", "min()"},
      {"g 0 max_n 2", "ok [i32: 1 2]", "max_n(2)"},
      {"g 0 min_n 2", "ok [i32: 1 2]", "min_n(2)"},
      {"g 0 mxxxx 2", "ok [i32: 1 2]", "max_n(2)"},
      {"g 0 maxim", "ok [i32: 1 2]", "max_n(0)"},
      {"g 0 ma", "ok", ""},
      {"g 0 nth 2", "ok [i32: 7]", "at(2)"},
      {"g 0 nth 0", "ok [i32: 7]", "at(0)"},
      {"g 0 nt 2", "ok", ""},
      {"g 0 ptr 5", "ok [u64: 42]", "find_node(5)"},
      {"g 0 ptr_n 9", "ok [u64: 42]", "next_node(9)"},
      {"g 0 ptr_p 9", "ok [u64: 42]", "prev_node(9)"},
      {"g 0 ptr_x 9", "ok", ""},
      {"g 0 rank 5", "ok [u64: 42]", "rank_of(5)"},
      {"g 0 range 1 3", "ok [i32: 1 2]", "range(1,3)"},
      {"g 0 r 1 3", "ok [i32: 1 2]", "range(1,3)"},
      {"g 0 ucontain 5", "ok [u08: 1]", "has_word_any_case(5)"},
      {"g 0 val 3", "ok [i32: 7]", "value_at_node(3)"},
      {"g 0 vaxl 3", "ok [i32: 7]", "value_at_node(3)"},
      {"g 0 value 3", "ok [string: \"v\"]", "values_of(3)"},
      {"g 0 ve 3", "ok [string: \"v\"]", "values_of(3)"},
      {"g 0 val_type", "ok [string: \"string\"]", ""},
      {"g 0 vxxxxxxe", "ok [string: \"string\"]", ""},
      {"g 0 vxxxxxxl 3", "ok", ""},
      {"g 0 vx 3", "ok", ""},
      {"g 0 zzz", "ok", ""},
      {"g 0 \"\"", "ok", ""},
      {"g 0 Count", "ok", ""},
  };
  for (const word_case& c : cases) {
    probed_runner p;
    EXPECT_EQ(p.runner.run(c.line), c.reply) << c.line;
    EXPECT_EQ(p.probe->calls, c.calls) << c.line;
  }
}

TEST(ReadWords, AnOperationAnsweringFalseIsASuccessWithoutItems) {
  for (std::string_view line : {"g 0 all", "g 0 count", "g 0 contain 1", "g 0 first", "g 0 value 3",
                                "g 0 ptr_n 9", "g 0 rank 1", "g 0 ucontain 1"}) {
    probed_runner p;
    p.probe->answer = false;
    EXPECT_EQ(p.runner.run(line), "ok") << line;
    EXPECT_NE(p.probe->calls, "") << line;
  }
}

TEST(ReadWords, AnArgumentThatDoesNotParseFailsTheRead) {
  for (std::string_view line :
       {"g 0 equal x1", "g 0 nth x1", "g 0 nth -1", "g 0 first_n 1.5", "g 0 range 1 x",
        "g 0 range x 1", "g 0 lege 1 x", "g 0 ltgt x 1", "g 0 value abc", "g 0 val -1",
        "g 0 contain 12abc", "g 0 ptr_p z", "g 0 gt 09", "g 0 index \" 5x\""}) {
    probed_runner p;
    EXPECT_EQ(p.runner.run(line), "false") << line;
    EXPECT_EQ(p.probe->calls, "") << line;
  }
}

TEST(ReadWords, UnknownKindsAreRefusedBeforeTheWord) {
  const std::pair<std::string_view, bool> kinds[] = {
      {"vector", true},
      {"deque", true},
      {"list", true},
      {"queue", true},
      {"trie", true},
      {"set", true},
      {"stack", true},
      {"heap", true},
      {"hashmap", true},
      {"hashtable", true},
      {"map", true},
      {"multimap", true},
      {"multiset", true},
      {"hashmap_not_allowed", false},
      {"hashtable_not_allowed", false},
      {"hxxx", true},
      {"mxp", true},
      {"mzzzzzt", true},
      {"mxxx", false},
      {"hxxxx", false},
      {"xyz", false},
      {"Vector", false},
      {"", false},
  };
  for (const auto& [kind, known] : kinds) {
    probed_runner p(kind);
    const std::string expected = known ? "ok [u64: 42]" : "false";
    EXPECT_EQ(p.runner.run("g 0 count"), expected) << kind;
    EXPECT_EQ(p.runner.run("s 0 all 1") != "false", known) << kind;
    EXPECT_EQ(p.runner.run("i 0 1") != "false", known) << kind;
    EXPECT_EQ(p.runner.run("d 0 all") != "false", known) << kind;
  }
}

// ---- hash kinds through the read family ----

TEST(ReadHash, HashMapAnswers) {
  command_runner r;
  ASSERT_EQ(r.create("c hashmap u08 i32 10"), 0u);
  const std::pair<std::string_view, std::string_view> steps[] = {
      {"g 0 count", "ok [u64: 10]"},
      {"g 0 all", "ok [u08:]"},
      {"i 0 9 -5", "ok"},
      {"i 0 3 7", "ok"},
      {"g 0 all", "ok [u08: 3 9]"},
      {"g 0 value 3", "ok [i32: 7]"},
      {"g 0 value 0x9", "ok [i32: -5]"},
      {"g 0 value 4", "ok"},
      {"g 0 value 10", "ok"},
      {"g 0 value 256", "ok"},  // narrowed to key 0, which is absent
      {"g 0 value x", "false"},
      {"g 0 equal 3", "ok [u08: 3]"},
      {"g 0 equal 4", "ok"},
      {"g 0 count", "ok [u64: 10]"},
      {"g 0 con_type", "ok [string: \"hashmap\"]"},
      {"g 0 key_type", "ok [string: \"u08\"]"},
      {"g 0 val_type", "ok [string: \"i32\"]"},
      {"g 0 first", "ok"},  // not a hash map operation
      {"g 0 max", "ok"},
      {"g 0 rank 3", "ok"},
  };
  for (const auto& [line, expected] : steps) EXPECT_EQ(r.run(line), expected) << line;
}

TEST(ReadHash, ValuesOfEveryTypeComeBackInTheirOwnDescriptor) {
  struct row {
    std::string_view value_type;
    std::string_view value;
    std::string_view reply;
  };
  const row rows[] = {
      {"i08", "-1", "ok [i08: -1]"},
      {"u64", "18446744073709551615", "ok [u64: 18446744073709551615]"},
      {"float", "1.5", "ok [float: 1.5]"},
      {"double", "-2.25e3", "ok [double: -2250]"},
      {"date", "2024-02-29", "ok [date: 2024-02-29]"},
      {"time", "12:00:00.25", "ok [time: 12:00:00.250000000]"},
      {"datetime", "2024-01-31T08:00:00", "ok [datetime: 2024-01-31T08:00:00]"},
      {"datetime", "\"2024-01-31 08:00:00\"", "ok [datetime: 2024-01-31T08:00:00]"},
      {"string", "\"a \\\"b\\\"\"", "ok [string: \"a \\\"b\\\"\"]"},
      {"string", "\"\"", "ok [string: \"\"]"},
  };
  for (const row& w : rows) {
    command_runner r;
    ASSERT_EQ(r.create("c hashmap i64 " + std::string(w.value_type) + " 4"), 0u);
    ASSERT_EQ(r.run("i 0 -9223372036854775806 " + std::string(w.value)), "ok") << w.value;
    EXPECT_EQ(r.run("g 0 value -9223372036854775806"), w.reply) << w.value;
    EXPECT_EQ(r.run("g 0 all"), "ok [i64: -9223372036854775806]");
  }
}

TEST(ReadHash, HashTableAnswers) {
  command_runner r;
  ASSERT_EQ(r.create("c hashtable i16 4"), 0u);
  const std::pair<std::string_view, std::string_view> steps[] = {
      {"i 0 -32767", "ok"},
      {"i 0 -32768", "ok"},
      {"g 0 all", "ok [i16: -32768 -32767]"},
      {"g 0 equal -32767", "ok [i16: -32767]"},
      {"g 0 equal -32766", "ok"},
      {"g 0 value -32767", "ok"},
      {"g 0 count", "ok [u64: 4]"},
      {"g 0 val_type", "ok [string: \"u08\"]"},
      {"g 0 con_type", "ok [string: \"hashtable\"]"},
  };
  for (const auto& [line, expected] : steps) EXPECT_EQ(r.run(line), expected) << line;
}

TEST(ReadHash, ShellsRefuseEveryTypedRead) {
  command_runner r;
  ASSERT_EQ(r.create("c hashmap string i32 10"), 0u);
  for (std::string_view line : {"g 0 count", "g 0 all", "g 0 con_type", "g 0 zzz"}) {
    EXPECT_EQ(r.run(line), "false") << line;
  }
}

}  // namespace
}  // namespace qn::db::nosql
