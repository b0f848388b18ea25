// Ordered map kinds (map_adt, multimap_adt): key-value entries sorted by key in the AVL tree.
// Owns its entries; every operation takes this container's lock itself, shared to read and
// exclusive to change, for its whole run (re-keying included).
//
// Both kinds share ordered_map, which holds the tree and the operations that read or change the
// ends of the order; each final class adds the operations on one key, where a map and a multimap
// differ. A multimap places a new entry after every entry with an equal key, so the entries of one
// key stay in insertion order; the entries of a key are the run from the first entry not below it
// to the last entry not above it.
#pragma once

#include <memory>
#include <mutex>
#include <shared_mutex>

#include "containers/adt.h"
#include "containers/avl_tree.h"

namespace qn::db::nosql::nosql_db {

template <class K, class V>
struct map_entry : avl_key_node<K, false> {
  map_entry(const K& k, const V& v) : avl_key_node<K, false>(k), value(v) {}
  V value;
};

// The operations map and multimap share. `unique`: at most one entry per key.
template <class K, class V, bool unique>
class ordered_map : public adt<K, V> {
 public:
  using keys = typename adt<K, V>::keys;

  ~ordered_map() override { tree_.dispose_all(&free_entry); }

  uint64_t count() override {
    std::shared_lock lock(this->lock_);
    return tree_.count();
  }
  // Count, then every key and value in ascending key order (a multimap's equal keys in their
  // stored order).
  [[nodiscard]] bool save(image_writer& out) override {
    std::shared_lock lock(this->lock_);
    this->save_header(out);
    out.put_u64(tree_.count());
    for (node* n = tree_.first(); n != nullptr; n = tree::next(n)) {
      out.put_scalar(n->key);
      out.put_scalar(as_entry(n)->value);
    }
    return out.ok();
  }
  // Inserts the saved entries one by one (a map keeps the first value of a repeated key).
  // Requires: the container is empty. False, leaving it empty, when the payload is cut short or
  // its count cannot fit in what is left of the file.
  [[nodiscard]] bool load(image_reader& in) override {
    std::unique_lock lock(this->lock_);
    uint64_t n = 0;
    if (!in.get_u64(n) || !in.can_hold(n, encoded_size<K>() + encoded_size<V>())) {
      return in.fail();
    }
    K key{};
    V value{};
    for (uint64_t i = 0; i < n; ++i) {
      if (!in.get_scalar(key) || !in.get_scalar(value)) {
        tree_.dispose_all(&free_entry);
        return false;
      }
      static_cast<void>(insert_locked(key, value));
    }
    return true;
  }

  // Every key in ascending order, a multimap key once per entry.
  [[nodiscard]] bool all(keys& out) override {
    std::shared_lock lock(this->lock_);
    out.clear();
    out.reserve(tree_.count());
    tree::append_keys({tree_.first(), tree_.last()}, out);
    return true;
  }
  [[nodiscard]] bool max(K& out) override {
    std::shared_lock lock(this->lock_);
    return copy_key(tree_.last(), out);
  }
  [[nodiscard]] bool min(K& out) override {
    std::shared_lock lock(this->lock_);
    return copy_key(tree_.first(), out);
  }

  [[nodiscard]] bool clear() override {
    std::unique_lock lock(this->lock_);
    tree_.dispose_all(&free_entry);
    return true;
  }
  // Removes the last / first entry in key order; false when empty.
  [[nodiscard]] bool erase_max() override {
    std::unique_lock lock(this->lock_);
    return remove(tree_.last());
  }
  [[nodiscard]] bool erase_min() override {
    std::unique_lock lock(this->lock_);
    return remove(tree_.first());
  }
  // Map: true when the key was absent and the entry is now stored; false when present (its value
  // unchanged). Multimap: stores a new entry after every entry with an equal key; true.
  [[nodiscard]] bool insert(const K& key, const V& value) override {
    std::unique_lock lock(this->lock_);
    return insert_locked(key, value);
  }
  // Re-keys the last / first entry, keeping its value. False when empty, and (map) when the new
  // key is present already: the entry then stays under its old key.
  [[nodiscard]] bool replace_max(const K& fresh) override {
    K key(fresh);
    std::unique_lock lock(this->lock_);
    node* n = tree_.last();
    return n != nullptr && tree_.rekey(n, key);
  }
  [[nodiscard]] bool replace_min(const K& fresh) override {
    K key(fresh);
    std::unique_lock lock(this->lock_);
    node* n = tree_.first();
    return n != nullptr && tree_.rekey(n, key);
  }

  // Tests: the tree's structure and order.
  [[nodiscard]] bool is_sound(std::string* why = nullptr) const {
    std::shared_lock lock(this->lock_);
    if (!tree_.is_sound(why)) return false;
    if (tree_.is_ordered()) return true;
    if (why != nullptr) *why = "keys out of order";
    return false;
  }
  uint64_t height() const {
    std::shared_lock lock(this->lock_);
    return tree_.height();
  }

 protected:
  using tree = avl_tree<K, false, unique>;
  using node = typename tree::node;
  using entry = map_entry<K, V>;

  explicit ordered_map(std::string_view kind)
      : adt<K, V>(kind, descriptor_of<K>(), descriptor_of<V>()) {}

