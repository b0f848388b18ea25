// The three-byte type descriptor (width, sign, category) of the fourteen scalar types.
// Plain values; no state.
#pragma once

#include <cstdint>
#include <string_view>

namespace qn {

// Category byte of a descriptor. `untyped` marks a reply item that carries no values.
enum category : uint8_t {
  integer_category = 0,
  floating_category = 1,
  string_category = 2,
  date_category = 3,
  time_category = 4,
  datetime_category = 5,
  untyped_category = 6,
};

// width: 0..3 for 8..64 bits (integers and floating point), 4 for string, 5 for date and time types;
// sign: 0 signed integer, 1 unsigned integer, 2 any other type.
struct type_descriptor {
  uint8_t width;
  uint8_t sign;
  uint8_t category;
  friend bool operator==(const type_descriptor&, const type_descriptor&) = default;
};

inline constexpr type_descriptor i08_type{0, 0, 0};
inline constexpr type_descriptor i16_type{1, 0, 0};
inline constexpr type_descriptor i32_type{2, 0, 0};
inline constexpr type_descriptor i64_type{3, 0, 0};
inline constexpr type_descriptor u08_type{0, 1, 0};
inline constexpr type_descriptor u16_type{1, 1, 0};
inline constexpr type_descriptor u32_type{2, 1, 0};
inline constexpr type_descriptor u64_type{3, 1, 0};
inline constexpr type_descriptor float_type{2, 2, 1};
inline constexpr type_descriptor double_type{3, 2, 1};
inline constexpr type_descriptor string_type{4, 2, 2};
inline constexpr type_descriptor date_type{5, 2, 3};
inline constexpr type_descriptor time_type{5, 2, 4};
inline constexpr type_descriptor datetime_type{5, 2, 5};
inline constexpr type_descriptor untyped{5, 2, 6};

// The type word of a descriptor ("i08" .. "u64", "float", "double", "string", "date", "time",
// "datetime"); integers by sign byte and width, floating point by width (2 float, else double);
// the empty text for any other category.
std::string_view type_name(type_descriptor d);

// Recognises a type word from a few of its bytes: i/u + third byte 8,6,2,4; f float; t time;
// d + o double, else length 4 date and length 8 datetime; s string. Returns false when the word
// names no type (fewer than 3 bytes, or no rule matches); `out` is then unchanged.
[[nodiscard]] bool recognise_type_word(std::string_view word, type_descriptor& out);

}  // namespace qn
