// The container interface: ab_adt (common data, 4 operations) and adt<K,V> (the typed table of
// the other 78 operations, in slot order). Every concrete kind overrides only what it supports.
// Locking: each operation takes this container's lock itself (shared to read, exclusive to
// change) for its whole run; callers hold the registry lock first and never the container lock.
#pragma once

#include <cstdint>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "containers/container_lock.h"
#include "values/image_io.h"
#include "values/scalar.h"

namespace qn::db::nosql::nosql_db {

// Identifies one node of a list container; 0 names no node.
using node_handle = uint64_t;

// Output lists are owned by the caller. Reading operations resize them to exactly what they
// deliver, except `equal` and `values_of`, which append.
template <class T>
using out_list = std::vector<T>;

class ab_adt {
 public:
  // `kind` must point at constant text (one of the kind words); it is never owned.
  ab_adt(std::string_view kind, type_descriptor key_type, type_descriptor value_type)
      : kind_(kind), key_type_(key_type), value_type_(value_type) {}
  ab_adt(const ab_adt&) = delete;
  ab_adt& operator=(const ab_adt&) = delete;

  // Slot 0: destroys the contents and the name.
  virtual ~ab_adt() = default;
  // Slot 1: number of elements (pairs for maps, words for a trie); hash kinds answer their
  // fixed capacity.
  virtual uint64_t count() { return 0; }
  // Slot 2: writes this container's image record from the kind name length onwards. Shared lock.
  [[nodiscard]] virtual bool save(image_writer&) { return false; }
  // Slot 3: reads the payload after the descriptors (hash kinds: after the capacity) into this
  // freshly built, empty container. Exclusive lock.
  [[nodiscard]] virtual bool load(image_reader&) { return false; }

  std::string_view kind_name() const { return kind_; }
  type_descriptor key_type() const { return key_type_; }
  type_descriptor value_type() const { return value_type_; }
  std::string_view name() const { return name_; }
  // Set once by creation, before the container is published in the registry.
  void set_name(std::string_view name) { name_.assign(name); }

 protected:
  // Writes the part of the image record every kind shares: kind name length and bytes, the two
  // descriptors. Kinds call it at the start of `save`.
  void save_header(image_writer& out) const {
    out.put_text(kind_);
    out.put_bytes(&key_type_, 3);
    out.put_bytes(&value_type_, 3);
  }

  // Guards the kind-specific contents of the derived class.
  mutable container_lock lock_;

 private:
  std::string_view kind_;
  type_descriptor key_type_;
  type_descriptor value_type_;
  std::string name_;
};

// The typed operation table. Positions are 1-based; indexes and ranks 0-based; n is a count.
// Unless stated otherwise, false means nothing was done and out arguments are untouched.
// Every operation a kind does not support answers false and changes nothing.
template <class K, class V>
class adt : public ab_adt {
 public:
  using ab_adt::ab_adt;
  using key_type_t = K;
  using value_type_t = V;
  using keys = out_list<K>;

