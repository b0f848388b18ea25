// word_trie: a set of byte-string words in a path-compressed prefix tree with sorted child sets.
// Owns its nodes; not thread-safe (guarded by whoever holds the trie).
//
// Each node is one allocation: a header, its children, then its label. A child is reached by one
// byte, and its label holds the bytes after that byte up to the child's own branching point, so a
// word without branches costs one node of about its own length. A sparse node lists its children's
// key bytes in ascending order beside their pointers; a dense node covers a range of bytes with one
// pointer per byte, null where no child is, and finds a child by indexing. The path from the root
// spells a node's bytes; a node carries the word flag when those bytes are a stored word. Every
// node but the root is a word or has at least two children (insert only ever splits a label where
// a word ends or parts from it; nothing is removed but by clear), except the links of a chain that
// carries a run longer than one label can hold. The root's label is always empty.
//
// Words are 1 or more bytes of 0..127: a word holding a byte of 128..255 is refused by insert
// and never found by the lookups, the alphabet the trie was designed for.
//
// Every walk is a loop with an explicit stack, never recursion, so a word of a million bytes costs
// heap memory in proportion to its length and never the thread's stack.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qn::db::nosql::nosql_db {

class word_trie {
 public:
  static constexpr int alphabet = 128;

  word_trie() = default;
  word_trie(const word_trie&) = delete;
  word_trie& operator=(const word_trie&) = delete;
  ~word_trie() { clear(); }

  uint64_t size() const { return count_; }

  // True when the word was new and is now stored. False for the empty word, a word with a byte of
  // 128 or more (nothing is allocated for it) and a word already stored (nothing is changed).
  [[nodiscard]] bool insert(std::string_view word);

  // True when the word is stored exactly.
  bool contains(std::string_view word) const;

  // True when a stored whole word equals `word` up to the case of the ASCII letters A to Z and a
  // to z. Backtracking: at each branching byte the child for the byte itself is searched first,
  // then, for a letter, the child for the same letter in the other case; a label is compared
  // byte by byte up to case. Each trie node is visited at most once, so the cost is bounded by
  // the size of the trie even where the number of case spellings is not.
  bool contains_any_case(std::string_view word) const;

  // Calls f(std::string_view) for every word in ascending unsigned byte order (a word before the
  // words that extend it). The view is valid only during the call.
  template <class F>
  void for_each_word(F&& f) const;

  // Frees every node.
  void clear();

 private:
  // Followed in the same allocation by the children and then `label_length` label bytes.
  // A sparse node (`low` is `sparse`) holds `capacity` key bytes (the first `child_count` in use,
  // ascending) padded to 8 bytes, then `capacity` child pointers (the child of key i at i). A
  // dense node holds `capacity` child pointers for the bytes low .. low + capacity - 1 (never past
  // the alphabet), null where the byte leads nowhere; `child_count` counts the others.
  struct node {
    uint32_t label_length;
    uint8_t is_word;
    uint8_t child_count;
    uint8_t capacity;
    uint8_t low;
  };
  static_assert(sizeof(node) == 8, "children start 8-byte aligned behind the header");
  static constexpr uint8_t sparse = 0xFF;
  // Longer runs without a branch are chained through non-word nodes with one child.
  static constexpr uint32_t max_label = UINT32_MAX;
  // A sparse node finds a key with one 16-byte compare; a node with more children is dense.
  static constexpr uint32_t max_sparse = 16;

