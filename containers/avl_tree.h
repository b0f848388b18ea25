// Height-balanced (AVL) binary search tree with parent links, optionally with subtree sizes.
// Not locked and owns no memory: the owner allocates nodes, links them in, unlinks and frees them.
//
// Structure: every node holds balance = height(left) - height(right), kept within -1..+1 between
// operations. The structural work (rotations, retracing, unlinking, in-order steps, subtree
// sizes) is untyped and lives in avl_tree.cc, once for every key type; the typed layer adds only
// the searches, which compare keys with compare_keys.
//
// Insert retraces from the new leaf: an ancestor reached from the side it already leaned to gets
// +2 or -2 and is rotated (once, single or double), which ends the walk. Remove exchanges a node
// that has children with its in-order predecessor (balance +1 or 0) or successor (balance -1),
// so the node unlinked has at most one child, then retraces upwards; a rotation there continues
// the walk only when the rotated subtree's new top is balanced. Nodes move between places, their
// contents never do, so pointers to other nodes stay valid across any removal.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "values/scalar.h"

namespace qn::db::nosql::nosql_db {

struct avl_node {
  avl_node* parent = nullptr;
  avl_node* left = nullptr;
  avl_node* right = nullptr;
  // height(left) - height(right); +2 and -2 only inside a rebalancing step.
  int8_t balance = 0;
};

// The node of a tree with subtree sizes.
struct avl_sized_node : avl_node {
  // Number of nodes in the subtree rooted here (1 for a leaf).
  uint64_t size = 1;
};

// The untyped tree: the root, the node count and every operation that only moves links.
class avl_tree_base {
 public:
  // `sized`: every node is an avl_sized_node and its size is kept up to date.
  explicit avl_tree_base(bool sized) : sized_(sized) {}
  avl_tree_base(const avl_tree_base&) = delete;
  avl_tree_base& operator=(const avl_tree_base&) = delete;

  avl_node* root() const { return root_; }
  uint64_t count() const { return count_; }
  bool is_empty() const { return root_ == nullptr; }

  // Extremes and in-order steps; null when there is none.
  static avl_node* leftmost(avl_node* n);
  static avl_node* rightmost(avl_node* n);
  static avl_node* successor(avl_node* n);
  static avl_node* predecessor(avl_node* n);

  // Links a fresh node as the left or right child of `parent` (null: as the root of an empty
  // tree) and rebalances. Requires: that link of `parent` is null and the position keeps the
  // in-order sequence sorted.
  void link(avl_node* parent, bool as_left, avl_node* n);
  // Takes a node out of the tree and rebalances; the node itself is not freed and its links are
  // cleared. Requires: n is in this tree.
  void unlink(avl_node* n);
  // Unlinks every node, children before parents, and hands each to `dispose`; the tree is then
  // empty.
  void dispose_all(void (*dispose)(avl_node*));

  // Sized trees: the node at 0-based in-order position `index`, null when index >= count.
  avl_node* select(uint64_t index) const;
  // Sized trees: number of nodes in the subtree (0 for null).
  static uint64_t size_of(const avl_node* n) {
    return n != nullptr ? static_cast<const avl_sized_node*>(n)->size : 0;
  }

  // Checks every structural invariant: parent links, each balance equal to the real height
  // difference and within -1..+1, subtree sizes (sized trees) and the count. On failure writes
  // a description of the first fault found into `why` (when given) and returns false.
  [[nodiscard]] bool is_sound(std::string* why = nullptr) const;
  // Number of nodes on the longest root-to-leaf path (0 when empty).
  uint64_t height() const;

 protected:
  avl_node* root_ = nullptr;

 private:
  void replace_child(avl_node* parent, avl_node* old_child, avl_node* new_child);
  void update_size(avl_node* n) const;
  avl_node* rotate_left(avl_node* p);
  avl_node* rotate_right(avl_node* p);
  avl_node* rebalance(avl_node* p);
  void retrace_after_insert(avl_node* n);
  void retrace_after_remove(avl_node* p, bool lost_left);
  void exchange(avl_node* n, avl_node* r);

