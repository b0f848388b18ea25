// word_trie: a set of byte-string words in a prefix tree with 128-entry child tables.
// Owns its nodes and tables; not thread-safe (guarded by whoever holds the trie).
//
// A node is a word flag and a child table pointer (null until its first child); a child table is
// 128 node pointers, one per byte value 0..127. A word is the path of its bytes from the root, and
// the node its last byte reaches carries the word flag. Words are 1 or more bytes of 0..127: a
// word holding a byte of 128..255 is refused by insert and never found by the lookups, which keeps
// the tables at 128 entries (half the memory of a 256-entry table) and the alphabet the trie was
// designed for.
//
// Every walk is a loop with an explicit stack, never recursion, so a word of a million bytes costs
// heap memory in proportion to its length and never the thread's stack.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
  // 128 or more (nothing is allocated for it) and a word already stored; nodes made on the way
  // for a stored word stay.
  [[nodiscard]] bool insert(std::string_view word);

  // True when the word is stored exactly.
  bool contains(std::string_view word) const;

  // True when a stored whole word equals `word` up to the case of the ASCII letters. Backtracking:
  // at each byte the child for the byte itself is searched first, then, for a letter, the child
  // for the same letter in the other case. Each trie node is visited at most once, so the cost is
  // bounded by the size of the trie even where the number of case spellings is not.
  bool contains_any_case(std::string_view word) const;

  // Calls f(std::string_view) for every word in ascending unsigned byte order (a word before the
  // words that extend it). The view is valid only during the call.
  template <class F>
  void for_each_word(F&& f) const;

  // Frees every node and table.
  void clear();

 private:
  struct node;
  struct child_table {
    node* child[alphabet] = {};
  };
  struct node {
    child_table* children = nullptr;
    bool is_word = false;
  };

  static bool has_only_ascii(std::string_view word);
  static const node* child_of(const child_table* table, uint8_t byte) {
    return table == nullptr ? nullptr : table->child[byte];
  }

  // The empty word is never stored, so the root is only its child table.
  child_table* root_ = nullptr;
  uint64_t count_ = 0;
};

template <class F>
void word_trie::for_each_word(F&& f) const {
  struct frame {
    const child_table* table;
    int next_byte;
  };
  std::vector<frame> stack;
  std::string prefix;
  if (root_ != nullptr) stack.push_back({root_, 0});
  while (!stack.empty()) {
    frame& top = stack.back();
    int b = top.next_byte;
    while (b < alphabet && top.table->child[b] == nullptr) ++b;
    if (b == alphabet) {
      stack.pop_back();
      if (!stack.empty()) prefix.pop_back();  // the byte that led into the finished table
      continue;
    }
    top.next_byte = b + 1;
    const node* child = top.table->child[b];
    prefix.push_back(static_cast<char>(b));
    if (child->is_word) f(std::string_view(prefix));
    if (child->children != nullptr) {
      stack.push_back({child->children, 0});
    } else {
      prefix.pop_back();
    }
  }
}

}  // namespace qn::db::nosql::nosql_db
