// Ordered set kinds (set_adt, multiset_adt) over the shared AVL tree with subtree sizes.
// Owns its nodes; every operation takes this container's lock itself.
//
// Every selection (the four intervals, max_n, min_n, max, min, equal and the four one-sided
// comparisons) is one run of the order, from a first to a last node found with the bounds
// first >= x, first > x, last <= x, last < x, or with the subtree sizes for max_n and min_n. The
// queries copy that run; the erase and replace families act on it:
// - set erase: the query under the shared lock, then each selected value removed under the
//   exclusive lock; the answer is the query's.
// - multiset erase: one exclusive hold that removes the run's nodes; true when any was removed.
// - replace (both): the query under the shared lock, then the exclusive lock. A set acts only on
//   exactly one selected element, and puts it back when the new element is present already. A
//   multiset replaces each selected value by the new element; the answer is the query's.
// Between the two locks another writer may act; a selected value gone by then is skipped.
#pragma once

#include <memory>
#include <mutex>
#include <shared_mutex>

#include "containers/adt.h"
#include "containers/avl_tree.h"

namespace qn::db::nosql::nosql_db {

// The operations set and multiset share. `unique`: each element at most once. V is the value
// type named at creation; only the u08 instantiation is ever built.
template <class K, class V, bool unique>
class ordered_set : public adt<K, V> {
 public:
  using keys = typename adt<K, V>::keys;

  ~ordered_set() override { tree_.dispose_all(&free_node); }

  uint64_t count() override {
    std::shared_lock lock(this->lock_);
    return tree_.count();
  }
  // Count, then every element in ascending order.
  [[nodiscard]] bool save(image_writer& out) override {
    std::shared_lock lock(this->lock_);
    this->save_header(out);
    out.put_u64(tree_.count());
    for (node* n = tree_.first(); n != nullptr; n = tree::next(n)) out.put_scalar(n->key);
    return out.ok();
  }
  // Inserts the saved elements one by one. Requires: the container is empty. False, leaving it
  // empty, when the payload is cut short or its count cannot fit in what is left of the file.
  [[nodiscard]] bool load(image_reader& in) override {
    std::unique_lock lock(this->lock_);
    uint64_t n = 0;
    if (!in.get_u64(n) || !in.can_hold(n, encoded_size<K>())) return in.fail();
    K key{};
    for (uint64_t i = 0; i < n; ++i) {
      if (!in.get_scalar(key)) {
        tree_.dispose_all(&free_node);
        return false;
      }
      static_cast<void>(insert_locked(key));
    }
    return true;
  }

  // ---- queries (shared lock) ----

  // Number of elements before the element (a multiset: before the first copy met searching from
  // the root); absent: stores all ones and answers false.
  [[nodiscard]] bool rank_of(const K& key, uint64_t& out) override {
    std::shared_lock lock(this->lock_);
    if (tree_.rank_of(key, out)) return true;
    out = ~uint64_t{0};
    return false;
  }
  [[nodiscard]] bool all(keys& out) override {
    std::shared_lock lock(this->lock_);
    out.clear();
    out.reserve(tree_.count());
    tree::append_keys({tree_.first(), tree_.last()}, out);
    return true;
  }
  [[nodiscard]] bool between_ge_le(const K& lo, const K& hi, keys& out) override {
    return select_into({pick::ge_le, &lo, &hi}, out);
  }
  [[nodiscard]] bool between_ge_lt(const K& lo, const K& hi, keys& out) override {
    return select_into({pick::ge_lt, &lo, &hi}, out);
  }
  [[nodiscard]] bool between_gt_le(const K& lo, const K& hi, keys& out) override {
    return select_into({pick::gt_le, &lo, &hi}, out);
  }
  [[nodiscard]] bool between_gt_lt(const K& lo, const K& hi, keys& out) override {
    return select_into({pick::gt_lt, &lo, &hi}, out);
  }
  [[nodiscard]] bool max_n(uint64_t n, keys& out) override {
    return select_into({pick::max_n, nullptr, nullptr, n}, out);
  }
  [[nodiscard]] bool min_n(uint64_t n, keys& out) override {
    return select_into({pick::min_n, nullptr, nullptr, n}, out);
  }
  [[nodiscard]] bool max(K& out) override {
    std::shared_lock lock(this->lock_);
    return copy_key(tree_.last(), out);
  }
  [[nodiscard]] bool min(K& out) override {
    std::shared_lock lock(this->lock_);
    return copy_key(tree_.first(), out);
  }
  // Appends every stored copy equal to the key; true also when there is none.
  [[nodiscard]] bool equal(const K& key, keys& out) override {
    return select_into({pick::equal, &key}, out);
  }
  [[nodiscard]] bool greater(const K& key, keys& out) override {
    return select_into({pick::greater, &key}, out);
  }
  [[nodiscard]] bool less(const K& key, keys& out) override {
    return select_into({pick::less, &key}, out);
  }
  [[nodiscard]] bool greater_equal(const K& key, keys& out) override {
    return select_into({pick::greater_equal, &key}, out);
  }
  [[nodiscard]] bool less_equal(const K& key, keys& out) override {
    return select_into({pick::less_equal, &key}, out);
  }

