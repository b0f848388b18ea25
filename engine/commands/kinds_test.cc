// The real kinds through whole command lines: each family reaches every kind as its own
// adt<K, V>, over key and value types of every category, and its reply carries the container's
// own descriptors. What each kind does with an operation is pinned in containers/; here one
// script per kind checks that the command layer gets there with the right types and arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/commands/test_support.h"

namespace qn::db::nosql {
namespace {

struct exchange {
  std::string line;
  std::string reply;
};

constexpr const char* slot0 = "ok [vkey u64: 0] [vkey(hex) string: \"0x0\"]";

// The number of a reply "ok [u64: N]"; 0 for any other reply.
uint64_t number_in(const std::string& reply) {
  const std::string prefix = "ok [u64: ";
  if (reply.rfind(prefix, 0) != 0) return 0;
  return std::stoull(reply.substr(prefix.size()));
}

TEST(Kinds, EveryFamilyReachesEveryKindWithItsTypes) {
  const std::vector<std::vector<exchange>> scripts = {
      {{"c map datetime i08", slot0},
       {"i 0 2024-02-29T08:00:00 -5", "ok"},
       {"i 0 2024-02-29T08:00:00 1", "false"},
       {"s 0 value 2024-02-29T08:00:00 7", "ok"},
       {"g 0 value 2024-02-29T08:00:00", "ok [i08: 7]"},
       {"g 0 max", "ok [datetime: 2024-02-29T08:00:00]"},
       {"d 0 equal 2024-02-29T08:00:00", "ok"},
       {"g 0 count", "ok [u64: 0]"}},
      {{"c multimap string double", slot0},
       {"i 0 \"last\" 1.5", "ok"},  // quoted: a key, not the word last
       {"i 0 last 2.5", "false"},
       {"i 0 \"last\" 2.5", "ok"},
       {"g 0 value last", "ok [double: 1.5 2.5]"},
       {"s 0 equal last a", "ok"},
       {"g 0 all", "ok [string: \"a\" \"a\"]"},
       {"g 0 val_type", "ok [string: \"double\"]"}},
      {{"c set float", slot0},
       {"i 0 2.5", "ok"},
       {"i 0 -1", "ok"},
       {"g 0 ltge -1 2.5", "ok [float: -1]"},
       {"s 0 max 3", "ok"},
       {"g 0 rank 3", "ok [u64: 1]"},
       {"d 0 lt 0", "ok"},
       {"g 0 all", "ok [float: 3]"}},
      {{"c multiset date", slot0},
       {"i 0 2000-01-01", "ok"},
       {"i 0 2000-01-01", "ok"},
       {"g 0 equal 2000-01-01", "ok [date: 2000-01-01 2000-01-01]"},
       {"d 0 min_n 1", "ok"},
       {"g 0 count", "ok [u64: 1]"}},
      {{"c hashmap u16 string 100", slot0},
       {"i 0 7 seven", "ok"},
       {"i 0 100 x", "false"},  // beyond the capacity
       {"g 0 value 7", "ok [string: \"seven\"]"},
       {"s 0 equal 7 9", "ok"},
       {"g 0 all", "ok [u16: 9]"},
       {"g 0 count", "ok [u64: 100]"}},
      {{"c hashtable i08 256", slot0},
       {"i 0 -3", "ok"},
       {"g 0 equal -3", "ok [i08: -3]"},
       {"d 0 equal -3", "ok"},
       {"d 0 equal -3", "false"}},
      {{"c vector string", slot0},
       {"i 0 last \"two words\"", "ok"},
       {"i 0 first \"\"", "ok"},
       {"s 0 nth 1 a", "ok"},
       {"g 0 all", "ok [string: \"a\" \"two words\"]"},
       {"d 0 range 1 1", "ok"},
       {"g 0 index \"two words\"", "ok [u64: 0]"}},
      {{"c deque time", slot0},
       {"i 0 last 08:00:00", "ok"},
       {"i 0 first 07:30:00.5", "ok"},
       {"g 0 first_n 2", "ok [time: 07:30:00.500000000 08:00:00]"},
       {"d 0 last", "ok"},
       {"g 0 last", "ok [time: 07:30:00.500000000]"}},
      {{"c stack i64", slot0},
       {"i 0 last -9000000000", "ok"},
       {"i 0 first 1", "false"},
       {"s 0 last 5", "ok"},
       {"g 0 last", "ok [i64: 5]"},
       {"d 0 last", "ok"},
       {"g 0 count", "ok [u64: 0]"}},
      {{"c queue u32", slot0},
       {"i 0 last 1", "ok"},
       {"i 0 last 2", "ok"},
       {"d 0 first", "ok"},
       {"g 0 first", "ok [u32: 2]"}},
      {{"c heap u64", slot0},
       {"i 0 5", "ok"},
       {"i 0 3", "ok"},
       {"s 0 min 9", "ok"},
       {"g 0 min", "ok [u64: 5]"},
       {"d 0 min", "ok"},
       {"g 0 all", "ok [u64: 9]"}},
      {{"c trie", slot0},
       {"i 0 abcd", "ok"},
       {"g 0 ucontain ABCD", "ok [u08: 1]"},
       {"g 0 contain ABCD", "ok [u08: 0]"},
       {"g 0 key_type", "ok [string: \"string\"]"},
       {"d 0 all", "ok"},
       {"g 0 count", "ok [u64: 0]"}},
  };
  for (const std::vector<exchange>& script : scripts) {
    testing::command_runner r;
    for (const exchange& e : script) EXPECT_EQ(r.run(e.line), e.reply) << e.line;
  }
}

// List node handles go out as u64 replies and come back as arguments of every family.
TEST(Kinds, ListHandlesPassThroughEveryFamily) {
  testing::command_runner r;
  ASSERT_EQ(r.run("c list u08"), slot0);
  for (const char* line : {"i 0 last 5", "i 0 last 6"}) ASSERT_EQ(r.run(line), "ok");
  const std::string five = std::to_string(number_in(r.run("g 0 ptr 5")));
  const std::string six = std::to_string(number_in(r.run("g 0 ptr_n " + five)));
  const exchange script[] = {
      {"g 0 val " + six, "ok [u08: 6]"}, {"i 0 val " + six + " 1", "ok"},
      {"s 0 val " + five + " 4", "ok"},  {"d 0 ptr " + six, "ok"},
      {"g 0 all", "ok [u08: 4 1]"},      {"g 0 val " + six, "ok"},
  };
  for (const exchange& e : script) EXPECT_EQ(r.run(e.line), e.reply) << e.line;
}

}  // namespace
}  // namespace qn::db::nosql
