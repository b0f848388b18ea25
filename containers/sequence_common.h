// Position rules, image I/O and the common operations of the sequence kinds and the adaptors,
// over any of the element stores (growable_array, block_deque, node_list). The free helpers
// expect their caller to hold the lock; stored_sequence's operations take it themselves.
//
// Client positions are 1-based. A span is the 0-based half-open index range an operation acts on:
// a range [from, to] is valid when the sequence is not empty, from >= 1, to >= from and
// from <= count, and `to` is then clamped to the count; first-n and last-n take min(n, count)
// elements and are refused only for n = 0.
#pragma once

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string_view>
#include <type_traits>

#include "containers/adt.h"
#include "containers/growable_array.h"
#include "values/image_io.h"
#include "values/scalar.h"

namespace qn::db::nosql::nosql_db {

struct index_span {
  uint64_t begin = 0;
  uint64_t end = 0;
};

// ---- position rules ----

inline bool is_position_in(uint64_t position, uint64_t count) {
  return position != 0 && position <= count;
}
inline bool span_of_range(uint64_t from, uint64_t to, uint64_t count, index_span& out) {
  if (count == 0 || from == 0 || to < from || from > count) return false;
  out = {from - 1, std::min(to, count)};
  return true;
}
inline bool span_of_first_n(uint64_t n, uint64_t count, index_span& out) {
  if (n == 0) return false;
  out = {0, std::min(n, count)};
  return true;
}
inline bool span_of_last_n(uint64_t n, uint64_t count, index_span& out) {
  if (n == 0) return false;
  out = {count - std::min(n, count), count};
  return true;
}

// ---- reading and filling spans ----

// Replaces `out` with the elements of the span, in order.
template <class Store, class T>
void copy_span(Store& items, index_span span, out_list<T>& out) {
  out.clear();
  out.reserve(span.end - span.begin);
  items.for_each_in(span.begin, span.end, [&](T& v) { out.push_back(v); });
}
template <class Store, class T>
void fill_span(Store& items, index_span span, const T& v) {
  items.for_each_in(span.begin, span.end, [&](T& slot) { slot = v; });
}
// 0-based index of the first element equal to k (under the key order, so a NaN finds a NaN).
template <class Store, class T>
bool find_index(Store& items, const T& k, uint64_t& out) {
  const uint64_t i = items.find_if([&](const T& v) { return compare_keys(v, k) == 0; });
  if (i == Store::npos) return false;
  out = i;
  return true;
}

// ---- image payloads: u64 count, then the elements in store order ----

template <class Store>
void put_elements(Store& items, image_writer& out) {
  out.put_u64(items.size());
  items.for_each_in(0, items.size(), [&](auto& v) { out.put_scalar(v); });
}
// An array of fixed-width elements goes out in one block.
template <class T>
void put_elements(growable_array<T>& items, image_writer& out) {
  out.put_u64(items.size());
  if constexpr (std::is_same_v<T, xstring>) {
    items.for_each_in(0, items.size(), [&](T& v) { out.put_scalar(v); });
  } else {
    out.put_bytes(items.data(), items.size() * sizeof(T));
  }
}

// Reads a count and that many elements, handing each to `push` in file order. False on a short or
// corrupt payload (a count the rest of the file cannot hold is refused before anything is read);
// the elements pushed before the failure stay.
template <class T, class Push>
bool get_each_element(image_reader& in, Push&& push) {
  uint64_t count = 0;
  if (!in.get_u64(count) || !in.can_hold(count, encoded_size<T>())) return in.fail();
  T v{};
  for (; count != 0; --count) {
    if (!in.get_scalar(v)) return false;
    push(v);
  }
  return true;
}
// Appends the saved elements at the back of the store.
template <class Store>
bool get_elements(image_reader& in, Store& items) {
  using T = typename Store::value_type;
  return get_each_element<T>(in, [&](const T& v) { items.push_back(v); });
}
// An array of fixed-width elements is sized once and read in one block.
template <class T>
bool get_elements(image_reader& in, growable_array<T>& items) {
  if constexpr (std::is_same_v<T, xstring>) {
    return get_each_element<T>(in, [&](const T& v) { items.push_back(v); });
  } else {
    uint64_t count = 0;
    if (!in.get_u64(count) || !in.can_hold(count, sizeof(T))) return in.fail();
    const uint64_t old_size = items.size();
    items.reserve_exact(old_size + count);
    items.resize(old_size + count);
    if (in.get_bytes(items.data() + old_size, count * sizeof(T))) return true;
    items.resize(old_size);
    return false;
  }
}

// ---- the operations every sequence kind and adaptor shares ----

// Holds the elements in one store in the kind's order (sequence order, bottom to top, the heap's
// array) and answers count, save, load, all and clear over it; the operations at the ends are
// helpers that each kind exposes through its own overrides. Not a kind by itself.
template <class K, class V, class Store>
class stored_sequence : public adt<K, V> {
 public:
  using keys = out_list<K>;

