// The command words: each family's recogniser against the documented letter rules, each family's
// handlers against its recogniser (every documented word and a few thousand near misses, run on a
// probe that records the operation called and its arguments), and the rules of each family's
// token shapes.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include "engine/commands/command_words.h"
#include "engine/commands/probe_test_support.h"
#include "engine/commands/test_support.h"

namespace qn::db::nosql {
namespace {

using w = command_word;
using testing::probed_runner;

// The enum's names in declaration order; "-" for unknown.
constexpr std::string_view word_names[] = {
    "-",     "all",   "equal", "first",    "first_n",  "gt",      "ge",       "lt",       "le",
    "last",  "lege",  "legt",  "ltge",     "ltgt",     "last_n",  "max",      "min",      "max_n",
    "min_n", "nth",   "range", "count",    "con_type", "contain", "index",    "key_type", "ptr",
    "ptr_n", "ptr_p", "rank",  "ucontain", "val",      "value",   "val_type", "key"};

std::string named(w word) { return std::string(word_names[static_cast<int>(word)]); }

TEST(CommandWords, RecognisersFollowTheLetterRules) {
  // The word, then its name for g, s, d and i.
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"all", "all all all -"}, {"a", "all all all -"}, {"count", "count - - -"},
      {"cxxxxxxx", "con_type - - -"}, {"c", "contain - - -"}, {"cont", "contain - - -"},
      {"equal", "equal equal equal -"}, {"fxxxx", "first first first first"},
      {"first_n", "first_n first_n first_n first"}, {"fir", "- - - first"}, {"great", "gt gt gt -"},
      {"g", "ge ge ge -"}, {"index", "index - - -"}, {"k", "key_type - - -"},
      {"lt", "lt lt lt last"}, {"lx", "le le le last"}, {"last", "last last last last"},
      {"lexx", "lege lege lege last"}, {"legt", "legt legt legt last"},
      {"ltge", "ltge ltge ltge last"}, {"ltgt", "ltgt ltgt ltgt last"}, {"lxgt", "- - - last"},
      {"last_n", "last_n last_n last_n last"}, {"lasts", "- - - last"}, {"l", "- - - last"},
      {"mxn", "min min min -"}, {"max", "max max max -"}, {"min_n", "min_n min_n min_n -"},
      {"maxim", "max_n max_n max_n -"}, {"ma", "- - - -"}, {"nth", "nth nth nth nth"},
      {"nt", "- - - nth"}, {"ptr", "ptr - ptr -"}, {"ptr_n", "ptr_n - ptr -"},
      {"ptr_p", "ptr_p - ptr -"}, {"ptr_x", "- - ptr -"}, {"p", "- - ptr -"},
      {"rank", "rank range range -"}, {"r", "range range range -"}, {"ucontain", "ucontain - - -"},
      {"vaxl", "val value - val"}, {"ve", "value val - val"}, {"vxxxxxxe", "val_type value - val"},
      {"vxxxxxxl", "- value - val"}, {"vx", "- val - val"}, {"", "- - - key"}, {"Count", "- - - -"},
  };
  for (const auto& [word, names] : rows) {
    const std::string got =
        named(recognise_read_word(word)) + " " + named(recognise_write_word(word)) + " " +
        named(recognise_delete_word(word)) + " " + named(recognise_insert_word(word));
    EXPECT_EQ(got, names) << word;
  }
}

// Every documented word (every name but "key", which insert gives a key), each with every byte
// changed to one of the letters the rules test, every prefix, and every word one byte longer; all
// one-byte words; the empty word.
std::set<std::string> words_to_try() {
  std::set<std::string> words{""};
  for (char c = '!'; c <= '~'; ++c) {
    if (c != '"' && c != '\\') words.insert(std::string(1, c));
  }
  for (std::string_view d : word_names) {
    if (d == "-" || d == "key") continue;
    const std::string word(d);
    for (size_t i = 0; i <= word.size(); ++i) words.insert(word.substr(0, i));
    for (const char c : std::string_view("aeklnptx_")) {
      words.insert(word + c);
      for (size_t i = 0; i < word.size(); ++i) {
        std::string changed = word;
        changed[i] = c;
        words.insert(changed);
      }
    }
  }
  return words;
}

