// The ordered kinds (map, multimap, set, multiset) through whole command lines: creation, and
// every word of the read, write, insert and delete families that reaches them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/commands/test_support.h"

namespace qn::db::nosql {
namespace {

struct exchange {
  const char* line;
  const char* reply;
};

// Runs the lines in order on one fresh registry; every reply must match.
void run_script(const std::vector<exchange>& script) {
  testing::command_runner r;
  for (const exchange& e : script) EXPECT_EQ(r.run(e.line), e.reply) << e.line;
}

constexpr const char* slot0 = "ok [vkey u64: 0] [vkey(hex) string: \"0x0\"]";
constexpr const char* slot1 = "ok [vkey u64: 1] [vkey(hex) string: \"0x1\"]";

// ---- set ----

TEST(OrderedKinds, SetReadWords) {
  run_script({
      {"c set i32", slot0},
      {"i 0 5", "ok"},
      {"i 0 10", "ok"},
      {"i 0 15", "ok"},
      {"i 0 20 0", "ok"},  // four tokens: key, then the (ignored) u08 value
      {"i 0 5", "false"},
      {"g 0 count", "ok [u64: 4]"},
      {"g 0 all", "ok [i32: 5 10 15 20]"},
      {"g 0 ltge 10 20", "ok [i32: 10 15]"},
      {"g 0 legt 10 20", "ok [i32: 15 20]"},
      {"g 0 lege 10 20", "ok [i32: 10 15 20]"},
      {"g 0 ltgt 10 20", "ok [i32: 15]"},
      {"g 0 ltgt 20 10", "ok [i32:]"},
      {"g 0 rank 15", "ok [u64: 2]"},
      {"g 0 rank 16", "ok"},
      {"g 0 equal 10", "ok [i32: 10]"},
      {"g 0 equal 99", "ok [i32:]"},
      {"g 0 gt 10", "ok [i32: 15 20]"},
      {"g 0 ge 10", "ok [i32: 10 15 20]"},
      {"g 0 lt 15", "ok [i32: 5 10]"},
      {"g 0 le 15", "ok [i32: 5 10 15]"},
      {"g 0 max", "ok [i32: 20]"},
      {"g 0 min", "ok [i32: 5]"},
      {"g 0 max_n 2", "ok [i32: 15 20]"},
      {"g 0 min_n 9", "ok [i32: 5 10 15 20]"},
      {"g 0 min_n 0", "ok [i32:]"},
      {"g 0 con_type", "ok [string: \"set\"]"},
      {"g 0 key_type", "ok [string: \"i32\"]"},
      {"g 0 val_type", "ok [string: \"u08\"]"},
      {"g 0 value 5", "ok"},  // sets keep no values
      {"g 0 nth 1", "ok"},
      {"g 0 rank x1", "false"},
      {"g 0 ltge 10", "ok [i32:]"},  // an absent B reads as 0
  });
}

TEST(OrderedKinds, SetWriteWordsFollowTheReplaceRule) {
  run_script({
      {"c set i32 a", slot0},
      {"i \"a\" 3", "ok"},
      {"i \"a\" 4", "ok"},
      {"s \"a\" equal 3 4", "ok"},  // one selected, 4 present: 3 is put back
      {"g \"a\" all", "ok [i32: 3 4]"},
      {"c set i32 b", slot1},
      {"i 1 3", "ok"},
      {"s 1 equal 3 4", "ok"},
      {"g 1 all", "ok [i32: 4]"},
      {"s 1 equal 3 5", "false"},
      {"s 1 equal 3 5x", "false"},
      {"d 1 all", "ok"},
      {"i 1 12", "ok"},
      {"s 1 lege 10 20 15", "ok"},
      {"g 1 all", "ok [i32: 15]"},
      {"i 1 18", "ok"},
      {"s 1 lege 10 20 16", "false"},
      {"s 1 legt 15 20 19", "ok"},
      {"s 1 ltge 15 19 1", "ok"},
      {"s 1 ltgt 1 19 2", "false"},
      {"g 1 all", "ok [i32: 1 19]"},
      {"s 1 gt 1 30", "ok"},
      {"s 1 ge 30 31", "ok"},
      {"s 1 lt 31 0", "ok"},
      {"s 1 le 0 2", "ok"},
      {"g 1 all", "ok [i32: 2 31]"},
      {"s 1 max 40", "ok"},
      {"s 1 min 1", "ok"},
      {"s 1 max_n 1 41", "ok"},
      {"s 1 min_n 2 0", "false"},
      {"s 1 min_n 1 0", "ok"},
      {"g 1 all", "ok [i32: 0 41]"},
      {"s 1 value 0 7", "false"},
      {"s 1 first 7", "false"},
  });
}

TEST(OrderedKinds, SetDeleteWords) {
  run_script({
      {"c set i32", slot0},
      {"i 0 5", "ok"},
      {"i 0 10", "ok"},
      {"i 0 15", "ok"},
      {"i 0 20", "ok"},
      {"d 0 ltge 10 20", "ok"},
      {"g 0 all", "ok [i32: 5 20]"},
      {"d 0 ltge 10 20", "ok"},  // nothing selected: a set still answers true
      {"d 0 equal 99", "ok"},
      {"d 0 all", "ok"},
      {"d 0 max", "false"},
      {"d 0 min", "false"},
      {"i 0 1", "ok"},
      {"i 0 2", "ok"},
      {"i 0 3", "ok"},
      {"i 0 4", "ok"},
      {"i 0 5", "ok"},
      {"i 0 6", "ok"},
      {"i 0 7", "ok"},
      {"i 0 8", "ok"},
      {"i 0 9", "ok"},
      {"d 0 lege 1 2", "ok"},
      {"d 0 legt 2 3", "ok"},
      {"d 0 ltgt 3 5", "ok"},
      {"g 0 all", "ok [i32: 5 6 7 8 9]"},
      {"d 0 gt 8", "ok"},
      {"d 0 lt 6", "ok"},
      {"d 0 ge 8", "ok"},
      {"d 0 le 6", "ok"},
      {"g 0 all", "ok [i32: 7]"},
      {"i 0 1", "ok"},
      {"i 0 2", "ok"},
      {"i 0 3", "ok"},
      {"d 0 max", "ok"},
      {"d 0 min", "ok"},
      {"d 0 max_n 0", "ok"},
      {"d 0 min_n 1", "ok"},
      {"g 0 all", "ok [i32: 3]"},
      {"d 0 first", "false"},
      {"d 0 equal 3", "ok"},
      {"g 0 count", "ok [u64: 0]"},
  });
}

// ---- multiset ----

TEST(OrderedKinds, MultisetKeepsCopies) {
  run_script({
      {"c multiset i32 ms", slot0},
      {"i \"ms\" 5", "ok"},
      {"i \"ms\" 5", "ok"},
      {"i \"ms\" 5", "ok"},
      {"i \"ms\" 9", "ok"},
      {"g \"ms\" equal 5", "ok [i32: 5 5 5]"},
      {"g \"ms\" count", "ok [u64: 4]"},
      {"g \"ms\" max_n 2", "ok [i32: 5 9]"},
      {"g \"ms\" con_type", "ok [string: \"multiset\"]"},
      {"s \"ms\" equal 5 7", "ok"},
      {"g \"ms\" all", "ok [i32: 7 7 7 9]"},
      {"s \"ms\" lege 0 100 8", "ok"},
      {"g \"ms\" all", "ok [i32: 8 8 8 8]"},
      {"s \"ms\" gt 8 1", "ok"},  // nothing selected: the answer is the query's
      {"d \"ms\" equal 7", "false"},
      {"d \"ms\" max_n 0", "false"},
      {"d \"ms\" max_n 3", "ok"},
      {"d \"ms\" ltge 0 9", "ok"},
      {"d \"ms\" ltge 0 9", "false"},
      {"g \"ms\" count", "ok [u64: 0]"},
      {"s \"ms\" max 1", "false"},
  });
}

// ---- map ----

TEST(OrderedKinds, MapWords) {
  run_script({
      {"c map i32 string m", slot0},
      {"i \"m\" 5", "ok"},  // three tokens: the empty string as value
      {"i \"m\" 5 abc", "false"},
      {"i \"m\" 6 abc", "ok"},
      {"g \"m\" value 5", "ok [string: \"\"]"},
      {"g \"m\" value 6", "ok [string: \"abc\"]"},
      {"g \"m\" value 7", "ok"},
      {"g \"m\" equal 6", "ok [i32: 6]"},
      {"g \"m\" equal 99", "ok"},  // a map answers false for an absent key: no item
      {"g \"m\" all", "ok [i32: 5 6]"},
      {"g \"m\" max", "ok [i32: 6]"},
      {"g \"m\" min", "ok [i32: 5]"},
      {"g \"m\" count", "ok [u64: 2]"},
      {"g \"m\" con_type", "ok [string: \"map\"]"},
      {"g \"m\" val_type", "ok [string: \"string\"]"},
      {"g \"m\" rank 5", "ok"},
      {"g \"m\" gt 1", "ok"},
      {"s \"m\" value 6 xyz", "ok"},
      {"s \"m\" value 8 xyz", "false"},
      {"g \"m\" value 6", "ok [string: \"xyz\"]"},
      {"s \"m\" equal 5 6", "false"},  // 6 is a key already: both entries stay
      {"g \"m\" value 5", "ok [string: \"\"]"},
      {"s \"m\" equal 5 7", "ok"},
      {"g \"m\" all", "ok [i32: 6 7]"},
      {"g \"m\" value 7", "ok [string: \"\"]"},
      {"s \"m\" max 9", "ok"},
      {"s \"m\" min 9", "false"},
      {"s \"m\" min 1", "ok"},
      {"g \"m\" all", "ok [i32: 1 9]"},
      {"g \"m\" value 1", "ok [string: \"xyz\"]"},
      {"s \"m\" gt 1 2", "false"},
      {"d \"m\" gt 1", "false"},
      {"d \"m\" equal 1", "ok"},
      {"d \"m\" equal 1", "false"},
      {"d \"m\" max", "ok"},
      {"d \"m\" min", "false"},
      {"d \"m\" all", "ok"},
      {"s \"m\" max 1", "false"},
  });
}

TEST(OrderedKinds, MapOverOtherTypes) {
  run_script({
      {"c map datetime i08", slot0},
      {"g 0 key_type", "ok [string: \"datetime\"]"},
      {"g 0 con_type", "ok [string: \"map\"]"},
      {"c map string i32", slot1},
      {"i 1 last 5", "false"},  // an unquoted f or l key is taken as a word
      {"i 1 \"last\" 5", "ok"},
      {"i 1 B 1", "ok"},
      {"i 1 ab 2", "ok"},
      {"i 1 a 3", "ok"},
      {"g 1 all", "ok [string: \"B\" \"a\" \"ab\" \"last\"]"},
      {"g 1 value ab", "ok [i32: 2]"},
  });
}

// ---- multimap ----

TEST(OrderedKinds, MultimapWords) {
  run_script({
      {"c multimap i32 string mm", slot0},
      {"i \"mm\" 7 a", "ok"},
      {"i \"mm\" 7 b", "ok"},
      {"i \"mm\" 7 c", "ok"},
      {"i \"mm\" 7 c", "ok"},
      {"i \"mm\" 3", "ok"},
      {"g \"mm\" value 7", "ok [string: \"a\" \"b\" \"c\" \"c\"]"},
      {"g \"mm\" equal 7", "ok [i32: 7 7 7 7]"},
      {"g \"mm\" equal 8", "ok [i32:]"},  // a multimap answers true with nothing found
      {"g \"mm\" all", "ok [i32: 3 7 7 7 7]"},
      {"g \"mm\" count", "ok [u64: 5]"},
      {"g \"mm\" con_type", "ok [string: \"multimap\"]"},
      {"s \"mm\" value 7 z", "ok"},
      {"g \"mm\" value 7", "ok [string: \"z\" \"z\" \"z\" \"z\"]"},
      {"s \"mm\" equal 3 7", "ok"},  // always accepted, behind the entries of 7
      {"g \"mm\" value 7", "ok [string: \"z\" \"z\" \"z\" \"z\" \"\"]"},
      {"s \"mm\" equal 7 7", "ok"},  // onto itself: nothing to move
      {"s \"mm\" equal 8 9", "false"},
      {"s \"mm\" min 1", "ok"},
      {"s \"mm\" max 2", "ok"},
      {"g \"mm\" all", "ok [i32: 1 2 7 7 7]"},
      {"d \"mm\" equal 7", "ok"},
      {"d \"mm\" equal 7", "false"},
      {"d \"mm\" max", "ok"},
      {"d \"mm\" min", "ok"},
      {"d \"mm\" min", "false"},
  });
}

}  // namespace
}  // namespace qn::db::nosql
