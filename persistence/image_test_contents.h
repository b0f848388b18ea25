// Typed helpers of the image tests: sample values of every scalar type, filling a container the
// way clients do, and rendering everything a client can read back. Test-only; no state.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "containers/adt.h"
#include "engine/registry.h"
#include "values/scalar.h"

namespace qn::db::nosql::image_testing {

using nosql_db::ab_adt;
using nosql_db::adt;

inline bool is_pair_kind(std::string_view kind) {
  return kind == "hashmap" || kind == "map" || kind == "multimap";
}

inline bool is_sequence_kind(std::string_view kind) {
  return kind == "vector" || kind == "deque" || kind == "list" || kind == "stack" ||
         kind == "queue";
}

// Calls f.template operator()<K, V>() with the types of a container.
template <class F>
bool with_types(const ab_adt& c, F&& f) {
  return with_scalar_type(c.key_type(), [&]<class K>() {
    return with_scalar_type(c.value_type(),
                            [&]<class V>() { return f.template operator()<K, V>(); });
  });
}

// Fills a container the way clients would: insert for keyed kinds, append for sequences.
template <class K, class V>
void fill(adt<K, V>& c, const std::vector<K>& keys, const std::vector<V>& values) {
  for (size_t i = 0; i < keys.size(); ++i) {
    if (is_sequence_kind(c.kind_name())) {
      (void)c.insert_last(keys[i]);
    } else {
      (void)c.insert(keys[i], values.empty() ? V{} : values[i % values.size()]);
    }
  }
}

// A scalar as the hex of its bytes, so NaN payloads and -0.0 count.
template <class T>
std::string hex_of(const T& v) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string_view bytes;
  if constexpr (std::is_same_v<T, xstring>) {
    bytes = v.view();
  } else {
    bytes = std::string_view(reinterpret_cast<const char*>(&v), sizeof(T));
  }
  std::string out = std::to_string(bytes.size()) + ":";
  for (const char b : bytes) {
    out += digits[static_cast<uint8_t>(b) >> 4];
    out += digits[static_cast<uint8_t>(b) & 15];
  }
  return out + " ";
}

// Everything a client can read back from a container: kind, types, name, count, every element
// in the kind's order and, for the pair kinds, the values of every key.
inline std::string render(ab_adt& container) {
  std::string out =
      std::string(container.kind_name()) + " " + std::string(type_name(container.key_type())) +
      "/" + std::string(type_name(container.value_type())) +
      " name=" + std::string(container.name()) + " count=" + std::to_string(container.count());
  (void)with_types(container, [&]<class K, class V>() {
    auto& c = static_cast<adt<K, V>&>(container);
    std::vector<K> keys;
    if (!c.all(keys)) return true;
    out += " all=";
    for (const K& k : keys) out += hex_of(k);
    if (!is_pair_kind(c.kind_name())) return true;
    for (size_t i = 0; i < keys.size(); ++i) {
      if (i > 0 && compare_keys(keys[i], keys[i - 1]) == 0) continue;
      std::vector<V> values;
      if (!c.values_of(keys[i], values)) return true;
      out += " [" + hex_of(keys[i]) + "]=";
      for (const V& v : values) out += hex_of(v);
    }
    return true;
  });
  return out;
}

// Every container as render() shows it, and whether the name index finds it: enough to tell two
// databases apart by anything a client can read.
inline std::string contents_of(const container_registry& registry) {
  std::string out;
  for (uint64_t slot = 0; slot < container_registry::capacity; ++slot) {
    ab_adt* c = registry.container_at(slot);
    if (c == nullptr) continue;
    uint64_t found = slot;
    const bool indexed =
        c->name().empty() || (registry.find_by_name(c->name(), found) && found == slot);
    out += std::to_string(slot) + (indexed ? " " : " unindexed ") + render(*c) + "\n";
  }
  return out;
}

// ---- sample contents ----

template <class T>
std::vector<T> samples() {
  if constexpr (std::is_integral_v<T>) {
    using limits = std::numeric_limits<T>;
    return {limits::min(), T(limits::min() + 1), T(0), T(1), T(42), limits::max(), T(0)};
  } else if constexpr (std::is_floating_point_v<T>) {
    using limits = std::numeric_limits<T>;
    return {T(-0.0),
            T(0.0),
            limits::quiet_NaN(),
            -limits::infinity(),
            limits::infinity(),
            T(1.5),
            limits::denorm_min(),
            limits::lowest(),
            T(1.5)};
  } else if constexpr (std::is_same_v<T, date>) {
    return {{2020, 10, 16}, {1, 1, 1}, {9999, 12, 31}, {2024, 2, 29}, {2020, 10, 16}};
  } else if constexpr (std::is_same_v<T, time>) {
    return {{0, 0, 0, 0}, {23, 59, 59, 999999999}, {12, 30, 0, 1}, {0, 0, 0, 0}};
  } else if constexpr (std::is_same_v<T, date_time>) {
    return {{{2020, 1, 2}, {3, 4, 5, 6}}, {}, {{9999, 12, 31}, {23, 59, 59, 999999999}}, {}};
  } else {
    return {xstring(""),
            xstring("a"),
            xstring(std::string_view("a\0b", 3)),
            xstring("\xff\x80 high bytes"),
            xstring(std::string(300, 'z')),
            xstring("a"),
            xstring("ab")};
  }
}

// Keys a hash container of this capacity can store: the lowest ones of the key type.
template <class K>
std::vector<K> hash_samples(uint64_t capacity) {
  using limits = std::numeric_limits<K>;
  const uint64_t span = sizeof(K) == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * sizeof(K))) - 1;
  const uint64_t last = std::min(capacity - 1, span);
  const auto low = static_cast<uint64_t>(limits::min());
  return {limits::min(), K(low + 1), K(low + 7), K(low + last)};
}

}  // namespace qn::db::nosql::image_testing