  // ---- changes (exclusive lock) ----

  [[nodiscard]] bool clear() override {
    std::unique_lock lock(this->lock_);
    tree_.dispose_all(&free_node);
    return true;
  }
  // Set: false when the element is present. Multiset: stores another copy after the equal ones.
  [[nodiscard]] bool insert(const K& key, const V&) override {
    std::unique_lock lock(this->lock_);
    return insert_locked(key);
  }

  // The replace family: the selection of the query of the same name, then the new element.
  [[nodiscard]] bool replace_between_ge_le(const K& lo, const K& hi, const K& fresh) override {
    return replace_selected({pick::ge_le, &lo, &hi}, fresh);
  }
  [[nodiscard]] bool replace_between_ge_lt(const K& lo, const K& hi, const K& fresh) override {
    return replace_selected({pick::ge_lt, &lo, &hi}, fresh);
  }
  [[nodiscard]] bool replace_between_gt_le(const K& lo, const K& hi, const K& fresh) override {
    return replace_selected({pick::gt_le, &lo, &hi}, fresh);
  }
  [[nodiscard]] bool replace_between_gt_lt(const K& lo, const K& hi, const K& fresh) override {
    return replace_selected({pick::gt_lt, &lo, &hi}, fresh);
  }
  [[nodiscard]] bool replace_max_n(uint64_t n, const K& fresh) override {
    return replace_selected({pick::max_n, nullptr, nullptr, n}, fresh);
  }
  [[nodiscard]] bool replace_min_n(uint64_t n, const K& fresh) override {
    return replace_selected({pick::min_n, nullptr, nullptr, n}, fresh);
  }
  [[nodiscard]] bool replace_max(const K& fresh) override {
    return replace_selected({pick::max}, fresh);
  }
  [[nodiscard]] bool replace_min(const K& fresh) override {
    return replace_selected({pick::min}, fresh);
  }
  [[nodiscard]] bool replace_equal(const K& key, const K& fresh) override {
    return replace_selected({pick::equal, &key}, fresh);
  }
  [[nodiscard]] bool replace_greater(const K& key, const K& fresh) override {
    return replace_selected({pick::greater, &key}, fresh);
  }
  [[nodiscard]] bool replace_less(const K& key, const K& fresh) override {
    return replace_selected({pick::less, &key}, fresh);
  }
  [[nodiscard]] bool replace_greater_equal(const K& key, const K& fresh) override {
    return replace_selected({pick::greater_equal, &key}, fresh);
  }
  [[nodiscard]] bool replace_less_equal(const K& key, const K& fresh) override {
    return replace_selected({pick::less_equal, &key}, fresh);
  }

