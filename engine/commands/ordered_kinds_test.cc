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

TEST(OrderedKinds, MultisetReadWords) {
  run_script({
      {"c multiset i32", slot0},
      {"i 0 5", "ok"},
      {"i 0 5", "ok"},
      {"i 0 5", "ok"},
      {"i 0 3", "ok"},
      {"i 0 9", "ok"},
      {"i 0 12", "ok"},
      {"g 0 all", "ok [i32: 3 5 5 5 9 12]"},
      {"g 0 lege 5 9", "ok [i32: 5 5 5 9]"},
      {"g 0 legt 5 9", "ok [i32: 9]"},
      {"g 0 ltge 5 9", "ok [i32: 5 5 5]"},
      {"g 0 ltgt 3 12", "ok [i32: 5 5 5 9]"},
      {"g 0 ltgt 5 5", "ok [i32:]"},
      {"g 0 lege 6 8", "ok [i32:]"},
      {"g 0 gt 5", "ok [i32: 9 12]"},
      {"g 0 ge 5", "ok [i32: 5 5 5 9 12]"},
      {"g 0 lt 5", "ok [i32: 3]"},
      {"g 0 le 5", "ok [i32: 3 5 5 5]"},
      {"g 0 gt 12", "ok [i32:]"},
      {"g 0 max", "ok [i32: 12]"},
      {"g 0 min", "ok [i32: 3]"},
      {"g 0 min_n 2", "ok [i32: 3 5]"},
      {"g 0 min_n 4", "ok [i32: 3 5 5 5]"},
      {"g 0 min_n 99", "ok [i32: 3 5 5 5 9 12]"},
      {"g 0 min_n 0", "ok [i32:]"},
      {"g 0 max_n 4", "ok [i32: 5 5 9 12]"},
      {"g 0 rank 3", "ok [u64: 0]"},
      {"g 0 rank 9", "ok [u64: 4]"},
      {"g 0 rank 12", "ok [u64: 5]"},
      // The copy of 5 met first from the root: the tree of 5 5 5 3 9 12 has the second 5 at its
      // root, after 3 and the first 5.
      {"g 0 rank 5", "ok [u64: 2]"},
      {"g 0 rank 4", "ok"},
      {"g 0 rank x", "false"},
      {"g 0 key_type", "ok [string: \"i32\"]"},
      {"g 0 val_type", "ok [string: \"u08\"]"},
      {"g 0 value 5", "ok"},
      {"d 0 all", "ok"},
      {"g 0 max", "ok"},  // empty: no item
      {"g 0 min", "ok"},
      {"g 0 min_n 2", "ok [i32:]"},
      {"g 0 rank 5", "ok"},
  });
}

// A multiset replaces every selected copy; its answer is the query's, so a selection of nothing
// succeeds, and only max and min of an empty multiset fail.
TEST(OrderedKinds, MultisetWriteWordsReplaceEverySelectedCopy) {
  run_script({
      {"c multiset i32", slot0},
      {"i 0 10", "ok"},
      {"i 0 20", "ok"},
      {"i 0 20", "ok"},
      {"i 0 30", "ok"},
      {"s 0 legt 10 20 15", "ok"},
      {"g 0 all", "ok [i32: 10 15 15 30]"},
      {"s 0 legt 10 14 99", "ok"},
      {"s 0 ltge 10 15 11", "ok"},
      {"g 0 all", "ok [i32: 11 15 15 30]"},
      {"s 0 ltgt 11 30 20", "ok"},
      {"s 0 ltgt 20 30 0", "ok"},
      {"g 0 all", "ok [i32: 11 20 20 30]"},
      {"s 0 ge 20 25", "ok"},
      {"g 0 all", "ok [i32: 11 25 25 25]"},
      {"s 0 lt 25 1", "ok"},
      {"s 0 le 25 2", "ok"},
      {"s 0 le 1 7", "ok"},
      {"g 0 all", "ok [i32: 2 2 2 2]"},
      {"s 0 max_n 2 8", "ok"},
      {"g 0 all", "ok [i32: 2 2 8 8]"},
      {"s 0 min_n 3 4", "ok"},
      {"s 0 min_n 0 9", "ok"},
      {"g 0 all", "ok [i32: 4 4 4 8]"},
      {"s 0 min 0", "ok"},
      {"g 0 all", "ok [i32: 0 4 4 8]"},
      {"s 0 max 0", "ok"},
      {"g 0 all", "ok [i32: 0 0 4 4]"},
      {"s 0 lt 9 5x", "false"},
      {"s 0 legt 1 x 5", "false"},
      {"s 0 max_n x 5", "false"},
      {"g 0 all", "ok [i32: 0 0 4 4]"},
      {"d 0 all", "ok"},
      {"s 0 min 1", "false"},
      {"s 0 min_n 2 1", "ok"},
      {"s 0 ge 0 1", "ok"},
      {"g 0 count", "ok [u64: 0]"},
  });
}

