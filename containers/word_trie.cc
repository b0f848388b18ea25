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

word_trie::node* word_trie::make_node(std::string_view text, bool is_word, uint32_t capacity,
                                      uint8_t low) {
  const bool dense = low != sparse;
  void* memory = ::operator new(node_bytes(capacity, dense, text.size()));
  node* n = new (memory)
      node{static_cast<uint32_t>(text.size()), is_word, 0, static_cast<uint8_t>(capacity), low};
  if (dense) std::memset(children(n), 0, capacity * sizeof(node*));
  if (!text.empty()) std::memcpy(label(n), text.data(), text.size());
  return n;
}

word_trie::node* word_trie::make_tail(std::string_view rest) {
  if (rest.size() <= max_label) return make_node(rest, true, 0, sparse);
  // Piece i starts at starts[i]; every piece but the last is max_label bytes and a key byte.
  std::vector<size_t> starts{0};
  while (rest.size() - starts.back() > max_label) starts.push_back(starts.back() + max_label + 1);
  node* below = make_node(rest.substr(starts.back()), true, 0, sparse);
  for (size_t i = starts.size() - 1; i-- > 0;) {
    node* link = make_node(rest.substr(starts[i], max_label), false, 1, sparse);
    keys(link)[0] = static_cast<uint8_t>(rest[starts[i] + max_label]);
    children(link)[0] = below;
    link->child_count = 1;
    below = link;
  }
  return below;
}

uint32_t word_trie::fitted_capacity(uint32_t capacity, bool dense, size_t label_length,
                                    uint32_t most) {
  capacity = std::min(capacity, most);
  // The allocator hands out chunks in 16-byte steps with an 8-byte header.
  const size_t usable = ((node_bytes(capacity, dense, label_length) + 8 + 15) & ~size_t{15}) - 8;
  while (capacity < most && node_bytes(capacity + 1, dense, label_length) <= usable) ++capacity;
  return capacity;
}

void word_trie::reshape(node** slot, uint8_t byte) {
  const node* old = *slot;
  const uint32_t had = old->child_count;
  node* const* from = children(old);
  // The old children are slots first .. last (none when had is 0).
  uint32_t first = 0, last = had;
  if (is_dense(old) && had != 0) {
    last = old->capacity;
    while (from[first] == nullptr) ++first;
    while (from[last - 1] == nullptr) --last;
  }
  uint32_t low = byte, high = byte;
  if (had != 0) {
    low = std::min<uint32_t>(low, key_at(old, first));
    high = std::max<uint32_t>(high, key_at(old, last - 1));
  }
  const uint32_t count = had + 1;
  const uint32_t span = high - low + 1;
  const bool dense = count > max_sparse || span <= 2 * count;
  // A sparse node grows by half. A dense one fits its range, or grows by half when it is full
  // and the byte is past its last key: it is being filled in order (a restore). Whatever else
  // fits in the allocator's chunk comes at no cost.
  uint32_t capacity = dense ? span : std::max<uint32_t>(2, old->capacity + old->capacity / 2);
  if (dense && had == old->capacity && byte == high) {
    capacity = std::max<uint32_t>(capacity, old->capacity + old->capacity / 2);
  }
  capacity =
      fitted_capacity(capacity, dense, old->label_length, dense ? alphabet - low : max_sparse);
  node* n = make_node(label_view(old), old->is_word, capacity,
                      dense ? static_cast<uint8_t>(low) : sparse);
  node** to = children(n);
  if (dense && is_dense(old)) {
    std::memcpy(to + (old->low + first - low), from + first, (last - first) * sizeof(node*));
  } else if (dense) {
    for (uint32_t i = 0; i < had; ++i) to[keys(old)[i] - low] = from[i];
  } else if (!is_dense(old)) {
    std::memcpy(keys(n), keys(old), had);
    std::memcpy(to, from, had * sizeof(node*));
  } else {
    uint32_t k = 0;
    for (uint32_t i = first; i < last; ++i) {
      if (from[i] == nullptr) continue;
      keys(n)[k] = static_cast<uint8_t>(old->low + i);
      to[k++] = from[i];
    }
  }
  n->child_count = static_cast<uint8_t>(had);
  ::operator delete(*slot);
  *slot = n;
}

void word_trie::add_child(node** slot, uint8_t byte, node* child) {
  node* n = *slot;
  const bool room =
      is_dense(n) ? uint32_t{byte} - n->low < n->capacity : n->child_count < n->capacity;
  if (!room) {
    reshape(slot, byte);
    n = *slot;
  }
  if (is_dense(n)) {
    children(n)[byte - n->low] = child;
  } else {
    uint8_t* bytes = keys(n);
    node** kids = children(n);
    uint32_t i = 0;  // where the new key goes
    while (i < n->child_count && bytes[i] < byte) ++i;
    std::memmove(kids + i + 1, kids + i, (n->child_count - i) * sizeof(node*));
    std::memmove(bytes + i + 1, bytes + i, n->child_count - i);
    kids[i] = child;
    bytes[i] = byte;
  }
  ++n->child_count;
}

void word_trie::split(node** slot, uint32_t length) {
  node* old = *slot;
  node* top = make_node(label_view(old).substr(0, length), false,
                        fitted_capacity(2, false, length, max_sparse), sparse);
  char* text = label(old);
  keys(top)[0] = static_cast<uint8_t>(text[length]);
  children(top)[0] = old;
  top->child_count = 1;
  // The old node keeps its allocation; its label loses the bytes now above it.
  old->label_length -= length + 1;
  std::memmove(text, text + length + 1, old->label_length);
  *slot = top;
}

bool word_trie::insert(std::string_view word) {
  if (word.empty() || !has_only_ascii(word)) return false;
  if (root_ == nullptr) root_ = make_node({}, false, 0, sparse);
  node** slot = &root_;
  size_t at = 0;  // bytes of the word spelled by the path down to *slot's label
  for (;;) {
    if ((*slot)->label_length != 0) {
      const size_t common = common_prefix(label_view(*slot), word.substr(at));
      if (common < (*slot)->label_length) split(slot, static_cast<uint32_t>(common));
      at += common;
    }
    node* n = *slot;
    if (at == word.size()) {
      if (n->is_word) return false;
      n->is_word = 1;
      ++count_;
      return true;
    }
    const auto byte = static_cast<uint8_t>(word[at]);
    if (node** child = child_slot(n, byte)) {
      slot = child;
      ++at;
      continue;
    }
    add_child(slot, byte, make_tail(word.substr(at + 1)));
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
    n = child_of(n, static_cast<uint8_t>(*at++));
    if (n == nullptr) return false;
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
    if (length != 0 && (word.size() - start < length ||
                        !equal_any_case(label(child), word.data() + start, length))) {
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
    const uint32_t end = slot_count(n);
    for (uint32_t i = 0; i < end; ++i) {
      if (children(n)[i] != nullptr) pending.push_back(children(n)[i]);
    }
    ::operator delete(n);
  }
  root_ = nullptr;
  count_ = 0;
}

}  // namespace qn::db::nosql::nosql_db
