// The only place where the adaptor kinds are instantiated: once per key type, over u08 values.
#include "containers/adaptors.h"
#include "containers/factory.h"

namespace qn::db::nosql::nosql_db {

std::unique_ptr<ab_adt> make_adaptor_container(std::string_view kind, type_descriptor key) {
  std::unique_ptr<ab_adt> made;
  (void)with_scalar_type(key, [&]<class K>() {
    if (kind == stack_kind) made = std::make_unique<stack_adt<K, uint8_t>>();
    if (kind == queue_kind) made = std::make_unique<queue_adt<K, uint8_t>>();
    if (kind == heap_kind) made = std::make_unique<heap_adt<K, uint8_t>>();
    return true;
  });
  return made;
}

}  // namespace qn::db::nosql::nosql_db