// A multiset's removal answers true only when it removed something.
TEST(OrderedKinds, MultisetDeleteWords) {
  run_script({
      {"c multiset i32", slot0},
      {"i 0 1", "ok"},
      {"i 0 2", "ok"},
      {"i 0 2", "ok"},
      {"i 0 3", "ok"},
      {"i 0 4", "ok"},
      {"i 0 5", "ok"},
      {"i 0 5", "ok"},
      {"i 0 6", "ok"},
      {"i 0 7", "ok"},
      {"i 0 8", "ok"},
      {"i 0 9", "ok"},
      {"d 0 lege 2 3", "ok"},
      {"d 0 lege 2 3", "false"},
      {"d 0 legt 4 5", "ok"},
      {"d 0 legt 4 5", "false"},
      {"d 0 ltgt 1 6", "ok"},
      {"d 0 ltgt 1 6", "false"},
      {"g 0 all", "ok [i32: 1 6 7 8 9]"},
      {"d 0 gt 8", "ok"},
      {"d 0 gt 8", "false"},
      {"d 0 ge 8", "ok"},
      {"d 0 lt 6", "ok"},
      {"d 0 lt 6", "false"},
      {"d 0 le 5", "false"},
      {"d 0 le 6", "ok"},
      {"d 0 ge 8", "false"},
      {"d 0 gt x", "false"},
      {"g 0 all", "ok [i32: 7]"},
      {"i 0 1", "ok"},
      {"i 0 1", "ok"},
      {"i 0 3", "ok"},
      {"i 0 3", "ok"},
      {"d 0 min", "ok"},  // one copy only
      {"g 0 all", "ok [i32: 1 3 3 7]"},
      {"d 0 max", "ok"},
      {"d 0 min_n 2", "ok"},
      {"d 0 min_n 0", "false"},
      {"g 0 all", "ok [i32: 3]"},
      {"d 0 all", "ok"},
      {"d 0 all", "ok"},  // clearing an empty multiset succeeds
      {"d 0 max", "false"},
      {"d 0 min", "false"},
      {"d 0 min_n 3", "false"},
      {"d 0 lt 99", "false"},
      {"g 0 count", "ok [u64: 0]"},
  });
}

