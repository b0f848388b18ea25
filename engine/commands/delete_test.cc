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

TEST(DeleteWords, EachWordCallsItsOperation) {
  const call_case cases[] = {
      {"d 0 all", "clear()"},
      {"d 0 a", "clear()"},
      {"d 0 equal 7", "erase_equal(7)"},
      {"d 0 first", "erase_first()"},
      {"d 0 fxxxx", "erase_first()"},
      {"d 0 first_n 10", "erase_first_n(10)"},
      {"d 0 firs", ""},
      {"d 0 gt 3", "erase_greater(3)"},
      {"d 0 ge 3", "erase_greater_equal(3)"},
      {"d 0 lt 3", "erase_less(3)"},
      {"d 0 le 3", "erase_less_equal(3)"},
      {"d 0 last", "erase_last()"},
      {"d 0 lege 10 20", "erase_between_ge_le(10,20)"},
      {"d 0 legt 10 20", "erase_between_gt_le(10,20)"},
      {"d 0 ltge 10 20", "erase_between_ge_lt(10,20)"},
      {"d 0 ltgt 10 20", "erase_between_gt_lt(10,20)"},
      {"d 0 lxxx 10 20", ""},
      {"d 0 last_n 2", "erase_last_n(2)"},
      {"d 0 lasts", ""},
      {"d 0 max", "erase_max()"},
      {"d 0 min", "erase_min()"},
      {"d 0 max_n 2", "erase_max_n(2)"},
      {"d 0 min_n 2", "erase_min_n(2)"},
      {"d 0 mini", ""},
      {"d 0 nth 2", "erase_at(2)"},
      {"d 0 nth_ 2", ""},
      {"d 0 ptr 9", "erase_node(9)"},
      {"d 0 p 9", "erase_node(9)"},
      {"d 0 range 2 3", "erase_range(2,3)"},
      {"d 0 r 2 3", "erase_range(2,3)"},
      {"d 0 zz", ""},
      {"d 0 \"\"", ""},
      {"d 0 equal x", ""},
      {"d 0 nth -1", ""},
      {"d 0 range 1 x", ""},
      {"d 0 ltgt 1 x", ""},
      {"d 0", ""},
      {"d 0 a b c d", ""},
      {"d 1 all", ""},
  };
  expect_calls(cases);
}

TEST(DeleteWords, TheOperationsAnswerIsTheCommandsAnswer) {
  probed_runner p;
  p.probe->answer = false;
  EXPECT_EQ(p.runner.run("d 0 all"), "false");
  EXPECT_EQ(p.runner.run("d 0 equal 1"), "false");
  EXPECT_EQ(p.probe->calls, "clear() erase_equal(1)");
}

// ---- hash kinds through the delete family ----

TEST(DeleteHash, EraseByKeyAndClear) {
  command_runner r;
  ASSERT_EQ(r.create("c hashmap i08 string 10"), 0u);
  ASSERT_EQ(r.create("c hashtable u32 10"), 1u);
  const std::pair<std::string_view, std::string_view> steps[] = {
      {"d 0 all", "ok"},  // on an empty container
      {"i 0 -128 a", "ok"},
      {"i 0 -120 b", "ok"},
      {"d 0 equal -128", "ok"},
      {"d 0 equal -128", "false"},
      {"d 0 equal 0", "false"},  // not storable
      {"g 0 all", "ok [i08: -120]"},
      {"d 0 all", "ok"},
      {"g 0 all", "ok [i08:]"},
      {"g 0 count", "ok [u64: 10]"},  // the capacity stays
      {"i 0 -119 c", "ok"},
      {"d 0 first", "false"},
      {"d 0 min", "false"},
      {"i 1 9", "ok"},
      {"d 1 equal 9", "ok"},
      {"d 1 equal 9", "false"},
      {"d 1 last", "false"},
  };
  for (const auto& [line, expected] : steps) EXPECT_EQ(r.run(line), expected) << line;
}

TEST(DeleteHash, ShellsRefuseEveryTypedDelete) {
  command_runner r;
  ASSERT_EQ(r.create("c hashmap datetime string 10"), 0u);
  EXPECT_EQ(r.run("d 0 all"), "false");
  EXPECT_EQ(r.run("d 0 equal 2024-01-01T00:00:00"), "false");
}

}  // namespace
}  // namespace qn::db::nosql
