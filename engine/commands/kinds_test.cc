// The real kinds through whole command lines: each family reaches every kind as its own
// adt<K, V>, over key and value types of every category, and its reply carries the container's
// own descriptors. What each kind does with an operation is pinned in containers/; here one
// script per kind checks that the command layer gets there with the right types and arguments.
// List node handles are the word tests' (as arguments of every family) and the list kind's.
// Backup and restore by a quoted path close the file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/commands/test_support.h"

namespace qn::db::nosql {
namespace {

using testing::created;

struct exchange {
  std::string line;
  std::string reply;
};

TEST(Kinds, EveryFamilyReachesEveryKindWithItsTypes) {
  // One database; slot n is the n-th container created.
  const exchange script[] = {
      {"c map datetime i08", created(0)}, {"i 0 2024-02-29T08:00:00 -5", "ok"},
      {"s 0 value 2024-02-29T08:00:00 7", "ok"}, {"g 0 value 2024-02-29T08:00:00", "ok [i08: 7]"},
      {"d 0 equal 2024-02-29T08:00:00", "ok"}, {"g 0 count", "ok [u64: 0]"},
      {"c multimap string double", created(1)},
      {"i 1 \"last\" 1.5", "ok"},  // quoted: a key, not the word last
      {"i 1 last 2.5", "false"}, {"i 1 \"last\" 2.5", "ok"}, {"s 1 equal last a", "ok"},
      {"g 1 value a", "ok [double: 1.5 2.5]"},
      {"c set float", created(2)}, {"i 2 2.5", "ok"}, {"s 2 max 3", "ok"},
      {"g 2 lege -1 3", "ok [float: 3]"},
      {"c multiset date", created(3)}, {"i 3 2000-01-01", "ok"}, {"i 3 2000-01-01", "ok"},
      {"d 3 min_n 1", "ok"}, {"g 3 all", "ok [date: 2000-01-01]"},
      {"c hashmap u16 string 100", created(4)}, {"i 4 7 seven", "ok"}, {"s 4 equal 7 9", "ok"},
      {"g 4 value 9", "ok [string: \"seven\"]"}, {"g 4 count", "ok [u64: 100]"},
      {"c hashtable i08 256", created(5)}, {"i 5 -3", "ok"}, {"d 5 equal -3", "ok"},
      {"g 5 all", "ok [i08:]"},
      {"c vector string", created(6)}, {"i 6 last \"two words\"", "ok"}, {"s 6 nth 1 a", "ok"},
      {"g 6 index a", "ok [u64: 0]"},
      {"c deque time", created(7)}, {"i 7 last 08:00:00", "ok"}, {"i 7 first 07:30:00.5", "ok"},
      {"d 7 last", "ok"}, {"g 7 first_n 2", "ok [time: 07:30:00.500000000]"},
      {"c stack i64", created(8)}, {"i 8 last -9000000000", "ok"}, {"i 8 first 1", "false"},
      {"g 8 last", "ok [i64: -9000000000]"},
      {"c queue u32", created(9)}, {"i 9 last 1", "ok"}, {"s 9 first 2", "ok"},
      {"g 9 first", "ok [u32: 2]"},
      {"c heap u64", created(10)}, {"i 10 5", "ok"}, {"s 10 min 9", "ok"},
      {"g 10 min", "ok [u64: 9]"},
      {"c trie", created(11)}, {"i 11 abcd", "ok"}, {"g 11 ucontain ABCD", "ok [u08: 1]"},
      {"d 11 all", "ok"}, {"g 11 key_type", "ok [string: \"string\"]"},
  };
  testing::command_runner r;
  for (const exchange& e : script) EXPECT_EQ(r.run(e.line), e.reply) << e.line;
}

// b and r as command lines: the path is the second token, quoted when it holds spaces. What the
// image holds and every refusal of a file are persistence's tests.
TEST(ImageCommands, BackUpAndRestoreByAQuotedPath) {
  const std::string path = ::testing::TempDir() + "zor image commands test.img";
  std::remove(path.c_str());
  const std::string quoted = "\"" + path + "\"";
  testing::command_runner r;
  ASSERT_EQ(r.run("c vector i32 v"), created(0));
  ASSERT_EQ(r.run("i \"v\" last 5"), "ok");
  EXPECT_EQ(r.run("b " + quoted), "ok");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(r.run("b " + quoted), "false");  // never overwritten
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "exists file named " + path + "\n");
  EXPECT_EQ(r.run("d \"v\" all"), "ok");
  EXPECT_EQ(r.run("r " + quoted), "ok");
  EXPECT_EQ(r.run("g \"v\" all"), "ok [i32: 5]");
  std::remove(path.c_str());
}

}  // namespace
}  // namespace qn::db::nosql