  // 4: 0-based position of k in ascending order; false (out = all ones) when absent.
  [[nodiscard]] virtual bool rank_of(const K&, uint64_t&) { return false; }
  // 5: every element (maps: every key) in the kind's order.
  [[nodiscard]] virtual bool all(keys&) { return false; }
  // 6: stores count(); always true.
  [[nodiscard]] virtual bool count_into(uint64_t& out) {
    out = count();
    return true;
  }
  // 7: element stored in the node.
  [[nodiscard]] virtual bool value_at_node(node_handle, K&) { return false; }
  // 8: handle of the first node equal to k.
  [[nodiscard]] virtual bool find_node(const K&, node_handle&) { return false; }
  // 9: handle of the next node, 0 after the last; a handle of 0 gives 0.
  [[nodiscard]] virtual bool next_node(node_handle, node_handle&) { return false; }
  // 10: handle of the previous node, 0 before the first.
  [[nodiscard]] virtual bool prev_node(node_handle, node_handle&) { return false; }
  // 11: 0-based index of the first element equal to k.
  [[nodiscard]] virtual bool index_of(const K&, uint64_t&) { return false; }
  // 12: element at a position; false for 0 or past count.
  [[nodiscard]] virtual bool at(uint64_t, K&) { return false; }
  // 13, 14: first and last element (stack: the top); false when empty.
  [[nodiscard]] virtual bool first(K&) { return false; }
  [[nodiscard]] virtual bool last(K&) { return false; }
  // 15: positions from..min(to, count); false when from or to is 0, from > to, empty, from > count.
  [[nodiscard]] virtual bool range(uint64_t, uint64_t, keys&) { return false; }
  // 16, 17: first / last min(n, count) elements in container order; result is n != 0.
  [[nodiscard]] virtual bool first_n(uint64_t, keys&) { return false; }
  [[nodiscard]] virtual bool last_n(uint64_t, keys&) { return false; }
  // 18..21: ascending elements within [lo, hi], [lo, hi), (lo, hi], (lo, hi); true.
  [[nodiscard]] virtual bool between_ge_le(const K&, const K&, keys&) { return false; }
  [[nodiscard]] virtual bool between_ge_lt(const K&, const K&, keys&) { return false; }
  [[nodiscard]] virtual bool between_gt_le(const K&, const K&, keys&) { return false; }
  [[nodiscard]] virtual bool between_gt_lt(const K&, const K&, keys&) { return false; }
  // 22, 23: the min(n, count) largest / smallest elements, ascending; true.
  [[nodiscard]] virtual bool max_n(uint64_t, keys&) { return false; }
  [[nodiscard]] virtual bool min_n(uint64_t, keys&) { return false; }
  // 24, 25: largest / smallest key (heap: the top); false when empty.
  [[nodiscard]] virtual bool max(K&) { return false; }
  [[nodiscard]] virtual bool min(K&) { return false; }
  // 26: appends the stored keys equal to k (see each kind for its answer when none match).
  [[nodiscard]] virtual bool equal(const K&, keys&) { return false; }
  // 27..30: ascending elements > k, < k, >= k, <= k; true.
  [[nodiscard]] virtual bool greater(const K&, keys&) { return false; }
  [[nodiscard]] virtual bool less(const K&, keys&) { return false; }
  [[nodiscard]] virtual bool greater_equal(const K&, keys&) { return false; }
  [[nodiscard]] virtual bool less_equal(const K&, keys&) { return false; }
  // 31: removes every element; true.
  [[nodiscard]] virtual bool clear() { return false; }
  // 32: removes the element at a position.
  [[nodiscard]] virtual bool erase_at(uint64_t) { return false; }
  // 33, 34: removes the first / last element (queue: dequeue, stack: pop); false when empty.
  [[nodiscard]] virtual bool erase_first() { return false; }
  [[nodiscard]] virtual bool erase_last() { return false; }
  // 35: removes positions from..min(to, count); refusals as `range`.
  [[nodiscard]] virtual bool erase_range(uint64_t, uint64_t) { return false; }
  // 36, 37: removes the first / last min(n, count) elements; result is n != 0.
  [[nodiscard]] virtual bool erase_first_n(uint64_t) { return false; }
  [[nodiscard]] virtual bool erase_last_n(uint64_t) { return false; }
  // 38: removes that node.
  [[nodiscard]] virtual bool erase_node(node_handle) { return false; }
  // 39..44: erase by selection with the selection of slots 18..23.
  [[nodiscard]] virtual bool erase_between_ge_le(const K&, const K&) { return false; }
  [[nodiscard]] virtual bool erase_between_ge_lt(const K&, const K&) { return false; }
  [[nodiscard]] virtual bool erase_between_gt_le(const K&, const K&) { return false; }
  [[nodiscard]] virtual bool erase_between_gt_lt(const K&, const K&) { return false; }
  [[nodiscard]] virtual bool erase_max_n(uint64_t) { return false; }
  [[nodiscard]] virtual bool erase_min_n(uint64_t) { return false; }
  // 45, 46: removes the entry with the largest / smallest key (heap: pops the top).
  [[nodiscard]] virtual bool erase_max() { return false; }
  [[nodiscard]] virtual bool erase_min() { return false; }
  // 47: removes every entry with key k.
  [[nodiscard]] virtual bool erase_equal(const K&) { return false; }
  // 48..51: erase by selection with the selection of slots 27..30.
  [[nodiscard]] virtual bool erase_greater(const K&) { return false; }
  [[nodiscard]] virtual bool erase_less(const K&) { return false; }
  [[nodiscard]] virtual bool erase_greater_equal(const K&) { return false; }
  [[nodiscard]] virtual bool erase_less_equal(const K&) { return false; }
  // 52: inserts so that the element stands at the position; false for 0 or past count + 1.
  [[nodiscard]] virtual bool insert_at(uint64_t, const K&) { return false; }
  // 53, 54: inserts before the first / after the last element (stack, queue: push); true.
  [[nodiscard]] virtual bool insert_first(const K&) { return false; }
  [[nodiscard]] virtual bool insert_last(const K&) { return false; }
  // 55: new node before the given one; handle 0 appends; true when a node was made.
  [[nodiscard]] virtual bool insert_at_node(node_handle, const K&) { return false; }
  // 56: inserts a key (and value, for maps); see each kind for refusals.
  [[nodiscard]] virtual bool insert(const K&, const V&) { return false; }
  // 57: overwrites every element; true.
  [[nodiscard]] virtual bool assign_all(const K&) { return false; }
  // 58: overwrites the element at a position.
  [[nodiscard]] virtual bool assign_at(uint64_t, const K&) { return false; }
  // 59, 60: overwrites the first / last element; false when empty.
  [[nodiscard]] virtual bool assign_first(const K&) { return false; }
  [[nodiscard]] virtual bool assign_last(const K&) { return false; }
  // 61: overwrites positions from..min(to, count); refusals as `range`.
  [[nodiscard]] virtual bool assign_range(uint64_t, uint64_t, const K&) { return false; }
  // 62, 63: overwrites the first / last min(n, count) elements; result is n != 0.
  [[nodiscard]] virtual bool assign_first_n(uint64_t, const K&) { return false; }
  [[nodiscard]] virtual bool assign_last_n(uint64_t, const K&) { return false; }
  // 64: overwrites the element of that node.
  [[nodiscard]] virtual bool assign_node(node_handle, const K&) { return false; }
  // 65..70: replace rule with the selection of slots 18..23, then the new element.
  [[nodiscard]] virtual bool replace_between_ge_le(const K&, const K&, const K&) { return false; }
  [[nodiscard]] virtual bool replace_between_ge_lt(const K&, const K&, const K&) { return false; }
  [[nodiscard]] virtual bool replace_between_gt_le(const K&, const K&, const K&) { return false; }
  [[nodiscard]] virtual bool replace_between_gt_lt(const K&, const K&, const K&) { return false; }
  [[nodiscard]] virtual bool replace_max_n(uint64_t, const K&) { return false; }
  [[nodiscard]] virtual bool replace_min_n(uint64_t, const K&) { return false; }
  // 71, 72: sets: replace rule on the largest / smallest element; maps: re-key that entry;
  // heap (72): pop the top and push the new element.
  [[nodiscard]] virtual bool replace_max(const K&) { return false; }
  [[nodiscard]] virtual bool replace_min(const K&) { return false; }
  // 73: sets: replace rule on the elements equal to k; maps and hash kinds: re-key k.
  [[nodiscard]] virtual bool replace_equal(const K&, const K&) { return false; }
  // 74..77: replace rule with the selection of slots 27..30.
  [[nodiscard]] virtual bool replace_greater(const K&, const K&) { return false; }
  [[nodiscard]] virtual bool replace_less(const K&, const K&) { return false; }
  [[nodiscard]] virtual bool replace_greater_equal(const K&, const K&) { return false; }
  [[nodiscard]] virtual bool replace_less_equal(const K&, const K&) { return false; }
  // 78: out = the word is stored; the operation itself answers true.
  [[nodiscard]] virtual bool has_word(const K&, bool&) { return false; }
  // 79: out = a stored whole word equals this one up to ASCII letter case; answers true.
  [[nodiscard]] virtual bool has_word_any_case(const K&, bool&) { return false; }
  // 80: appends the value(s) of key k (multimap: every value, in entry order); false when absent.
  [[nodiscard]] virtual bool values_of(const K&, out_list<V>&) { return false; }
  // 81: overwrites the value of key k (multimap: of every entry with k); false when absent.
  [[nodiscard]] virtual bool assign_value(const K&, const V&) { return false; }
};

// The thirteen kind words, as the containers store them.
inline constexpr std::string_view hashmap_kind = "hashmap";
inline constexpr std::string_view hashtable_kind = "hashtable";
inline constexpr std::string_view map_kind = "map";
inline constexpr std::string_view multimap_kind = "multimap";
inline constexpr std::string_view set_kind = "set";
inline constexpr std::string_view multiset_kind = "multiset";
inline constexpr std::string_view vector_kind = "vector";
inline constexpr std::string_view deque_kind = "deque";
inline constexpr std::string_view list_kind = "list";
inline constexpr std::string_view stack_kind = "stack";
inline constexpr std::string_view queue_kind = "queue";
inline constexpr std::string_view heap_kind = "heap";
inline constexpr std::string_view trie_kind = "trie";
inline constexpr std::string_view hashmap_not_allowed_kind = "hashmap_not_allowed";
inline constexpr std::string_view hashtable_not_allowed_kind = "hashtable_not_allowed";

}  // namespace qn::db::nosql::nosql_db
