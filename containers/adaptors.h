// Adaptor kinds: stack_adt (growable_array, top at the end), queue_adt (block_deque, front at
// index 0) and heap_adt (binary min-heap in a growable_array); V is not stored. Every operation
// takes this container's lock itself, shared to read and exclusive to change, for its whole run.
//
// Each exposes only the operations that fit its discipline; everything else is the interface's
// refusing default. count, save, load, all and clear come from stored_sequence (sequence_common.h):
// a stack saves and lists bottom to top, a queue front to back, a heap its array in index order.
#pragma once

#include <cstdint>
#include <mutex>
#include <shared_mutex>

#include "containers/adt.h"
#include "containers/binary_heap.h"
#include "containers/block_deque.h"
#include "containers/growable_array.h"
#include "containers/sequence_common.h"
#include "values/scalar.h"

namespace qn::db::nosql::nosql_db {

// "stack": last in, first out. The bottom is index 0.
template <class K, class V>
class stack_adt final : public stored_sequence<K, V, growable_array<K>> {
 public:
  stack_adt() : stored_sequence<K, V, growable_array<K>>(stack_kind) {}

  // The top.
  [[nodiscard]] bool last(K& out) override { return this->read_last(out); }
  // Pop.
  [[nodiscard]] bool erase_last() override { return this->pop_last(); }
  // Push.
  [[nodiscard]] bool insert_last(const K& k) override { return this->push_last(k); }
  [[nodiscard]] bool assign_all(const K& k) override { return this->fill_all(k); }
  // Overwrites the top.
  [[nodiscard]] bool assign_last(const K& k) override { return this->write_last(k); }
};

// "queue": first in, first out. The front is index 0. A block_deque rather than a linked list: a
// queue hands out no node handles, so it need not pay a list's links and generation per element
// (8 bytes per u64 element instead of 24), and the deque frees its blocks as the front passes.
template <class K, class V>
class queue_adt final : public stored_sequence<K, V, block_deque<K>> {
 public:
  queue_adt() : stored_sequence<K, V, block_deque<K>>(queue_kind) {}

  // 0-based index from the front.
  [[nodiscard]] bool index_of(const K& k, uint64_t& out) override {
    return this->find_first(k, out);
  }
  [[nodiscard]] bool first(K& out) override { return this->read_first(out); }
  [[nodiscard]] bool last(K& out) override { return this->read_last(out); }
  // Dequeue.
  [[nodiscard]] bool erase_first() override { return this->pop_first(); }
  // Enqueue.
  [[nodiscard]] bool insert_last(const K& k) override { return this->push_last(k); }
  [[nodiscard]] bool assign_all(const K& k) override { return this->fill_all(k); }
  [[nodiscard]] bool assign_first(const K& k) override { return this->write_first(k); }
  [[nodiscard]] bool assign_last(const K& k) override { return this->write_last(k); }
};

// "heap": a binary min-heap under the key order (binary_heap.h); index 0 is the top.
template <class K, class V>
class heap_adt final : public stored_sequence<K, V, growable_array<K>> {
  using stored_sequence<K, V, growable_array<K>>::items_;

 public:
  heap_adt() : stored_sequence<K, V, growable_array<K>>(heap_kind) {}

  // Pushes each saved element with the sift-up of insert, in saved order.
  [[nodiscard]] bool load(image_reader& in) override {
    std::unique_lock hold(this->lock_);
    return get_each_element<K>(in, [&](const K& k) { heap_push(items_, k); });
  }
  // The top.
  [[nodiscard]] bool min(K& out) override {
    std::shared_lock hold(this->lock_);
    if (items_.empty()) return false;
    out = items_[0];
    return true;
  }
  // Pops the top.
  [[nodiscard]] bool erase_min() override {
    std::unique_lock hold(this->lock_);
    if (items_.empty()) return false;
    heap_pop(items_);
    return true;
  }
  // Always adds k; the value is ignored (a heap is built only over u08 values).
  [[nodiscard]] bool insert(const K& k, const V&) override {
    std::unique_lock hold(this->lock_);
    heap_push(items_, k);
    return true;
  }
  // Pops the top, then pushes k, under one exclusive hold; false (no change) when empty.
  [[nodiscard]] bool replace_min(const K& k) override {
    std::unique_lock hold(this->lock_);
    if (items_.empty()) return false;
    heap_pop(items_);
    heap_push(items_, k);
    return true;
  }
};

}  // namespace qn::db::nosql::nosql_db
