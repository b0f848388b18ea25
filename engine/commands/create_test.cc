#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "containers/factory.h"
#include "engine/commands/test_support.h"
#include "engine/commands/typed_dispatch.h"

namespace qn::db::nosql {
namespace {

using testing::command_runner;

// The single row "k <slot>" answers, written compactly.
std::string row(std::string_view name, uint64_t slot, uint64_t count, std::string_view kind,
                std::string_view key, std::string_view value) {
  const std::string hex = slot_hex_text(slot);
  return "ok [skey string: \"" + std::string(name) + "\"] [vkey u64: " + std::to_string(slot) +
         "] [vkey(hex) string: \"" + hex + "\"] [count u64: " + std::to_string(count) +
         "] [ctype string: \"" + std::string(kind) + "\"] [ktype string: \"" + std::string(key) +
         "\"] [vtype string: \"" + std::string(value) + "\"]";
}

TEST(Create, AnswersTheSlotInDecimalAndHexadecimal) {
  command_runner r;
  EXPECT_EQ(r.run("c hashmap u16 string 1000"), "ok [vkey u64: 0] [vkey(hex) string: \"0x0\"]");
  EXPECT_EQ(r.run("c hashtable i64 64"), "ok [vkey u64: 1] [vkey(hex) string: \"0x1\"]");
  for (int i = 2; i < 31; ++i) ASSERT_EQ(r.create("c hashtable u08 1"), uint64_t(i));
  EXPECT_EQ(r.run("c hashtable u08 1"), "ok [vkey u64: 31] [vkey(hex) string: \"0x1f\"]");
}

TEST(Create, EveryHashFormBuildsWhatItNames) {
  struct form {
    std::string_view line;
    std::string expected;  // the row "k 0" shows afterwards
  };
  const form forms[] = {
      {"c hashmap u16 string 1000", row("", 0, 1000, "hashmap", "u16", "string")},
      {"c hashmap u16 string 0x10 h", row("h", 0, 16, "hashmap", "u16", "string")},
      {"c hashmap u16 string abc", row("", 0, 0, "hashmap", "u16", "string")},
      {"c hashmap u16 string 12x", row("", 0, 0, "hashmap", "u16", "string")},
      {"c hashmap i08 datetime 0b101", row("", 0, 5, "hashmap", "i08", "datetime")},
      {"c hashmap u32 double 010", row("", 0, 8, "hashmap", "u32", "double")},
      {"c hashmap uX6 i32 5", row("", 0, 5, "hashmap", "u16", "i32")},
      {"c hashmap u16 i32 5 \"\"", row("", 0, 5, "hashmap", "u16", "i32")},
      {"c hashmap u16 i32 5 \"my map\"", row("my map", 0, 5, "hashmap", "u16", "i32")},
      {"c hashmap u16 i32 5 7", row("7", 0, 5, "hashmap", "u16", "i32")},
      // Capacity digits wrap modulo 2^64.
      {"c hashmap u16 i32 18446744073709551617", row("", 0, 1, "hashmap", "u16", "i32")},
      // A narrow key needs only its own key space, whatever the capacity.
      {"c hashmap u08 i32 1099511627776", row("", 0, 1099511627776, "hashmap", "u08", "i32")},
      {"c hashtable i64 64", row("", 0, 64, "hashtable", "i64", "u08")},
      {"c hashtable i64 64 ht", row("ht", 0, 64, "hashtable", "i64", "u08")},
      // A hash table names no value type: the third word is the capacity, the fourth the name.
      {"c hashtable i64 i32 64", row("64", 0, 0, "hashtable", "i64", "u08")},
      {"c hashmap string i32 10", row("", 0, 0, "hashmap_not_allowed", "string", "i32")},
      {"c hashmap date u08 10 d", row("d", 0, 0, "hashmap_not_allowed", "date", "u08")},
      {"c hashtable double 10", row("", 0, 0, "hashtable_not_allowed", "double", "u08")},
      {"c hashtable time 10 t", row("t", 0, 0, "hashtable_not_allowed", "time", "u08")},
  };
  for (const form& f : forms) {
    command_runner r;
    ASSERT_EQ(r.create(f.line), 0u) << f.line;
    EXPECT_EQ(r.run("k 0"), f.expected) << f.line;
  }
}

TEST(Create, EveryKindTakesItsForms) {
  struct form {
    std::string_view line;
    std::string expected;  // the row "k 0" shows afterwards
  };
  const form forms[] = {
      {"c trie", row("", 0, 0, "trie", "string", "u08")},
      {"c trie string", row("", 0, 0, "trie", "string", "u08")},
      {"c vector i32", row("", 0, 0, "vector", "i32", "u08")},
      {"c vector i32 vec", row("vec", 0, 0, "vector", "i32", "u08")},
      {"c list date l", row("l", 0, 0, "list", "date", "u08")},
      {"c queue time", row("", 0, 0, "queue", "time", "u08")},
      {"c deque u64 d", row("d", 0, 0, "deque", "u64", "u08")},
      {"c stack string s", row("s", 0, 0, "stack", "string", "u08")},
      {"c heap i32", row("", 0, 0, "heap", "i32", "u08")},
      {"c heap iX2", row("", 0, 0, "heap", "i32", "u08")},
      {"c set float", row("", 0, 0, "set", "float", "u08")},
      {"c multiset datetime ms", row("ms", 0, 0, "multiset", "datetime", "u08")},
      {"c map i32 string", row("", 0, 0, "map", "i32", "string")},
      {"c map u16 string m", row("m", 0, 0, "map", "u16", "string")},
      {"c multimap double i08", row("", 0, 0, "multimap", "double", "i08")},
      {"c multimap string date mm", row("mm", 0, 0, "multimap", "string", "date")},
  };
  for (const form& f : forms) {
    command_runner r;
    ASSERT_EQ(r.create(f.line), 0u) << f.line;
    EXPECT_EQ(r.run("k 0"), f.expected) << f.line;
  }
}

TEST(Create, RefusedFormsChangeNothing) {
  const std::string_view refused[] = {
      "c",                                      // no kind
      "c hashmap",                              // too few tokens
      "c hashmap u16 string",                   // hashmap needs a capacity
      "c hashmap u16 string 10 n x",            // seven tokens
      "c hashtable i64",                        // hashtable needs a capacity
      "c hashtable i64 64 n x",                 // six tokens
      "c hashmap x16 i32 10",                   // unknown key type word
      "c hashmap u16 x32 10",                   // unknown value type word
      "c hashmap u1 i32 10",                    // type words have at least 3 bytes
      "c hashmap dat i32 10",                   // neither date nor datetime
      "c HashMap u16 i32 10",                   // kind words are case-sensitive
      "c hashmaps u16 i32 10",                  // and compared in full
      "c hashmap_not_allowed u16 i32 1",        // not a kind word
      "c trie string t1",                       // a trie takes no name
      "c set i32 a b",                          // five tokens for a single kind
      "c heap x32",                             // unknown type word
      "c vector",                               // only a trie takes no type
      "c map i32",                              // a map needs both types
      "c map i32 string m extra",               // six tokens
      "c multimap i32",                         // a multimap needs both types
      "c map i32 \"\"",                           // an empty value word names no type
      "c hashmap i32 \"\" 10",
      "c vector i32 v extra",                   // five tokens for a single kind
      "c trie string t x",                      // five tokens for a trie
      "c map i32 string 10 m",                  // maps take no capacity
      "c hashmap u64 u08 1099511627776",        // 8 TiB of slots
      "c hashmap u64 u08 2305843009213693952",  // 2^61 slots: the size overflows
      "c hashtable u08 18446744073709551615",   // above 2^61 for every key type
      "c hashmap u16 i32 \"10\" x y",           // seven tokens
      "c hashmap u16 i32 10 \"n",               // unterminated quote
  };
  for (std::string_view line : refused) {
    command_runner r;
    EXPECT_EQ(r.run(line), "false") << line;
    EXPECT_EQ(r.registry().occupied_count(), 0u) << line;
    EXPECT_EQ(r.create("c hashtable u08 1"), 0u) << line;  // the free list is untouched
  }
}

TEST(Create, QuotedWordsAreReadFromTheirDecodedBytes) {
  command_runner r;
  EXPECT_EQ(r.create("c \"hashmap\" \"u16\" \"i32\" \"10\" \"a b\""), 0u);
  EXPECT_EQ(r.run("k \"a b\""), row("a b", 0, 10, "hashmap", "u16", "i32"));
}

TEST(Create, ANameInUseIsRefusedAndTheNextSlotStaysFree) {
  command_runner r;
  EXPECT_EQ(r.create("c hashtable u08 1 n"), 0u);
  EXPECT_EQ(r.run("c hashtable u08 1 n"), "false");
  EXPECT_EQ(r.run("c hashmap u08 u08 1 n"), "false");
  EXPECT_EQ(r.create("c hashtable u08 1 N"), 1u);   // names are compared byte for byte
  EXPECT_EQ(r.create("c hashtable u08 1 nn"), 2u);  // a longer name with the same prefix
  EXPECT_EQ(r.create("c hashtable u08 1"), 3u);
  EXPECT_EQ(r.run("k \"n\""), row("n", 0, 1, "hashtable", "u08", "u08"));
}

TEST(Create, AHugeCapacityFailsCleanly) {
  command_runner r;
  EXPECT_EQ(r.create("c hashtable u08 1 a"), 0u);
  EXPECT_EQ(r.run("c hashmap i64 string 1099511627776 big"), "false");
  EXPECT_EQ(r.run("k \"big\""), "false");
  EXPECT_EQ(r.create("c hashtable u08 1 big"), 1u);  // the name was never taken
}

// A container of no interest beyond occupying a slot.
class filler final : public ab_adt {
 public:
  filler() : ab_adt("vector", u08_type, u08_type) {}
};

TEST(Create, FailsWhileEverySlotIsTaken) {
  command_runner r;
  uint64_t slot = 0;
  for (uint64_t i = 0; i < container_registry::capacity; ++i) {
    ASSERT_TRUE(r.registry().place_new(std::make_unique<filler>(), "", slot));
  }
  EXPECT_EQ(r.run("c hashtable u08 1"), "false");
  EXPECT_EQ(r.run("c hashmap u08 u08 1 name"), "false");
  EXPECT_EQ(r.run("e 5"), "ok [erase vkey u64: 5]");
  EXPECT_EQ(r.run("c hashtable u08 1 name"), "ok [vkey u64: 5] [vkey(hex) string: \"0x5\"]");
  EXPECT_EQ(r.run("c hashtable u08 1"), "false");
}

}  // namespace
}  // namespace qn::db::nosql
