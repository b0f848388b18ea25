#include "config/grammar.h"

namespace qn::config {

std::string_view grammar_node::text() const {
  switch (kind) {
    case kind::quote_string:
    case kind::dquote_string:
    case kind::sort_string:
      return std::string_view(start + 1, static_cast<size_t>(end - start - 2));
    case kind::rule:
      return std::string_view(start, name_length);
    default:
      return std::string_view(start, static_cast<size_t>(end - start));
  }
}

void grammar_node::append_child(grammar_node* child) {
  child->prev = last_child;
  child->next = nullptr;
  if (last_child != nullptr) {
    last_child->next = child;
  } else {
    first_child = child;
  }
  last_child = child;
}

grammar_node* grammar::new_node(uint16_t node_kind, const char* start) {
  grammar_node& node = nodes_.emplace_back();
  node.kind = node_kind;
  node.start = start;
  node.end = start;
  return &node;
}

void grammar::add_rule(grammar_node* rule_node) {
  rules_.push_back(rule_node);
  root_->append_child(rule_node);
}

namespace {

// Brackets, groups and excepts nest at most this deep in a grammar text; the compiler is
// recursive and grammar texts are written by us, so this only guards against accidents.
constexpr int max_nesting = 200;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_name_char(char c) { return is_letter(c) || is_digit(c) || c == '_'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Recursive-descent reader of one grammar text. Every parse_* function returns the node read,
// or null after recording the first error; once an error is recorded nothing more is read.
class compiler {
 public:
  compiler(std::string_view text, grammar& g, compile_error& error)
      : begin_(text.data()),
        p_(text.data()),
        end_(text.data() + text.size()),
        g_(g),
        error_(error) {}

  // Reads rules until the text ends or a rule cannot be read.
  void compile_rules() {
    for (;;) {
      skip_ignorable();
      if (p_ == end_) return;
      if (g_.rule_count() == max_rules) {
        fail(compile_error_code::too_many_rules);
        return;
      }
      grammar_node* r = parse_rule();
      if (r == nullptr) return;
      g_.add_rule(r);
    }
  }

 private:
  grammar_node* fail(compile_error_code code) {
    if (error_.code == compile_error_code::none) {
      error_.code = code;
      error_.position = static_cast<size_t>(p_ - begin_);
    }
    return nullptr;
  }

  // Skips blanks and the three comment forms. An unterminated block comment runs to the end.
  void skip_ignorable() {
    while (p_ < end_) {
      if (is_blank(*p_)) {
        ++p_;
      } else if (starts_with("//")) {
        while (p_ < end_ && *p_ != '\n') ++p_;
      } else if (starts_with("(*")) {
        skip_block_comment("*)");
      } else if (starts_with("/*")) {
        skip_block_comment("*/");
      } else {
        return;
      }
    }
  }

  void skip_block_comment(std::string_view close) {
    p_ += 2;
    while (p_ < end_ && !starts_with(close)) ++p_;
    p_ = p_ < end_ ? p_ + 2 : end_;
  }

  bool starts_with(std::string_view s) const {
    return static_cast<size_t>(end_ - p_) >= s.size() && std::string_view(p_, s.size()) == s;
  }

  bool accept(char c) {
    skip_ignorable();
    if (p_ < end_ && *p_ == c) {
      ++p_;
      return true;
    }
    return false;
  }

  // A name: a letter, digit or underscore, then letters, digits, underscores and blanks;
  // trailing blanks are not part of it. Leaves p_ after the last name character.
  const char* read_name_end() {
    const char* last = p_;
    while (p_ < end_ && (is_name_char(*p_) || is_blank(*p_))) {
      if (!is_blank(*p_)) last = p_ + 1;
      ++p_;
    }
    p_ = last;
    return last;
  }

  grammar_node* parse_rule() {
    if (!is_name_char(*p_)) return fail(compile_error_code::expected_name);
    grammar_node* r = g_.new_node(kind::rule, p_);
    r->name_length = static_cast<uint32_t>(read_name_end() - r->start);
    if (!accept('=')) return fail(compile_error_code::expected_equals);
    grammar_node* body = parse_alternation(0);
    if (body == nullptr) return nullptr;
    if (!accept(';')) return fail(compile_error_code::expected_semicolon);
    r->append_child(body);
    r->end = p_;
    return r;
  }

  // Operands separated by `separator`; a single operand is returned as it is.
  template <class Operand>
  grammar_node* parse_list(uint16_t list_kind, char separator, int depth, Operand operand) {
    grammar_node* first = (this->*operand)(depth);
    if (first == nullptr) return nullptr;
    grammar_node* list = nullptr;
    while (accept(separator)) {
      grammar_node* next = (this->*operand)(depth);
      if (next == nullptr) return nullptr;
      if (list == nullptr) {
        list = g_.new_node(list_kind, first->start);
        list->append_child(first);
      }
      list->append_child(next);
      list->end = next->end;
    }
    return list != nullptr ? list : first;
  }

  grammar_node* parse_alternation(int depth) {
    if (depth > max_nesting) return fail(compile_error_code::too_deep);
    return parse_list(kind::alternation, '|', depth, &compiler::parse_concatenation);
  }

  grammar_node* parse_concatenation(int depth) {
    return parse_list(kind::concatenation, ',', depth, &compiler::parse_term);
  }

  // Reads `open` expression `close` into a node of kind `node_kind`.
  grammar_node* parse_bracketed(uint16_t node_kind, char close, int depth) {
    grammar_node* node = g_.new_node(node_kind, p_);
    ++p_;
    grammar_node* inner = parse_alternation(depth + 1);
    if (inner == nullptr) return nullptr;
    if (!accept(close)) return fail(compile_error_code::expected_close);
    node->append_child(inner);
    node->end = p_;
    return node;
  }

  grammar_node* parse_term(int depth) {
    skip_ignorable();
    if (p_ == end_) return fail(compile_error_code::expected_term);
    const char c = *p_;
    switch (c) {
      case '\'':
      case '"':
        return parse_quoted_or_range(c == '\'' ? kind::quote_string : kind::dquote_string);
      case '`':
        return parse_delimited(kind::sort_string, '`');
      case '.': {
        grammar_node* node = g_.new_node(kind::any_char, p_);
        node->end = ++p_;
        return node;
      }
      case '!': {
        grammar_node* node = g_.new_node(kind::except_terminal_string, p_);
        ++p_;
        if (depth > max_nesting) return fail(compile_error_code::too_deep);
        grammar_node* inner = parse_term(depth + 1);
        if (inner == nullptr) return nullptr;
        node->append_child(inner);
        node->end = inner->end;
        return node;
      }
      case '[':
        return parse_bracketed(kind::option, ']', depth);
      case '(':
        return parse_bracketed(kind::group, ')', depth);
      case '<': {
        grammar_node* node = parse_bracketed(kind::repeat_at_least_one, '>', depth);
        if (node != nullptr) node->low = 1;
        return node;
      }
      case '{':
        return parse_repeat(g_.new_node(kind::repeat, p_), depth);
      default:
        break;
    }
    if (is_digit(c)) return parse_integer_term(depth);
    if (is_name_char(c)) {
      grammar_node* node = g_.new_node(kind::identifier, p_);
      node->end = read_name_end();
      return node;
    }
    return fail(compile_error_code::expected_term);
  }

  // A string or backtick set up to the next `quote`, delimiters included in the span.
  grammar_node* parse_delimited(uint16_t node_kind, char quote) {
    grammar_node* node = g_.new_node(node_kind, p_);
    const char* q = p_ + 1;
    while (q < end_ && *q != quote) ++q;
    if (q == end_) return fail(compile_error_code::expected_close);
    p_ = q + 1;
    node->end = p_;
    return node;
  }

  grammar_node* parse_quoted_or_range(uint16_t node_kind) {
    grammar_node* s = parse_delimited(node_kind, *p_);
    if (s == nullptr) return nullptr;
    const char* after = p_;
    if (accept('~')) return parse_range(s);
    p_ = after;
    return s;
  }

  grammar_node* parse_integer_term(int depth) {
    grammar_node* n = parse_integer();
    if (n == nullptr) return nullptr;
    if (accept('~')) return parse_range(n);
    skip_ignorable();
    if (p_ < end_ && *p_ == '{') {
      grammar_node* node = g_.new_node(kind::repeat, n->start);
      node->low = n->low;
      return parse_repeat(node, depth);
    }
    return fail(compile_error_code::bad_integer);
  }

  // Decimal digits, or 0x and hex digits; the value goes to `low`.
  grammar_node* parse_integer() {
    const bool hex = starts_with("0x") || starts_with("0X");
    grammar_node* node = g_.new_node(hex ? kind::integer_hex : kind::integer_dec, p_);
    if (hex) p_ += 2;
    const int base = hex ? 16 : 10;
    uint64_t value = 0;
    const char* digits = p_;
    for (; p_ < end_; ++p_) {
      const int d = hex_value(*p_);
      if (d < 0 || d >= base) break;
      if (value > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) {
        return fail(compile_error_code::bad_integer);
      }
      value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    if (p_ == digits) return fail(compile_error_code::bad_integer);
    node->low = value;
    node->end = p_;
    return node;
  }

  // Reads the high end of a range whose low end `low_end` has been read, with '~' consumed.
  grammar_node* parse_range(grammar_node* low_end) {
    skip_ignorable();
    grammar_node* high_end = nullptr;
    if (p_ < end_ && (*p_ == '\'' || *p_ == '"')) {
      high_end = parse_delimited(*p_ == '\'' ? kind::quote_string : kind::dquote_string, *p_);
    } else if (p_ < end_ && is_digit(*p_)) {
      high_end = parse_integer();
    } else {
      return fail(compile_error_code::bad_range);
    }
    if (high_end == nullptr) return nullptr;
    uint64_t low = 0;
    uint64_t high = 0;
    if (!range_end_value(*low_end, low) || !range_end_value(*high_end, high)) {
      return fail(compile_error_code::bad_range);
    }
    grammar_node* node = g_.new_node(kind::range_string, low_end->start);
    node->append_child(low_end);
    node->append_child(high_end);
    node->low = low;
    node->high = high;
    node->by_code_point = low_end->kind == kind::integer_dec || low_end->kind == kind::integer_hex;
    node->end = high_end->end;
    return node;
  }

  static bool range_end_value(const grammar_node& n, uint64_t& value) {
    if (n.kind == kind::integer_dec || n.kind == kind::integer_hex) {
      value = n.low;
      return true;
    }
    const std::string_view s = n.text();
    if (s.size() != 1) return false;
    value = static_cast<unsigned char>(s[0]);
    return true;
  }

  // `node` is a repeat whose minimum (if any) is set and p_ is at '{'. Reads the item, the
  // closing brace and an optional maximum right after it.
  grammar_node* parse_repeat(grammar_node* node, int depth) {
    skip_ignorable();
    ++p_;  // '{'
    grammar_node* inner = parse_alternation(depth + 1);
    if (inner == nullptr) return nullptr;
    if (!accept('}')) return fail(compile_error_code::expected_close);
    node->append_child(inner);
    node->end = p_;
    const char* after = p_;
    skip_ignorable();
    if (p_ < end_ && is_digit(*p_)) {
      grammar_node* max = parse_integer();
      if (max == nullptr) return nullptr;
      node->high = max->low;  // an explicit 0 means no limit, as a missing maximum
      node->end = p_;
    } else {
      p_ = after;
    }
    return node;
  }

  const char* begin_;
  const char* p_;
  const char* end_;
  grammar& g_;
  compile_error& error_;
};

}  // namespace

std::unique_ptr<grammar> compile_grammar(std::string_view text, compile_error& error) {
  error = compile_error{};
  auto g = std::make_unique<grammar>();
  grammar_node* root = g->new_node(kind::syntax, text.data());
  root->end = text.data() + text.size();
  g->set_root(root);
  compiler(text, *g, error).compile_rules();
  if (g->rule_count() == 0) return nullptr;
  return g;
}

}  // namespace qn::config
