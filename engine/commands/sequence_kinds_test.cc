// The sequence kinds (vector, deque, list), the adaptors (stack, queue, heap) and the trie through
// whole command lines: creation, and every word of the read, write, insert and delete families
// that reaches them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/commands/test_support.h"

namespace qn::db::nosql {
namespace {

struct exchange {
  std::string line;
  std::string reply;
};

// Runs the lines in order on the runner; every reply must match.
void run_script(testing::command_runner& r, const std::vector<exchange>& script) {
  for (const exchange& e : script) EXPECT_EQ(r.run(e.line), e.reply) << e.line;
}
void run_script(const std::vector<exchange>& script) {
  testing::command_runner r;
  run_script(r, script);
}

const std::string slot0 = "ok [vkey u64: 0] [vkey(hex) string: \"0x0\"]";
const std::string slot1 = "ok [vkey u64: 1] [vkey(hex) string: \"0x1\"]";

// The number of a reply "ok [u64: N]"; 0 for any other reply.
uint64_t number_in(const std::string& reply) {
  const std::string prefix = "ok [u64: ";
  if (reply.compare(0, prefix.size(), prefix) != 0) return 0;
  return std::stoull(reply.substr(prefix.size()));
}

// ---- vector, deque, list: the positional words ----

// The words every sequence kind answers alike, run on each of the three.
std::vector<exchange> positional_script(const std::string& kind) {
  return {
      {"c " + kind + " i32", slot0},
      {"g 0 con_type", "ok [string: \"" + kind + "\"]"},
      {"g 0 key_type", "ok [string: \"i32\"]"},
      {"g 0 val_type", "ok [string: \"u08\"]"},
      {"g 0 count", "ok [u64: 0]"},
      {"g 0 all", "ok [i32:]"},
      {"g 0 first", "ok"},
      {"g 0 nth 1", "ok"},
      {"i 0 nth 1 7", "ok"},  // an empty sequence takes position 1
      {"i 0 nth 3 7", "false"},
      {"i 0 nth 2 8", "ok"},  // count + 1 appends
      {"i 0 first 6", "ok"},
      {"i 0 last 9", "ok"},
      {"i 0 fxx 5", "ok"},  // any word beginning with f is first
      {"i 0 7", "false"},   // a sequence has no keys to insert
      {"i 0 x 1 2", "false"},
      {"i 0 nth 0 1", "false"},
      {"i 0 nth 1 1x", "false"},
      {"g 0 all", "ok [i32: 5 6 7 8 9]"},
      {"g 0 count", "ok [u64: 5]"},
      {"g 0 first", "ok [i32: 5]"},
      {"g 0 last", "ok [i32: 9]"},
      {"g 0 nth 2", "ok [i32: 6]"},
      {"g 0 nth 0", "ok"},
      {"g 0 nth 6", "ok"},
      {"g 0 nth x1", "false"},
      {"g 0 first_n 2", "ok [i32: 5 6]"},
      {"g 0 first_n 10", "ok [i32: 5 6 7 8 9]"},
      {"g 0 first_n 0", "ok"},
      {"g 0 last_n 2", "ok [i32: 8 9]"},
      {"g 0 range 2 4", "ok [i32: 6 7 8]"},
      {"g 0 range 4 99", "ok [i32: 8 9]"},
      {"g 0 range 3 2", "ok"},
      {"g 0 range 6 7", "ok"},
      {"g 0 index 8", "ok [u64: 3]"},
      {"g 0 index 4", "ok"},
      {"g 0 max", "ok"},  // words of other kinds find nothing
      {"g 0 contain 5", "ok"},
      {"s 0 nth 2 60", "ok"},
      {"s 0 nth 0 7", "false"},
      {"s 0 nth 6 7", "false"},
      {"s 0 first 50", "ok"},
      {"s 0 last 90", "ok"},
      {"g 0 all", "ok [i32: 50 60 7 8 90]"},
      {"s 0 range 2 99 0", "ok"},
      {"g 0 all", "ok [i32: 50 0 0 0 0]"},
      {"s 0 range 3 2 1", "false"},
      {"s 0 first_n 2 1", "ok"},
      {"s 0 last_n 2 2", "ok"},
      {"g 0 all", "ok [i32: 1 1 0 2 2]"},
      {"s 0 first_n 0 1", "false"},
      {"s 0 all 4", "ok"},
      {"s 0 all 5x", "false"},
      {"s 0 zz 5x", "false"},  // the value is parsed before the word is looked at
      {"s 0 min 1", "false"},
      {"g 0 all", "ok [i32: 4 4 4 4 4]"},
      {"d 0 first", "ok"},
      {"d 0 last", "ok"},
      {"g 0 count", "ok [u64: 3]"},
      {"d 0 first_n 0", "false"},
      {"d 0 last_n 0", "false"},
      {"d 0 first_n 10", "ok"},
      {"g 0 count", "ok [u64: 0]"},
      {"d 0 first", "false"},
      {"d 0 last", "false"},
      {"d 0 last_n 1", "ok"},
      {"d 0 min", "false"},
      {"d 0 all", "ok"},
      {"s 0 first 9", "false"},
  };
}

TEST(SequenceKinds, PositionalWordsOnEveryKind) {
  for (const char* kind : {"vector", "deque", "list"}) {
    SCOPED_TRACE(kind);
    run_script(positional_script(kind));
  }
}

TEST(SequenceKinds, RemovalByPositionAndRange) {
  for (const char* kind : {"vector", "list"}) {
    SCOPED_TRACE(kind);
    run_script({
        {std::string("c ") + kind + " i32 s", slot0},
        {"i \"s\" last 10", "ok"},
        {"i \"s\" last 20", "ok"},
        {"i \"s\" last 30", "ok"},
        {"i \"s\" last 40", "ok"},
        {"d \"s\" range 2 3", "ok"},
        {"g \"s\" all", "ok [i32: 10 40]"},
        {"d \"s\" range 3 4", "false"},
        {"d \"s\" nth 0", "false"},
        {"d \"s\" nth 3", "false"},
        {"d \"s\" nth 2", "ok"},
        {"g \"s\" all", "ok [i32: 10]"},
        {"d \"s\" nth x", "false"},
    });
  }
  // The deque removes only at its ends.
  run_script({
      {"c deque i32", slot0},
      {"i 0 last 1", "ok"},
      {"i 0 last 2", "ok"},
      {"d 0 nth 1", "false"},
      {"d 0 range 1 2", "false"},
      {"g 0 all", "ok [i32: 1 2]"},
  });
}

TEST(SequenceKinds, DequeFrontInsertsComeFirst) {
  run_script({
      {"c deque i32", slot0},
      {"i 0 first 1", "ok"},
      {"i 0 first 2", "ok"},
      {"i 0 last 3", "ok"},
      {"g 0 all", "ok [i32: 2 1 3]"},
  });
}

TEST(SequenceKinds, OtherKeyTypes) {
  run_script({
      {"c vector string", slot0},
      {"i 0 last abc", "ok"},
      {"i 0 last \"two words\"", "ok"},
      {"i 0 first \"\"", "ok"},
      {"g 0 all", "ok [string: \"\" \"abc\" \"two words\"]"},
      {"g 0 index abc", "ok [u64: 1]"},
      {"c deque date", slot1},
      {"i 1 last 2024-02-29", "ok"},
      {"i 1 last 2023-02-29", "false"},
      {"i 1 first 2000-01-01", "ok"},
      {"g 1 all", "ok [date: 2000-01-01 2024-02-29]"},
  });
}

// ---- list handles ----

TEST(SequenceKinds, ListHandlesWalkAndChangeTheList) {
  testing::command_runner r;
  run_script(r, {
                    {"c list i32", slot0},
                    {"i 0 last 5", "ok"},
                    {"i 0 last 6", "ok"},
                    {"i 0 last 7", "ok"},
                    {"g 0 ptr 8", "ok"},
                    {"g 0 ptr x", "false"},
                });
  const uint64_t five = number_in(r.run("g 0 ptr 5"));
  const uint64_t six = number_in(r.run("g 0 ptr 6"));
  const uint64_t seven = number_in(r.run("g 0 ptr 7"));
  ASSERT_NE(five, 0u);
  ASSERT_NE(six, 0u);
  ASSERT_NE(seven, 0u);
  const std::string h5 = std::to_string(five), h6 = std::to_string(six), h7 = std::to_string(seven);
  run_script(r, {
                    {"g 0 ptr_n " + h5, "ok [u64: " + h6 + "]"},
                    {"g 0 ptr_n " + h7, "ok [u64: 0]"},
                    {"g 0 ptr_n 0", "ok [u64: 0]"},
                    {"g 0 ptr_p " + h6, "ok [u64: " + h5 + "]"},
                    {"g 0 ptr_p " + h5, "ok [u64: 0]"},
                    {"g 0 val " + h6, "ok [i32: 6]"},
                    {"i 0 val " + h5 + " 4", "ok"},  // before the first node
                    {"i 0 val " + h7 + " 65", "ok"},
                    {"i 0 val 0 8", "ok"},  // handle 0 appends
                    {"g 0 all", "ok [i32: 4 5 6 65 7 8]"},
                    {"s 0 val " + h6 + " 60", "ok"},
                    {"s 0 val " + h6 + " 6x", "false"},
                    {"d 0 ptr " + h5, "ok"},
                    {"g 0 all", "ok [i32: 4 60 65 7 8]"},
                    // The erased node's handle names nothing any more.
                    {"g 0 val " + h5, "ok"},
                    {"g 0 ptr_n " + h5, "ok"},
                    {"d 0 ptr " + h5, "false"},
                    {"s 0 val " + h5 + " 1", "false"},
                    {"i 0 val " + h5 + " 1", "false"},
                    // Numbers that were never handles.
                    {"g 0 val 12345", "ok"},
                    {"g 0 val 0", "ok"},
                    {"d 0 ptr 0", "false"},
                    {"d 0 ptr 1", "false"},
                    {"d 0 ptr x", "false"},
                    {"g 0 all", "ok [i32: 4 60 65 7 8]"},
                });
  // A handle of one list means nothing to another.
  run_script(r, {
                    {"c list i32", slot1},
                    {"i 1 last 6", "ok"},
                    {"g 1 val " + h6, "ok"},
                    {"d 1 ptr " + h6, "false"},
                    {"g 1 all", "ok [i32: 6]"},
                });
}

TEST(SequenceKinds, OnlyListsHaveHandles) {
  run_script({
      {"c vector i32", slot0},
      {"i 0 last 5", "ok"},
      {"g 0 ptr 5", "ok"},
      {"g 0 ptr_n 0", "ok"},
      {"i 0 val 0 1", "false"},
      {"d 0 ptr 1", "false"},
      {"s 0 val 1 1", "false"},
  });
}

// ---- stack, queue, heap ----

TEST(AdaptorKinds, StackPushesAndPopsAtTheTop) {
  run_script({
      {"c stack i32", slot0},
      {"g 0 con_type", "ok [string: \"stack\"]"},
      {"d 0 last", "false"},
      {"i 0 last 1", "ok"},
      {"i 0 last 2", "ok"},
      {"i 0 last 3", "ok"},
      {"i 0 first 7", "false"},
      {"i 0 nth 1 7", "false"},
      {"g 0 last", "ok [i32: 3]"},
      {"g 0 first", "ok"},
      {"g 0 nth 1", "ok"},
      {"g 0 all", "ok [i32: 1 2 3]"},
      {"g 0 count", "ok [u64: 3]"},
      {"s 0 last 30", "ok"},
      {"s 0 first 10", "false"},
      {"g 0 all", "ok [i32: 1 2 30]"},
      {"d 0 last", "ok"},
      {"d 0 first", "false"},
      {"d 0 last", "ok"},
      {"g 0 all", "ok [i32: 1]"},
      {"s 0 all 9", "ok"},
      {"g 0 last", "ok [i32: 9]"},
      {"d 0 all", "ok"},
      {"g 0 count", "ok [u64: 0]"},
  });
}

TEST(AdaptorKinds, QueueTakesFromTheFront) {
  run_script({
      {"c queue i32 q", slot0},
      {"d 0 first", "false"},
      {"i 0 last 1", "ok"},
      {"i 0 last 2", "ok"},
      {"i 0 last 3", "ok"},
      {"i 0 first 0", "false"},
      {"g 0 first", "ok [i32: 1]"},
      {"g 0 last", "ok [i32: 3]"},
      {"g 0 index 3", "ok [u64: 2]"},
      {"g 0 nth 1", "ok"},
      {"d 0 first", "ok"},
      {"d 0 last", "false"},
      {"g 0 all", "ok [i32: 2 3]"},
      {"g 0 index 3", "ok [u64: 1]"},
      {"s 0 first 20", "ok"},
      {"s 0 last 30", "ok"},
      {"g 0 all", "ok [i32: 20 30]"},
      {"s 0 all 0", "ok"},
      {"g 0 all", "ok [i32: 0 0]"},
      {"g \"q\" count", "ok [u64: 2]"},
  });
}

TEST(AdaptorKinds, HeapKeepsTheSmallestOnTop) {
  run_script({
      {"c heap i32", slot0},
      {"g 0 min", "ok"},
      {"d 0 min", "false"},
      {"s 0 min 1", "false"},
      {"i 0 5", "ok"},
      {"i 0 3", "ok"},
      {"i 0 8 0", "ok"},
      {"i 0 1", "ok"},
      {"i 0 last 1", "false"},
      {"g 0 min", "ok [i32: 1]"},
      {"g 0 all", "ok [i32: 1 3 8 5]"},
      {"g 0 count", "ok [u64: 4]"},
      {"g 0 max", "ok"},
      {"s 0 min 9", "ok"},
      {"g 0 all", "ok [i32: 3 5 8 9]"},
      {"s 0 min 1", "ok"},
      {"g 0 min", "ok [i32: 1]"},
      {"d 0 min", "ok"},
      {"d 0 min", "ok"},
      {"d 0 min", "ok"},
      {"g 0 all", "ok [i32: 9]"},
      {"d 0 max", "false"},
      {"d 0 all", "ok"},
      {"c heap u08", slot1},
      {"i 1 250", "ok"},
      {"i 1 3", "ok"},
      {"g 1 min", "ok [u08: 3]"},
  });
}

// ---- trie ----

TEST(TrieKind, WordsAndLookups) {
  run_script({
      {"c trie", slot0},
      {"g 0 key_type", "ok [string: \"string\"]"},
      {"i 0 abcd", "ok"},
      {"i 0 abcd", "false"},
      {"i 0 car", "ok"},
      {"i 0 cart", "ok"},
      {"i 0 Car", "ok"},
      {"i 0 \"\"", "false"},
      {"g 0 count", "ok [u64: 4]"},
      {"g 0 all", "ok [string: \"Car\" \"abcd\" \"car\" \"cart\"]"},
      {"g 0 contain abc", "ok [u08: 0]"},
      {"g 0 ucontain abc", "ok [u08: 0]"},
      {"g 0 ucontain ABCD", "ok [u08: 1]"},
      {"g 0 contain ABCD", "ok [u08: 0]"},
      {"g 0 cxxx abcd", "ok [u08: 1]"},  // any four-byte c word is contain
      {"g 0 ucontain CART!", "ok [u08: 0]"},
      {"g 0 contain \"\"", "ok [u08: 0]"},
      {"g 0 first", "ok"},
      {"d 0 all", "ok"},
      {"g 0 count", "ok [u64: 0]"},
      {"c trie string", slot1},
      {"i 1 word", "ok"},
      {"g 1 contain word", "ok [u08: 1]"},
  });
}

TEST(TrieKind, OtherKeyTypesHoldNoWords) {
  run_script({
      {"c trie i32", slot0},
      {"i 0 5", "false"},
      {"g 0 count", "ok [u64: 0]"},
      {"g 0 all", "ok"},
      {"g 0 contain 5", "ok"},
      {"d 0 all", "ok"},
  });
}

}  // namespace
}  // namespace qn::db::nosql
