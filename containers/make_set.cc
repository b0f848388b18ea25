// set_adt and multiset_adt over each of the fourteen key types, with the u08 value type they are
// always created with.
#include "containers/factory.h"
#include "containers/set.h"

namespace qn::db::nosql::nosql_db {

std::unique_ptr<ab_adt> make_set_container(bool is_multi, type_descriptor key) {
  std::unique_ptr<ab_adt> made;
  static_cast<void>(with_scalar_type(key, [&]<class K>() {
    if (is_multi) {
      made = std::make_unique<multiset_adt<K, uint8_t>>();
    } else {
      made = std::make_unique<set_adt<K, uint8_t>>();
    }
    return true;
  }));
  return made;
}

}  // namespace qn::db::nosql::nosql_db
