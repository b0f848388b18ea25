// Helpers of the container tests: every scalar type, sampled values, kinds built and filled
// through the factory, answers rendered as short strings, and a container's image record as bytes.
// Test-only; each helper closes the memory stream it opens before returning.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "containers/adt.h"
#include "containers/factory.h"
#include "values/image_io.h"
#include "values/little_endian.h"
#include "values/scalar.h"

namespace qn::db::nosql::nosql_db::testing {

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

// The containers' key order as the strict weak order of the standard containers used as models.
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

// Equal under the key order (so NaN equals NaN and -0.0 equals 0.0), element by element.
template <class T>
bool same_keys(const std::vector<T>& a, const std::vector<T>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const T& x, const T& y) { return compare_keys(x, y) == 0; });
}

// Puts `n` sampled elements into a container of any kind as clients would: a keyed insert, else
// an append (some are refused, as repeats in a set). Hash keys are the lowest of their type,
// which every capacity of 64 or more stores.
template <class K, class V>
void fill(adt<K, V>& c, std::mt19937& rng, int n) {
  for (int i = 0; i < n; ++i) {
    K k = sample<K>(rng);
    if constexpr (std::is_integral_v<K>) {
      if (c.kind_name() == hashmap_kind || c.kind_name() == hashtable_kind) {
        k = static_cast<K>(std::numeric_limits<K>::min() + rng() % 64);
      }
    }
    if (!c.insert(k, sample<V>(rng))) static_cast<void>(c.insert_last(k));
  }
}
inline void fill(ab_adt& c, std::mt19937& rng, int n) {
  static_cast<void>(with_scalar_type(c.key_type(), [&]<class K>() {
    return with_scalar_type(c.value_type(), [&]<class V>() {
      fill(static_cast<adt<K, V>&>(c), rng, n);
      return true;
    });
  }));
}

// ---- kinds over (key, u08), and their answers as text ----

using i32_adt = adt<int32_t, uint8_t>;

// A fresh container of the kind over (key, u08), as creation builds it.
inline std::unique_ptr<ab_adt> make_kind(std::string_view kind, type_descriptor key = i32_type) {
  return make_container(kind, key, u08_type, 0);
}

template <class K>
adt<K, uint8_t>& typed(ab_adt& c) {
  return static_cast<adt<K, uint8_t>&>(c);
}

// "a b c" (empty for no elements).
template <class T>
std::string join(const T& list) {
  std::string out;
  for (int32_t v : list) out += (out.empty() ? "" : " ") + std::to_string(v);
  return out;
}

// The container's `all`, joined; "refused" when `all` answers false.
template <class K, class V>
std::string contents(adt<K, V>& c) {
  out_list<K> list;
  return c.all(list) ? join(list) : "refused";
}

// ---- image records ----

inline std::string u64le(uint64_t v) {
  std::string bytes;
  append_le(bytes, v);
  return bytes;
}
inline std::string text(std::string_view s) { return u64le(s.size()) + std::string(s); }
// The start of every record: the kind name and the two descriptors.
inline std::string head(std::string_view kind, type_descriptor key,
                        type_descriptor value = u08_type) {
  const char descriptors[] = {static_cast<char>(key.width),    static_cast<char>(key.sign),
                              static_cast<char>(key.category), static_cast<char>(value.width),
                              static_cast<char>(value.sign),   static_cast<char>(value.category)};
  return text(kind) + std::string(descriptors, 6);
}

using file_ptr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Everything `save` writes for the container.
inline std::string saved(ab_adt& c) {
  char* bytes = nullptr;
  size_t size = 0;
  file_ptr f(open_memstream(&bytes, &size), &std::fclose);
  image_writer out(f.get());
  EXPECT_TRUE(c.save(out));
  f.reset();  // closing sets `bytes` and `size`
  const std::unique_ptr<char, void (*)(void*)> owned(bytes, &std::free);
  return std::string(bytes, size);
}
// What load_container builds from a whole record; null when it refuses or leaves bytes unread.
inline std::unique_ptr<ab_adt> loaded(std::string record) {
  record += '\0';  // a memory stream needs a byte; the reader stops at the record's end
  file_ptr f(fmemopen(record.data(), record.size(), "r"), &std::fclose);
  image_reader in(f.get(), record.size() - 1);
  std::unique_ptr<ab_adt> c = load_container(in);
  if (in.remaining() != 0) c.reset();
  return c;
}

}  // namespace qn::db::nosql::nosql_db::testing
