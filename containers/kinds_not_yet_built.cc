// Makers of the kind families whose classes have not landed yet: they build nothing, so creating
// such a container fails cleanly. Each family removes its maker from here when it lands.
#include "containers/factory.h"

namespace qn::db::nosql::nosql_db {

std::unique_ptr<ab_adt> make_map_container(bool, type_descriptor, type_descriptor) {
  return nullptr;
}
std::unique_ptr<ab_adt> make_set_container(bool, type_descriptor) { return nullptr; }

}  // namespace qn::db::nosql::nosql_db
