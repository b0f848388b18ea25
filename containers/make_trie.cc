// The only place where the trie kind is instantiated: once per key type, over u08 values (only
// the string key type holds words; the others are empty shells).
#include "containers/factory.h"
#include "containers/trie.h"

namespace qn::db::nosql::nosql_db {

std::unique_ptr<ab_adt> make_trie_container(type_descriptor key) {
  std::unique_ptr<ab_adt> made;
  (void)with_scalar_type(key, [&]<class K>() {
    made = std::make_unique<trie_adt<K, uint8_t>>();
    return true;
  });
  return made;
}

}  // namespace qn::db::nosql::nosql_db
