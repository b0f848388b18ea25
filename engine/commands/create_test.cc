// c, k and e as command lines: the forms creation takes, the rows describe (k) answers, and the
// slots and names that creation and erasure hand out and give back.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/commands/test_support.h"
#include "engine/commands/typed_dispatch.h"

namespace qn::db::nosql {
namespace {

using testing::command_runner;
using testing::created;

// The single row "k <slot>" answers, written compactly.
std::string row(std::string_view name, uint64_t slot, uint64_t count, std::string_view kind,
                std::string_view key, std::string_view value) {
  return "ok [skey string: \"" + std::string(name) + "\"] [vkey u64: " + std::to_string(slot) +
         "] [vkey(hex) string: \"" + slot_hex_text(slot) +
         "\"] [count u64: " + std::to_string(count) + "] [ctype string: \"" + std::string(kind) +
         "\"] [ktype string: \"" + std::string(key) + "\"] [vtype string: \"" + std::string(value) +
         "\"]";
}

TEST(Create, EveryFormBuildsWhatItNames) {
  struct form {
    std::string_view line;
    std::string expected;  // the row "k 0" shows afterwards
  };
  const form forms[] = {
      {"c hashmap u16 string 0x10 h", row("h", 0, 16, "hashmap", "u16", "string")},
      {"c hashmap u16 string 12x", row("", 0, 0, "hashmap", "u16", "string")},
      {"c hashmap uX6 i32 5 \"my map\"", row("my map", 0, 5, "hashmap", "u16", "i32")},
      {"c hashmap u16 i32 18446744073709551617", row("", 0, 1, "hashmap", "u16", "i32")},
      // A narrow key needs only its own key space, whatever the capacity.
      {"c hashmap u08 i32 1099511627776", row("", 0, 1099511627776, "hashmap", "u08", "i32")},
      {"c hashtable i64 64 ht", row("ht", 0, 64, "hashtable", "i64", "u08")},
      // A hash table names no value type: the third word is the capacity, the fourth the name.
      {"c hashtable i64 i32 64", row("64", 0, 0, "hashtable", "i64", "u08")},
      {"c hashmap date u08 10 d", row("d", 0, 0, "hashmap_not_allowed", "date", "u08")},
      {"c hashtable double 10", row("", 0, 0, "hashtable_not_allowed", "double", "u08")},
      {"c trie", row("", 0, 0, "trie", "string", "u08")},
      {"c list date l", row("l", 0, 0, "list", "date", "u08")},
      {"c multiset datetime ms", row("ms", 0, 0, "multiset", "datetime", "u08")},
      {"c map u16 string m", row("m", 0, 0, "map", "u16", "string")},
      {"c multimap double i08", row("", 0, 0, "multimap", "double", "i08")},
      {"c \"hashmap\" \"u16\" \"i32\" \"10\" \"a b\"", row("a b", 0, 10, "hashmap", "u16", "i32")},
  };
  for (const form& f : forms) {
    command_runner r;
    ASSERT_EQ(r.run(f.line), created(0)) << f.line;
    EXPECT_EQ(r.run("k 0"), f.expected) << f.line;
  }
}

// Token counts are executor_test's; an unknown type word is also the documented example's.
TEST(Create, RefusedFormsChangeNothing) {
  const std::string_view refused[] = {
      "c hashmap u16 string",  // hashmap needs a capacity
      "c hashtable i64",
      "c hashmap u1 i32 10",   // type words have at least 3 bytes
      "c HashMap u16 i32 10",  // kind words are case-sensitive
      "c hashmap_not_allowed u16 i32 1",
      "c trie string t1",  // a trie takes no name
      "c vector",
      "c map i32 \"\"",  // an empty value word names no type
      "c vector i32 v extra",
      "c map i32 string 10 m",                  // maps take no capacity
      "c hashmap u64 u08 1099511627776",        // 8 TiB of slots
      "c hashmap u64 u08 2305843009213693952",  // 2^61 slots: the size overflows
      "c hashtable u08 18446744073709551615",
      "c hashmap u16 i32 10 \"n",  // unterminated quote
  };
  for (std::string_view line : refused) {
    command_runner r;
    EXPECT_EQ(r.run(line), "false") << line;
    EXPECT_EQ(r.run("c hashtable u08 1"), created(0)) << line;  // the free list is untouched
  }
}

// Bytewise names and the order slots are reused in are registry_test's.
TEST(Create, NamesAreTakenOnceAndGivenBackByErase) {
  command_runner r;
  EXPECT_EQ(r.run("c hashmap i64 string 1099511627776 n"), "false");  // takes no name
  EXPECT_EQ(r.run("c hashtable u08 1 n"), created(0));
  EXPECT_EQ(r.run("c hashmap u08 u08 1 n"), "false");
  EXPECT_EQ(r.run("e \"n\""), "ok [erase vkey u64: 0]");
  EXPECT_EQ(r.run("c hashtable u08 1 n"), created(0));
}

TEST(Describe, ListsEveryOccupiedSlotAndRefusesWhatNamesNone) {
  command_runner r;
  EXPECT_EQ(r.run("k"), "ok");
  for (int i = 0; i < 18; ++i) ASSERT_EQ(r.run("c hashtable u08 1"), created(i));
  for (std::string_view line : {"e 0", "e 2", "e 3", "e 16", "e 1"})
    ASSERT_NE(r.run(line), "false");
  ASSERT_EQ(r.run("c hashmap time i32 8 m"), created(1));
  ASSERT_EQ(r.run("e 5"), "ok [erase vkey u64: 5]");
  ASSERT_EQ(r.run("c map u16 string"), created(5));
  const std::string listing = r.run("k");
  for (std::string_view part :
       {"[vkey u64: 1 4 5 6 7 8 9 10 11 12 13 14 15 17]", "\"0xf\" \"0x11\"] [count u64: 0 1 0 1",
        "[ctype string: \"hashmap_not_allowed\" \"hashtable\" \"map\""}) {
    EXPECT_NE(listing.find(part), std::string::npos) << part << " in " << listing;
  }
  const std::string row_1 = row("m", 1, 0, "hashmap_not_allowed", "time", "i32");
  EXPECT_EQ(r.run("k 1"), row_1);
  EXPECT_EQ(r.run("k \"m\""), row_1);
  // How numbers are spelled is tokenizer_test's ResolveContainer; token counts are executor_test's.
  for (std::string_view line : {"k 0", "k 1048576", "k \"M\"", "e 0", "e \"zz\""}) {
    EXPECT_EQ(r.run(line), "false") << line;
  }
  EXPECT_EQ(r.registry().occupied_count(), 14u);
}

TEST(Create, FailsWhileEverySlotIsTaken) {
  command_runner r;
  uint64_t slot = 0;
  for (uint64_t i = 0; i < container_registry::capacity; ++i) {
    // The interface alone: a container of no interest beyond occupying a slot.
    ASSERT_TRUE(
        r.registry().place_new(std::make_unique<ab_adt>("vector", u08_type, u08_type), "", slot));
  }
  EXPECT_EQ(r.run("c hashmap u08 u08 1 name"), "false");
  EXPECT_EQ(r.run("e 5"), "ok [erase vkey u64: 5]");
  EXPECT_EQ(r.run("c hashtable u08 1 name"), created(5));
  EXPECT_EQ(r.run("c hashtable u08 1"), "false");
}

}  // namespace
}  // namespace qn::db::nosql
