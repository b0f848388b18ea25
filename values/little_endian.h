// Little-endian loads and stores of fixed-width integers over byte buffers: the one encoding of
// the wire format, the login digest and the image file. Pure functions; no state.
#pragma once

#include <bit>
#include <concepts>
#include <cstring>
#include <string>

namespace qn {

static_assert(std::endian::native == std::endian::little,
              "integers are copied to and from little-endian bytes as they are in memory");

// Reads a T stored little-endian at `bytes` (no alignment needed).
template <std::integral T>
T load_le(const void* bytes) {
  T v;
  std::memcpy(&v, bytes, sizeof v);
  return v;
}

// Writes `v` little-endian at `bytes` (no alignment needed).
template <std::integral T>
void store_le(void* bytes, T v) {
  std::memcpy(bytes, &v, sizeof v);
}

// Appends `v` little-endian to `out`.
template <std::integral T>
void append_le(std::string& out, T v) {
  char bytes[sizeof v];
  store_le(bytes, v);
  out.append(bytes, sizeof v);
}

}  // namespace qn
