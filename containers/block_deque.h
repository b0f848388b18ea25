// block_deque: a double-ended sequence of T in fixed blocks of 1024 elements under one block map.
// Owns its blocks and map; not thread-safe (guarded by whoever holds the deque).
//
// Two sides grow away from the middle. The back side holds slots [back_begin_, back_end_) and
// the front side [front_begin_, front_end_); slot s of a side lives in that side's block s / 1024
// at offset s % 1024. The map interleaves the sides: entry 2k is back-side block k, entry 2k + 1
// front-side block k; it starts empty and grows by 16 entries (8 blocks a side) whenever a slot
// needs an entry beyond it, keeping the entries where they were. Index 0 is the newest front slot
// (front_end_ - 1); the front slots come first, newest to oldest, then the back slots in order.
//
// Pushing writes the next slot of a side; popping an end retracts that side's end. Popping past
// an empty side takes the oldest slot of the other side and moves its begin up; once a begin
// passes a whole block, that block is freed and the side's entries move down by one, so a deque
// used as a queue does not grow its map without bound. A side that empties starts again at slot
// 0. After a side shrinks, blocks more than one past its end are freed. Blocks never move, so
// elements never move when the deque grows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

namespace qn::db::nosql::nosql_db {

template <class T>
class block_deque {
 public:
  static constexpr uint64_t block_size = 1024;
  static constexpr uint64_t map_step = 16;
  static constexpr uint64_t npos = ~uint64_t{0};
  using value_type = T;

  block_deque() = default;
  block_deque(const block_deque&) = delete;
  block_deque& operator=(const block_deque&) = delete;
  ~block_deque() { release(); }

  uint64_t size() const { return front_size() + back_size(); }
  bool empty() const { return size() == 0; }
  // Number of entries in the block map (a multiple of 16).
  uint64_t map_length() const { return map_.size(); }

  // Requires: i < size().
  T& element(uint64_t i) {
    const uint64_t in_front = front_size();
    if (i < in_front) return slot(front_side, front_end_ - 1 - i);
    return slot(back_side, back_begin_ + (i - in_front));
  }
  T& operator[](uint64_t i) { return element(i); }
  T& front() { return element(0); }
  T& back() { return element(size() - 1); }

  void push_back(const T& v) {
    ensure_slot(back_side, back_end_) = v;
    ++back_end_;
  }
  void push_front(const T& v) {
    ensure_slot(front_side, front_end_) = v;
    ++front_end_;
  }

  // Requires: !empty().
  void pop_front() {
    if (front_size() != 0) {
      retract_end(front_side);
    } else {
      advance_begin(back_side);
    }
  }
  void pop_back() {
    if (back_size() != 0) {
      retract_end(back_side);
    } else {
      advance_begin(front_side);
    }
  }
  // Remove min(n, size()) elements from either end.
  void pop_front_n(uint64_t n) {
    for (n = std::min(n, size()); n != 0; --n) pop_front();
  }
  void pop_back_n(uint64_t n) {
    for (n = std::min(n, size()); n != 0; --n) pop_back();
  }

  // Inserts v so that it stands at index i, moving the shorter side: when 2i >= size() a slot is
  // added at the back and indexes i.. move one place back, otherwise a slot is added at the front
  // and indexes ..i-1 move one place forward. Requires: i <= size().
  void insert(uint64_t i, const T& v) {
    T copy(v);
    const uint64_t n = size();
    if (2 * i >= n) {
      push_back(T{});
      for (uint64_t j = n; j > i; --j) element(j) = std::move(element(j - 1));
    } else {
      push_front(T{});
      for (uint64_t j = 0; j < i; ++j) element(j) = std::move(element(j + 1));
    }
    element(i) = std::move(copy);
  }

  // Calls f(T&) for indexes [begin, end) in order. Requires: begin <= end <= size().
  template <class F>
  void for_each_in(uint64_t begin, uint64_t end, F&& f) {
    for (uint64_t i = begin; i < end; ++i) f(element(i));
  }

  // Index of the first element for which pred holds, npos when none.
  template <class P>
  uint64_t find_if(P&& pred) {
    const uint64_t n = size();
    for (uint64_t i = 0; i < n; ++i) {
      if (pred(element(i))) return i;
    }
    return npos;
  }

  // Frees every block and the map.
  void clear() { release(); }

 private:
  enum side : uint8_t { back_side = 0, front_side = 1 };

  uint64_t front_size() const { return front_end_ - front_begin_; }
  uint64_t back_size() const { return back_end_ - back_begin_; }
  uint64_t& begin_of(side s) { return s == back_side ? back_begin_ : front_begin_; }
  uint64_t& end_of(side s) { return s == back_side ? back_end_ : front_end_; }
  static uint64_t entry_of(side s, uint64_t block) { return 2 * block + s; }

  T& slot(side s, uint64_t n) { return map_[entry_of(s, n / block_size)][n % block_size]; }

  // The slot, with its map entry and block made when missing.
  T& ensure_slot(side s, uint64_t n) {
    const uint64_t entry = entry_of(s, n / block_size);
    while (entry >= map_.size()) map_.resize(map_.size() + map_step, nullptr);
    if (map_[entry] == nullptr) map_[entry] = new T[block_size]();
    return map_[entry][n % block_size];
  }

  void retract_end(side s) {
    uint64_t& end = end_of(s);
    --end;
    reset(slot(s, end));
    if (end == begin_of(s)) {
      begin_of(s) = end = 0;
      free_blocks_after(s, 1);
    } else if (end % block_size == block_size - 1) {  // just left a block: one more is spare
      free_blocks_after(s, end / block_size + 1);
    }
  }

  // Removes the oldest slot of a side.
  void advance_begin(side s) {
    uint64_t& begin = begin_of(s);
    reset(slot(s, begin));
    ++begin;
    if (begin == end_of(s)) {
      begin = end_of(s) = 0;
      free_blocks_after(s, 1);
    } else if (begin >= block_size) {
      drop_first_block(s);
    }
  }

  // Frees block 0 of a side and moves the side's other entries down by one block.
  void drop_first_block(side s) {
    delete[] map_[entry_of(s, 0)];
    uint64_t k = 0;
    for (; entry_of(s, k + 1) < map_.size(); ++k) map_[entry_of(s, k)] = map_[entry_of(s, k + 1)];
    map_[entry_of(s, k)] = nullptr;
    begin_of(s) -= block_size;
    end_of(s) -= block_size;
  }

  // Frees the side's blocks numbered above `keep` (they are allocated without gaps).
  void free_blocks_after(side s, uint64_t keep) {
    for (uint64_t k = keep + 1; entry_of(s, k) < map_.size() && map_[entry_of(s, k)]; ++k) {
      delete[] map_[entry_of(s, k)];
      map_[entry_of(s, k)] = nullptr;
    }
  }

  static void reset(T& v) {
    if constexpr (!std::is_trivially_destructible_v<T>) v = T{};
  }

  void release() {
    for (T* block : map_) delete[] block;
    map_ = {};
    back_begin_ = back_end_ = front_begin_ = front_end_ = 0;
  }

  // The map's length grows by 16 entries at a time; the vector's own capacity growth only keeps
  // those steps from costing a copy of the whole map each.
  std::vector<T*> map_;
  uint64_t back_begin_ = 0, back_end_ = 0;
  uint64_t front_begin_ = 0, front_end_ = 0;
};

}  // namespace qn::db::nosql::nosql_db
