// UTF-8 decoding shared by the grammar matcher and the TOML recognisers.
// Pure functions; no state.
#pragma once

#include <cstdint>

namespace qn::config {

// Decodes one UTF-8 character at `p` with `remaining` bytes available. Returns its length (1 to
// 4) and stores the code point, or returns 0 for an invalid sequence: a stray continuation
// byte, a truncated or overlong sequence, a surrogate or a code point above 0x10FFFF.
// Requires: remaining > 0.
inline int decode_utf8(const char* p, uint64_t remaining, uint32_t& code_point) {
  const auto b0 = static_cast<unsigned char>(p[0]);
  if (b0 < 0x80) {
    code_point = b0;
    return 1;
  }
  int length = 0;
  uint32_t cp = 0;
  uint32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2, cp = b0 & 0x1Fu, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3, cp = b0 & 0x0Fu, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4, cp = b0 & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  if (remaining < static_cast<uint64_t>(length)) return 0;
  for (int i = 1; i < length; ++i) {
    const auto b = static_cast<unsigned char>(p[i]);
    if ((b & 0xC0u) != 0x80u) return 0;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  code_point = cp;
  return length;
}

// Length of one character for matchers that take "any character": a valid sequence counts
// as a whole, an invalid one as a single byte. Requires: remaining > 0.
inline int utf8_char_length(const char* p, uint64_t remaining) {
  uint32_t cp = 0;
  const int n = decode_utf8(p, remaining, cp);
  return n == 0 ? 1 : n;
}

// Appends the UTF-8 encoding of `code_point` (at most 0x10FFFF) to `out`.
template <class String>
void append_utf8(uint32_t code_point, String& out) {
  if (code_point < 0x80) {
    out.push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

}  // namespace qn::config
