// The real kinds through whole command lines: each family reaches every kind as its own
// adt<K, V>, over key and value types of every category, and its reply carries the container's
// own descriptors. What each kind does with an operation is pinned in containers/; here one
// script per kind checks that the command layer gets there with the right types and arguments.
// List node handles are the word tests' (as arguments of every family) and the list kind's;
// backup and restore, hash maps, vectors and tries are the documented examples' (cli_test).
#include <gtest/gtest.h>

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
      {"c hashtable i08 256", created(4)}, {"i 4 -3", "ok"}, {"d 4 equal -3", "ok"},
      {"g 4 all", "ok [i08:]"},
      {"c deque time", created(5)}, {"i 5 last 08:00:00", "ok"}, {"i 5 first 07:30:00.5", "ok"},
      {"d 5 last", "ok"}, {"g 5 first_n 2", "ok [time: 07:30:00.500000000]"},
      {"c stack i64", created(6)}, {"i 6 last -9000000000", "ok"}, {"i 6 first 1", "false"},
      {"g 6 last", "ok [i64: -9000000000]"},
      {"c queue u32", created(7)}, {"i 7 last 1", "ok"}, {"s 7 first 2", "ok"},
      {"g 7 first", "ok [u32: 2]"},
      {"c heap u64", created(8)}, {"i 8 5", "ok"}, {"s 8 min 9", "ok"},
      {"g 8 min", "ok [u64: 9]"},
  };
  testing::command_runner r;
  for (const exchange& e : script) EXPECT_EQ(r.run(e.line), e.reply) << e.line;
}

}  // namespace
}  // namespace qn::db::nosql
