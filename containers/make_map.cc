#include "containers/make_map.h"

#include "containers/factory.h"

namespace qn::db::nosql::nosql_db {

std::unique_ptr<ab_adt> make_map_container(bool is_multi, type_descriptor key,
                                           type_descriptor value) {
  std::unique_ptr<ab_adt> made;
  static_cast<void>(with_scalar_type(key, [&]<class K>() {
    made = make_map_with_key<K>(is_multi, value);
    return true;
  }));
  return made;
}

}  // namespace qn::db::nosql::nosql_db
