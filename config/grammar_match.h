// Grammar engine, the matcher: name resolution, the matcher and the parse tree it builds.
// Single-threaded by design: the furthest-failure position is one variable per thread, and the
// engine runs only at start-up on one thread. A parse node owns its subtree.
//
// Matching is recursive descent with ordered choice and greedy repetition: an alternation
// returns its first matching alternative and is never revisited, a repetition takes as many
// items as it can. Results of concatenations and repetitions are flattened so that anonymous
// groupings do not pile up: an empty result is dropped, an anonymous one (kind 0) gives its
// children in place. A rule reference labels its result with the rule's kind (rule + 2).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>

#include "config/grammar.h"

namespace qn::config {

// Parse node kinds: 0 anonymous grouping, 1 terminal text, rule n gives n + 2.
namespace parse_kind {
inline constexpr uint16_t anonymous = 0;
inline constexpr uint16_t terminal = 1;
constexpr uint16_t of_rule(size_t rule) { return static_cast<uint16_t>(rule + 2); }
}  // namespace parse_kind

// One matched piece of input: a span into the input (never a copy) and its sub-results in
// input order. A node owns its children. Children are a singly linked list (first, last, next)
// rather than an array: flattening splices a grouping's children in O(1), and nodes come from
// a per-thread pool, so matching makes no heap allocation per node. A parse tree must be
// released on the thread that built it.
struct parse_node {
  uint16_t kind = parse_kind::anonymous;
  const char* start = nullptr;
  uint64_t length = 0;
  parse_node* first_child = nullptr;
  parse_node* last_child = nullptr;
  parse_node* next = nullptr;  // next sibling, owned by the parent's list

  parse_node() = default;
  parse_node(const parse_node&) = delete;
  parse_node& operator=(const parse_node&) = delete;
  ~parse_node();

  static void* operator new(size_t size);
  static void operator delete(void* p);

  const char* end() const { return start + length; }
  bool has_children() const { return first_child != nullptr; }
  size_t child_count() const;
  void append_child(std::unique_ptr<parse_node> child);
  // Moves every child of `from` to the end of this node's children.
  void take_children(parse_node& from);

  // Range over the children for range-for: `for (const parse_node& c : n.children())`.
  class child_iterator {
   public:
    explicit child_iterator(const parse_node* n) : n_(n) {}
    const parse_node& operator*() const { return *n_; }
    child_iterator& operator++() {
      n_ = n_->next;
      return *this;
    }
    bool operator!=(const child_iterator& o) const { return n_ != o.n_; }

   private:
    const parse_node* n_;
  };
  struct child_range {
    const parse_node* first;
    child_iterator begin() const { return child_iterator(first); }
    child_iterator end() const { return child_iterator(nullptr); }
  };
  child_range children() const { return child_range{first_child}; }
};
using parse_ptr = std::unique_ptr<parse_node>;

[[nodiscard]] parse_ptr make_parse_node(uint16_t kind, const char* start, uint64_t length);

struct resolution_table;

// A hand-written replacement of one rule, called with the matcher's arguments. Returns a node
// of kind (rule + 2) spanning what it consumed, or null after raising the furthest-failure
// position.
using recogniser = parse_ptr (*)(const grammar_node& node, const char* input, uint64_t remaining,
                                 const resolution_table& table);
using recogniser_map = std::map<size_t, recogniser>;  // rule number -> recogniser

// Entry rule_ref_base + n holds rule n's node; entry recogniser_base + n its recogniser.
struct resolution_table {
  struct entry {
    const grammar_node* rule = nullptr;
    recogniser recognise = nullptr;
  };
  std::array<entry, kind::table_size> entries{};
};

// Turns every identifier of every rule into a rule reference: recogniser_base + n when
// `recognisers` has rule n, else rule_ref_base + n, and fills that entry of `table`. An
// undefined name prints "unkown identifier <name>" and stays an identifier, which matches
// nothing. When a name is defined twice the first rule counts. Returns true when every name
// was defined.
bool resolve_names(grammar& g, const recogniser_map& recognisers, resolution_table& table);

// Matches `node` at `input` with `remaining` bytes left. Returns the parse node, or null when
// the node does not match there (a failing terminal raises the furthest-failure position).
// Rule references nest at most max_rule_depth deep; a deeper reference fails at its position,
// which keeps hostile input (100000 nested brackets) from exhausting the stack.
[[nodiscard]] parse_ptr match(const grammar_node& node, const char* input, uint64_t remaining,
                              const resolution_table& table);
inline constexpr int max_rule_depth = 1000;

// The furthest position at which a terminal or a recogniser failed; it only moves forward.
// Clear it before a parse and read it after a failed one.
void reset_furthest_failure();
void raise_furthest_failure(const char* position);
const char* furthest_failure();

}  // namespace qn::config
