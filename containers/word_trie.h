// word_trie: a set of byte-string words in a path-compressed prefix tree with sorted child sets.
// Owns its nodes; not thread-safe (guarded by whoever holds the trie).
//
// Each node is one allocation: a header, its children's key bytes (the byte that leads to each,
// in ascending order), its label, then its child pointers; a node with room for many children
// also carries a table from byte to child. A child is reached by one byte, and
// its label holds the bytes after that byte up to the child's own branching point, so a word
// without branches costs one node of about its own length. The path from the root spells a
// node's bytes; a node carries the word flag when those bytes are a stored word. Every node but
// the root is a word or has at least two children (insert only ever splits a label where a word
// ends or parts from it; nothing is removed but by clear), except the links of a chain that
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
  // Followed in the same allocation by, for a wide node only, a slot table (`alphabet` bytes: for
  // each byte, its key's position + 1, 0 when it is no key), then `capacity` key bytes (the first
  // `child_count` in use, ascending), `label_length` label bytes, padding to 8 bytes, and
  // `capacity` child pointers (the child of key i at i). A node is wide when its capacity is
  // `wide_capacity` or more; a narrow node finds a key with one 16-byte compare, a wide one by
  // its slot table. Header, keys and a short label share the first cache line.
  struct node {
    uint32_t label_length;
    uint8_t is_word;
    uint8_t child_count;
    uint8_t capacity;
    uint8_t unused;
  };
  // Longer runs without a branch are chained through non-word nodes with one child.
  static constexpr uint32_t max_label = UINT32_MAX;
  static constexpr uint32_t wide_capacity = 8;
  static_assert(wide_capacity <= 16, "a narrow node's keys fit one 16-byte compare");

  static size_t slot_table_bytes(uint32_t capacity) {
    return capacity >= wide_capacity ? alphabet : 0;
  }
  static size_t children_offset(uint32_t capacity, size_t label_length) {
    return (sizeof(node) + slot_table_bytes(capacity) + capacity + label_length + 7) & ~size_t{7};
  }
  static const uint8_t* slot_table(const node* n) {
    return reinterpret_cast<const uint8_t*>(n + 1);
  }
  static uint8_t* slot_table(node* n) { return reinterpret_cast<uint8_t*>(n + 1); }
  static const uint8_t* keys(const node* n) {
    return slot_table(n) + slot_table_bytes(n->capacity);
  }
  static uint8_t* keys(node* n) { return slot_table(n) + slot_table_bytes(n->capacity); }
  static const char* label(const node* n) {
    return reinterpret_cast<const char*>(keys(n) + n->capacity);
  }
  static char* label(node* n) { return reinterpret_cast<char*>(keys(n) + n->capacity); }
  static std::string_view label_view(const node* n) { return {label(n), n->label_length}; }
  static node* const* children(const node* n) {
    return reinterpret_cast<node* const*>(reinterpret_cast<const char*>(n) +
                                          children_offset(n->capacity, n->label_length));
  }
  static node** children(node* n) {
    return reinterpret_cast<node**>(reinterpret_cast<char*>(n) +
                                    children_offset(n->capacity, n->label_length));
  }
  // The position of `byte` among the keys of n, or child_count when it is not one. A narrow node
  // compares its keys at once: the bytes read past them (fewer than 16) are inside the node,
  // which holds 8 pointer bytes per key behind its keys, and are masked off.
  static uint32_t key_index(const node* n, uint8_t byte) {
    const uint32_t count = n->child_count;
    if (n->capacity >= wide_capacity) {
      const uint32_t slot = byte < alphabet ? slot_table(n)[byte] : 0;
      return slot == 0 ? count : slot - 1;
    }
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
  // The child reached by `byte`, or null.
  static const node* child_of(const node* n, uint8_t byte) {
    const uint32_t i = key_index(n, byte);
    return i == n->child_count ? nullptr : children(n)[i];
  }

  static bool has_only_ascii(std::string_view word);
  static size_t node_bytes(uint32_t capacity, size_t label_length);
  static node* make_node(std::string_view label, bool is_word, uint32_t capacity);
  // A word node for the bytes `rest` below a branching byte (a chain when `rest` exceeds
  // max_label).
  static node* make_tail(std::string_view rest);
  // Points the slot table of a wide node at the keys from position `from` on.
  static void index_keys(node* n, uint32_t from);
  // Replaces *slot by a copy with room for at least one more child.
  static void grow(node** slot);
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
    uint32_t next_child;
    size_t prefix_length;  // the prefix's length before the bytes that lead into `at`
  };
  std::vector<frame> stack;
  std::string prefix;
  if (root_ != nullptr) stack.push_back({root_, 0, 0});
  while (!stack.empty()) {
    frame& top = stack.back();
    if (top.next_child == top.at->child_count) {
      prefix.resize(top.prefix_length);
      stack.pop_back();
      continue;
    }
    const uint32_t i = top.next_child++;
    const node* child = children(top.at)[i];
    const size_t before = prefix.size();
    prefix.push_back(static_cast<char>(keys(top.at)[i]));
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
