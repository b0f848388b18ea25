// Text forms: turning a command token into a value of each scalar type.
// Pure functions; they read only the token's bytes and never write a message.
#pragma once

#include <cstdint>
#include <string_view>

#include "values/date_time.h"
#include "values/xstring.h"

namespace qn {

// Each overload converts the whole token or fails. On failure it returns false and leaves `out`
// unchanged. Integers: leading whitespace skipped; empty or blank converts to 0; optional sign
// (+ or - for signed types, + only for unsigned); base from the text (0x/0X 16, 0b/0B 2, other
// leading 0 base 8, else 10); values past the conversion width are held at its limit, then the
// result is narrowed to the type's width by keeping its low bits. i08..i32 convert through signed
// 32 bits, u08..u32 through unsigned 32 bits, i64 and u64 at 64 bits.
[[nodiscard]] bool parse_value(std::string_view token, int8_t& out);
[[nodiscard]] bool parse_value(std::string_view token, int16_t& out);
[[nodiscard]] bool parse_value(std::string_view token, int32_t& out);
[[nodiscard]] bool parse_value(std::string_view token, int64_t& out);
[[nodiscard]] bool parse_value(std::string_view token, uint8_t& out);
[[nodiscard]] bool parse_value(std::string_view token, uint16_t& out);
[[nodiscard]] bool parse_value(std::string_view token, uint32_t& out);
[[nodiscard]] bool parse_value(std::string_view token, uint64_t& out);
// strtof / strtod over the whole token (exponents, inf, nan and hex floats included).
[[nodiscard]] bool parse_value(std::string_view token, float& out);
[[nodiscard]] bool parse_value(std::string_view token, double& out);
// YYYY-MM-DD in the first 10 bytes (Gregorian validity); later bytes are not examined.
[[nodiscard]] bool parse_value(std::string_view token, date& out);
// HH:MM:SS[.fraction]; bytes after the seconds or the fraction are not examined.
[[nodiscard]] bool parse_value(std::string_view token, time& out);
// A date in bytes 1..10, any one separator byte, then a time from byte 12 on.
[[nodiscard]] bool parse_value(std::string_view token, date_time& out);
// The token's bytes as they are.
[[nodiscard]] bool parse_value(std::string_view token, xstring& out);

// Reads a whole token as an unsigned number with the integer base and digit rules but without a
// range limit: digits accumulate modulo 2^64. Returns false unless the token is entirely a number.
[[nodiscard]] bool parse_unbounded_u64(std::string_view token, uint64_t& out);

}  // namespace qn