// The same removals on a set (slot 0) and a multiset (slot 1) holding the same elements: the set
// answers its query's answer, the multiset whether anything went.
TEST(OrderedKinds, SelectionEraseAnswerOfSetAndMultiset) {
  struct row {
    const char* family;
    const char* rest;
    const char* set_reply;
    const char* multiset_reply;
  };
  const row rows[] = {
      {"i", "10", "ok", "ok"},
      {"i", "20", "ok", "ok"},
      {"i", "30", "ok", "ok"},
      {"d", "gt 30", "ok", "false"},
      {"d", "lege 11 19", "ok", "false"},
      {"d", "ltgt 10 20", "ok", "false"},
      {"d", "equal 15", "ok", "false"},
      {"d", "max_n 0", "ok", "false"},
      {"g", "all", "ok [i32: 10 20 30]", "ok [i32: 10 20 30]"},
      {"d", "ge 30", "ok", "ok"},
      {"d", "min", "ok", "ok"},
      {"d", "max", "ok", "ok"},
      {"g", "count", "ok [u64: 0]", "ok [u64: 0]"},
      {"d", "min", "false", "false"},
      {"d", "lt 99", "ok", "false"},
      {"d", "min_n 1", "ok", "false"},
  };
  testing::command_runner r;
  ASSERT_EQ(r.run("c set i32"), slot0);
  ASSERT_EQ(r.run("c multiset i32"), slot1);
  for (const row& e : rows) {
    const std::string tail = std::string(" ") + e.rest;
    EXPECT_EQ(r.run(std::string(e.family) + " 0" + tail), e.set_reply) << e.family << tail;
    EXPECT_EQ(r.run(std::string(e.family) + " 1" + tail), e.multiset_reply) << e.family << tail;
  }
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

// String keys compare byte by byte as signed 8-bit numbers, so a leading byte of 0x80 or above
// sorts before every ASCII byte; over an equal common part the shorter key comes first.
TEST(OrderedKinds, StringKeysOrderBytesAsSigned) {
  run_script({
      {"c map string i32", slot0},
      {"i 0 A 1", "ok"},
      {"i 0 \"\\xC3\" 2", "ok"},
      {"i 0 \"\\xC3A\" 3", "ok"},
      {"i 0 \"\\xC3\\x80\" 4", "ok"},
      {"i 0 \"\\x80\" 5", "ok"},
      {"i 0 a 6", "ok"},
      {"i 0 AB 7", "ok"},
      {"i 0 \"\\xC3\" 8", "false"},
      {"g 0 all", "ok [string: \"\\x80\" \"\\xc3\" \"\\xc3\\x80\" \"\\xc3A\" \"A\" \"AB\" \"a\"]"},
      {"g 0 min", "ok [string: \"\\x80\"]"},
      {"g 0 max", "ok [string: \"a\"]"},
      {"g 0 value \"\\xC3\"", "ok [i32: 2]"},
      {"g 0 value \"\\xC3A\"", "ok [i32: 3]"},
      {"c set string", slot1},
      {"i 1 A", "ok"},
      {"i 1 \"\\xC3\"", "ok"},
      {"i 1 \"\\xC3A\"", "ok"},
      {"i 1 AB", "ok"},
      {"g 1 all", "ok [string: \"\\xc3\" \"\\xc3A\" \"A\" \"AB\"]"},
      {"g 1 lt A", "ok [string: \"\\xc3\" \"\\xc3A\"]"},
      {"g 1 rank A", "ok [u64: 2]"},
      {"g 1 rank \"\\xC3A\"", "ok [u64: 1]"},
      {"g 1 ltge \"\\xC3\" A", "ok [string: \"\\xc3\" \"\\xc3A\"]"},
      {"g 1 min", "ok [string: \"\\xc3\"]"},
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

TEST(OrderedKinds, MultimapEndsTypesAndClear) {
  run_script({
      {"c multimap u16 date mm", slot0},
      {"g \"mm\" max", "ok"},  // empty: no item
      {"g \"mm\" min", "ok"},
      {"g \"mm\" key_type", "ok [string: \"u16\"]"},
      {"g \"mm\" val_type", "ok [string: \"date\"]"},
      {"i \"mm\" 9 2024-02-29", "ok"},
      {"i \"mm\" 40000 2025-01-01", "ok"},  // above the i16 range: unsigned order
      {"i \"mm\" 9 2024-03-01", "ok"},
      {"i \"mm\" 2 2020-10-16", "ok"},
      {"g \"mm\" max", "ok [u16: 40000]"},
      {"g \"mm\" min", "ok [u16: 2]"},
      {"g \"mm\" all", "ok [u16: 2 9 9 40000]"},
      {"d \"mm\" max", "ok"},
      {"g \"mm\" max", "ok [u16: 9]"},
      {"d \"mm\" max", "ok"},  // the later entry of 9
      {"g \"mm\" value 9", "ok [date: 2024-02-29]"},
      {"g \"mm\" max", "ok [u16: 9]"},
      {"d \"mm\" all", "ok"},
      {"g \"mm\" count", "ok [u64: 0]"},
      {"g \"mm\" all", "ok [u16:]"},
      {"g \"mm\" max", "ok"},
      {"g \"mm\" min", "ok"},
      {"g \"mm\" value 9", "ok"},
      {"d \"mm\" all", "ok"},  // clearing an empty multimap succeeds
      {"i \"mm\" 5 2024-01-31", "ok"},
      {"g \"mm\" min", "ok [u16: 5]"},
  });
}

}  // namespace
}  // namespace qn::db::nosql