  // The erase family: the selection of the query of the same name. A set answers the query's
  // answer (true also when nothing was selected, false for max and min of an empty set); a
  // multiset answers whether anything was removed.
  [[nodiscard]] bool erase_between_ge_le(const K& lo, const K& hi) override {
    return erase_selected({pick::ge_le, &lo, &hi});
  }
  [[nodiscard]] bool erase_between_ge_lt(const K& lo, const K& hi) override {
    return erase_selected({pick::ge_lt, &lo, &hi});
  }
  [[nodiscard]] bool erase_between_gt_le(const K& lo, const K& hi) override {
    return erase_selected({pick::gt_le, &lo, &hi});
  }
  [[nodiscard]] bool erase_between_gt_lt(const K& lo, const K& hi) override {
    return erase_selected({pick::gt_lt, &lo, &hi});
  }
  [[nodiscard]] bool erase_max_n(uint64_t n) override {
    return erase_selected({pick::max_n, nullptr, nullptr, n});
  }
  [[nodiscard]] bool erase_min_n(uint64_t n) override {
    return erase_selected({pick::min_n, nullptr, nullptr, n});
  }
  [[nodiscard]] bool erase_max() override { return erase_selected({pick::max}); }
  [[nodiscard]] bool erase_min() override { return erase_selected({pick::min}); }
  [[nodiscard]] bool erase_equal(const K& key) override {
    return erase_selected({pick::equal, &key});
  }
  [[nodiscard]] bool erase_greater(const K& key) override {
    return erase_selected({pick::greater, &key});
  }
  [[nodiscard]] bool erase_less(const K& key) override {
    return erase_selected({pick::less, &key});
  }
  [[nodiscard]] bool erase_greater_equal(const K& key) override {
    return erase_selected({pick::greater_equal, &key});
  }
  [[nodiscard]] bool erase_less_equal(const K& key) override {
    return erase_selected({pick::less_equal, &key});
  }

  // Tests: the tree's structure and order.
  [[nodiscard]] bool is_sound(std::string* why = nullptr) const {
    std::shared_lock lock(this->lock_);
    if (!tree_.is_sound(why)) return false;
    if (tree_.is_ordered()) return true;
    if (why != nullptr) *why = "elements out of order";
    return false;
  }
  uint64_t height() const {
    std::shared_lock lock(this->lock_);
    return tree_.height();
  }

 protected:
  using tree = avl_tree<K, true, unique>;
  using node = typename tree::node;

  // The thirteen selections, in the order both families list them.
  enum class pick : uint8_t {
    ge_le,
    ge_lt,
    gt_le,
    gt_lt,
    max_n,
    min_n,
    max,
    min,
    equal,
    greater,
    less,
    greater_equal,
    less_equal,
  };
  // A selection and its arguments: a is x or lo, b is hi, n the count of max_n and min_n.
  struct selection {
    pick what;
    const K* a = nullptr;
    const K* b = nullptr;
    uint64_t n = 0;
  };
  using run = typename tree::run;

  explicit ordered_set(std::string_view kind)
      : adt<K, V>(kind, descriptor_of<K>(), descriptor_of<V>()) {}

  static void free_node(avl_node* n) { delete static_cast<node*>(n); }
  static bool copy_key(const node* n, K& out) {
    if (n == nullptr) return false;
    out = n->key;
    return true;
  }
  // The answer of a selection's query: false only for max and min of an empty container.
  // Requires: the lock, either way.
  bool answers(const selection& s) const {
    return !((s.what == pick::max || s.what == pick::min) && tree_.is_empty());
  }

