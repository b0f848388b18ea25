// Test helpers for the sequence, adaptor and trie kinds: building them through the factory and
// rendering results and contents as short strings. For tests only; no state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "containers/adt.h"
#include "containers/factory.h"

namespace qn::db::nosql::nosql_db::testing {

using i32_adt = adt<int32_t, uint8_t>;

// A fresh container of the kind over (key, u08), as creation builds it.
inline std::unique_ptr<ab_adt> make_kind(std::string_view kind, type_descriptor key = i32_type) {
  return make_container(kind, key, u08_type, 0);
}

template <class K>
adt<K, uint8_t>& typed(ab_adt& c) {
  return static_cast<adt<K, uint8_t>&>(c);
}

inline std::string text_of(int32_t v) { return std::to_string(v); }
inline std::string text_of(uint64_t v) { return std::to_string(v); }
inline std::string text_of(const xstring& v) { return std::string(v.view()); }

// "a b c" (empty for no elements).
template <class T>
std::string join(const out_list<T>& list) {
  std::string out;
  for (const T& v : list) out += (out.empty() ? "" : " ") + text_of(v);
  return out;
}

// The container's `all`, joined; "refused" when `all` answers false.
template <class K>
std::string contents(adt<K, uint8_t>& c) {
  out_list<K> list;
  return c.all(list) ? join(list) : "refused";
}

// An operation's answer: "false", "true", or "true <what it delivered>".
inline std::string answer(bool ok) { return ok ? "true" : "false"; }
template <class T>
std::string answer(bool ok, const T& out) {
  return ok ? "true " + text_of(out) : "false";
}
template <class T>
std::string answer(bool ok, const out_list<T>& out) {
  return ok ? "true [" + join(out) + "]" : "false";
}

}  // namespace qn::db::nosql::nosql_db::testing
