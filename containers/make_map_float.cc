// map_adt and multimap_adt over float keys and each of the fourteen value types.
#include "containers/make_map.h"

namespace qn::db::nosql::nosql_db {

template std::unique_ptr<ab_adt> make_map_with_key<float>(bool, type_descriptor);

}  // namespace qn::db::nosql::nosql_db