  // Requires: the lock, either way.
  run locate(const selection& s) const {
    const tree& t = tree_;
    const auto between = &tree::ordered_run;
    const uint64_t count = t.count();
    switch (s.what) {
      case pick::ge_le:
        return between(t.first_at_least(*s.a), t.last_at_most(*s.b));
      case pick::ge_lt:
        return between(t.first_at_least(*s.a), t.last_below(*s.b));
      case pick::gt_le:
        return between(t.first_above(*s.a), t.last_at_most(*s.b));
      case pick::gt_lt:
        return between(t.first_above(*s.a), t.last_below(*s.b));
      case pick::max_n:
        if (s.n == 0) return {};
        return between(s.n >= count ? t.first() : t.at(count - s.n), t.last());
      case pick::min_n:
        if (s.n == 0) return {};
        return between(t.first(), s.n >= count ? t.last() : t.at(s.n - 1));
      case pick::max:
        return between(t.last(), t.last());
      case pick::min:
        return between(t.first(), t.first());
      case pick::equal:
        return t.equal_run(*s.a);
      case pick::greater:
        return between(t.first_above(*s.a), t.last());
      case pick::less:
        return between(t.first(), t.last_below(*s.a));
      case pick::greater_equal:
        return between(t.first_at_least(*s.a), t.last());
      case pick::less_equal:
        return between(t.first(), t.last_at_most(*s.a));
    }
    return {};
  }

  // The query of a selection, under the shared lock. `equal` appends to `out`; every other
  // selection replaces what `out` holds.
  [[nodiscard]] bool select_into(const selection& s, keys& out) const {
    std::shared_lock lock(this->lock_);
    if (!answers(s)) return false;
    if (s.what != pick::equal) out.clear();
    tree::append_keys(locate(s), out);
    return true;
  }

  // Requires: the exclusive lock. Allocates only once the slot is known.
  [[nodiscard]] bool insert_locked(const K& key) {
    typename tree::slot s;
    if (!tree_.find_slot(key, s)) return false;
    tree_.link_at(s, new node(key));
    return true;
  }
  // Requires: the exclusive lock.
  void remove(node* n) {
    tree_.unlink(n);
    free_node(n);
  }

  // Set: the query under the shared lock, released; then each selected value removed under the
  // exclusive lock (a value removed meanwhile by another writer is skipped). Multiset: one
  // exclusive hold that removes the selected nodes.
  [[nodiscard]] bool erase_selected(const selection& s) {
    if constexpr (unique) {
      keys picked;
      const bool answer = select_into(s, picked);
      if (picked.empty()) return answer;
      std::unique_lock lock(this->lock_);
      for (const K& key : picked) {
        if (node* n = tree_.find(key)) remove(n);
      }
      return answer;
    } else {
      std::unique_lock lock(this->lock_);
      return tree_.remove_run(locate(s), &free_node) != 0;
    }
  }

  // The replace rule: the query, then under the exclusive lock each selected value's node (found
  // from the root) is re-keyed to `fresh`. A set acts only on exactly one selected element.
  [[nodiscard]] bool replace_selected(const selection& s, const K& fresh) {
    keys picked;
    const bool answer = select_into(s, picked);
    if constexpr (unique) {
      if (picked.size() != 1) return false;
    } else {
      if (picked.empty()) return answer;
    }
    std::unique_lock lock(this->lock_);
    for (const K& old_key : picked) {
      node* n = tree_.find(old_key);
      if (n == nullptr) continue;  // removed by another writer meanwhile
      K key(fresh);
      // A set refusing `fresh` (present already) keeps the old element; the answer stays true.
      static_cast<void>(tree_.rekey(n, key));
    }
    return unique ? true : answer;
  }

  tree tree_;
};

// The two kinds differ only in `unique`, which the shared operations above read where a set and
// a multiset part ways (insert, the erase family, the replace rule).
template <class K, class V>
class set_adt final : public ordered_set<K, V, true> {
 public:
  set_adt() : ordered_set<K, V, true>(set_kind) {}
};

template <class K, class V>
class multiset_adt final : public ordered_set<K, V, false> {
 public:
  multiset_adt() : ordered_set<K, V, false>(multiset_kind) {}
};

}  // namespace qn::db::nosql::nosql_db
