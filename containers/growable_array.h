// growable_array: a contiguous buffer of T that grows to twice the needed size and never shrinks.
// Owns its buffer; not thread-safe (guarded by whoever holds the array).
//
// Growth: resizing to n elements only changes the size while n <= capacity; past the capacity a
// new buffer of 2 * n elements replaces the old one, so the 1st, 3rd and 7th append leave
// capacities 2, 6 and 14. Removing elements lowers the size. Slots a resize brings into the size
// read as T{}: plain types (trivially copyable) get the T{} when the size reaches them, so the
// spare half of a new buffer is never written (zero-filling it cost a page fault per page for
// nothing); strings are value-initialised with the buffer and reset to T{} when removed, so a
// removed string gives its bytes back at once.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace qn::db::nosql::nosql_db {

template <class T>
class growable_array {
 public:
  static constexpr uint64_t npos = ~uint64_t{0};
  using value_type = T;

  growable_array() = default;
  growable_array(const growable_array&) = delete;
  growable_array& operator=(const growable_array&) = delete;
  ~growable_array() { free_buffer(data_); }

  uint64_t size() const { return size_; }
  uint64_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  // Requires: i < size().
  T& operator[](uint64_t i) { return data_[i]; }
  const T& operator[](uint64_t i) const { return data_[i]; }
  T& element(uint64_t i) { return data_[i]; }
  T& front() { return data_[0]; }
  T& back() { return data_[size_ - 1]; }

  // Sets the size to n with the growth rule above. New elements past the old size are T{}.
  void resize(uint64_t n) {
    if (n > capacity_) reallocate(2 * n);
    if constexpr (is_plain) {
      if (n > size_) std::fill(data_ + size_, data_ + n, T{});
    } else if (n < size_) {
      for (uint64_t i = n; i < size_; ++i) data_[i] = T{};  // moved in: frees the old bytes
    }
    size_ = n;
  }

  // Makes room for exactly n elements without changing the size; never shrinks. For callers that
  // know the final size up front (loading a saved array).
  void reserve_exact(uint64_t n) {
    if (n > capacity_) reallocate(n);
  }

  void push_back(const T& v) {
    if (size_ == capacity_) {
      T copy(v);  // v may live in this buffer
      resize(size_ + 1);
      data_[size_ - 1] = std::move(copy);
    } else {
      data_[size_++] = v;
    }
  }
  void push_front(const T& v) { insert(0, v); }
  // Requires: !empty().
  void pop_back() {
    if constexpr (is_plain) {
      --size_;
    } else {
      resize(size_ - 1);
    }
  }
  void pop_front() { erase(0, 1); }
  // Remove min(n, size()) elements from either end.
  void pop_front_n(uint64_t n) { erase(0, std::min(n, size_)); }
  void pop_back_n(uint64_t n) { resize(size_ - std::min(n, size_)); }

  // Inserts v so that it stands at index i, moving the tail one place up. Requires: i <= size().
  void insert(uint64_t i, const T& v) {
    T copy(v);
    resize(size_ + 1);
    std::move_backward(data_ + i, data_ + size_ - 1, data_ + size_);
    data_[i] = std::move(copy);
  }

  // Removes indexes [begin, end), moving the tail down. Requires: begin <= end <= size().
  void erase(uint64_t begin, uint64_t end) {
    std::move(data_ + end, data_ + size_, data_ + begin);
    resize(size_ - (end - begin));
  }

  // Calls f(T&) for indexes [begin, end) in order. Requires: begin <= end <= size().
  template <class F>
  void for_each_in(uint64_t begin, uint64_t end, F&& f) {
    for (uint64_t i = begin; i < end; ++i) f(data_[i]);
  }

  // Index of the first element for which pred holds, npos when none.
  template <class P>
  uint64_t find_if(P&& pred) const {
    for (uint64_t i = 0; i < size_; ++i) {
      if (pred(data_[i])) return i;
    }
    return npos;
  }

  // Size 0; the capacity stays.
  void clear() { resize(0); }

  // Size 0 and the buffer freed.
  void release() {
    free_buffer(data_);
    data_ = nullptr;
    size_ = capacity_ = 0;
  }

 private:
  static constexpr bool is_plain =
      std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>;

  // Plain types live in raw storage (implicit-lifetime objects); others in a value-initialised
  // array.
  void reallocate(uint64_t new_capacity) {
    T* fresh;
    if constexpr (is_plain) {
      if (new_capacity > ~uint64_t{0} / sizeof(T)) throw std::bad_array_new_length();
      fresh = static_cast<T*>(::operator new(new_capacity * sizeof(T)));
      if (size_ != 0) std::memcpy(fresh, data_, size_ * sizeof(T));
    } else {
      fresh = new T[new_capacity]();
      std::move(data_, data_ + size_, fresh);
    }
    free_buffer(data_);
    data_ = fresh;
    capacity_ = new_capacity;
  }

  static void free_buffer(T* buffer) {
    if constexpr (is_plain) {
      ::operator delete(buffer);
    } else {
      delete[] buffer;
    }
  }

  T* data_ = nullptr;
  uint64_t size_ = 0;
  uint64_t capacity_ = 0;
};

}  // namespace qn::db::nosql::nosql_db
