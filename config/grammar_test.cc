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

// Renders a parse tree as kind:'text' with children in braces, e.g. 2{1:'a' 1:'b'}.
std::string render(const parse_node& n) {
  std::string out = std::to_string(n.kind);
  if (!n.has_children()) return out + ":'" + std::string(n.start, n.length) + "'";
  out += "{";
  for (const parse_node& c : n.children()) {
    if (&c != n.first_child) out += " ";
    out += render(c);
  }
  return out + "}";
}

TEST(GrammarCompile, ReadsRulesAndStopsAtTheFirstBadOne) {
  struct test_case {
    const char* text;
    size_t rules;
    compile_error_code error;
  };
  const test_case cases[] = {
      {"a = 'x';", 1, compile_error_code::none},
      {"a = 'x'; b = a | 'y', \"z\";", 2, compile_error_code::none},
      {"// line\n(* block *) a /* inner */ = 'x'; // 0x00\n", 1, compile_error_code::none},
      {"a = 'x'; b = ;", 1, compile_error_code::expected_term},
      {"a = 'x'; b 'y';", 1, compile_error_code::expected_equals},
      {"a = 'x' b = 'y';", 0, compile_error_code::expected_semicolon},
      {"a = ('x';", 0, compile_error_code::expected_close},
      {"a = 'x; b = 'y';", 0, compile_error_code::expected_semicolon},
      {"a = 'unterminated;", 0, compile_error_code::expected_close},
      {"a = 'xy'~'z';", 0, compile_error_code::bad_range},
      {"a = 12;", 0, compile_error_code::bad_integer},
      {"a = 0x99999999999999999~0x1;", 0, compile_error_code::bad_integer},
      {"= 'x';", 0, compile_error_code::expected_name},
      {"a = 'x'; $", 1, compile_error_code::expected_name},
      {"", 0, compile_error_code::none},
      {"  // only a comment", 0, compile_error_code::none},
  };
  for (const test_case& c : cases) {
    compile_error error;
    const std::unique_ptr<grammar> g = compile_grammar(c.text, error);
    EXPECT_EQ(g == nullptr ? 0 : g->rule_count(), c.rules) << c.text;
    EXPECT_EQ(error.code, c.error) << c.text;
  }
}

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
      {"s = 4{hex}4; hex = '0'~'9' | 'a'~'f';", "123", -1},
      {"s = 2{'a'}3;", "a", -1},
      {"s = 2{'a'}3;", "aa", 2},
      {"s = 2{'a'}3;", "aaaaa", 3},
      {"s = {'a'}, 'b';", "b", 1},
      {"s = <'a'>;", "", -1},
      {"s = <'a'>;", "aaab", 3},
      // An item that matches empty ends the repetition instead of looping.
      {"s = {['a']}, 'b';", "aab", 3},
      {"s = {['a']};", "b", 0},
      {"s = 1{['a']};", "b", 0},
      // A backtick set is searched by bisection: out of order, 'z' is not found.
      {"s = `abz`;", "z", 1},
      {"s = `zab`;", "z", -1},
      {"s = `zab`;", "a", 1},
      {"s = `\"'\\`;", "\\", 1},
      // A start rule matching a prefix succeeds with the prefix.
      {"s = 'a', 'b';", "abc", 2},
      // Ranges: quoted ends compare one byte, integer ends one UTF-8 character.
      {"s = 'a'~'c';", "b", 1},
      {"s = 'a'~'c';", "c", 1},
      {"s = 'a'~'c';", "d", -1},
      {"s = 0x80~0x03134F;", "\xc3\xa9", 2},
      {"s = 0x80~0x03134F;", "\xf0\x9f\x98\x80", 4},
      {"s = 0x80~0x03134F;", "\xff", -1},
      {"s = 0x80~0x03134F;", "\xc3", -1},
      {"s = 48~57;", "7", 1},
      // Any character and except take one UTF-8 character; a bad byte counts as one.
      {"s = .;", "\xe2\x82\xac", 3},
      {"s = .;", "\xff\xfe", 1},
      {"s = .;", "", -1},
      {"s = !'ab';", "ac", 1},
      {"s = !'ab';", "ab", -1},
      {"s = !'ab';", "", -1},
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

