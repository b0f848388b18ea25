#include "engine/executor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "containers/factory.h"

namespace qn::db::nosql {
namespace {

// A real vector: the read path casts to the typed class its descriptors name.
std::unique_ptr<nosql_db::ab_adt> plain() {
  return nosql_db::make_container("vector", i32_type, u08_type, 0);
}

bool run(container_registry& r, std::string_view line) {
  reply_record reply;
  return execute(r, line.data(), line.size(), reply);
}

TEST(Execute, RefusesEmptyAndUnknownLines) {
  container_registry r;
  reply_record reply;
  EXPECT_FALSE(execute(r, nullptr, 5, reply));
  EXPECT_FALSE(execute(r, "g", 0, reply));
  for (std::string_view line : {"x 1 2", "G 0 count", " g 0 count"}) {
    EXPECT_FALSE(run(r, line)) << line;
  }
}

TEST(Execute, FiveByteClearLineEmptiesTheRegistry) {
  container_registry r;
  uint64_t slot = 0;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(r.place_new(plain(), "", slot));
  EXPECT_TRUE(run(r, "cxxxx"));
  EXPECT_EQ(r.occupied_count(), 0u);
  EXPECT_TRUE(run(r, "c set"));  // any five bytes after a c: remove all
  reply_record reply;
  EXPECT_TRUE(execute(r, "clear", 5, reply));
  EXPECT_TRUE(reply.empty());
}

TEST(Execute, ReadAndWriteNeedAnOccupiedSlotAndTheirTokenCounts) {
  container_registry r;
  // No container in slot 0 (or beyond the capacity, or by an unknown name): every line fails.
  for (std::string_view line : {"g 0 count", "s 0 all 5", "g 1048576 count", "g \"nope\" count"}) {
    EXPECT_FALSE(run(r, line)) << line;
  }
  ASSERT_TRUE(run(r, "c vector i32"));
  ASSERT_TRUE(run(r, "i 0 last 5"));
  struct {
    std::string_view line;
    bool expected;
  } const cases[] = {
      {"g 0", false},
      {"g 0 count", true},
      {"g 0 nth 1", true},
      {"g 0 range 1 1", true},
      {"g 0 range 1 1 x", false},
      {"s 0 all", false},
      {"s 0 all 5", true},
      {"s 0 nth 1 5", true},
      {"s 0 range 1 1 5", true},
      {"s 0 range 1 1 5 x", false},
      {"g 1 count", false},
      {"g \"\" count", true},  // empty quotes: slot 0
  };
  for (const auto& c : cases) EXPECT_EQ(run(r, c.line), c.expected) << c.line;
}

// Each family's row of the table: a line outside its token counts, or whose container token names
// no occupied slot, fails before the handler could change anything.
TEST(Execute, EveryFamilyRefusesItsWrongTokenCounts) {
  container_registry r;
  ASSERT_TRUE(run(r, "c vector i32 v"));
  const std::string_view refused[] = {"k 0 x",
                                      "k 1",
                                      "e",
                                      "e 0 x",
                                      "e 1",
                                      "i 0",
                                      "i 0 nth 1 2 3",
                                      "i 1 last 5",
                                      "d 0",
                                      "d 0 range 1 2 3",
                                      "d \"w\" all",
                                      "b",
                                      "b a b",
                                      "r",
                                      "r a b",
                                      "c",
                                      "c vector",
                                      "c hashmap i32 i32 10 h x"};
  for (std::string_view line : refused) EXPECT_FALSE(run(r, line)) << line;
  EXPECT_EQ(r.occupied_count(), 1u);
  EXPECT_TRUE(run(r, "k"));
  EXPECT_TRUE(run(r, "k \"v\""));
  EXPECT_TRUE(run(r, "e \"v\""));
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
      ASSERT_TRUE(r.place_new(plain(), "", slot));
    }
    EXPECT_TRUE(run(r, "clear"));
  }
  stop = true;
  reader.join();
  EXPECT_EQ(r.occupied_count(), 0u);
}

}  // namespace
}  // namespace qn::db::nosql
