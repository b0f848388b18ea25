// The executor: the token counts of each family, the lock discipline under concurrent clears,
// the log seam (which commands reach the log, with which slot, and replay by slot), and the
// reply cells' string rule.
#include "engine/executor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "containers/factory.h"
#include "engine/change_log.h"
#include "engine/reply.h"

namespace qn::db::nosql {
namespace {

bool run(container_registry& r, std::string_view line) {
  reply_record reply;
  return execute(r, line.data(), line.size(), reply);
}

// Each family's row of the table: a line outside its token counts, or whose container token names
// no occupied slot, fails before the handler could change anything.
TEST(Execute, EveryFamilyTakesOnlyItsTokenCounts) {
  container_registry r;
  reply_record reply;
  EXPECT_FALSE(execute(r, nullptr, 5, reply));
  EXPECT_FALSE(execute(r, "g", 0, reply));
  ASSERT_TRUE(run(r, "c vector i32 v"));
  ASSERT_TRUE(run(r, "i 0 last 5"));
  for (std::string_view line :
       {"g 0 count", "g 0 range 1 1", "s 0 range 1 1 5", "g \"\" count", "k", "k \"v\""}) {
    EXPECT_TRUE(run(r, line)) << line;
  }
  const std::string_view refused[] = {
      "x 1 2", "G 0 count", " g 0 count", "g 0", "g 0 range 1 1 x", "s 0 all", "s 0 range 1 1 5 x",
      "g 1 count", "g 1048576 count", "g \"nope\" count", "k 0 x", "k 1", "e", "e 0 x", "i 0",
      "i 0 nth 1 2 3", "i 1 last 5", "d 0", "d 0 range 1 2 3", "d \"w\" all", "b", "b a b", "r",
      "r a b", "c", "c hashmap i32 i32 10 h x"};
  for (std::string_view line : refused) EXPECT_FALSE(run(r, line)) << line;
  EXPECT_EQ(r.occupied_count(), 1u);
  for (std::string_view line : {"cxxxx", "c set"}) {  // any five bytes after a c: remove all
    ASSERT_TRUE(run(r, "c vector i32"));
    EXPECT_TRUE(run(r, line));
    EXPECT_EQ(r.occupied_count(), 0u);
  }
}

TEST(Execute, ConcurrentClearsAndReadsKeepTheLockDiscipline) {
  container_registry r;
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop) (void)run(r, "g 0 count");
  });
  for (int i = 0; i < 200; ++i) {
    uint64_t slot = 0;
    {
      std::unique_lock lock(r.lock());
      // A real vector: the read path casts to the typed class its descriptors name.
      ASSERT_TRUE(r.place_new(nosql_db::make_container("vector", i32_type, u08_type, 0), "", slot));
    }
    EXPECT_TRUE(run(r, "clear"));
  }
  stop = true;
  reader.join();
  EXPECT_EQ(r.occupied_count(), 0u);
}

// ---- the log seam: which commands reach the log, with which slot, and a replay that puts a
// creation back in its logged slot ----

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

TEST(ChangeLog, ChangesThatTookEffectAreLoggedWithTheirSlot) {
  container_registry r;
  recording_log log;
  r.set_log(&log);
  // Slots 0 and 1 are created; "s 0 nth 7 1" fails (no seventh element); "c set i32" takes slot 0
  // again.
  const char* const lines[] = {
      "c vector i32", "c map i32 i32 m", "i 0 last 5",      "i \"m\" 3 4", "g 0 all",   "k",
      "s 0 first 9",  "s 0 nth 7 1",     "d \"m\" equal 3", "e 0",         "c set i32", "x 0",
      "cxxxx"};
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

TEST(ReplyCells, StringsKeepTheLow16BitsOfTheirLength) {
  EXPECT_EQ(make_text_cell("multiset").text, "multiset");
  EXPECT_EQ(make_cell(xstring(std::string(65536, 'x'))).text.size(), 0u);
  EXPECT_EQ(make_cell(xstring(std::string(65537, 'x'))).text, "x");
  EXPECT_EQ(make_cell(xstring(std::string(65535, 'y'))).text.size(), 65535u);
  const value_cell s = make_cell(xstring("ab"));
  for (uint8_t b : s.inline_bytes) EXPECT_EQ(b, 0);
}

}  // namespace
}  // namespace qn::db::nosql
