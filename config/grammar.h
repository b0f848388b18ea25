// Grammar engine, the compiler: the grammar tree and the compiler of the EBNF dialect.
// A compiled grammar owns its nodes; the nodes point into the grammar text, which the caller
// keeps alive for as long as the grammar. Compiled grammars are not shared between threads.
//
// The dialect: a grammar is a list of rules `name = expression ;`. Expressions, loosest first:
// alternation `a | b`, concatenation `a , b`, then terms: 'text', "text", a backtick set of
// bytes in ascending (signed) order, a range `x ~ y` whose ends are one-character quoted strings
// or integers (decimal, or hexadecimal after 0x), `.` for any character, `! term`, `[ x ]`,
// `n{ x }m` (either bound optional), `< x >`, `( x )` and rule names. Blanks, `//` line comments
// and `(* *)` / `/* */` block comments are ignorable between tokens.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string_view>
#include <vector>

namespace qn::config {

// Node kinds of grammar trees. After name resolution a rule reference holds rule_ref_base + n,
// or recogniser_base + n when a hand-written recogniser replaces rule n.
namespace kind {
inline constexpr uint16_t syntax = 0;
inline constexpr uint16_t rule = 1;
inline constexpr uint16_t alternation = 2;
inline constexpr uint16_t concatenation = 3;
inline constexpr uint16_t meta_definition = 4;
inline constexpr uint16_t group = 5;
inline constexpr uint16_t option = 6;
inline constexpr uint16_t repeat = 7;
inline constexpr uint16_t terminal_string = 8;
inline constexpr uint16_t except_terminal_string = 9;
inline constexpr uint16_t sort_string = 10;
inline constexpr uint16_t quote_string = 11;
inline constexpr uint16_t dquote_string = 12;
inline constexpr uint16_t range_string = 13;
inline constexpr uint16_t any_char = 14;
inline constexpr uint16_t digit_hex = 15;
inline constexpr uint16_t integer_dec = 16;
inline constexpr uint16_t integer_hex = 17;
inline constexpr uint16_t integer = 18;
inline constexpr uint16_t identifier = 19;
inline constexpr uint16_t nonwhitespace = 20;
inline constexpr uint16_t digit = 21;
inline constexpr uint16_t alphabet = 22;
inline constexpr uint16_t identifier_chars = 23;
inline constexpr uint16_t nonascii_chars = 24;
inline constexpr uint16_t ascii = 25;
inline constexpr uint16_t all_chars = 26;
inline constexpr uint16_t whitespace = 27;
inline constexpr uint16_t comment = 28;
inline constexpr uint16_t multiline_comment = 29;
inline constexpr uint16_t unuse_string = 30;
inline constexpr uint16_t repeat_at_least_one = 32;  // < x >

inline constexpr uint16_t rule_ref_base = 1024;
inline constexpr uint16_t recogniser_base = 2048;
inline constexpr uint16_t table_size = 3072;
}  // namespace kind

// Rule numbers stay below this so that both reference ranges fit the resolution table.
inline constexpr size_t max_rules = 1024;

// One construct of the grammar text. Children are a doubly linked list in written order.
struct grammar_node {
  uint16_t kind = kind::syntax;
  const char* start = nullptr;  // first byte of the construct in the grammar text
  const char* end = nullptr;    // one past its last byte
  grammar_node* first_child = nullptr;
  grammar_node* last_child = nullptr;
  grammar_node* prev = nullptr;
  grammar_node* next = nullptr;

  // Operands decoded once by the compiler so that matching does not re-read the text.
  // repeat / repeat_at_least_one: low = minimum count, high = maximum count (0: no limit).
  // range_string: low and high ends; by_code_point is false when the low end is a quoted
  // character (one byte is compared) and true for integer ends (one UTF-8 character).
  // rule: name_length is the length of the trimmed name starting at `start`.
  uint64_t low = 0;
  uint64_t high = 0;
  bool by_code_point = false;
  uint32_t name_length = 0;

  // Returns the text of a quoted string or backtick set without its delimiters, of a rule's
  // name, or of an identifier.
  std::string_view text() const;
  void append_child(grammar_node* child);
};

// Error record of compile_grammar; code none when every rule was read.
enum class compile_error_code : uint8_t {
  none,
  expected_name,       // a rule does not start with a name
  expected_equals,     // the name is not followed by "="
  expected_term,       // an operand is missing or starts with an unknown character
  expected_close,      // a quote, backtick, ']', '}', '>' or ')' is missing
  expected_semicolon,  // the expression is not followed by ";"
  bad_range,           // a range end is not a one-character string or an integer
  bad_integer,         // an integer does not fit or is not followed by '~' or '{'
  too_deep,            // brackets nested deeper than the compiler accepts
  too_many_rules,      // more than max_rules rules
};

struct compile_error {
  compile_error_code code = compile_error_code::none;
  size_t position = 0;  // byte offset into the grammar text
};

// A compiled grammar: the `syntax` node whose children are the rules in written order.
class grammar {
 public:
  grammar() = default;
  grammar(const grammar&) = delete;
  grammar& operator=(const grammar&) = delete;

  const grammar_node& syntax() const { return *root_; }
  size_t rule_count() const { return rules_.size(); }
  grammar_node& rule(size_t n) { return *rules_[n]; }
  const grammar_node& rule(size_t n) const { return *rules_[n]; }

  // Allocation for the compiler; nodes live as long as the grammar.
  grammar_node* new_node(uint16_t node_kind, const char* start);
  void set_root(grammar_node* root) { root_ = root; }
  void add_rule(grammar_node* rule_node);

 private:
  std::deque<grammar_node> nodes_;  // stable addresses
  grammar_node* root_ = nullptr;
  std::vector<grammar_node*> rules_;
};

// Compiles `text`. Returns the grammar, or null when the text holds no readable rule. When a
// rule cannot be read, `error` receives a code and position and compilation stops there; the
// rules read before it remain. Prints nothing.
// Requires: `text` outlives the returned grammar.
[[nodiscard]] std::unique_ptr<grammar> compile_grammar(std::string_view text, compile_error& error);

}  // namespace qn::config