  uint64_t count_ = 0;
  const bool sized_;
};

template <bool sized>
using avl_header = std::conditional_t<sized, avl_sized_node, avl_node>;

// A node carrying a key; kinds with values derive from it and add their value.
template <class K, bool sized>
struct avl_key_node : avl_header<sized> {
  explicit avl_key_node(const K& k) : key(k) {}
  K key;
};

// The typed tree over keys K in compare_keys order. `unique`: a key is held at most once (map,
// set); otherwise equal keys are kept in insertion order, each new one after the others
// (multimap, multiset). NaN keys of the floating types have their own place in that order (after
// every number, all NaNs equal), so they are found and removed like any other key.
//
// The members are defined out of line below: each is then compiled once per key type and shared
// by every container class over that key type instead of being inlined into each.
template <class K, bool sized, bool unique>
class avl_tree : public avl_tree_base {
 public:
  using node = avl_key_node<K, sized>;

  // Where a new key goes: the parent and which of its links.
  struct slot {
    avl_node* parent = nullptr;
    bool left = false;
  };
  // The nodes from `first` to `last` in order, both included; empty when first is null.
  struct run {
    node* first = nullptr;
    node* last = nullptr;
  };

  avl_tree() : avl_tree_base(sized) {}

  static node* as_node(avl_node* n) { return static_cast<node*>(n); }
  node* first() const { return as_node(leftmost(root_)); }
  node* last() const { return as_node(rightmost(root_)); }
  static node* next(node* n) { return as_node(successor(n)); }
  static node* prev(node* n) { return as_node(predecessor(n)); }
  // Sized trees: the node at a 0-based in-order position, null past the end.
  node* at(uint64_t index) const { return as_node(select(index)); }

  // The first node equal to `key` met on the way down from the root; null when none.
  node* find(const K& key) const;
  // First node whose key is >= key (lower bound), > key (upper bound); null when none.
  node* first_at_least(const K& key) const { return bound<false, true>(key); }
  node* first_above(const K& key) const { return bound<false, false>(key); }
  // Last node whose key is <= key, < key; null when none.
  node* last_at_most(const K& key) const { return bound<true, true>(key); }
  node* last_below(const K& key) const { return bound<true, false>(key); }
  // The run from `first` to `last` when both exist and first does not sort after last, else the
  // empty run. Bounds give the first of equal keys at a low end and the last at a high end, so
  // equal end keys still mean first comes before last.
  static run ordered_run(node* first, node* last);
  // Every node whose key equals `key`, in order.
  run equal_run(const K& key) const { return ordered_run(first_at_least(key), last_at_most(key)); }

  // Appends the keys of a run to `out`, in order.
  static void append_keys(const run& r, std::vector<K>& out);
  // Unlinks every node of a run and hands each to `dispose`; returns how many there were.
  uint64_t remove_run(const run& r, void (*dispose)(avl_node*));

  // Finds the slot for a new node with `key`: below every node it sorts before, and after every
  // equal key in a non-unique tree. A unique tree that holds the key answers false.
  [[nodiscard]] bool find_slot(const K& key, slot& out) const;
  void link_at(const slot& s, node* n) { link(s.parent, s.left, n); }

  // Gives a linked node the key `fresh` and moves it to its new place, as a removal followed by
  // an insert. When a unique tree already holds `fresh`, the node goes back under its old key
  // and the answer is false. On return `fresh` holds the key the node no longer has. Nothing
  // here allocates, so the tree is never left half changed.
  [[nodiscard]] bool rekey(node* n, K& fresh);

  // Sized trees: the number of nodes before the first node equal to `key` met from the root
  // (that node's size(left) plus size(left) + 1 of every ancestor it lies right of), summed on
  // the way down. False when the key is absent.
  [[nodiscard]] bool rank_of(const K& key, uint64_t& out) const;

  // True when the in-order keys ascend (strictly in a unique tree).
  [[nodiscard]] bool is_ordered() const;

