// map_adt and multimap_adt over u32 keys and each of the fourteen value types.
#include "containers/make_map.h"

namespace qn::db::nosql::nosql_db {

template std::unique_ptr<ab_adt> make_map_with_key<uint32_t>(bool, type_descriptor);

}  // namespace qn::db::nosql::nosql_db
