#include "containers/avl_tree.h"

#include <algorithm>

namespace qn::db::nosql::nosql_db {

namespace {

avl_sized_node* sized(avl_node* n) { return static_cast<avl_sized_node*>(n); }

}  // namespace

// ---- in-order steps ----

avl_node* avl_tree_base::leftmost(avl_node* n) {
  if (n == nullptr) return nullptr;
  while (n->left != nullptr) n = n->left;
  return n;
}

avl_node* avl_tree_base::rightmost(avl_node* n) {
  if (n == nullptr) return nullptr;
  while (n->right != nullptr) n = n->right;
  return n;
}

avl_node* avl_tree_base::successor(avl_node* n) {
  if (n->right != nullptr) return leftmost(n->right);
  avl_node* p = n->parent;
  while (p != nullptr && n == p->right) {
    n = p;
    p = p->parent;
  }
  return p;
}

avl_node* avl_tree_base::predecessor(avl_node* n) {
  if (n->left != nullptr) return rightmost(n->left);
  avl_node* p = n->parent;
  while (p != nullptr && n == p->left) {
    n = p;
    p = p->parent;
  }
  return p;
}

avl_node* avl_tree_base::select(uint64_t index) const {
  avl_node* n = root_;
  while (n != nullptr) {
    const uint64_t before = size_of(n->left);
    if (index < before) {
      n = n->left;
    } else if (index == before) {
      return n;
    } else {
      index -= before + 1;
      n = n->right;
    }
  }
  return nullptr;
}

// ---- rotations ----

void avl_tree_base::replace_child(avl_node* parent, avl_node* old_child, avl_node* new_child) {
  if (parent == nullptr) {
    root_ = new_child;
  } else if (parent->left == old_child) {
    parent->left = new_child;
  } else {
    parent->right = new_child;
  }
}

void avl_tree_base::update_size(avl_node* n) const {
  if (sized_) sized(n)->size = 1 + size_of(n->left) + size_of(n->right);
}

// Moves p's right child r up into p's place; p becomes r's left child. Balances are the
// caller's business. Returns r.
avl_node* avl_tree_base::rotate_left(avl_node* p) {
  avl_node* r = p->right;
  p->right = r->left;
  if (r->left != nullptr) r->left->parent = p;
  r->parent = p->parent;
  replace_child(p->parent, p, r);
  r->left = p;
  p->parent = r;
  update_size(p);
  update_size(r);
  return r;
}

avl_node* avl_tree_base::rotate_right(avl_node* p) {
  avl_node* l = p->left;
  p->left = l->right;
  if (l->right != nullptr) l->right->parent = p;
  l->parent = p->parent;
  replace_child(p->parent, p, l);
  l->right = p;
  p->parent = l;
  update_size(p);
  update_size(l);
  return l;
}

// Restores a node whose balance reached +2 or -2. Returns the new top of its subtree.
avl_node* avl_tree_base::rebalance(avl_node* p) {
  if (p->balance > 0) {
    avl_node* l = p->left;
    if (l->balance >= 0) {
      rotate_right(p);
      if (l->balance > 0) {
        p->balance = 0;
        l->balance = 0;
      } else {  // balance 0 under l happens only while removing
        p->balance = 1;
        l->balance = -1;
      }
      return l;
    }
    avl_node* g = l->right;
    rotate_left(l);
    rotate_right(p);
    p->balance = g->balance > 0 ? -1 : 0;
    l->balance = g->balance < 0 ? 1 : 0;
    g->balance = 0;
    return g;
  }
  avl_node* r = p->right;
  if (r->balance <= 0) {
    rotate_left(p);
    if (r->balance < 0) {
      p->balance = 0;
      r->balance = 0;
    } else {
      p->balance = -1;
      r->balance = 1;
    }
    return r;
  }
  avl_node* g = r->left;
  rotate_right(r);
  rotate_left(p);
  p->balance = g->balance < 0 ? 1 : 0;
  r->balance = g->balance > 0 ? -1 : 0;
  g->balance = 0;
  return g;
}

// ---- insert ----

void avl_tree_base::link(avl_node* parent, bool as_left, avl_node* n) {
  n->parent = parent;
  n->left = nullptr;
  n->right = nullptr;
  n->balance = 0;
  if (sized_) sized(n)->size = 1;
  ++count_;
  if (parent == nullptr) {
    root_ = n;
    return;
  }
  (as_left ? parent->left : parent->right) = n;
  // Every ancestor gains one node, also above the point where retracing stops; rotations then
  // recompute the sizes of the nodes they move from these.
  if (sized_) {
    for (avl_node* a = parent; a != nullptr; a = a->parent) ++sized(a)->size;
  }
  retrace_after_insert(n);
}

// Walks up from a new leaf while the subtree heights grow.
void avl_tree_base::retrace_after_insert(avl_node* n) {
  for (avl_node* p = n->parent; p != nullptr; n = p, p = p->parent) {
    const int8_t step = n == p->left ? 1 : -1;
    if (p->balance == 0) {
      p->balance = step;  // taller now; keep walking
      continue;
    }
    if (p->balance != step) {
      p->balance = 0;  // the shorter side caught up; height unchanged
      return;
    }
    p->balance = static_cast<int8_t>(2 * step);
    rebalance(p);  // one rotation restores the subtree's old height
    return;
  }
}

// ---- remove ----

// Exchanges the places of n and r, a node of n's subtree: links, balance and size follow the
// place, so the tree's shape is unchanged and only the two nodes have moved.
void avl_tree_base::exchange(avl_node* n, avl_node* r) {
  avl_node* const np = n->parent;
  avl_node* const nl = n->left;
  avl_node* const nr = n->right;
  avl_node* const rp = r->parent;
  avl_node* const rl = r->left;
  avl_node* const rr = r->right;
  replace_child(np, n, r);
  r->parent = np;
  if (rp == n) {
    if (nl == r) {
      r->left = n;
      r->right = nr;
      if (nr != nullptr) nr->parent = r;
    } else {
      r->right = n;
      r->left = nl;
      if (nl != nullptr) nl->parent = r;
    }
    n->parent = r;
  } else {
    r->left = nl;
    if (nl != nullptr) nl->parent = r;
    r->right = nr;
    if (nr != nullptr) nr->parent = r;
    if (rp->left == r) {
      rp->left = n;
    } else {
      rp->right = n;
    }
    n->parent = rp;
  }
  n->left = rl;
  if (rl != nullptr) rl->parent = n;
  n->right = rr;
  if (rr != nullptr) rr->parent = n;
  std::swap(n->balance, r->balance);
  if (sized_) std::swap(sized(n)->size, sized(r)->size);
}

void avl_tree_base::unlink(avl_node* n) {
  if (n->left != nullptr || n->right != nullptr) {
    // Balance +1 or 0: the left side is at least as tall, take the predecessor from it.
    avl_node* r = n->balance >= 0 ? rightmost(n->left) : leftmost(n->right);
    exchange(n, r);
  }
  avl_node* const child = n->left != nullptr ? n->left : n->right;
  avl_node* const p = n->parent;
  const bool was_left = p != nullptr && p->left == n;
  replace_child(p, n, child);
  if (child != nullptr) child->parent = p;
  --count_;
  if (sized_) {
    for (avl_node* a = p; a != nullptr; a = a->parent) --sized(a)->size;
  }
  n->parent = n->left = n->right = nullptr;
  n->balance = 0;
  retrace_after_remove(p, was_left);
}

// Walks up from the parent of an unlinked position while the subtree heights shrink.
void avl_tree_base::retrace_after_remove(avl_node* p, bool lost_left) {
  while (p != nullptr) {
    p->balance = static_cast<int8_t>(p->balance + (lost_left ? -1 : 1));
    if (p->balance == 1 || p->balance == -1) return;  // height unchanged
    avl_node* top = p;
    if (p->balance != 0) {
      top = rebalance(p);
      if (top->balance != 0) return;  // the rotation kept the subtree's height
    }
    avl_node* const up = top->parent;
    lost_left = up != nullptr && up->left == top;
    p = up;
  }
}

void avl_tree_base::dispose_all(void (*dispose)(avl_node*)) {
  avl_node* n = root_;
  while (n != nullptr) {
    if (n->left != nullptr) {
      n = n->left;
    } else if (n->right != nullptr) {
      n = n->right;
    } else {
      avl_node* const p = n->parent;
      if (p != nullptr) (p->left == n ? p->left : p->right) = nullptr;
      dispose(n);
      n = p;
    }
  }
  root_ = nullptr;
  count_ = 0;
}

// ---- checks ----

namespace {

struct soundness {
  bool sized;
  std::string* why;
  uint64_t nodes = 0;