TEST(GrammarMatch, FlattensResultsByItemKind) {
  struct test_case {
    const char* grammar;
    std::string_view input;
    const char* tree;
  };
  const test_case cases[] = {
      // A single terminal stands for itself; a rule reference wraps it.
      {"s = 'a';", "a", "1:'a'"},
      {"s = t; t = 'a';", "a", "3{1:'a'}"},
      // Several retained results are grouped; a group's anonymous result is spliced.
      {"s = 'a', ('b', 'c'), [d]; d = 'd';", "abcd", "0{1:'a' 1:'b' 1:'c' 3{1:'d'}}"},
      // An anonymous result of a reference is relabelled with the rule's kind.
      {"s = t; t = 'a', 'b';", "ab", "3{1:'a' 1:'b'}"},
      // An empty option is dropped from a sequence.
      {"s = 'a', ['x'], 'b';", "ab", "0{1:'a' 1:'b'}"},
      // A group is spliced whatever it holds, here an alternation's anonymous result.
      {"s = 'a', ('b', 'c' | 'd');", "abc", "0{1:'a' 1:'b' 1:'c'}"},
      // Inside a repetition an anonymous item result is spliced too.
      {"s = {'b', 'c' | 'd'};", "bcdbc", "0{1:'b' 1:'c' 1:'d' 1:'b' 1:'c'}"},
      // Repetitions splice their items' groupings and return a single item unchanged.
      {"s = {'a', 'b'};", "abab", "0{1:'a' 1:'b' 1:'a' 1:'b'}"},
      {"s = {'a'};", "a", "1:'a'"},
      {"s = t; t = {'a'};", "", "3:''"},
      {"s = {t}; t = 'a';", "aa", "0{3{1:'a'} 3{1:'a'}}"},
  };
  for (const test_case& c : cases) {
    compiled g(c.grammar);
    ASSERT_NE(g.g, nullptr) << c.grammar;
    const parse_ptr result = g.parse(c.input);
    ASSERT_NE(result, nullptr) << c.grammar;
    EXPECT_EQ(render(*result), c.tree) << c.grammar;
  }
}

TEST(GrammarMatch, FurthestFailureIsTheDeepestFailedTerminal) {
  struct test_case {
    const char* grammar;
    std::string_view input;
    size_t offset;
  };
  const test_case cases[] = {
      {"s = 'a', 'b', 'c';", "abx", 2},
      {"s = 'a', 'b', 'c' | 'a', 'x';", "abq", 2},
      {"s = 'a', ('b' | 'c'), 'd';", "acx", 2},
      {"s = <'a'>, 'b';", "aaaa!", 4},
  };
  for (const test_case& c : cases) {
    compiled g(c.grammar);
    EXPECT_EQ(g.parse(c.input), nullptr) << c.grammar;
    ASSERT_NE(furthest_failure(), nullptr);
    EXPECT_EQ(static_cast<size_t>(furthest_failure() - c.input.data()), c.offset) << c.grammar;
  }
}

TEST(GrammarResolve, UndefinedNamesAreReportedAndNeverMatch) {
  testing::internal::CaptureStdout();
  compiled g("s = 'a' | nope;");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "unkown identifier nope\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(g.parse("b"), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "unkown type with type = 19\n");
  EXPECT_NE(g.parse("a"), nullptr);
}

TEST(GrammarResolve, ReferencesPointIntoTheResolutionTable) {
  compiled g("s = t, u; t = 'a'; u = 'b';", {{2, nullptr}});
  const grammar_node* seq = g.g->rule(0).first_child;
  EXPECT_EQ(seq->first_child->kind, kind::rule_ref_base + 1);
  EXPECT_EQ(seq->last_child->kind, kind::rule_ref_base + 2);
  EXPECT_EQ(g.table.entries[kind::rule_ref_base + 1].rule, &g.g->rule(1));
}

parse_ptr take_two_digits(const grammar_node&, const char* p, uint64_t r, const resolution_table&) {
  if (r < 2 || p[0] < '0' || p[0] > '9' || p[1] < '0' || p[1] > '9') {
    raise_furthest_failure(p);
    return nullptr;
  }
  return make_parse_node(parse_kind::of_rule(1), p, 2);
}

TEST(GrammarResolve, RecognisersReplaceRulesAndTheirNodesAreKept) {
  compiled g("s = 'x', num, num; num = 'never';", {{1, take_two_digits}});
  const grammar_node* seq = g.g->rule(0).first_child;
  EXPECT_EQ(seq->first_child->next->kind, kind::recogniser_base + 1);
  const parse_ptr result = g.parse("x1234");
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(render(*result), "0{1:'x' 3:'12' 3:'34'}");
  const std::string_view bad = "x12a4";
  EXPECT_EQ(g.parse(bad), nullptr);
  EXPECT_EQ(furthest_failure(), bad.data() + 3);
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