  uint64_t count() override {
    std::shared_lock hold(this->lock_);
    return items_.size();
  }
  // u64 count, then the elements in store order.
  [[nodiscard]] bool save(image_writer& out) override {
    std::shared_lock hold(this->lock_);
    this->save_header(out);
    put_elements(items_, out);
    return out.ok();
  }
  // Appends the saved elements at the back in their saved order.
  [[nodiscard]] bool load(image_reader& in) override {
    std::unique_lock hold(this->lock_);
    return get_elements(in, items_);
  }
  [[nodiscard]] bool all(keys& out) override {
    std::shared_lock hold(this->lock_);
    copy_span(items_, {0, items_.size()}, out);
    return true;
  }
  // Frees the storage too: a cleared container gives its memory back.
  [[nodiscard]] bool clear() override {
    std::unique_lock hold(this->lock_);
    release_all(items_);
    return true;
  }

 protected:
  explicit stored_sequence(std::string_view kind)
      : adt<K, V>(kind, descriptor_of<K>(), descriptor_of<V>()) {}

  // The end operations, for the kinds that expose them (each kind's override names which). Each
  // takes the lock itself; all but push_last and fill_all answer false on an empty sequence.
  bool read_first(K& out) {
    std::shared_lock hold(this->lock_);
    if (items_.empty()) return false;
    out = items_.front();
    return true;
  }
  bool read_last(K& out) {
    std::shared_lock hold(this->lock_);
    if (items_.empty()) return false;
    out = items_.back();
    return true;
  }
  // 0-based index of the first element equal to k.
  bool find_first(const K& k, uint64_t& out) {
    std::shared_lock hold(this->lock_);
    return find_index(items_, k, out);
  }
  bool write_first(const K& k) {
    std::unique_lock hold(this->lock_);
    if (items_.empty()) return false;
    items_.front() = k;
    return true;
  }
  bool write_last(const K& k) {
    std::unique_lock hold(this->lock_);
    if (items_.empty()) return false;
    items_.back() = k;
    return true;
  }
  bool fill_all(const K& k) {
    std::unique_lock hold(this->lock_);
    fill_span(items_, {0, items_.size()}, k);
    return true;
  }
  bool push_last(const K& k) {
    std::unique_lock hold(this->lock_);
    items_.push_back(k);
    return true;
  }
  bool pop_first() {
    std::unique_lock hold(this->lock_);
    if (items_.empty()) return false;
    items_.pop_front();
    return true;
  }
  bool pop_last() {
    std::unique_lock hold(this->lock_);
    if (items_.empty()) return false;
    items_.pop_back();
    return true;
  }

  // Guarded by lock_.
  Store items_;

 private:
  template <class T>
  static void release_all(growable_array<T>& items) {
    items.release();
  }
  template <class S>
  static void release_all(S& items) {
    items.clear();
  }
};

}  // namespace qn::db::nosql::nosql_db
