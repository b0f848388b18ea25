// The word recognisers against the handlers: every documented word and a few thousand near misses
// (each letter changed, cut short, lengthened), run through each typed family on a probe. The
// operation the handler calls must be the one the recognised name stands for, and a word the
// family does not know must call nothing (a read still succeeds, the others fail).
#include "engine/commands/command_words.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <string_view>

#include "engine/commands/probe_container.h"
#include "engine/commands/test_support.h"

namespace qn::db::nosql {
namespace {

using w = command_word;
using testing::probed_runner;

constexpr std::string_view documented[] = {
    "all",    "count",    "con_type", "contain", "equal", "first",   "first_n", "gt",    "ge",
    "index",  "key_type", "lt",       "le",      "last",  "lege",    "legt",    "ltge",  "ltgt",
    "last_n", "max",      "min",      "max_n",   "min_n", "nth",     "ptr",     "ptr_n", "ptr_p",
    "rank",   "range",    "ucontain", "val",     "value", "val_type"};

// Every documented word, each with every byte changed to one of the letters the rules test,
// every prefix, and every word one byte longer; all one-byte words; the empty word.
std::set<std::string> words_to_try() {
  std::set<std::string> words{""};
  for (char c = '!'; c <= '~'; ++c) {
    if (c != '"' && c != '\\') words.insert(std::string(1, c));
  }
  for (std::string_view d : documented) {
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

// What each name must make the family do: the probe operation it calls, or, for the read words
// that need none, "=" and the text of the reply. Absent: nothing is called.
const std::map<w, std::string_view> read_operations = {{w::all, "all"},
                                                       {w::count, "count_into"},
                                                       {w::con_type, "=vector"},
                                                       {w::contain, "has_word"},
                                                       {w::equal, "equal"},
                                                       {w::first, "first"},
                                                       {w::first_n, "first_n"},
                                                       {w::gt, "greater"},
                                                       {w::ge, "greater_equal"},
                                                       {w::index, "index_of"},
                                                       {w::key_type, "=i32"},
                                                       {w::lt, "less"},
                                                       {w::le, "less_equal"},
                                                       {w::last, "last"},
                                                       {w::lege, "between_ge_le"},
                                                       {w::legt, "between_gt_le"},
                                                       {w::ltge, "between_ge_lt"},
                                                       {w::ltgt, "between_gt_lt"},
                                                       {w::last_n, "last_n"},
                                                       {w::max, "max"},
                                                       {w::min, "min"},
                                                       {w::max_n, "max_n"},
                                                       {w::min_n, "min_n"},
                                                       {w::nth, "at"},
                                                       {w::ptr, "find_node"},
                                                       {w::ptr_n, "next_node"},
                                                       {w::ptr_p, "prev_node"},
                                                       {w::rank, "rank_of"},
                                                       {w::range, "range"},
                                                       {w::ucontain, "has_word_any_case"},
                                                       {w::val, "value_at_node"},
                                                       {w::value, "values_of"},
                                                       {w::val_type, "=string"}};
const std::map<w, std::string_view> write_operations = {{w::all, "assign_all"},
                                                        {w::equal, "replace_equal"},
                                                        {w::first, "assign_first"},
                                                        {w::first_n, "assign_first_n"},
                                                        {w::gt, "replace_greater"},
                                                        {w::ge, "replace_greater_equal"},
                                                        {w::lt, "replace_less"},
                                                        {w::le, "replace_less_equal"},
                                                        {w::last, "assign_last"},
                                                        {w::lege, "replace_between_ge_le"},
                                                        {w::legt, "replace_between_gt_le"},
                                                        {w::ltge, "replace_between_ge_lt"},
                                                        {w::ltgt, "replace_between_gt_lt"},
                                                        {w::last_n, "assign_last_n"},
                                                        {w::max, "replace_max"},
                                                        {w::min, "replace_min"},
                                                        {w::max_n, "replace_max_n"},
                                                        {w::min_n, "replace_min_n"},
                                                        {w::nth, "assign_at"},
                                                        {w::range, "assign_range"},
                                                        {w::val, "assign_node"},
                                                        {w::value, "assign_value"}};
const std::map<w, std::string_view> delete_operations = {{w::all, "clear"},
                                                         {w::equal, "erase_equal"},
                                                         {w::first, "erase_first"},
                                                         {w::first_n, "erase_first_n"},
                                                         {w::gt, "erase_greater"},
                                                         {w::ge, "erase_greater_equal"},
                                                         {w::lt, "erase_less"},
                                                         {w::le, "erase_less_equal"},
                                                         {w::last, "erase_last"},
                                                         {w::lege, "erase_between_ge_le"},
                                                         {w::legt, "erase_between_gt_le"},
                                                         {w::ltge, "erase_between_ge_lt"},
                                                         {w::ltgt, "erase_between_gt_lt"},
                                                         {w::last_n, "erase_last_n"},
                                                         {w::max, "erase_max"},
                                                         {w::min, "erase_min"},
                                                         {w::max_n, "erase_max_n"},
                                                         {w::min_n, "erase_min_n"},
                                                         {w::nth, "erase_at"},
                                                         {w::ptr, "erase_node"},
                                                         {w::range, "erase_range"}};
const std::map<w, std::string_view> insert_operations = {{w::key, "insert"},
                                                         {w::nth, "insert_at"},
                                                         {w::first, "insert_first"},
                                                         {w::last, "insert_last"},
                                                         {w::val, "insert_at_node"}};

struct family {
  std::string_view letter;
  std::string_view arguments;  // after the word: every argument parses as i32, u64 and string
  command_word (*recognise)(std::string_view);
  const std::map<w, std::string_view>& operations;
  std::string_view unknown_result;
};

// What a line did to the probe: the operation called, or "=" and the text a name read answered.
std::string observed(const std::string& reply, const std::string& calls) {
  if (!calls.empty()) return calls.substr(0, calls.find('('));
  const size_t quote = reply.find('"');
  if (quote == std::string::npos) return "";
  return "=" + reply.substr(quote + 1, reply.rfind('"') - quote - 1);
}

TEST(CommandWords, EveryFamilyDoesWhatItsRecogniserNames) {
  const family families[] = {
      {"g", "1 2", recognise_read_word, read_operations, "ok"},
      {"s", "1 2 3", recognise_write_word, write_operations, "false"},
      {"d", "1 2", recognise_delete_word, delete_operations, "false"},
      {"i", "1 2", recognise_insert_word, insert_operations, "false"},
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
      } else {
        EXPECT_NE(reply, "false") << line;
        EXPECT_EQ(observed(reply, p.probe->calls), named->second) << line;
      }
    }
  }
}

}  // namespace
}  // namespace qn::db::nosql
