// Byte-string order shared by every ordered table of text keys (string keys, user table, tiers).
// Pure functions; no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qn {

// Compares byte by byte with each byte taken as a signed 8-bit number, so 0x80..0xFF sort before
// 0x00..0x7F; when one string is a proper prefix of the other, the shorter sorts first.
// Returns <0, 0 or >0.
inline int compare_bytes(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<int8_t>(a[i]);
    const auto y = static_cast<int8_t>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Strict weak order for std::map and friends; transparent so string_view lookups need no copy.
struct byte_string_less {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return compare_bytes(a, b) < 0; }
};

}  // namespace qn
