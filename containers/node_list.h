// node_list: a doubly linked list of T whose nodes can be named from outside by checked handles.
// Owns its nodes; not thread-safe (guarded by whoever holds the list).
//
// Nodes live in one slot array and link to each other by slot number; freed slots are kept on a
// free chain and reused. Each slot carries a 32-bit generation that is odd while the slot holds a
// live node and is bumped on every allocation and every release. A handle is
//   (generation << 32) | (slot + 1)
// so it is never 0, and it is accepted only when its slot is inside the array and the slot's
// current generation is odd and equal to the handle's: a never-issued, erased or random handle
// is refused without touching anything else. Generations of a list start from a base taken from a
// process-wide sequence (spread by an odd multiplier) and a new base is taken whenever the slot
// array is thrown away (clear, or the last node erased from a large array), so a handle of
// another list or of an earlier life of this list names nothing here; it could only slip through
// if two 32-bit generations met by chance, and even then it names a live node of this list.
// A list holds at most 2^32 - 2 nodes; adding one more throws std::bad_alloc.
#pragma once

#include <atomic>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace qn::db::nosql::nosql_db {

template <class T>
class node_list {
 public:
  // A slot number inside this list; `none` marks the end of a chain.
  using position = uint32_t;
  static constexpr position none = ~position{0};
  static constexpr uint64_t npos = ~uint64_t{0};
  using value_type = T;

  node_list() = default;
  node_list(const node_list&) = delete;
  node_list& operator=(const node_list&) = delete;

  uint64_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // Slots in the array, live or free.
  uint64_t slot_count() const { return slots_.size(); }

  // ---- handles ----

  uint64_t handle_of(position p) const {
    return (uint64_t{slots_[p].generation} << 32) | (uint64_t{p} + 1);
  }
  // True, with the node's position in `out`, when the handle names a live node of this list.
  [[nodiscard]] bool find(uint64_t handle, position& out) const {
    const uint64_t low = handle & 0xffffffffu;
    if (low == 0 || low > slots_.size()) return false;
    const auto p = static_cast<position>(low - 1);
    const uint32_t generation = slots_[p].generation;
    if ((generation & 1u) == 0 || generation != static_cast<uint32_t>(handle >> 32)) return false;
    out = p;
    return true;
  }

  // ---- walking by position ----

  position head() const { return head_; }
  position tail() const { return tail_; }
  // Requires: p is live.
  position next(position p) const { return slots_[p].next; }
  position prev(position p) const { return slots_[p].prev; }
  T& value(position p) { return slots_[p].value; }

  // Position of the node at 0-based index i, walking from the nearer end. Requires: i < size().
  position position_at(uint64_t i) const {
    position p;
    if (i < count_ / 2) {
      for (p = head_; i != 0; --i) p = slots_[p].next;
    } else {
      for (p = tail_, i = count_ - 1 - i; i != 0; --i) p = slots_[p].prev;
    }
    return p;
  }
  T& element(uint64_t i) { return value(position_at(i)); }
  T& front() { return value(head_); }
  T& back() { return value(tail_); }

  // ---- changing ----

  position push_back(const T& v) { return link_before(none, v); }
  position push_front(const T& v) { return link_before(head_, v); }
  // New node before p (p == none: at the back). Requires: p is live or none.
  position insert_before(position p, const T& v) { return link_before(p, v); }
  // Inserts v so that it stands at index i. Requires: i <= size().
  void insert(uint64_t i, const T& v) { link_before(i == count_ ? none : position_at(i), v); }

  // Unlinks and frees a live node.
  void erase(position p) {
    node& n = slots_[p];
    (n.prev == none ? head_ : slots_[n.prev].next) = n.next;
    (n.next == none ? tail_ : slots_[n.next].prev) = n.prev;
    if constexpr (!std::is_trivially_destructible_v<T>) n.value = T{};
    ++n.generation;
    n.next = free_;
    free_ = p;
    if (--count_ == 0 && slots_.size() > keep_slots) clear();
  }
  // Removes indexes [begin, end). Requires: begin <= end <= size().
  void erase(uint64_t begin, uint64_t end) {
    if (begin == end) return;
    position p = position_at(begin);
    for (uint64_t n = end - begin; n != 0; --n) {
      const position following = slots_[p].next;
      erase(p);
      p = following;
    }
  }
  // Requires: !empty().
  void pop_front() { erase(head_); }
  void pop_back() { erase(tail_); }
  // Remove min(n, size()) elements from either end.
  void pop_front_n(uint64_t n) {
    while (n-- != 0 && count_ != 0) erase(head_);
  }
  void pop_back_n(uint64_t n) {
    while (n-- != 0 && count_ != 0) erase(tail_);
  }

  // Frees every node; handles issued so far name nothing afterwards.
  void clear() {
    slots_ = {};
    head_ = tail_ = free_ = none;
    count_ = 0;
    base_ = fresh_base();
  }

  // ---- visiting ----

  // Calls f(T&) for indexes [begin, end) in order. Requires: begin <= end <= size().
  template <class F>
  void for_each_in(uint64_t begin, uint64_t end, F&& f) {
    if (begin == end) return;
    for (position p = position_at(begin); begin != end; ++begin, p = slots_[p].next) {
      f(slots_[p].value);
    }
  }
  // Index of the first element for which pred holds, npos when none.
  template <class P>
  uint64_t find_if(P&& pred) const {
    uint64_t i = 0;
    for (position p = head_; p != none; p = slots_[p].next, ++i) {
      if (pred(slots_[p].value)) return i;
    }
    return npos;
  }
  // Position of the first node for which pred holds, none when none.
  template <class P>
  position find_position_if(P&& pred) const {
    for (position p = head_; p != none; p = slots_[p].next) {
      if (pred(slots_[p].value)) return p;
    }
    return none;
  }

 private:
  struct node {
    T value{};
    position prev = none;
    position next = none;
    uint32_t generation = 0;
  };

  // A list emptied by erasing keeps a slot array this small for reuse; a larger one is freed.
  static constexpr uint64_t keep_slots = 1024;

  static uint32_t fresh_base() {
    static std::atomic<uint32_t> sequence{0};
    return (sequence.fetch_add(1, std::memory_order_relaxed) * 0x9E3779B9u) << 1;  // even
  }

  position allocate(const T& v) {
    position p;
    if (free_ != none) {
      p = free_;
      free_ = slots_[p].next;
      slots_[p].value = v;
    } else {
      if (slots_.size() >= none - 1) throw std::bad_alloc();
      p = static_cast<position>(slots_.size());
      slots_.push_back(node{v, none, none, base_});
    }
    ++slots_[p].generation;  // now odd: live
    return p;
  }

  position link_before(position at, const T& v) {
    const position p = allocate(v);
    node& n = slots_[p];
    n.next = at;
    n.prev = at == none ? tail_ : slots_[at].prev;
    (n.prev == none ? head_ : slots_[n.prev].next) = p;
    (at == none ? tail_ : slots_[at].prev) = p;
    ++count_;
    return p;
  }

  std::vector<node> slots_;
  position head_ = none;
  position tail_ = none;
  position free_ = none;  // chain of free slots through `next`
  uint64_t count_ = 0;
  uint32_t base_ = fresh_base();
};

}  // namespace qn::db::nosql::nosql_db