  static entry* as_entry(node* n) { return static_cast<entry*>(n); }
  static void free_entry(avl_node* n) { delete static_cast<entry*>(static_cast<node*>(n)); }
  static bool copy_key(const node* n, K& out) {
    if (n == nullptr) return false;
    out = n->key;
    return true;
  }

  // Requires: the exclusive lock. Allocates only once the slot is known, so a refused or failed
  // insert leaves the tree as it was.
  [[nodiscard]] bool insert_locked(const K& key, const V& value) {
    typename tree::slot s;
    if (!tree_.find_slot(key, s)) return false;
    tree_.link_at(s, new entry(key, value));
    return true;
  }
  // Requires: the exclusive lock. False for null.
  bool remove(node* n) {
    if (n == nullptr) return false;
    tree_.unlink(n);
    free_entry(n);
    return true;
  }

  tree tree_;
};

template <class K, class V>
class map_adt final : public ordered_map<K, V, true> {
  using base = ordered_map<K, V, true>;
  using node = typename base::node;

 public:
  using keys = typename base::keys;

  map_adt() : base(map_kind) {}

  // Appends the key once when present; false when absent.
  [[nodiscard]] bool equal(const K& key, keys& out) override {
    std::shared_lock lock(this->lock_);
    node* n = this->tree_.find(key);
    if (n == nullptr) return false;
    out.push_back(n->key);
    return true;
  }
  // Appends a copy of the key's value; false when absent.
  [[nodiscard]] bool values_of(const K& key, out_list<V>& out) override {
    std::shared_lock lock(this->lock_);
    node* n = this->tree_.find(key);
    if (n == nullptr) return false;
    out.push_back(base::as_entry(n)->value);
    return true;
  }
  // Overwrites the key's value; false when absent (never inserts).
  [[nodiscard]] bool assign_value(const K& key, const V& value) override {
    std::unique_lock lock(this->lock_);
    node* n = this->tree_.find(key);
    if (n == nullptr) return false;
    base::as_entry(n)->value = value;
    return true;
  }
  // Removes the key's entry; false when absent.
  [[nodiscard]] bool erase_equal(const K& key) override {
    std::unique_lock lock(this->lock_);
    return this->remove(this->tree_.find(key));
  }
  // Moves the entry of `old_key` to `fresh`, keeping its value. False when old_key is absent, or
  // when fresh is present already (both entries then stay as they were). A key moved onto itself
  // answers true and nothing visible changes.
  [[nodiscard]] bool replace_equal(const K& old_key, const K& fresh) override {
    K key(fresh);
    std::unique_lock lock(this->lock_);
    node* n = this->tree_.find(old_key);
    return n != nullptr && this->tree_.rekey(n, key);
  }
};

template <class K, class V>
class multimap_adt final : public ordered_map<K, V, false> {
  using base = ordered_map<K, V, false>;
  using node = typename base::node;
  using tree = typename base::tree;

 public:
  using keys = typename base::keys;

  multimap_adt() : base(multimap_kind) {}

  // Appends the key once per entry with that key; true also when there is none.
  [[nodiscard]] bool equal(const K& key, keys& out) override {
    std::shared_lock lock(this->lock_);
    tree::append_keys(this->tree_.equal_run(key), out);
    return true;
  }
  // Appends the values of the key's entries in entry order; false when there is none.
  [[nodiscard]] bool values_of(const K& key, out_list<V>& out) override {
    std::shared_lock lock(this->lock_);
    const typename tree::run r = this->tree_.equal_run(key);
    if (r.first == nullptr) return false;
    for (node* n = r.first;; n = tree::next(n)) {
      out.push_back(base::as_entry(n)->value);
      if (n == r.last) return true;
    }
  }
  // Overwrites the value of every entry with the key; false when there is none.
  [[nodiscard]] bool assign_value(const K& key, const V& value) override {
    std::unique_lock lock(this->lock_);
    const typename tree::run r = this->tree_.equal_run(key);
    if (r.first == nullptr) return false;
    for (node* n = r.first;; n = tree::next(n)) {
      base::as_entry(n)->value = value;
      if (n == r.last) return true;
    }
  }
  // Removes every entry with the key; false when there is none.
  [[nodiscard]] bool erase_equal(const K& key) override {
    std::unique_lock lock(this->lock_);
    return this->tree_.remove_run(this->tree_.equal_run(key), &base::free_entry) != 0;
  }
  // Moves every entry of `old_key` to `fresh`, each after the entries already under fresh; true,
  // false when old_key has no entry. The entries are taken one at a time as a search from the
  // root meets them.
  //
  // Moving a key onto itself would find each moved entry again and never end; it is answered as
  // a move that has nothing to do: true when the key has entries, which stay as they are.
  [[nodiscard]] bool replace_equal(const K& old_key, const K& fresh) override {
    std::unique_lock lock(this->lock_);
    node* n = this->tree_.find(old_key);
    if (n == nullptr) return false;
    if (compare_keys(old_key, fresh) == 0) return true;
    do {
      K key(fresh);
      static_cast<void>(this->tree_.rekey(n, key));  // a multimap always accepts the new key
    } while ((n = this->tree_.find(old_key)) != nullptr);
    return true;
  }
};

}  // namespace qn::db::nosql::nosql_db
