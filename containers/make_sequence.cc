// The only place where the sequence kinds are instantiated: once per key type, over u08 values.
#include "containers/factory.h"
#include "containers/sequences.h"

namespace qn::db::nosql::nosql_db {

std::unique_ptr<ab_adt> make_sequence_container(std::string_view kind, type_descriptor key) {
  std::unique_ptr<ab_adt> made;
  (void)with_scalar_type(key, [&]<class K>() {
    if (kind == vector_kind) made = std::make_unique<vec_adt<K, uint8_t>>();
    if (kind == deque_kind) made = std::make_unique<deque_adt<K, uint8_t>>();
    if (kind == list_kind) made = std::make_unique<list_adt<K, uint8_t>>();
    return true;
  });
  return made;
}

}  // namespace qn::db::nosql::nosql_db
