#include <gtest/gtest.h>

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

TEST(WordTrie, EnumeratesInAscendingByteOrderWordsBeforeExtensions) {
  struct case_t {
    std::vector<std::string> words;
    const char* expected;
  };
  const case_t cases[] = {
      {{"car", "cart", "Car"}, "Car,car,cart,"},
      {{"b", "ab", "a", "abc", "B"}, "B,a,ab,abc,b,"},
      {{"\x7f", "~", "!"}, "!,~,\x7f,"},
      {{}, ""},
  };
  for (const case_t& c : cases) {
    word_trie t;
    for (const std::string& w : c.words) EXPECT_TRUE(t.insert(w)) << w;
    EXPECT_EQ(render(t), c.expected);
    EXPECT_EQ(t.size(), c.words.size());
  }
}

TEST(WordTrie, ByteZeroIsAnOrdinaryByte) {
  word_trie t;
  ASSERT_TRUE(t.insert(std::string_view("a\0b", 3)));
  EXPECT_TRUE(t.contains(std::string_view("a\0b", 3)));
  EXPECT_FALSE(t.contains("a"));
  std::vector<std::string> words;
  t.for_each_word([&](std::string_view w) { words.emplace_back(w); });
  ASSERT_EQ(words.size(), 1u);
  EXPECT_EQ(words[0], std::string("a\0b", 3));
}

TEST(WordTrie, RefusesEmptyRepeatedAndHighByteWords) {
  word_trie t;
  EXPECT_TRUE(t.insert("car"));
  EXPECT_FALSE(t.insert("car"));
  EXPECT_FALSE(t.insert(""));
  EXPECT_FALSE(t.insert("caf\xc3\xa9"));
  EXPECT_FALSE(t.insert("\x80"));
  EXPECT_EQ(t.size(), 1u);
  EXPECT_EQ(render(t), "car,");
  EXPECT_FALSE(t.contains(""));
  EXPECT_FALSE(t.contains_any_case(""));
  EXPECT_FALSE(t.contains("car\xff"));
  EXPECT_FALSE(t.contains_any_case("CAR\xff"));
}

TEST(WordTrie, OnlyWholeWordsAreFound) {
  struct case_t {
    const char* query;
    bool exact;
    bool any_case;
  };
  const case_t cases[] = {
      {"cart", true, true},    {"CART", false, true}, {"CaRt", false, true},
      {"CART!", false, false}, {"car", false, false}, {"ca", false, false},
      {"carts", false, false}, {"c", false, false},   {"cArT\x80", false, false},
      {"ca@t", false, false},  // '@' is 'A' - 1: not a letter, no other case
  };
  word_trie t;
  ASSERT_TRUE(t.insert("cart"));
  for (const case_t& c : cases) {
    EXPECT_EQ(t.contains(c.query), c.exact) << c.query;
    EXPECT_EQ(t.contains_any_case(c.query), c.any_case) << c.query;
  }
}

// The first case tried is the query's own; when its branch leads nowhere the search backs up and
// tries the other case.
TEST(WordTrie, CaseInsensitiveSearchBacktracks) {
  word_trie t;
  for (const char* w : {"abcx", "aBcd", "ABCz", "Ab", "a[c"}) ASSERT_TRUE(t.insert(w));
  struct case_t {
    const char* query;
    bool expected;
  };
  const case_t cases[] = {
      {"abcd", true},  // a, b, c, then no d below "abc": back up to "aB"
      {"ABCD", true}, {"abcz", true},  {"abcx", true}, {"AB", true},
      {"ab", true},   {"abcy", false}, {"a{c", false},  // '{' is not the other case of '['
      {"A[C", true},
  };
  for (const case_t& c : cases) EXPECT_EQ(t.contains_any_case(c.query), c.expected) << c.query;
}

// Backing up across two thousand levels: every lower-case step but the last exists, so the search
// returns to the first byte and finds the word through the upper-case branch.
TEST(WordTrie, CaseInsensitiveSearchBacktracksOverLongWords) {
  word_trie t;
  std::string upper(2000, 'A'), mixed;
  for (size_t i = 0; i < upper.size(); ++i) mixed.push_back(i % 2 ? 'a' : 'A');
  ASSERT_TRUE(t.insert(upper));
  ASSERT_TRUE(t.insert(std::string(1999, 'a') + "b"));
  EXPECT_TRUE(t.contains_any_case(std::string(2000, 'a')));
  EXPECT_TRUE(t.contains_any_case(mixed));
  EXPECT_FALSE(t.contains_any_case(std::string(2000, 'a') + "a"));
  EXPECT_FALSE(t.contains_any_case(std::string(1999, 'a') + "c"));
}

// Each byte of a lone long word costs a node and a 1 KB child table, so 2^17 bytes is 128 MB:
// enough depth to overflow a stack if any walk recursed.
TEST(WordTrie, LongWordsNeedNoDeepStack) {
  word_trie t;
  const std::string word(1 << 17, 'q');
  ASSERT_TRUE(t.insert(word));
  ASSERT_TRUE(t.insert(word + "r"));
  EXPECT_TRUE(t.contains(word));
  EXPECT_TRUE(t.contains_any_case(std::string(1 << 17, 'Q')));
  uint64_t total = 0, words = 0;
  t.for_each_word([&](std::string_view w) {
    total += w.size();
    ++words;
  });
  EXPECT_EQ(words, 2u);
  EXPECT_EQ(total, 2u * (1 << 17) + 1);
  t.clear();
  EXPECT_EQ(t.size(), 0u);
  EXPECT_FALSE(t.contains(word));
}

// Random words over a small alphabet, so prefixes are shared, against std::set (whose string
// order is the unsigned byte order) and a lower-cased copy for the case-insensitive test.
TEST(WordTrie, MatchesStdSetUnderRandomWords) {
  std::mt19937_64 random(2718);
  const std::string alphabet = "aAbBz0";
  auto random_word = [&] {
    std::string w(1 + random() % 6, ' ');
    for (char& c : w) c = alphabet[random() % alphabet.size()];
    return w;
  };
  auto lowered = [](std::string w) {
    for (char& c : w) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return w;
  };
  word_trie t;
  std::set<std::string> model, model_lower;
  for (int i = 0; i < 3000; ++i) {
    const std::string w = random_word();
    ASSERT_EQ(t.insert(w), model.insert(w).second) << w;
    model_lower.insert(lowered(w));
  }
  for (int i = 0; i < 3000; ++i) {
    const std::string q = random_word();
    ASSERT_EQ(t.contains(q), model.count(q) == 1) << q;
    ASSERT_EQ(t.contains_any_case(q), model_lower.count(lowered(q)) == 1) << q;
  }
  std::string expected;
  for (const std::string& w : model) expected += w + ",";
  EXPECT_EQ(render(t), expected);
  EXPECT_EQ(t.size(), model.size());
}

// 'Z' and 'z', the ends of the letter ranges, fold like every other letter.
TEST(WordTrie, AnyCaseFoldsTheLastLetters) {
  word_trie t;
  ASSERT_TRUE(t.insert("abcz"));
  ASSERT_TRUE(t.insert("ZA"));
  EXPECT_TRUE(t.contains_any_case("ABCZ"));
  EXPECT_TRUE(t.contains_any_case("za"));
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
