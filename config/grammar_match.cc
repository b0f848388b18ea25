#include "config/grammar_match.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>

#include "config/utf8.h"

namespace qn::config {

namespace {

// One per thread rather than one per process so that tests running parses on several threads
// do not disturb each other; the server parses on one thread only.
thread_local const char* furthest_position = nullptr;
thread_local int rule_depth = 0;

parse_ptr fail_at(const char* p) {
  raise_furthest_failure(p);
  return nullptr;
}

// ---- resolution ----

void resolve_node(grammar_node& node, const std::map<std::string_view, size_t>& numbers,
                  const recogniser_map& recognisers, const grammar& g, resolution_table& table,
                  bool& all_defined) {
  if (node.kind == kind::identifier) {
    const std::string_view name = node.text();
    const auto it = numbers.find(name);
    if (it == numbers.end()) {
      std::printf("unkown identifier %.*s\n", static_cast<int>(name.size()), name.data());
      all_defined = false;
      return;
    }
    const size_t n = it->second;
    const auto r = recognisers.find(n);
    if (r != recognisers.end() && r->second != nullptr) {
      node.kind = static_cast<uint16_t>(kind::recogniser_base + n);
      table.entries[node.kind].recognise = r->second;
    } else {
      node.kind = static_cast<uint16_t>(kind::rule_ref_base + n);
      table.entries[node.kind].rule = &g.rule(n);
    }
    return;
  }
  for (grammar_node* c = node.first_child; c != nullptr; c = c->next) {
    resolve_node(*c, numbers, recognisers, g, table, all_defined);
  }
}

// ---- terminals ----

parse_ptr match_quoted(const grammar_node& node, const char* p, uint64_t r) {
  const std::string_view s = node.text();
  if (r < s.size() || std::memcmp(p, s.data(), s.size()) != 0) return fail_at(p);
  return make_parse_node(parse_kind::terminal, p, s.size());
}

// The set is searched by bisection over bytes taken as signed chars, so a set written out of
// order misses some of its own members, as its author asked for.
parse_ptr match_sort_string(const grammar_node& node, const char* p, uint64_t r) {
  if (r == 0) return fail_at(p);
  const std::string_view set = node.text();
  const auto c = static_cast<signed char>(*p);
  size_t lo = 0;
  size_t hi = set.size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    const auto m = static_cast<signed char>(set[mid]);
    if (m == c) return make_parse_node(parse_kind::terminal, p, 1);
    if (m < c) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return fail_at(p);
}

parse_ptr match_range(const grammar_node& node, const char* p, uint64_t r) {
  if (r == 0) return fail_at(p);
  if (!node.by_code_point) {
    const auto b = static_cast<unsigned char>(*p);
    if (b < node.low || b > node.high) return fail_at(p);
    return make_parse_node(parse_kind::terminal, p, 1);
  }
  uint32_t cp = 0;
  const int n = decode_utf8(p, r, cp);
  if (n == 0 || cp < node.low || cp > node.high) return fail_at(p);
  return make_parse_node(parse_kind::terminal, p, static_cast<uint64_t>(n));
}

parse_ptr match_any_char(const char* p, uint64_t r) {
  if (r == 0) return fail_at(p);
  return make_parse_node(parse_kind::terminal, p, static_cast<uint64_t>(utf8_char_length(p, r)));
}

parse_ptr match_except(const grammar_node& node, const char* p, uint64_t r,
                       const resolution_table& table) {
  if (r == 0 || node.first_child == nullptr) return fail_at(p);
  if (match(*node.first_child, p, r, table) != nullptr) return fail_at(p);
  return make_parse_node(parse_kind::terminal, p, static_cast<uint64_t>(utf8_char_length(p, r)));
}

// ---- combinators ----

// Items of these kinds have their results flattened inside a concatenation.
bool is_flattened_kind(uint16_t k) {
  return k == kind::concatenation || k == kind::group || k == kind::option ||
         k == kind::repeat || k == kind::repeat_at_least_one;
}

// Adds one item result to `out`: dropped when empty, spliced when anonymous, else kept.
void add_flattened(parse_ptr result, std::vector<parse_ptr>& out) {
  if (result->length == 0) return;
  if (result->kind == parse_kind::anonymous) {
    for (parse_ptr& c : result->children) out.push_back(std::move(c));
    return;
  }
  out.push_back(std::move(result));
}

// One retained result stands for itself; none or several are grouped in an anonymous node.
parse_ptr finish_sequence(std::vector<parse_ptr>& results, const char* p, const char* end) {
  if (results.size() == 1) return std::move(results.front());
  parse_ptr node = make_parse_node(parse_kind::anonymous, p, static_cast<uint64_t>(end - p));
  node->children = std::move(results);
  return node;
}

parse_ptr match_alternation(const grammar_node& node, const char* p, uint64_t r,
                            const resolution_table& table) {
  for (const grammar_node* c = node.first_child; c != nullptr; c = c->next) {
    if (parse_ptr m = match(*c, p, r, table)) return m;
  }
  return nullptr;
}

parse_ptr match_concatenation(const grammar_node& node, const char* p, uint64_t r,
                              const resolution_table& table) {
  std::vector<parse_ptr> results;
  const char* pos = p;
  const char* const end = p + r;
  for (const grammar_node* c = node.first_child; c != nullptr; c = c->next) {
    parse_ptr m = match(*c, pos, static_cast<uint64_t>(end - pos), table);
    if (m == nullptr) return nullptr;
    pos = m->end();
    if (is_flattened_kind(c->kind)) {
      add_flattened(std::move(m), results);
    } else {
      results.push_back(std::move(m));
    }
  }
  return finish_sequence(results, p, pos);
}

parse_ptr match_option(const grammar_node& node, const char* p, uint64_t r,
                       const resolution_table& table) {
  if (node.first_child != nullptr) {
    if (parse_ptr m = match(*node.first_child, p, r, table)) return m;
  }
  return make_parse_node(parse_kind::anonymous, p, 0);
}

// Greedy repetition. Stops when the item fails, the input is used up, the item matches
// without consuming input (counted, so `1{[x]}` matches empty) or `high` items matched.
// Every item result is flattened, whatever the item's kind: inside a repetition an anonymous
// result is only a grouping of the item's own pieces.
parse_ptr match_repeat(const grammar_node& node, const char* p, uint64_t r,
                       const resolution_table& table) {
  if (node.first_child == nullptr) return nullptr;
  std::vector<parse_ptr> results;
  const char* pos = p;
  const char* const end = p + r;
  uint64_t count = 0;
  while (pos < end && (node.high == 0 || count < node.high)) {
    parse_ptr m = match(*node.first_child, pos, static_cast<uint64_t>(end - pos), table);
    if (m == nullptr) break;
    ++count;
    if (m->length == 0) break;
    pos = m->end();
    add_flattened(std::move(m), results);
  }
  if (count < node.low) return nullptr;
  return finish_sequence(results, p, pos);
}

parse_ptr match_rule_ref(const grammar_node& node, const char* p, uint64_t r,
                         const resolution_table& table) {
  const grammar_node* rule = table.entries[node.kind].rule;
  if (rule == nullptr || rule->first_child == nullptr) {
    std::printf("unkown type with type = %d\n", node.kind);
    return nullptr;
  }
  if (rule_depth >= max_rule_depth) return fail_at(p);
  ++rule_depth;
  parse_ptr m = match(*rule->first_child, p, r, table);
  --rule_depth;
  if (m == nullptr) return nullptr;
  const auto labelled = parse_kind::of_rule(node.kind - kind::rule_ref_base);
  if (m->kind == parse_kind::anonymous) {
    m->kind = labelled;
    return m;
  }
  parse_ptr wrapper = make_parse_node(labelled, p, static_cast<uint64_t>(m->end() - p));
  wrapper->children.push_back(std::move(m));
  return wrapper;
}

}  // namespace

parse_ptr make_parse_node(uint16_t kind, const char* start, uint64_t length) {
  auto node = std::make_unique<parse_node>();
  node->kind = kind;
  node->start = start;
  node->length = length;
  return node;
}

bool resolve_names(grammar& g, const recogniser_map& recognisers, resolution_table& table) {
  std::map<std::string_view, size_t> numbers;
  for (size_t n = 0; n < g.rule_count(); ++n) numbers.emplace(g.rule(n).text(), n);
  bool all_defined = true;
  for (size_t n = 0; n < g.rule_count(); ++n) {
    resolve_node(g.rule(n), numbers, recognisers, g, table, all_defined);
  }
  return all_defined;
}

parse_ptr match(const grammar_node& node, const char* input, uint64_t remaining,
                const resolution_table& table) {
  const uint16_t k = node.kind;
  if (k >= kind::recogniser_base && k < kind::table_size) {
    const recogniser recognise = table.entries[k].recognise;
    if (recognise != nullptr) return recognise(node, input, remaining, table);
  } else if (k >= kind::rule_ref_base && k < kind::recogniser_base) {
    return match_rule_ref(node, input, remaining, table);
  }
  switch (k) {
    case kind::rule:
    case kind::meta_definition:
    case kind::group:
      if (node.first_child == nullptr) break;
      return match(*node.first_child, input, remaining, table);
    case kind::alternation:
      return match_alternation(node, input, remaining, table);
    case kind::concatenation:
      return match_concatenation(node, input, remaining, table);
    case kind::option:
      return match_option(node, input, remaining, table);
    case kind::repeat:
    case kind::repeat_at_least_one:
      return match_repeat(node, input, remaining, table);
    case kind::except_terminal_string:
      return match_except(node, input, remaining, table);
    case kind::sort_string:
      return match_sort_string(node, input, remaining);
    case kind::quote_string:
    case kind::dquote_string:
      return match_quoted(node, input, remaining);
    case kind::range_string:
      return match_range(node, input, remaining);
    case kind::any_char:
      return match_any_char(input, remaining);
    default:
      break;
  }
  std::printf("unkown type with type = %d\n", k);
  return nullptr;
}

void reset_furthest_failure() { furthest_position = nullptr; }

void raise_furthest_failure(const char* position) {
  if (furthest_position == nullptr || std::less<const char*>()(furthest_position, position)) {
    furthest_position = position;
  }
}

const char* furthest_failure() { return furthest_position; }

}  // namespace qn::config