  static bool is_dense(const node* n) { return n->low != sparse; }
  static size_t key_bytes(uint32_t capacity, bool dense) {
    return dense ? 0 : (capacity + 7) & ~size_t{7};
  }
  static size_t node_bytes(uint32_t capacity, bool dense, size_t label_length) {
    return sizeof(node) + key_bytes(capacity, dense) + capacity * sizeof(node*) + label_length;
  }
  static const uint8_t* keys(const node* n) { return reinterpret_cast<const uint8_t*>(n + 1); }
  static uint8_t* keys(node* n) { return reinterpret_cast<uint8_t*>(n + 1); }
  static node* const* children(const node* n) {
    return reinterpret_cast<node* const*>(keys(n) + key_bytes(n->capacity, is_dense(n)));
  }
  static node** children(node* n) {
    return reinterpret_cast<node**>(keys(n) + key_bytes(n->capacity, is_dense(n)));
  }
  static const char* label(const node* n) {
    return reinterpret_cast<const char*>(children(n) + n->capacity);
  }
  static char* label(node* n) { return reinterpret_cast<char*>(children(n) + n->capacity); }
  static std::string_view label_view(const node* n) { return {label(n), n->label_length}; }
  // Child slots 0 .. slot_count - 1 hold every child in ascending key order (a dense node's
  // slots may be null); key_at is the byte that leads to slot i.
  static uint32_t slot_count(const node* n) { return is_dense(n) ? n->capacity : n->child_count; }
  static uint8_t key_at(const node* n, uint32_t i) {
    return is_dense(n) ? static_cast<uint8_t>(n->low + i) : keys(n)[i];
  }
  // The position of `byte` among the keys of sparse n, or child_count when it is not one. The
  // keys are compared at once: the bytes read past them (fewer than 16) are inside the node,
  // which holds 8 pointer bytes per key behind its keys, and are masked off.
  static uint32_t key_index(const node* n, uint8_t byte) {
    const uint32_t count = n->child_count;
    if (count == 0) return 0;
    const uint8_t* k = keys(n);
#if defined(__SSE2__)
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(k));
    const auto found = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(static_cast<char>(byte)))));
    const uint32_t in_use = found & ((1u << count) - 1);
    return in_use == 0 ? count : static_cast<uint32_t>(std::countr_zero(in_use));
#else
    const void* at = std::memchr(k, byte, count);
    return at == nullptr ? count : static_cast<uint32_t>(static_cast<const uint8_t*>(at) - k);
#endif
  }
  // The slot of the child reached by `byte`, or null when there is none. A byte past the
  // alphabet is past every dense range.
  static node** child_slot(node* n, uint8_t byte) {
    if (is_dense(n)) {
      const uint32_t i = uint32_t{byte} - n->low;
      node** at = children(n) + i;
      return i < n->capacity && *at != nullptr ? at : nullptr;
    }
    const uint32_t i = key_index(n, byte);
    return i == n->child_count ? nullptr : &children(n)[i];
  }
  // The child reached by `byte`, or null.
  static const node* child_of(const node* n, uint8_t byte) {
    node* const* at = child_slot(const_cast<node*>(n), byte);  // only read
    return at == nullptr ? nullptr : *at;
  }

  static bool has_only_ascii(std::string_view word);
  // A node with no children yet; `low` is `sparse` or, for a dense node, its first byte.
  static node* make_node(std::string_view label, bool is_word, uint32_t capacity, uint8_t low);
  // A word node for the bytes `rest` below a branching byte (a chain when `rest` exceeds
  // max_label).
  static node* make_tail(std::string_view rest);
  // `capacity`, or more where the allocator's chunk for the node has room, but at most `most`.
  static uint32_t fitted_capacity(uint32_t capacity, bool dense, size_t label_length,
                                  uint32_t most);
  // Makes `child`, a new node, the child of *slot reached by `byte`, which leads nowhere yet;
  // *slot is replaced by a larger copy when it has no room for the byte.
  static void add_child(node** slot, uint8_t byte, node* child);
  // Replaces *slot by a copy with room for its children and one reached by `byte`: dense when
  // that fills at least half of the range its keys span, or when a sparse node could not hold
  // them.
  static void reshape(node** slot, uint8_t byte);
  // Cuts the label of *slot after `length` bytes: *slot becomes a new node with that label and
  // the old node, keyed by the byte at `length`, as its only child.
  static void split(node** slot, uint32_t length);

  node* root_ = nullptr;  // null until the first insert
  uint64_t count_ = 0;
};

template <class F>
void word_trie::for_each_word(F&& f) const {
  struct frame {
    const node* at;
    uint32_t next_slot;
    size_t prefix_length;  // the prefix's length before the bytes that lead into `at`
  };
  std::vector<frame> stack;
  std::string prefix;
  if (root_ != nullptr) stack.push_back({root_, 0, 0});
  while (!stack.empty()) {
    frame& top = stack.back();
    const uint32_t end = slot_count(top.at);
    node* const* slots = children(top.at);
    uint32_t i = top.next_slot;
    while (i < end && slots[i] == nullptr) ++i;
    if (i == end) {
      prefix.resize(top.prefix_length);
      stack.pop_back();
      continue;
    }
    top.next_slot = i + 1;
    const node* child = slots[i];
    const size_t before = prefix.size();
    prefix.push_back(static_cast<char>(key_at(top.at, i)));
    prefix.append(label_view(child));
    if (child->is_word) f(std::string_view(prefix));
    if (child->child_count != 0) {
      stack.push_back({child, 0, before});  // `top` is not used past this point
    } else {
      prefix.resize(before);
    }
  }
}

}  // namespace qn::db::nosql::nosql_db
