// xstring: the owned, counted byte string of the string scalar type.
// Owns its buffer; not thread-safe (guarded by whoever holds the string).
//
// The buffer always keeps a zero byte after the last byte once anything is stored, so capacity is
// at least length + 1. Growing to length n when n + 1 exceeds the capacity allocates capacity
// n + 1 from empty, otherwise 2 * (n + 1); shrinking only moves the terminating zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "values/byte_string_order.h"

namespace qn::adt::string {

class xstring {
 public:
  xstring() = default;
  explicit xstring(std::string_view bytes) { assign(bytes); }
  xstring(const xstring& other) { assign(other.view()); }
  xstring(xstring&& other) noexcept { steal(other); }
  xstring& operator=(const xstring& other) {
    if (this != &other) assign(other.view());
    return *this;
  }
  xstring& operator=(xstring&& other) noexcept {
    if (this != &other) {
      release();
      steal(other);
    }
    return *this;
  }
  ~xstring() { release(); }

  // Replaces the contents with a copy of the bytes.
  void assign(std::string_view bytes);
  // Sets the length to n; new bytes take the fill byte. Never shrinks the buffer.
  void resize(uint64_t n, char fill = 0);
  void append(std::string_view bytes);
  void clear() { resize(0); }

  const char* data() const { return data_ ? data_ : ""; }
  char* mutable_data() { return data_; }
  uint64_t size() const { return length_; }
  uint64_t capacity() const { return capacity_; }
  bool empty() const { return length_ == 0; }
  std::string_view view() const { return {data(), static_cast<size_t>(length_)}; }

  friend bool operator==(const xstring& a, const xstring& b) { return a.view() == b.view(); }

 private:
  void grow_to(uint64_t n);
  void release();
  void steal(xstring& other) {
    data_ = other.data_;
    length_ = other.length_;
    capacity_ = other.capacity_;
    other.data_ = nullptr;
    other.length_ = other.capacity_ = 0;
  }

  char* data_ = nullptr;
  uint64_t length_ = 0;
  uint64_t capacity_ = 0;
};

// Byte order of string keys: bytes as signed 8-bit numbers, a proper prefix first.
inline int compare(const xstring& a, const xstring& b) { return compare_bytes(a.view(), b.view()); }

}  // namespace qn::adt::string

namespace qn {
using adt::string::xstring;
}
