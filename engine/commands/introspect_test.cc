#include <gtest/gtest.h>

#include <string>

#include "engine/commands/test_support.h"
#include "engine/commands/typed_dispatch.h"

namespace qn::db::nosql {
namespace {

using testing::command_runner;

TEST(Introspect, AnEmptyRegistryAnswersNoItemsAtAll) {
  command_runner r;
  EXPECT_EQ(r.run("k"), "ok");
}

TEST(Introspect, ListsEveryContainerAsSevenItemsOfOneValueEach) {
  command_runner r;
  ASSERT_EQ(r.create("c hashtable u08 4"), 0u);
  ASSERT_EQ(r.create("c hashmap u16 string 8 m"), 1u);
  ASSERT_EQ(r.create("c hashmap time i32 8"), 2u);
  EXPECT_EQ(r.run("k"),
            "ok [skey string: \"\" \"m\" \"\"] [vkey u64: 0 1 2]"
            " [vkey(hex) string: \"0x0\" \"0x1\" \"0x2\"] [count u64: 4 8 0]"
            " [ctype string: \"hashtable\" \"hashmap\" \"hashmap_not_allowed\"]"
            " [ktype string: \"u08\" \"u16\" \"time\"] [vtype string: \"u08\" \"string\" \"i32\"]");
  const std::string row_1 =
      "ok [skey string: \"m\"] [vkey u64: 1] [vkey(hex) string: \"0x1\"] [count u64: 8]"
      " [ctype string: \"hashmap\"] [ktype string: \"u16\"] [vtype string: \"string\"]";
  for (std::string_view line : {"k 1", "k \"m\"", "k 0x1", "k 0X1", "k +1", "k 01"}) {
    EXPECT_EQ(r.run(line), row_1) << line;
  }
}

TEST(Introspect, AVectorAndANamedMap) {
  command_runner r;
  ASSERT_EQ(r.create("c vector i32"), 0u);
  ASSERT_EQ(r.create("c map u16 string m"), 1u);
  EXPECT_EQ(r.run("k"),
            "ok [skey string: \"\" \"m\"] [vkey u64: 0 1] [vkey(hex) string: \"0x0\" \"0x1\"]"
            " [count u64: 0 0] [ctype string: \"vector\" \"map\"] [ktype string: \"i32\" \"u16\"]"
            " [vtype string: \"u08\" \"string\"]");
  EXPECT_EQ(r.run("k \"m\""), r.run("k 1"));
  ASSERT_EQ(r.run("i 0 last 5"), "ok");
  ASSERT_EQ(r.run("i 0 last 6"), "ok");
  EXPECT_NE(r.run("k 0").find("[count u64: 2]"), std::string::npos);
}

TEST(Introspect, ListingSkipsFreeSlotsAndReachesTheLastOccupiedOne) {
  command_runner r;
  for (int i = 0; i < 18; ++i) ASSERT_EQ(r.create("c hashtable u08 1"), uint64_t(i));
  for (std::string_view line : {"e 0", "e 2", "e 3", "e 16"}) ASSERT_NE(r.run(line), "false");
  const std::string listing = r.run("k");
  EXPECT_NE(listing.find("[vkey u64: 1 4 5 6 7 8 9 10 11 12 13 14 15 17]"), std::string::npos)
      << listing;
  EXPECT_NE(listing.find("\"0xf\" \"0x11\"]"), std::string::npos) << listing;
}

TEST(Introspect, RefusesWhatNamesNoContainer) {
  command_runner r;
  ASSERT_EQ(r.create("c hashtable u08 4 m"), 0u);
  for (std::string_view line :
       {"k 1", "k 1048576", "k \"zz\"", "k \"M\"", "k -1", "k 1x5", "k 0 0", "k \"m\" 1"}) {
    EXPECT_EQ(r.run(line), "false") << line;
  }
  // An empty quoted token is not a name: it reads as slot 0.
  EXPECT_NE(r.run("k \"\""), "false");
}

TEST(Erase, FreesTheSlotForTheNextCreate) {
  command_runner r;
  ASSERT_EQ(r.create("c hashtable u08 4"), 0u);
  ASSERT_EQ(r.create("c hashmap u16 string 8 m"), 1u);
  ASSERT_EQ(r.create("c hashtable u08 4"), 2u);
  EXPECT_EQ(r.run("e 1"), "ok [erase vkey u64: 1]");
  EXPECT_EQ(r.run("k 1"), "false");
  EXPECT_EQ(r.run("e 1"), "false");
  EXPECT_EQ(r.create("c hashtable u08 4 m"), 1u);  // the name is free again, the slot reused
  EXPECT_EQ(r.create("c hashtable u08 4"), 3u);
  EXPECT_EQ(r.run("e \"m\""), "ok [erase vkey u64: 1]");
  EXPECT_EQ(r.run("e 0x0"), "ok [erase vkey u64: 0]");
  // Last freed, first reused.
  EXPECT_EQ(r.create("c hashtable u08 4"), 0u);
  EXPECT_EQ(r.create("c hashtable u08 4"), 1u);
}

TEST(Erase, RefusedLinesEraseNothing) {
  command_runner r;
  ASSERT_EQ(r.create("c hashtable u08 4 m"), 0u);
  ASSERT_EQ(r.create("c hashtable string 4"), 1u);
  for (std::string_view line :
       {"e", "e 0 1", "e \"m\" 0", "e 2", "e 1048576", "e -0", "e \"zz\"", "e 0z"}) {
    EXPECT_EQ(r.run(line), "false") << line;
  }
  EXPECT_EQ(r.registry().occupied_count(), 2u);
  // The shell of a hash kind over a non-integer key is erased like any container.
  EXPECT_EQ(r.run("e 1"), "ok [erase vkey u64: 1]");
}

TEST(SlotText, HexadecimalWithoutLeadingZeros) {
  const std::pair<uint64_t, std::string_view> rows[] = {{0, "0x0"},
                                                        {9, "0x9"},
                                                        {255, "0xff"},
                                                        {0x100000, "0x100000"},
                                                        {~uint64_t{0}, "0xffffffffffffffff"}};
  for (const auto& [slot, text] : rows) EXPECT_EQ(slot_hex_text(slot), text);
}

}  // namespace
}  // namespace qn::db::nosql