  bool fail(const char* what) {
    if (why != nullptr) *why = what;
    return false;
  }
  // Height of the subtree at n, or -1 after a fault.
  int64_t check(const avl_node* n, const avl_node* parent) {
    if (n == nullptr) return 0;
    ++nodes;
    if (n->parent != parent) return fail("wrong parent link"), -1;
    const int64_t hl = check(n->left, n);
    if (hl < 0) return -1;
    const int64_t hr = check(n->right, n);
    if (hr < 0) return -1;
    if (n->balance != hl - hr) return fail("balance differs from the height difference"), -1;
    if (n->balance < -1 || n->balance > 1) return fail("balance outside -1..+1"), -1;
    if (sized && avl_tree_base::size_of(n) !=
                     1 + avl_tree_base::size_of(n->left) + avl_tree_base::size_of(n->right)) {
      return fail("wrong subtree size"), -1;
    }
    return 1 + std::max(hl, hr);
  }
};

int64_t height_of(const avl_node* n) {
  return n == nullptr ? 0 : 1 + std::max(height_of(n->left), height_of(n->right));
}

}  // namespace

bool avl_tree_base::is_sound(std::string* why) const {
  soundness s{sized_, why};
  if (s.check(root_, nullptr) < 0) return false;
  if (s.nodes != count_) return s.fail("count differs from the number of nodes");
  if (sized_ && size_of(root_) != count_) return s.fail("root size differs from the count");
  return true;
}

uint64_t avl_tree_base::height() const { return static_cast<uint64_t>(height_of(root_)); }

}  // namespace qn::db::nosql::nosql_db
