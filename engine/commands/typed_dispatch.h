// The typed machinery shared by the command families: the kind test, the dispatch from a
// container's descriptors to its own adt<K, V>, and the small helpers of argument parsing.
// Pure functions over containers the caller holds under the registry lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "containers/adt.h"
#include "values/scalar.h"
#include "values/text_forms.h"

namespace qn::db::nosql {

using nosql_db::adt;
using nosql_db::node_handle;

// Whether a kind word is one of the thirteen kinds, by its first byte and length alone: d, l, q,
// t, v pass; h with length 4, 7 or 9 (heap, hashmap, hashtable); m with length 3 or last byte p
// or t (map, multimap, multiset); s (set, stack). The shells "hashmap_not_allowed" and
// "hashtable_not_allowed" fail, so every typed command on them fails.
inline bool is_known_kind(std::string_view kind) {
  if (kind.empty()) return false;
  switch (kind[0]) {
    case 'd':
    case 'l':
    case 'q':
    case 't':
    case 'v':
    case 's':
      return true;
    case 'h':
      return kind.size() == 4 || kind.size() == 7 || kind.size() == 9;
    case 'm':
      return kind.size() == 3 || kind.back() == 'p' || kind.back() == 't';
  }
  return false;
}

// Calls f(typed) with the container as its own adt<K, V>, K chosen by the key descriptor and V by
// the value descriptor (category first, as with_scalar_type decodes). False when a descriptor
// names no type. Requires: the container's class is adt<K, V> for its stored descriptors, which
// every kind guarantees by deriving its descriptors from K and V.
template <class F>
bool with_typed(ab_adt& c, F&& f) {
  return with_scalar_type(c.key_type(), [&]<class K>() {
    return with_scalar_type(c.value_type(),
                            [&]<class V>() { return f(static_cast<adt<K, V>&>(c)); });
  });
}

// As with_typed, for a handler that already knows K: only the value descriptor is decoded. The
// value type fixes nothing but the class, which a call through another adt<K, V> would get wrong.
template <class K, class F>
bool with_value_type(ab_adt& c, F&& f) {
  return with_scalar_type(c.value_type(), [&]<class V>() { return f(static_cast<adt<K, V>&>(c)); });
}

// Parses a whole token as T (K, V or a u64 position, count or handle); an empty token gives 0 or
// the empty string. False leaves `out` unchanged.
template <class T>
[[nodiscard]] bool parse(std::string_view token, T& out) {
  return parse_value(token, out);
}

// A value of T made of zero bytes (the empty string for strings). Unlike their defaults, a date
// and a time are all zero here too.
template <class T>
T zero_value() {
  if constexpr (std::is_same_v<T, date>) {
    return date{0, 0, 0};
  } else if constexpr (std::is_same_v<T, time>) {
    return time{0, 0, 0, 0};
  } else {
    return T{};
  }
}

// A slot number as the replies show it: "0x" and lowercase hexadecimal digits without leading
// zeros ("0x0" for slot 0).
inline std::string slot_hex_text(uint64_t slot) {
  char digits[16];
  int n = 0;
  do {
    digits[n++] = "0123456789abcdef"[slot & 15];
    slot >>= 4;
  } while (slot != 0);
  std::string text = "0x";
  while (n > 0) text += digits[--n];
  return text;
}

}  // namespace qn::db::nosql