// What each name makes a family do with the arguments "1 2" (g, d, i) or "1 2 3" (s): the probe
// call, or for the reads that call nothing, "=" and the text of the reply. Absent: nothing.
std::map<w, std::string> operations(std::string_view table) {
  std::map<w, std::string> out;
  std::istringstream in{std::string(table)};
  std::string name, call;
  while (in >> name >> call) {
    for (size_t i = 0; i < std::size(word_names); ++i) {
      if (word_names[i] == name) out[static_cast<w>(i)] = call;
    }
  }
  return out;
}

const char* const read_table =
    "all all() count count_into() con_type =vector contain has_word(1) equal equal(1) "
    "first first() first_n first_n(1) gt greater(1) ge greater_equal(1) index index_of(1) "
    "key_type =i32 lt less(1) le less_equal(1) last last() lege between_ge_le(1,2) "
    "legt between_gt_le(1,2) ltge between_ge_lt(1,2) ltgt between_gt_lt(1,2) last_n last_n(1) "
    "max max() min min() max_n max_n(1) min_n min_n(1) nth at(1) ptr find_node(1) "
    "ptr_n next_node(1) ptr_p prev_node(1) rank rank_of(1) range range(1,2) "
    "ucontain has_word_any_case(1) val value_at_node(1) value values_of(1) val_type =string";
const char* const write_table =
    "all assign_all(3) equal replace_equal(1,3) first assign_first(3) "
    "first_n assign_first_n(1,3) gt replace_greater(1,3) ge replace_greater_equal(1,3) "
    "lt replace_less(1,3) le replace_less_equal(1,3) last assign_last(3) "
    "lege replace_between_ge_le(1,2,3) legt replace_between_gt_le(1,2,3) "
    "ltge replace_between_ge_lt(1,2,3) ltgt replace_between_gt_lt(1,2,3) "
    "last_n assign_last_n(1,3) max replace_max(3) min replace_min(3) max_n replace_max_n(1,3) "
    "min_n replace_min_n(1,3) nth assign_at(1,3) range assign_range(1,2,3) "
    "val assign_node(1,3) value assign_value(1,\"3\")";
const char* const delete_table =
    "all clear() equal erase_equal(1) first erase_first() first_n erase_first_n(1) "
    "gt erase_greater(1) ge erase_greater_equal(1) lt erase_less(1) le erase_less_equal(1) "
    "last erase_last() lege erase_between_ge_le(1,2) legt erase_between_gt_le(1,2) "
    "ltge erase_between_ge_lt(1,2) ltgt erase_between_gt_lt(1,2) last_n erase_last_n(1) "
    "max erase_max() min erase_min() max_n erase_max_n(1) min_n erase_min_n(1) nth erase_at(1) "
    "ptr erase_node(1) range erase_range(1,2)";
const char* const insert_table =
    "key insert(1,\"2\") nth insert_at(1,2) first insert_first(2) last insert_last(2) "
    "val insert_at_node(1,2)";

TEST(CommandWords, EveryFamilyDoesWhatItsRecogniserNames) {
  struct family {
    std::string_view letter, arguments;
    command_word (*recognise)(std::string_view);
    std::map<w, std::string> operations;
    std::string_view unknown_result;
  };
  const family families[] = {
      {"g", "1 2", recognise_read_word, operations(read_table), "ok"},
      {"s", "1 2 3", recognise_write_word, operations(write_table), "false"},
      {"d", "1 2", recognise_delete_word, operations(delete_table), "false"},
      {"i", "1 2", recognise_insert_word, operations(insert_table), "false"},
  };
  const std::set<std::string> words = words_to_try();
  for (const family& f : families) {
    probed_runner p;
    for (const std::string& word : words) {
      const std::string line =
          std::string(f.letter) + " 0 \"" + word + "\" " + std::string(f.arguments);
      p.probe->calls.clear();
      const std::string reply = p.runner.run(line);
      const auto named = f.operations.find(f.recognise(word));
      if (named == f.operations.end()) {
        EXPECT_EQ(reply, f.unknown_result) << line;
        EXPECT_EQ(p.probe->calls, "") << line;
      } else if (named->second[0] == '=') {
        EXPECT_EQ(reply, "ok [string: \"" + named->second.substr(1) + "\"]") << line;
      } else {
        EXPECT_NE(reply, "false") << line;
        EXPECT_EQ(p.probe->calls, named->second) << line;
      }
    }
  }
}