 private:
  // The last node whose key is below `key` (`below`) or the first above it; `inclusive` also
  // accepts an equal key.
  template <bool below, bool inclusive>
  node* bound(const K& key) const;
};

template <class K, bool sized, bool unique>
typename avl_tree<K, sized, unique>::node* avl_tree<K, sized, unique>::find(const K& key) const {
  avl_node* n = root_;
  while (n != nullptr) {
    const int c = compare_keys(key, as_node(n)->key);
    if (c == 0) return as_node(n);
    n = c < 0 ? n->left : n->right;
  }
  return nullptr;
}

// The bounds descend once. A node on the wanted side of `key` is remembered and the walk goes on
// towards `key` (right for the last node below, left for the first node above); any other node
// sends it the other way.
template <class K, bool sized, bool unique>
template <bool below, bool inclusive>
typename avl_tree<K, sized, unique>::node* avl_tree<K, sized, unique>::bound(const K& key) const {
  avl_node* best = nullptr;
  for (avl_node* n = root_; n != nullptr;) {
    const int c = compare_keys(as_node(n)->key, key);
    const bool wanted = below ? (inclusive ? c <= 0 : c < 0) : (inclusive ? c >= 0 : c > 0);
    if (wanted) best = n;
    n = wanted == below ? n->right : n->left;
  }
  return as_node(best);
}

template <class K, bool sized, bool unique>
typename avl_tree<K, sized, unique>::run avl_tree<K, sized, unique>::ordered_run(node* first,
                                                                                 node* last) {
  if (first == nullptr || last == nullptr || compare_keys(first->key, last->key) > 0) return {};
  return {first, last};
}

template <class K, bool sized, bool unique>
void avl_tree<K, sized, unique>::append_keys(const run& r, std::vector<K>& out) {
  if (r.first == nullptr) return;
  for (node* n = r.first;; n = next(n)) {
    out.push_back(n->key);
    if (n == r.last) break;
  }
}

template <class K, bool sized, bool unique>
uint64_t avl_tree<K, sized, unique>::remove_run(const run& r, void (*dispose)(avl_node*)) {
  uint64_t removed = 0;
  // Removal moves nodes, never their contents, so the next node of the run stays valid.
  for (node* n = r.first; n != nullptr; ++removed) {
    node* after = n == r.last ? nullptr : next(n);
    unlink(n);
    dispose(n);
    n = after;
  }
  return removed;
}

template <class K, bool sized, bool unique>
bool avl_tree<K, sized, unique>::find_slot(const K& key, slot& out) const {
  slot s;
  for (avl_node* n = root_; n != nullptr; n = s.left ? n->left : n->right) {
    const int c = compare_keys(key, as_node(n)->key);
    if constexpr (unique) {
      if (c == 0) return false;
    }
    s.parent = n;
    s.left = c < 0;
  }
  out = s;
  return true;
}

template <class K, bool sized, bool unique>
bool avl_tree<K, sized, unique>::rekey(node* n, K& fresh) {
  unlink(n);
  std::swap(n->key, fresh);
  slot s;
  if (find_slot(n->key, s)) {
    link_at(s, n);
    return true;
  }
  std::swap(n->key, fresh);
  // The old key was taken out with the node, so its slot is free again.
  static_cast<void>(find_slot(n->key, s));
  link_at(s, n);
  return false;
}

template <class K, bool sized, bool unique>
bool avl_tree<K, sized, unique>::rank_of(const K& key, uint64_t& out) const {
  static_assert(sized);
  uint64_t before = 0;
  avl_node* n = root_;
  while (n != nullptr) {
    const int c = compare_keys(key, as_node(n)->key);
    if (c == 0) {
      out = before + size_of(n->left);
      return true;
    }
    if (c < 0) {
      n = n->left;
    } else {
      before += size_of(n->left) + 1;
      n = n->right;
    }
  }
  return false;
}

template <class K, bool sized, bool unique>
bool avl_tree<K, sized, unique>::is_ordered() const {
  for (node* n = first(); n != nullptr; n = next(n)) {
    node* m = next(n);
    if (m == nullptr) break;
    const int c = compare_keys(n->key, m->key);
    if (c > 0 || (unique && c == 0)) return false;
  }
  return true;
}

}  // namespace qn::db::nosql::nosql_db
