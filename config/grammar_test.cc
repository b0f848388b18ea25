#include "config/grammar.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "config/grammar_match.h"

namespace qn::config {
namespace {

// A compiled and resolved grammar, ready to match its rule 0.
struct compiled {
  std::string text;
  std::unique_ptr<grammar> g;
  resolution_table table;

  explicit compiled(std::string grammar_text, const recogniser_map& recognisers = {})
      : text(std::move(grammar_text)) {
    compile_error error;
    g = compile_grammar(text, error);
    if (g != nullptr) resolve_names(*g, recognisers, table);
  }

  parse_ptr parse(std::string_view input) {
    reset_furthest_failure();
    return match(g->rule(0), input.data(), input.size(), table);
  }
};

TEST(GrammarMatch, MatchedLengths) {
  struct test_case {
    const char* grammar;
    std::string_view input;
    int length;  // -1: no match
  };
  const test_case cases[] = {
      // Ordered choice: 'x' wins on "xy" and is not revisited.
      {"s = 'x' | 'x', 'y';", "xy", 1},
      {"s = ('x' | 'x', 'y'), 'y';", "xy", 2},
      {"s = ('x' | 'x', 'y'), 'z';", "xyz", -1},
      // Bounded repetition.
      {"s = 4{hex}4; hex = '0'~'9' | 'a'~'f';", "12345", 4},
      {"s = 2{'a'}3;", "aaaaa", 3},
      {"s = <'a'>;", "", -1},
      {"s = <'a'>;", "aaab", 3},
      // An item that matches empty ends the repetition instead of looping.
      {"s = {['a']}, 'b';", "aab", 3},
      {"s = 1{['a']};", "b", 0},
      // A backtick set is searched by bisection: out of order, 'z' is not found.
      {"s = `abz`;", "z", 1},
      {"s = `zab`;", "z", -1},
      // A start rule matching a prefix succeeds with the prefix.
      {"s = 'a', 'b';", "abc", 2},
      // Ranges: quoted ends compare one byte, integer ends one UTF-8 character.
      {"s = 'a'~'c';", "c", 1},
      {"s = 0x80~0x03134F;", "\xc3\xa9", 2},
      {"s = 0x80~0x03134F;", "\xc3", -1},
      // Any character and except take one UTF-8 character; a bad byte counts as one.
      {"s = .;", "\xe2\x82\xac", 3},
      {"s = .;", "\xff\xfe", 1},
      {"s = !'ab';", "ab", -1},
      {"s = {!'\"\"\"'}, '\"\"\"';", "ab\"\"\"", 5},
      // Rule names with inner blanks; double-quoted strings.
      {"s = my rule, \"b\"; my rule = 'a';", "ab", 2},
  };
  for (const test_case& c : cases) {
    compiled g(c.grammar);
    ASSERT_NE(g.g, nullptr) << c.grammar;
    const parse_ptr result = g.parse(c.input);
    const int length = result == nullptr ? -1 : static_cast<int>(result->length);
    EXPECT_EQ(length, c.length) << c.grammar << " on \"" << c.input << "\"";
  }
}

TEST(GrammarMatch, DeepRecursionFailsInsteadOfExhaustingTheStack) {
  compiled g("s = '(', [s], ')';");
  struct test_case {
    size_t depth;
    bool matches;
  };
  const test_case cases[] = {{10, true}, {max_rule_depth - 1, true}, {100000, false}};
  for (const test_case& c : cases) {
    const std::string input = std::string(c.depth, '(') + std::string(c.depth, ')');
    const parse_ptr result = g.parse(input);
    EXPECT_EQ(result != nullptr, c.matches) << c.depth;
    if (result != nullptr) {
      EXPECT_EQ(result->length, input.size());
    }
  }
}

}  // namespace
}  // namespace qn::config