// Token shapes, argument parsing and answers, on a probe whose operations answer `answer`.
TEST(CommandWords, ShapesArgumentsAndAnswers) {
  struct row {
    std::string_view line, reply, calls;
    bool answer = true;
  };
  const row rows[] = {
      // A read whose operation answers false succeeds without items.
      {"g 0 all", "ok", "all()", false}, {"g 0 value 3", "ok", "values_of(3)", false},
      {"g 0 index 0x10", "ok [u64: 42]", "index_of(16)"}, {"g 0 nth 1", "ok [i32: 7]", "at(1)"},
      {"g 0 equal \"\"", "ok [i32: 1 2]", "equal(0)"},
      // An argument that does not parse fails the read before any call.
      {"g 0 nth -1", "false", ""}, {"g 0 first_n 1.5", "false", ""}, {"g 0 range 1 x", "false", ""},
      // The write value is parsed before the word is looked at; val and value parse their own.
      {"s 0 zzz 5x", "false", ""}, {"s 0 equal 3 abc", "false", ""}, {"s 0 val 3 abc", "false", ""},
      {"s 0 value x abc", "false", ""}, {"s 0 first_n -1 4", "false", ""},
      {"s 0 value 3 \"\"", "ok", "assign_value(3,\"\")"},
      {"s 0 all 5", "false", "assign_all(5)", false},
      {"d 0 equal 1", "false", "erase_equal(1)", false}, {"d 0 nth -1", "false", ""},
      // Insert: the token count decides word and arguments; an unquoted f or l word of four
      // tokens is a word, anything else a key.
      {"i 0 5", "ok", "insert(5,\"\")"}, {"i 0 5 abc", "ok", "insert(5,\"abc\")"},
      {"i 0 foo 5", "ok", "insert_first(5)"}, {"i 0 lol 5", "ok", "insert_last(5)"},
      {"i 0 \"first\" 5", "false", ""}, {"i 0 \"7\" 5", "ok", "insert(7,\"5\")"},
      {"i 0 n 2 5", "ok", "insert_at(2,5)"}, {"i 0 first zz 5", "ok", "insert_first(5)"},
      {"i 0 \"\" 5", "ok", "insert(5,\"\")"}, {"i 0 \"\" \"\" 5", "ok", "insert(5,\"\")"},
      {"i 0 key 1 2", "false", ""}, {"i 0 nth 1 x", "false", ""}, {"i 0 val -1 5", "false", ""},
      {"i 0 5x abc", "false", ""}, {"i 0 last 5", "false", "insert_last(5)", false},
  };
  for (const row& r : rows) {
    probed_runner p;
    p.probe->answer = r.answer;
    EXPECT_EQ(p.runner.run(r.line), r.reply) << r.line;
    EXPECT_EQ(p.probe->calls, r.calls) << r.line;
  }
}

TEST(CommandWords, UnknownKindsAreRefusedBeforeTheWord) {
  // The first five are known kinds, the rest not.
  const std::string_view kinds[] = {
      "vector", "multiset", "hxxx",   "mxp", "mzzzzzt", "hashmap_not_allowed",
      "mxxx",   "hxxxx",    "Vector", ""};
  for (size_t i = 0; i < std::size(kinds); ++i) {
    const std::string_view kind = kinds[i];
    const bool known = i < 5;
    probed_runner p(kind);
    for (std::string_view line : {"g 0 count", "s 0 all 1", "i 0 1", "d 0 all"}) {
      EXPECT_EQ(p.runner.run(line) != "false", known) << kind << ": " << line;
    }
  }
}

}  // namespace
}  // namespace qn::db::nosql
