// The executor's log seam: which commands reach the log, with which slot, and a replay that puts
// a creation back in its logged slot.
#include "engine/change_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/executor.h"

namespace qn::db::nosql {
namespace {

struct recording_log final : change_log {
  std::vector<std::string> entries;  // "<family> <slot> <line>"
  uint64_t waited = 0;
  uint64_t append(const logged_change& c) override {
    entries.push_back(std::string(1, c.family) + " " + std::to_string(c.slot) + " " +
                      std::string(c.line));
    return entries.size();
  }
  void wait_durable(uint64_t ticket) override { waited = ticket; }
};

bool run(container_registry& r, std::string_view line) {
  reply_record reply;
  return execute(r, line.data(), line.size(), reply);
}

TEST(ChangeLog, ChangesThatTookEffectAreLoggedWithTheirSlot) {
  container_registry r;
  recording_log log;
  r.set_log(&log);
  const char* const lines[] = {
      "c vector i32",     // slot 0
      "c map i32 i32 m",  // slot 1
      "i 0 last 5",
      "i \"m\" 3 4",
      "g 0 all",
      "k",
      "s 0 first 9",
      "s 0 nth 7 1",  // fails: no seventh element
      "d \"m\" equal 3",
      "e 0",
      "c set i32",  // takes slot 0 again
      "x 0",
      "cxxxx",
  };
  for (const char* line : lines) (void)run(r, line);
  const std::vector<std::string> expected = {
      "c 0 c vector i32", "c 1 c map i32 i32 m", "i 0 i 0 last 5",
      "i 1 i \"m\" 3 4",  "s 0 s 0 first 9",     "d 1 d \"m\" equal 3",
      "e 0 e 0",          "c 0 c set i32",       "c 0 cxxxx"};
  EXPECT_EQ(log.entries, expected);
  EXPECT_EQ(log.waited, expected.size());
}

TEST(ChangeLog, ReplayNamesTheContainerBySlotAndCreatesInTheLoggedSlot) {
  container_registry r;
  reply_record reply;
  ASSERT_TRUE(execute_at_slot(r, 5, "c map i32 i32 m", reply));
  EXPECT_NE(r.container_at(5), nullptr);
  EXPECT_TRUE(execute_at_slot(r, 5, "i anything 1 2", reply));
  EXPECT_FALSE(execute_at_slot(r, 6, "i anything 1 2", reply));
  uint64_t slot = 0;
  ASSERT_TRUE(r.find_by_name("m", slot));
  EXPECT_EQ(slot, 5u);
}

}  // namespace
}  // namespace qn::db::nosql
