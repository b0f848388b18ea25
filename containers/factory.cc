#include "containers/factory.h"

namespace qn::db::nosql::nosql_db {

std::unique_ptr<ab_adt> make_container(std::string_view kind, type_descriptor key,
                                       type_descriptor value, uint64_t capacity) {
  if (kind == hashmap_kind) return make_hash_container(false, key, value, capacity);
  if (kind == hashtable_kind) {
    return value == u08_type ? make_hash_container(true, key, value, capacity) : nullptr;
  }
  if (kind == map_kind) return make_map_container(false, key, value);
  if (kind == multimap_kind) return make_map_container(true, key, value);
  if (value != u08_type) return nullptr;
  if (kind == set_kind) return make_set_container(false, key);
  if (kind == multiset_kind) return make_set_container(true, key);
  if (kind == vector_kind || kind == deque_kind || kind == list_kind) {
    return make_sequence_container(kind, key);
  }
  if (kind == stack_kind || kind == queue_kind || kind == heap_kind) {
    return make_adaptor_container(kind, key);
  }
  if (kind == trie_kind) return make_trie_container(key);
  return nullptr;
}

}  // namespace qn::db::nosql::nosql_db
