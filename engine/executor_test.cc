#include "engine/executor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace qn::db::nosql {
namespace {

class plain final : public ab_adt {
 public:
  plain() : ab_adt("vector", i32_type, u08_type) {}
};

bool run(Registry& r, std::string_view line) {
  reply_record reply;
  return execute(r, line.data(), line.size(), reply);
}

TEST(Execute, RefusesEmptyAndUnknownLines) {
  Registry r;
  reply_record reply;
  EXPECT_FALSE(execute(r, nullptr, 5, reply));
  EXPECT_FALSE(execute(r, "g", 0, reply));
  for (std::string_view line : {"x 1 2", "G 0 count", " g 0 count", "clear"}) {
    if (line == "clear") continue;
    EXPECT_FALSE(run(r, line)) << line;
  }
}

TEST(Execute, FiveByteClearLineEmptiesTheRegistry) {
  Registry r;
  uint64_t slot = 0;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(r.place_new(std::make_unique<plain>(), "", slot));
  EXPECT_TRUE(run(r, "cxxxx"));
  EXPECT_EQ(r.occupied_count(), 0u);
  EXPECT_TRUE(run(r, "c set"));  // any five bytes after a c: remove all
  reply_record reply;
  EXPECT_TRUE(execute(r, "clear", 5, reply));
  EXPECT_TRUE(reply.empty());
}

TEST(Execute, ReadAndWriteNeedAnOccupiedSlotAndTheirTokenCounts) {
  Registry r;
  // No container in slot 0: every count of tokens fails the same way.
  for (std::string_view line : {"g 0", "g 0 count", "g 0 a b c d", "s 0 all", "s 0 all 5",
                                "s 0 a b c d e", "g 1048576 count", "g \"nope\" count"}) {
    EXPECT_FALSE(run(r, line)) << line;
  }
}

TEST(Execute, ConcurrentClearsAndReadsKeepTheLockDiscipline) {
  Registry r;
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop) (void)run(r, "g 0 count");
  });
  for (int i = 0; i < 200; ++i) {
    uint64_t slot = 0;
    {
      std::unique_lock lock(r.lock());
      ASSERT_TRUE(r.place_new(std::make_unique<plain>(), "", slot));
    }
    EXPECT_TRUE(run(r, "clear"));
  }
  stop = true;
  reader.join();
  EXPECT_EQ(r.occupied_count(), 0u);
}

}  // namespace
}  // namespace qn::db::nosql
