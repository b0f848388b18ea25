#include "containers/word_trie.h"

namespace qn::db::nosql::nosql_db {

namespace {

bool is_ascii_letter(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

// The same letter in the other case (upper + 32 is lower).
uint8_t other_case(uint8_t b) { return b >= 'a' ? b - 32 : b + 32; }

}  // namespace

bool word_trie::has_only_ascii(std::string_view word) {
  for (char c : word) {
    if (static_cast<uint8_t>(c) >= alphabet) return false;
  }
  return true;
}

bool word_trie::insert(std::string_view word) {
  if (word.empty() || !has_only_ascii(word)) return false;
  if (root_ == nullptr) root_ = new child_table;
  child_table* table = root_;
  node* at = nullptr;
  for (size_t i = 0; i < word.size(); ++i) {
    if (table == nullptr) table = at->children = new child_table;
    node*& slot = table->child[static_cast<uint8_t>(word[i])];
    if (slot == nullptr) slot = new node;
    at = slot;
    table = at->children;
  }
  if (at->is_word) return false;
  at->is_word = true;
  ++count_;
  return true;
}

bool word_trie::contains(std::string_view word) const {
  if (word.empty() || !has_only_ascii(word)) return false;
  const child_table* table = root_;
  const node* at = nullptr;
  for (char c : word) {
    at = child_of(table, static_cast<uint8_t>(c));
    if (at == nullptr) return false;
    table = at->children;
  }
  return at->is_word;
}

bool word_trie::contains_any_case(std::string_view word) const {
  if (word.empty() || !has_only_ascii(word) || root_ == nullptr) return false;
  const size_t length = word.size();
  // tables[d]: the child table below the node reached after d bytes (tables[0]: the root's);
  // tried[d]: how many of the candidates for byte d were taken (0, 1 or 2). Words up to
  // `short_word` bytes keep both on the stack; longer ones on the heap.
  constexpr size_t short_word = 64;
  const child_table* short_tables[short_word + 1];
  uint8_t short_tried[short_word];
  std::vector<const child_table*> long_tables;
  std::vector<uint8_t> long_tried;
  const child_table** tables = short_tables;
  uint8_t* tried = short_tried;
  if (length > short_word) {
    long_tables.resize(length + 1);
    long_tried.resize(length);
    tables = long_tables.data();
    tried = long_tried.data();
  }
  tables[0] = root_;
  tried[0] = 0;
  size_t depth = 0;
  for (;;) {
    const auto b = static_cast<uint8_t>(word[depth]);
    const uint8_t attempt = tried[depth]++;
    const node* child = nullptr;
    if (attempt == 0) {
      child = child_of(tables[depth], b);
    } else if (attempt == 1 && is_ascii_letter(b)) {
      child = child_of(tables[depth], other_case(b));
    } else {  // no candidate left at this depth
      if (depth == 0) return false;
      --depth;
      continue;
    }
    if (child == nullptr) continue;
    if (depth + 1 == length) {
      if (child->is_word) return true;
      continue;
    }
    if (child->children == nullptr) continue;  // bytes remain but nothing lies below
    tables[depth + 1] = child->children;
    tried[depth + 1] = 0;
    ++depth;
  }
}

void word_trie::clear() {
  std::vector<child_table*> pending;
  if (root_ != nullptr) pending.push_back(root_);
  while (!pending.empty()) {
    child_table* table = pending.back();
    pending.pop_back();
    for (node* child : table->child) {
      if (child == nullptr) continue;
      if (child->children != nullptr) pending.push_back(child->children);
      delete child;
    }
    delete table;
  }
  root_ = nullptr;
  count_ = 0;
}

}  // namespace qn::db::nosql::nosql_db
