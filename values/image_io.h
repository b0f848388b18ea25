// The database image file's reader and writer: scalars in their little-endian image encoding,
// every read checked. Each object is used by one thread at a time; it does not own the FILE.
//
// Every read is checked: the reader knows how many bytes the file can still hold, so a count or
// length can be checked against what is left before anything is allocated for it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <type_traits>

#include "values/little_endian.h"
#include "values/scalar.h"

namespace qn {

// Fixed-width scalars other than integers (float, double, date, time, datetime) are copied byte
// for byte too: their in-memory layout is their little-endian encoding (little_endian.h asserts
// the byte order).

// Encoded size of a fixed-width scalar; strings take 8 bytes of length plus their bytes.
template <class T>
constexpr uint64_t encoded_size() {
  if constexpr (std::is_same_v<T, xstring>) {
    return 8;  // the smallest a string can take: its length field
  } else {
    return sizeof(T);
  }
}

class image_writer {
 public:
  explicit image_writer(std::FILE* file) : file_(file) {}

  void put_bytes(const void* bytes, uint64_t n) {
    if (ok_ && n != 0 && std::fwrite(bytes, 1, n, file_) != n) ok_ = false;
  }
  void put_u64(uint64_t v) {
    char bytes[8];
    store_le(bytes, v);
    put_bytes(bytes, 8);
  }
  void put_text(std::string_view s) {
    put_u64(s.size());
    put_bytes(s.data(), s.size());
  }
  // One scalar in its image encoding (strings: u64 length, then the bytes).
  template <class T>
  void put_scalar(const T& v) {
    if constexpr (std::is_same_v<T, xstring>) {
      put_text(v.view());
    } else {
      put_bytes(&v, sizeof(T));
    }
  }
  // True while every write so far succeeded.
  bool ok() const { return ok_; }

 private:
  std::FILE* file_;
  bool ok_ = true;
};

class image_reader {
 public:
  // `remaining` is the number of bytes between the current position and the end of the file.
  image_reader(std::FILE* file, uint64_t remaining) : file_(file), remaining_(remaining) {}

  // Reads exactly n bytes or fails (and stays failed); never reads past the known end.
  [[nodiscard]] bool get_bytes(void* out, uint64_t n) {
    if (!ok_ || n > remaining_ || (n != 0 && std::fread(out, 1, n, file_) != n)) {
      ok_ = false;
      return false;
    }
    remaining_ -= n;
    return true;
  }
  [[nodiscard]] bool get_u64(uint64_t& v) {
    char bytes[8];
    if (!get_bytes(bytes, 8)) return false;
    v = load_le<uint64_t>(bytes);
    return true;
  }
  // A u64 length followed by that many bytes, refused when the file cannot hold them.
  [[nodiscard]] bool get_text(xstring& out) {
    uint64_t n = 0;
    if (!get_u64(n) || n > remaining_) return fail();
    out.resize(n);
    return get_bytes(out.mutable_data(), n);
  }
  template <class T>
  [[nodiscard]] bool get_scalar(T& v) {
    if constexpr (std::is_same_v<T, xstring>) {
      return get_text(v);
    } else {
      return get_bytes(&v, sizeof(T));
    }
  }
  // True when `count` items of at least `min_size` bytes each can still be in the file. Callers
  // check this before sizing anything by a count read from the file.
  [[nodiscard]] bool can_hold(uint64_t count, uint64_t min_size) const {
    return ok_ && (min_size == 0 || count <= remaining_ / min_size);
  }
  uint64_t remaining() const { return remaining_; }
  bool ok() const { return ok_; }
  // Marks the reader failed; returns false for use in return statements.
  bool fail() {
    ok_ = false;
    return false;
  }

 private:
  std::FILE* file_;
  uint64_t remaining_;
  bool ok_ = true;
};

}  // namespace qn
