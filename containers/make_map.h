// The per-key-type makers of the ordered map kinds, each instantiated in its own make_map_<k>.cc
// so the 392 map classes compile in parallel pieces. Builds objects the caller owns.
#pragma once

#include <memory>

#include "containers/adt.h"
#include "containers/map.h"

namespace qn::db::nosql::nosql_db {

// Builds an empty map_adt<K,V> (multimap_adt<K,V> when is_multi) over the value type that
// `value` names; null when it names none.
template <class K>
std::unique_ptr<ab_adt> make_map_with_key(bool is_multi, type_descriptor value) {
  std::unique_ptr<ab_adt> made;
  static_cast<void>(with_scalar_type(value, [&]<class V>() {
    if (is_multi) {
      made = std::make_unique<multimap_adt<K, V>>();
    } else {
      made = std::make_unique<map_adt<K, V>>();
    }
    return true;
  }));
  return made;
}

// Each is defined (explicitly instantiated) in exactly one make_map_<k>.cc.
extern template std::unique_ptr<ab_adt> make_map_with_key<int8_t>(bool, type_descriptor);
extern template std::unique_ptr<ab_adt> make_map_with_key<int16_t>(bool, type_descriptor);
extern template std::unique_ptr<ab_adt> make_map_with_key<int32_t>(bool, type_descriptor);
extern template std::unique_ptr<ab_adt> make_map_with_key<int64_t>(bool, type_descriptor);
extern template std::unique_ptr<ab_adt> make_map_with_key<uint8_t>(bool, type_descriptor);
extern template std::unique_ptr<ab_adt> make_map_with_key<uint16_t>(bool, type_descriptor);
extern template std::unique_ptr<ab_adt> make_map_with_key<uint32_t>(bool, type_descriptor);
extern template std::unique_ptr<ab_adt> make_map_with_key<uint64_t>(bool, type_descriptor);
extern template std::unique_ptr<ab_adt> make_map_with_key<float>(bool, type_descriptor);
extern template std::unique_ptr<ab_adt> make_map_with_key<double>(bool, type_descriptor);
extern template std::unique_ptr<ab_adt> make_map_with_key<date>(bool, type_descriptor);
extern template std::unique_ptr<ab_adt> make_map_with_key<time>(bool, type_descriptor);
extern template std::unique_ptr<ab_adt> make_map_with_key<date_time>(bool, type_descriptor);
extern template std::unique_ptr<ab_adt> make_map_with_key<xstring>(bool, type_descriptor);

}  // namespace qn::db::nosql::nosql_db
