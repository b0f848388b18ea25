// The fourteen scalar types as C++ types, the one dispatch from descriptor to type, and key order.
// Pure functions; no state.
#pragma once

#include <cmath>
#include <cstdint>
#include <type_traits>

#include "values/date_time.h"
#include "values/type_descriptor.h"
#include "values/xstring.h"

namespace qn {

template <class T>
inline constexpr bool is_scalar_type_v =
    std::is_same_v<T, int8_t> || std::is_same_v<T, int16_t> || std::is_same_v<T, int32_t> ||
    std::is_same_v<T, int64_t> || std::is_same_v<T, uint8_t> || std::is_same_v<T, uint16_t> ||
    std::is_same_v<T, uint32_t> || std::is_same_v<T, uint64_t> || std::is_same_v<T, float> ||
    std::is_same_v<T, double> || std::is_same_v<T, date> || std::is_same_v<T, time> ||
    std::is_same_v<T, date_time> || std::is_same_v<T, xstring>;

// The descriptor of a scalar C++ type.
template <class T>
constexpr type_descriptor descriptor_of() {
  static_assert(is_scalar_type_v<T>);
  if constexpr (std::is_integral_v<T>) {
    constexpr uint8_t width = sizeof(T) == 1 ? 0 : sizeof(T) == 2 ? 1 : sizeof(T) == 4 ? 2 : 3;
    return {width, std::is_signed_v<T> ? uint8_t{0} : uint8_t{1}, integer_category};
  } else if constexpr (std::is_same_v<T, float>) {
    return float_type;
  } else if constexpr (std::is_same_v<T, double>) {
    return double_type;
  } else if constexpr (std::is_same_v<T, date>) {
    return date_type;
  } else if constexpr (std::is_same_v<T, time>) {
    return time_type;
  } else if constexpr (std::is_same_v<T, date_time>) {
    return datetime_type;
  } else {
    return string_type;
  }
}

// Calls f.template operator()<T>() with the scalar type a descriptor names and returns its result.
// Decoding order: category first; floating point by width (2 float, else double); integers by the
// sign byte (nonzero: unsigned), then the width 0..3. Returns false for a descriptor that names no
// type (unknown category, integer width above 3).
template <class F>
bool with_scalar_type(type_descriptor d, F&& f) {
  switch (d.category) {
    case integer_category:
      if (d.sign != 0) {
        switch (d.width) {
          case 0: return f.template operator()<uint8_t>();
          case 1: return f.template operator()<uint16_t>();
          case 2: return f.template operator()<uint32_t>();
          case 3: return f.template operator()<uint64_t>();
        }
      } else {
        switch (d.width) {
          case 0: return f.template operator()<int8_t>();
          case 1: return f.template operator()<int16_t>();
          case 2: return f.template operator()<int32_t>();
          case 3: return f.template operator()<int64_t>();
        }
      }
      return false;
    case floating_category:
      return d.width == 2 ? f.template operator()<float>() : f.template operator()<double>();
    case string_category: return f.template operator()<xstring>();
    case date_category: return f.template operator()<date>();
    case time_category: return f.template operator()<time>();
    case datetime_category: return f.template operator()<date_time>();
  }
  return false;
}

// Key order of every ordered container and the heap. Returns <0, 0 or >0.
// Integers numerically; dates and times field by field; strings byte by byte as signed bytes.
// Floating point: by < and >, with one addition so that the order stays total: every NaN sorts
// after every number and all NaNs are equal to each other. A NaN key therefore has one consistent
// place in a tree instead of breaking the search.
template <class T>
int compare_keys(const T& a, const T& b) {
  if constexpr (std::is_floating_point_v<T>) {
    if (a < b) return -1;
    if (a > b) return 1;
    const bool na = std::isnan(a), nb = std::isnan(b);
    return na == nb ? 0 : (na ? 1 : -1);
  } else if constexpr (std::is_arithmetic_v<T>) {
    return a < b ? -1 : (a > b ? 1 : 0);
  } else {
    return compare(a, b);
  }
}

template <class T>
bool key_less(const T& a, const T& b) {
  return compare_keys(a, b) < 0;
}

}  // namespace qn
