#include "containers/word_trie.h"

#include <algorithm>
#include <new>

namespace qn::db::nosql::nosql_db {

namespace {

bool is_ascii_letter(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

// The same letter in the other case (upper + 32 is lower).
uint8_t other_case(uint8_t b) { return b >= 'a' ? b - 32 : b + 32; }

// Upper-case letters to lower case, every other byte as it is.
uint8_t folded(uint8_t b) { return b >= 'A' && b <= 'Z' ? b + 32 : b; }

bool equal(const char* a, const char* b, size_t n) {
  if (n > 16) return std::memcmp(a, b, n) == 0;
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

bool equal_any_case(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (folded(static_cast<uint8_t>(a[i])) != folded(static_cast<uint8_t>(b[i]))) return false;
  }
  return true;
}

size_t common_prefix(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

}  // namespace

bool word_trie::has_only_ascii(std::string_view word) {
  for (char c : word) {
    if (static_cast<uint8_t>(c) >= alphabet) return false;
  }
  return true;
}

size_t word_trie::node_bytes(uint32_t capacity, size_t label_length) {
  return children_offset(capacity, label_length) + capacity * sizeof(node*);
}

word_trie::node* word_trie::make_node(std::string_view text, bool is_word, uint32_t capacity) {
  void* memory = ::operator new(node_bytes(capacity, text.size()));
  node* n = new (memory)
      node{static_cast<uint32_t>(text.size()), is_word, 0, static_cast<uint8_t>(capacity), 0};
  if (capacity >= wide_capacity) std::memset(slot_table(n), 0, alphabet);
  if (!text.empty()) std::memcpy(label(n), text.data(), text.size());
  return n;
}

void word_trie::index_keys(node* n, uint32_t from) {
  if (n->capacity < wide_capacity) return;
  for (uint32_t i = from; i < n->child_count; ++i) slot_table(n)[keys(n)[i]] = i + 1;
}

word_trie::node* word_trie::make_tail(std::string_view rest) {
  if (rest.size() <= max_label) return make_node(rest, true, 0);
  // Piece i starts at starts[i]; every piece but the last is max_label bytes and a key byte.
  std::vector<size_t> starts{0};
  while (rest.size() - starts.back() > max_label) starts.push_back(starts.back() + max_label + 1);
  node* below = make_node(rest.substr(starts.back()), true, 0);
  for (size_t i = starts.size() - 1; i-- > 0;) {
    node* link = make_node(rest.substr(starts[i], max_label), false, 1);
    keys(link)[0] = static_cast<uint8_t>(rest[starts[i] + max_label]);
    children(link)[0] = below;
    link->child_count = 1;
    below = link;
  }
  return below;
}

void word_trie::grow(node** slot) {
  const node* old = *slot;
  // Half as much again, and whatever else fits in the allocator's chunk (16-byte steps, one
  // 8-byte header) at no cost.
  uint32_t capacity = std::max<uint32_t>(2, old->capacity + old->capacity / 2);
  const size_t usable = ((node_bytes(capacity, old->label_length) + 8 + 15) & ~size_t{15}) - 8;
  while (capacity < alphabet && node_bytes(capacity + 1, old->label_length) <= usable) ++capacity;
  capacity = std::min<uint32_t>(capacity, alphabet);
  node* n = make_node(label_view(old), old->is_word, capacity);
  n->child_count = old->child_count;
  std::memcpy(keys(n), keys(old), old->child_count);
  std::memcpy(children(n), children(old), old->child_count * sizeof(node*));
  index_keys(n, 0);
  ::operator delete(*slot);
  *slot = n;
}

void word_trie::split(node** slot, uint32_t length) {
  node* old = *slot;
  node* top = make_node(label_view(old).substr(0, length), false, 2);
  char* text = label(old);
  keys(top)[0] = static_cast<uint8_t>(text[length]);
  children(top)[0] = old;
  top->child_count = 1;
  // The old node keeps its allocation; its label loses the bytes now above it, and its child
  // pointers move down behind the shorter label.
  node** const kids = children(old);
  old->label_length -= length + 1;
  std::memmove(text, text + length + 1, old->label_length);
  std::memmove(children(old), kids, old->child_count * sizeof(node*));
  *slot = top;
}

bool word_trie::insert(std::string_view word) {
  if (word.empty() || !has_only_ascii(word)) return false;
  if (root_ == nullptr) root_ = make_node({}, false, 0);
  node** slot = &root_;
  size_t at = 0;  // bytes of the word spelled by the path down to *slot's label
  for (;;) {
    const size_t common = common_prefix(label_view(*slot), word.substr(at));
    if (common < (*slot)->label_length) split(slot, static_cast<uint32_t>(common));
    node* n = *slot;
    at += common;
    if (at == word.size()) {
      if (n->is_word) return false;
      n->is_word = 1;
      ++count_;
      return true;
    }
    const auto byte = static_cast<uint8_t>(word[at]);
    const uint32_t found = key_index(n, byte);
    if (found < n->child_count) {
      slot = &children(n)[found];
      ++at;
      continue;
    }
    uint32_t i = 0;  // where the new key goes
    while (i < n->child_count && keys(n)[i] < byte) ++i;
    if (n->child_count == n->capacity) grow(slot);
    n = *slot;
    node* tail = make_tail(word.substr(at + 1));
    uint8_t* bytes = keys(n);
    node** kids = children(n);
    std::memmove(kids + i + 1, kids + i, (n->child_count - i) * sizeof(node*));
    std::memmove(bytes + i + 1, bytes + i, n->child_count - i);
    kids[i] = tail;
    bytes[i] = byte;
    ++n->child_count;
    index_keys(n, i);
    ++count_;
    return true;
  }
}

bool word_trie::contains(std::string_view word) const {
  const node* n = root_;
  if (word.empty() || n == nullptr) return false;
  const char* at = word.data();
  const char* const end = at + word.size();
  for (;;) {
    if (const uint32_t length = n->label_length; length != 0) {
      if (static_cast<size_t>(end - at) < length || !equal(label(n), at, length)) return false;
      at += length;
    }
    if (at == end) return n->is_word;
    const uint32_t i = key_index(n, static_cast<uint8_t>(*at++));
    if (i == n->child_count) return false;
    n = children(n)[i];
  }
}

bool word_trie::contains_any_case(std::string_view word) const {
  if (word.empty() || root_ == nullptr) return false;
  // A frame is a node whose path matched the word's first `at` bytes up to case, and how many of
  // the candidates for the byte at `at` were taken (0, 1 or 2). Frames for words up to
  // `short_word` bytes live on the thread's stack, longer words' on the heap.
  struct frame {
    const node* n;
    size_t at;
    uint8_t tried;
  };
  constexpr size_t short_word = 64;
  frame short_stack[short_word + 1];
  std::vector<frame> long_stack;
  frame* stack = short_stack;
  if (word.size() > short_word) {
    long_stack.resize(word.size() + 1);
    stack = long_stack.data();
  }
  size_t depth = 0;
  stack[0] = {root_, 0, 0};
  for (;;) {
    frame& top = stack[depth];
    const auto b = static_cast<uint8_t>(word[top.at]);
    const uint8_t attempt = top.tried++;
    const node* child = nullptr;
    if (attempt == 0) {
      child = child_of(top.n, b);
    } else if (attempt == 1 && is_ascii_letter(b)) {
      child = child_of(top.n, other_case(b));
    } else {  // no candidate left below this node
      if (depth == 0) return false;
      --depth;
      continue;
    }
    if (child == nullptr) continue;
    const size_t start = top.at + 1;
    const uint32_t length = child->label_length;
    if (word.size() - start < length ||
        !equal_any_case(label(child), word.data() + start, length)) {
      continue;
    }
    if (start + length == word.size()) {
      if (child->is_word) return true;
      continue;
    }
    stack[++depth] = {child, start + length, 0};
  }
}

void word_trie::clear() {
  std::vector<node*> pending;
  if (root_ != nullptr) pending.push_back(root_);
  while (!pending.empty()) {
    node* n = pending.back();
    pending.pop_back();
    pending.insert(pending.end(), children(n), children(n) + n->child_count);
    ::operator delete(n);
  }
  root_ = nullptr;
  count_ = 0;
}

}  // namespace qn::db::nosql::nosql_db
