// Helpers of the ordered-kind tests: sample values of every scalar type, a std-container order
// over compare_keys, and printing.
// Test-only; each helper owns what it opens and closes it before returning.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "containers/adt.h"
#include "containers/factory.h"
#include "containers/image_test_support.h"
#include "values/scalar.h"

namespace qn::db::nosql::nosql_db::ordered_testing {

constexpr std::array<type_descriptor, 14> every_type = {
    i08_type, u08_type,   i16_type,    u16_type,  i32_type,  u32_type,      i64_type,
    u64_type, float_type, double_type, date_type, time_type, datetime_type, string_type};

// Calls `f.template operator()<K>()` for every scalar type K, with the type's name traced.
template <class F>
void for_every_type(F&& f) {
  for (type_descriptor d : every_type) {
    SCOPED_TRACE(std::string(type_name(d)));
    static_cast<void>(with_scalar_type(d, [&]<class K>() {
      f.template operator()<K>();
      return true;
    }));
  }
}

// Strict weak order of the standard containers used as models: the containers' own key order.
struct key_order {
  template <class T>
  bool operator()(const T& a, const T& b) const {
    return compare_keys(a, b) < 0;
  }
};

// A value of each scalar type from a small range, so repeats and near misses are frequent;
// negative, large unsigned, NaN, -0.0 and bytes 0x80..0xFF all occur.
template <class T>
T sample(std::mt19937& rng) {
  const int64_t small = static_cast<int64_t>(rng() % 300) - 150;
  if constexpr (std::is_integral_v<T>) {
    return static_cast<T>(small);
  } else if constexpr (std::is_floating_point_v<T>) {
    if (rng() % 40 == 0) return std::numeric_limits<T>::quiet_NaN();
    if (rng() % 40 == 0) return T(-0.0);
    return static_cast<T>(small) / 4;
  } else if constexpr (std::is_same_v<T, date>) {
    return date{static_cast<uint16_t>(2024 + rng() % 2), static_cast<uint8_t>(1 + rng() % 12),
                static_cast<uint8_t>(1 + rng() % 28)};
  } else if constexpr (std::is_same_v<T, time>) {
    return time{static_cast<uint8_t>(rng() % 24), static_cast<uint8_t>(rng() % 3),
                static_cast<uint8_t>(rng() % 2), static_cast<uint32_t>(rng() % 3) * 999999999u};
  } else if constexpr (std::is_same_v<T, date_time>) {
    return date_time{sample<date>(rng), sample<time>(rng)};
  } else {
    static constexpr char bytes[] = {'a', 'B', 'b', '\0', '\xC3', '\x7F', '\x80'};
    std::string s(rng() % 4, ' ');
    for (char& c : s) c = bytes[rng() % sizeof(bytes)];
    return xstring(s);
  }
}

// Printable form of a value for failure messages and rendered states.
template <class T>
std::string show(const T& v) {
  if constexpr (std::is_same_v<T, xstring>) {
    return "\"" + std::string(v.view()) + "\"";
  } else if constexpr (std::is_same_v<T, date>) {
    return std::to_string(v.year) + "-" + std::to_string(v.month) + "-" + std::to_string(v.day);
  } else if constexpr (std::is_same_v<T, time>) {
    return std::to_string(v.hour) + ":" + std::to_string(v.minute) + ":" +
           std::to_string(v.second) + "." + std::to_string(v.nanosecond);
  } else if constexpr (std::is_same_v<T, date_time>) {
    return show(v.date_part) + "T" + show(v.time_part);
  } else if constexpr (std::is_floating_point_v<T>) {
    return std::isnan(v) ? "nan" : std::to_string(v);
  } else {
    return std::to_string(v);
  }
}

template <class T>
std::string show(const std::vector<T>& values) {
  std::string out;
  for (const T& v : values) out += (out.empty() ? "" : " ") + show(v);
  return out;
}

// Equal under the key order (so NaN equals NaN and -0.0 equals 0.0), element by element.
template <class T>
bool same_keys(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (compare_keys(a[i], b[i]) != 0) return false;
  }
  return true;
}

// The kind over K and V built by the factory, filled with sampled entries, saved, loaded into a
// fresh one and saved again to the same bytes.
template <class K, class V>
void expect_round_trip(std::string_view kind, uint32_t seed) {
  auto made = make_container(kind, descriptor_of<K>(), descriptor_of<V>(), 0);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->kind_name(), kind);
  auto& c = static_cast<adt<K, V>&>(*made);
  std::mt19937 rng(seed);
  for (int i = 0; i < 10; ++i) static_cast<void>(c.insert(sample<K>(rng), sample<V>(rng)));
  const std::string payload = image_testing::saved_payload(c);
  auto copy = make_container(kind, descriptor_of<K>(), descriptor_of<V>(), 0);
  ASSERT_TRUE(image_testing::load_payload(*copy, payload));
  EXPECT_EQ(copy->count(), c.count());
  EXPECT_EQ(image_testing::saved_payload(*copy), payload);
}

}  // namespace qn::db::nosql::nosql_db::ordered_testing
