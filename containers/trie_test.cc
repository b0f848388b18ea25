// word_trie: random words sharing prefixes against std::set and a brute-force any-case rule,
// and words long enough to break a walk that recursed per byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "containers/word_trie.h"

namespace qn::db::nosql::nosql_db {
namespace {

std::string render(const word_trie& t) {
  std::string out;
  t.for_each_word([&](std::string_view w) {
    out += w;
    out += ',';
  });
  return out;
}

// Long words: a walk that recursed per byte would overflow a stack, and the any-case search backs
// up over thousands of levels (every lower-case step but the last exists, so it returns to the
// first byte and finds the word through the upper-case branch).
TEST(WordTrie, LongWordsNeedNoDeepStack) {
  word_trie t;
  const std::string word(1 << 17, 'q');
  ASSERT_TRUE(t.insert(word));
  ASSERT_TRUE(t.insert(word + "r"));
  ASSERT_TRUE(t.insert(std::string(2000, 'A')));
  ASSERT_TRUE(t.insert(std::string(1999, 'a') + "b"));
  EXPECT_TRUE(t.contains(word));
  EXPECT_TRUE(t.contains_any_case(std::string(1 << 17, 'Q')));
  EXPECT_TRUE(t.contains_any_case(std::string(2000, 'a')));
  EXPECT_FALSE(t.contains_any_case(std::string(1999, 'a') + "c"));
  uint64_t total = 0;
  t.for_each_word([&](std::string_view w) { total += w.size(); });
  EXPECT_EQ(total, 2u * (1 << 17) + 1 + 4000);
  t.clear();
  EXPECT_EQ(t.size(), 0u);
  EXPECT_FALSE(t.contains(word));
}

// More children than a sparse node's key compare covers, too far apart to fill a byte range.
TEST(WordTrie, ManyChildrenSpreadOverTheAlphabet) {
  word_trie t;
  std::string expected;
  for (int b = 1; b < word_trie::alphabet; b += 7) {
    ASSERT_TRUE(t.insert(std::string(1, static_cast<char>(b)) + "x"));
    expected += std::string(1, static_cast<char>(b)) + "x,";
  }
  for (int b = 1; b < word_trie::alphabet; b += 7) {
    EXPECT_TRUE(t.contains(std::string(1, static_cast<char>(b)) + "x")) << b;
  }
  EXPECT_EQ(render(t), expected);
}

// The any-case rule by brute force: same length, and each stored byte is the query's byte or, for
// a letter A to Z or a to z, the same letter in the other case.
bool matches_any_case(const std::string& stored, const std::string& query) {
  if (stored.size() != query.size()) return false;
  for (size_t i = 0; i < query.size(); ++i) {
    const auto q = static_cast<uint8_t>(query[i]);
    const auto s = static_cast<uint8_t>(stored[i]);
    const bool letter = (q >= 'A' && q <= 'Z') || (q >= 'a' && q <= 'z');
    if (s != q && !(letter && s == (q >= 'a' ? q - 32 : q + 32))) return false;
  }
  return true;
}

// Words grown from a few stems, so they share prefixes of every length, end inside each other's
// compressed runs and part from them at every point; letters in random case, the neighbours of
// the letter ranges ('@', '[', '`', '{'), byte zero, and now and then a byte of 128 or more.
TEST(WordTrie, MatchesModelUnderWordsSharingPrefixesAndDifferingInCase) {
  std::mt19937_64 random(31415);
  const std::string alphabet("aAzZbB@[`{0\0", 12);
  auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  auto random_text = [&](size_t max_length) {
    std::string w(pick(max_length + 1), ' ');
    for (char& c : w) c = alphabet[pick(alphabet.size())];
    return w;
  };
  std::vector<std::string> stems;
  for (int i = 0; i < 8; ++i) stems.push_back(random_text(24));
  auto flip_case = [&](std::string w) {
    for (char& c : w) {
      if (std::isalpha(static_cast<unsigned char>(c)) && pick(3) == 0) c ^= 0x20;
    }
    return w;
  };
  auto random_word = [&] {
    const std::string& stem = stems[pick(stems.size())];
    std::string w = flip_case(stem.substr(0, pick(stem.size() + 1))) + random_text(6);
    if (pick(50) == 0) w.insert(pick(w.size() + 1), 1, static_cast<char>(0x80 + pick(128)));
    return w;
  };
  word_trie t;
  std::set<std::string> model;
  for (int i = 0; i < 4000; ++i) {
    const std::string w = random_word();
    const bool valid = !w.empty() && std::all_of(w.begin(), w.end(), [](char c) {
      return static_cast<uint8_t>(c) < 128;
    });
    ASSERT_EQ(t.insert(w), valid && model.insert(w).second) << w;
  }
  std::vector<std::string> queries(model.begin(), model.end());
  for (std::string& q : queries) q = flip_case(q);
  for (int i = 0; i < 4000; ++i) queries.push_back(random_word());
  for (const std::string& q : queries) {
    const bool any_case = std::any_of(model.begin(), model.end(),
                                      [&](const std::string& w) { return matches_any_case(w, q); });
    ASSERT_EQ(t.contains(q), model.count(q) == 1) << q;
    ASSERT_EQ(t.contains_any_case(q), any_case) << q;
  }
  std::string expected;
  for (const std::string& w : model) expected += w + ",";
  EXPECT_EQ(render(t), expected);
  EXPECT_EQ(t.size(), model.size());
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
