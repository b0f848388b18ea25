#include "config/grammar_match.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

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

// ---- node pool ----

// Fixed-size slots for parse nodes, kept on a free list. When the last node of a thread is
// released, every chunk but the first goes back to the system. Under AddressSanitizer nodes
// come from the global heap so that use-after-free stays detectable.
class node_pool {
 public:
  ~node_pool() { chunks_.clear(); }

  void* allocate() {
    if (free_ == nullptr) grow();
    slot* s = free_;
    free_ = s->next_free;
    ++live_;
    return s;
  }

  void release(void* p) {
    auto* s = static_cast<slot*>(p);
    s->next_free = free_;
    free_ = s;
    if (--live_ == 0 && chunks_.size() > 1) trim();
  }

 private:
  union slot {
    slot* next_free;
    alignas(parse_node) unsigned char bytes[sizeof(parse_node)];
  };
  static constexpr size_t chunk_slots = 1024;

  void grow() {
    chunks_.push_back(std::make_unique<slot[]>(chunk_slots));
    link(chunks_.back().get());
  }

  void link(slot* chunk) {
    for (size_t i = 0; i < chunk_slots; ++i) {
      chunk[i].next_free = i + 1 < chunk_slots ? &chunk[i + 1] : free_;
    }
    free_ = chunk;
  }

  void trim() {
    chunks_.resize(1);
    free_ = nullptr;
    link(chunks_.front().get());
  }

  std::vector<std::unique_ptr<slot[]>> chunks_;
  slot* free_ = nullptr;
  size_t live_ = 0;
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool use_pool = false;
#else
constexpr bool use_pool = true;
#endif

node_pool& pool() {
  thread_local node_pool p;
  return p;
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
  return k == kind::concatenation || k == kind::group || k == kind::option || k == kind::repeat ||
         k == kind::repeat_at_least_one;
}

// The results of a sequence or repetition under construction. keep() retains a result as it
// is; add_flattened() drops an empty one and splices an anonymous one's children.
class sequence {
 public:
  sequence() : holder_(make_parse_node(parse_kind::anonymous, nullptr, 0)) {}

  void keep(parse_ptr result) {
    holder_->append_child(std::move(result));
    ++count_;
  }

  void add_flattened(parse_ptr result) {
    if (result->length == 0) return;
    if (result->kind != parse_kind::anonymous) return keep(std::move(result));
    if (result->first_child == nullptr) return;
    count_ += result->first_child == result->last_child ? 1 : 2;  // only 0, 1 or more matter
    holder_->take_children(*result);
  }

  // One retained result stands for itself; none or several are grouped in an anonymous node
  // spanning [p, end).
  parse_ptr finish(const char* p, const char* end) {
    if (count_ == 1) {
      parse_ptr only(holder_->first_child);
      holder_->first_child = holder_->last_child = nullptr;
      return only;
    }
    holder_->start = p;
    holder_->length = static_cast<uint64_t>(end - p);
    return std::move(holder_);
  }

 private:
  parse_ptr holder_;
  size_t count_ = 0;
};

parse_ptr match_alternation(const grammar_node& node, const char* p, uint64_t r,
                            const resolution_table& table) {
  for (const grammar_node* c = node.first_child; c != nullptr; c = c->next) {
    if (parse_ptr m = match(*c, p, r, table)) return m;
  }
  return nullptr;
}

parse_ptr match_concatenation(const grammar_node& node, const char* p, uint64_t r,
                              const resolution_table& table) {
  sequence results;
  const char* pos = p;
  const char* const end = p + r;
  for (const grammar_node* c = node.first_child; c != nullptr; c = c->next) {
    parse_ptr m = match(*c, pos, static_cast<uint64_t>(end - pos), table);
    if (m == nullptr) return nullptr;
    pos = m->end();
    if (is_flattened_kind(c->kind)) {
      results.add_flattened(std::move(m));
    } else {
      results.keep(std::move(m));
    }
  }
  return results.finish(p, pos);
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
  sequence results;
  const char* pos = p;
  const char* const end = p + r;
  uint64_t count = 0;
  while (pos < end && (node.high == 0 || count < node.high)) {
    parse_ptr m = match(*node.first_child, pos, static_cast<uint64_t>(end - pos), table);
    if (m == nullptr) break;
    ++count;
    if (m->length == 0) break;
    pos = m->end();
    results.add_flattened(std::move(m));
  }
  if (count < node.low) return nullptr;
  return results.finish(p, pos);
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
  wrapper->append_child(std::move(m));
  return wrapper;
}

}  // namespace

void* parse_node::operator new(size_t size) {
  return use_pool ? pool().allocate() : ::operator new(size);
}

void parse_node::operator delete(void* p) {
  if (use_pool) {
    pool().release(p);
  } else {
    ::operator delete(p);
  }
}

// Children are released one after another; only the depth of the tree recurses, and that is
// bounded by the matcher's own depth.
parse_node::~parse_node() {
  parse_node* c = first_child;
  while (c != nullptr) {
    parse_node* n = c->next;
    delete c;
    c = n;
  }
}

size_t parse_node::child_count() const {
  size_t n = 0;
  for (const parse_node* c = first_child; c != nullptr; c = c->next) ++n;
  return n;
}

void parse_node::append_child(parse_ptr child) {
  parse_node* c = child.release();
  c->next = nullptr;
  if (last_child != nullptr) {
    last_child->next = c;
  } else {
    first_child = c;
  }
  last_child = c;
}

void parse_node::take_children(parse_node& from) {
  if (from.first_child == nullptr) return;
  if (last_child != nullptr) {
    last_child->next = from.first_child;
  } else {
    first_child = from.first_child;
  }
  last_child = from.last_child;
  from.first_child = from.last_child = nullptr;
}

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
