#include "containers/factory.h"

namespace qn::db::nosql::nosql_db {
namespace {

// The type a descriptor names, as the creation command would see it: through its type word, so
// that any descriptor the reader decodes to a type gives that type's own descriptor.
bool read_descriptor(image_reader& in, type_descriptor& out) {
  type_descriptor d{};
  if (!in.get_bytes(&d, sizeof d)) return false;
  const std::string_view word = type_name(d);
  return !word.empty() && recognise_type_word(word, out);
}

// Builds the empty container a record names. The hash kinds read their capacity first; the
// shells are what the factory builds for a hash kind over a non-integer key, without one.
std::unique_ptr<ab_adt> make_recorded(std::string_view kind, type_descriptor key,
                                      type_descriptor value, image_reader& in) {
  if (kind == hashmap_not_allowed_kind) return make_container(hashmap_kind, key, value, 0);
  if (kind == hashtable_not_allowed_kind) return make_container(hashtable_kind, key, value, 0);
  uint64_t capacity = 0;
  // The capacity cannot be checked against the file: a sparse table is legitimate. It gets the
  // bound creation has: slots exist only for the keys the key type can address, and more than
  // 2^61 slots or an array beyond the machine's memory throws std::bad_alloc. So any capacity
  // that could be created restores (a u08 table of capacity 2^40 is 256 slots), and a corrupt
  // one cannot make us map terabytes.
  if ((kind == hashmap_kind || kind == hashtable_kind) && !in.get_u64(capacity)) return nullptr;
  return make_container(kind, key, value, capacity);
}

}  // namespace

std::unique_ptr<ab_adt> load_container(image_reader& in) {
  constexpr uint64_t longest_kind = hashtable_not_allowed_kind.size();
  uint64_t kind_length = 0;
  char kind_bytes[longest_kind];
  if (!in.get_u64(kind_length) || kind_length > longest_kind ||
      !in.get_bytes(kind_bytes, kind_length)) {
    return nullptr;
  }
  const std::string_view kind(kind_bytes, kind_length);
  type_descriptor key{}, value{};
  if (!read_descriptor(in, key) || !read_descriptor(in, value)) return nullptr;
  std::unique_ptr<ab_adt> container = make_recorded(kind, key, value, in);
  if (container == nullptr || container->kind_name() != kind) return nullptr;
  if (!container->load(in) || !in.ok()) return nullptr;
  return container;
}

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
