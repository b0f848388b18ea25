// Sequence kinds: vec_adt (growable_array), deque_adt (block_deque) and list_adt (node_list),
// sequences of K in insertion order; V is not stored. Every operation takes this container's lock
// itself, shared to read and exclusive to change, for its whole run.
//
// The three share the positional family (positional_sequence): read, overwrite, insert and
// remove by 1-based position, by [from, to] range, by the first or last n, at either end. On top
// of it the vector and the list remove by position and range, and the list names its nodes by
// checked handles (node_list.h). Everything else is the interface's refusing default.
#pragma once

#include <cstdint>
#include <mutex>
#include <shared_mutex>

#include "containers/adt.h"
#include "containers/block_deque.h"
#include "containers/growable_array.h"
#include "containers/node_list.h"
#include "containers/sequence_common.h"
#include "values/scalar.h"

namespace qn::db::nosql::nosql_db {

// The positional operations every sequence kind answers in the same way, over its element store.
template <class K, class V, class Store>
class positional_sequence : public stored_sequence<K, V, Store> {
 public:
  using keys = out_list<K>;

  // ---- reading ----

  [[nodiscard]] bool index_of(const K& k, uint64_t& out) override {
    return this->find_first(k, out);
  }
  [[nodiscard]] bool at(uint64_t position, K& out) override {
    std::shared_lock hold(this->lock_);
    if (!is_position_in(position, items_.size())) return false;
    out = items_.element(position - 1);
    return true;
  }
  [[nodiscard]] bool first(K& out) override { return this->read_first(out); }
  [[nodiscard]] bool last(K& out) override { return this->read_last(out); }
  [[nodiscard]] bool range(uint64_t from, uint64_t to, keys& out) override {
    return read_span(
        [&](uint64_t count, index_span& span) { return span_of_range(from, to, count, span); },
        out);
  }
  [[nodiscard]] bool first_n(uint64_t n, keys& out) override {
    return read_span(
        [&](uint64_t count, index_span& span) { return span_of_first_n(n, count, span); }, out);
  }
  [[nodiscard]] bool last_n(uint64_t n, keys& out) override {
    return read_span(
        [&](uint64_t count, index_span& span) { return span_of_last_n(n, count, span); }, out);
  }

  // ---- removing ----

  [[nodiscard]] bool erase_first() override { return this->pop_first(); }
  [[nodiscard]] bool erase_last() override { return this->pop_last(); }
  [[nodiscard]] bool erase_first_n(uint64_t n) override {
    std::unique_lock hold(this->lock_);
    if (n == 0) return false;
    items_.pop_front_n(n);
    return true;
  }
  [[nodiscard]] bool erase_last_n(uint64_t n) override {
    std::unique_lock hold(this->lock_);
    if (n == 0) return false;
    items_.pop_back_n(n);
    return true;
  }

  // ---- inserting ----

  [[nodiscard]] bool insert_at(uint64_t position, const K& k) override {
    std::unique_lock hold(this->lock_);
    if (!is_position_in(position, items_.size() + 1)) return false;
    items_.insert(position - 1, k);
    return true;
  }
  [[nodiscard]] bool insert_first(const K& k) override {
    std::unique_lock hold(this->lock_);
    items_.push_front(k);
    return true;
  }
  [[nodiscard]] bool insert_last(const K& k) override { return this->push_last(k); }

  // ---- overwriting ----

  [[nodiscard]] bool assign_all(const K& k) override { return this->fill_all(k); }
  [[nodiscard]] bool assign_at(uint64_t position, const K& k) override {
    std::unique_lock hold(this->lock_);
    if (!is_position_in(position, items_.size())) return false;
    items_.element(position - 1) = k;
    return true;
  }
  [[nodiscard]] bool assign_first(const K& k) override { return this->write_first(k); }
  [[nodiscard]] bool assign_last(const K& k) override { return this->write_last(k); }
  [[nodiscard]] bool assign_range(uint64_t from, uint64_t to, const K& k) override {
    return write_span(
        [&](uint64_t count, index_span& span) { return span_of_range(from, to, count, span); }, k);
  }
  [[nodiscard]] bool assign_first_n(uint64_t n, const K& k) override {
    return write_span(
        [&](uint64_t count, index_span& span) { return span_of_first_n(n, count, span); }, k);
  }
  [[nodiscard]] bool assign_last_n(uint64_t n, const K& k) override {
    return write_span(
        [&](uint64_t count, index_span& span) { return span_of_last_n(n, count, span); }, k);
  }

 protected:
  using stored_sequence<K, V, Store>::stored_sequence;
  using stored_sequence<K, V, Store>::items_;

  // Copies / overwrites the span that `rule(count, span)` picks; false (nothing done) when the
  // rule refuses.
  template <class Rule>
  bool read_span(Rule rule, keys& out) {
    std::shared_lock hold(this->lock_);
    index_span span;
    if (!rule(items_.size(), span)) return false;
    copy_span(items_, span, out);
    return true;
  }
  template <class Rule>
  bool write_span(Rule rule, const K& k) {
    std::unique_lock hold(this->lock_);
    index_span span;
    if (!rule(items_.size(), span)) return false;
    fill_span(items_, span, k);
    return true;
  }

  // Positions [from, to] removed by the vector and the list; refusals as `range`.
  bool erase_positions(uint64_t from, uint64_t to) {
    std::unique_lock hold(this->lock_);
    index_span span;
    if (!span_of_range(from, to, items_.size(), span)) return false;
    items_.erase(span.begin, span.end);
    return true;
  }
};

// "vector": O(1) indexed access and append; inserting or removing inside moves the tail.
template <class K, class V>
class vec_adt final : public positional_sequence<K, V, growable_array<K>> {
 public:
  vec_adt() : positional_sequence<K, V, growable_array<K>>(vector_kind) {}

  [[nodiscard]] bool erase_at(uint64_t position) override {
    return this->erase_positions(position, position);
  }
  [[nodiscard]] bool erase_range(uint64_t from, uint64_t to) override {
    return this->erase_positions(from, to);
  }
};

// "deque": O(1) indexed access and O(1) insert and remove at both ends; no removal inside.
template <class K, class V>
class deque_adt final : public positional_sequence<K, V, block_deque<K>> {
 public:
  deque_adt() : positional_sequence<K, V, block_deque<K>>(deque_kind) {}
};

// "list": O(1) at a node handle, O(n) by position. Handles are those of node_list: checked on
// every use, so a handle that names no live node of this list is refused, never followed.
template <class K, class V>
class list_adt final : public positional_sequence<K, V, node_list<K>> {
  using base = positional_sequence<K, V, node_list<K>>;
  using position = typename node_list<K>::position;
  static constexpr position none = node_list<K>::none;

 public:
  list_adt() : base(list_kind) {}

  [[nodiscard]] bool erase_at(uint64_t position) override {
    return this->erase_positions(position, position);
  }
  [[nodiscard]] bool erase_range(uint64_t from, uint64_t to) override {
    return this->erase_positions(from, to);
  }

  // ---- node handles ----

  [[nodiscard]] bool value_at_node(node_handle handle, K& out) override {
    std::shared_lock hold(this->lock_);
    position p;
    if (!this->items_.find(handle, p)) return false;
    out = this->items_.value(p);
    return true;
  }
  [[nodiscard]] bool find_node(const K& k, node_handle& out) override {
    std::shared_lock hold(this->lock_);
    const position p =
        this->items_.find_position_if([&](const K& v) { return compare_keys(v, k) == 0; });
    if (p == none) return false;
    out = this->items_.handle_of(p);
    return true;
  }
  // Handle 0 stands before the first and after the last node, so both walks give 0 from it.
  [[nodiscard]] bool next_node(node_handle handle, node_handle& out) override {
    return step(handle, true, out);
  }
  [[nodiscard]] bool prev_node(node_handle handle, node_handle& out) override {
    return step(handle, false, out);
  }
  [[nodiscard]] bool erase_node(node_handle handle) override {
    std::unique_lock hold(this->lock_);
    position p;
    if (!this->items_.find(handle, p)) return false;
    this->items_.erase(p);
    return true;
  }
  // Handle 0 appends at the back.
  [[nodiscard]] bool insert_at_node(node_handle handle, const K& k) override {
    std::unique_lock hold(this->lock_);
    position p = none;
    if (handle != 0 && !this->items_.find(handle, p)) return false;
    this->items_.insert_before(p, k);
    return true;
  }
  [[nodiscard]] bool assign_node(node_handle handle, const K& k) override {
    std::unique_lock hold(this->lock_);
    position p;
    if (!this->items_.find(handle, p)) return false;
    this->items_.value(p) = k;
    return true;
  }

 private:
  bool step(node_handle handle, bool forward, node_handle& out) {
    std::shared_lock hold(this->lock_);
    if (handle == 0) {
      out = 0;
      return true;
    }
    position p;
    if (!this->items_.find(handle, p)) return false;
    p = forward ? this->items_.next(p) : this->items_.prev(p);
    out = p == none ? 0 : this->items_.handle_of(p);
    return true;
  }
};

}  // namespace qn::db::nosql::nosql_db
