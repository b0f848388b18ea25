// Builds empty containers of a kind over chosen key and value types: the one entry from kind words
// to the concrete classes, whose instantiations live in the make_*.cc files.
// The caller owns what it returns.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "containers/adt.h"

namespace qn::db::nosql::nosql_db {

// Builds an empty container of the kind word (one of the thirteen) over (key, value). Hash kinds
// get `capacity` key slots; a hash kind over a non-integer key comes back as the empty shell whose
// kind word is "hashmap_not_allowed" or "hashtable_not_allowed". Returns null for an unknown kind
// word or a descriptor that names no type.
//
// The kinds that keep no value (set, multiset, heap, hashtable, trie and the sequences) are built
// only over the u08 value type, the one creation gives them; any other value type returns null, so
// an image file claiming otherwise is refused instead of building a container nobody can fill.
// Throws std::bad_alloc when the hash slot array cannot be allocated.
std::unique_ptr<ab_adt> make_container(std::string_view kind, type_descriptor key,
                                       type_descriptor value, uint64_t capacity);

// Builds the container whose `save` wrote what `in` holds next (kind name, key and value
// descriptors, a hash kind's capacity, the payload) and fills it through its `load`. Each
// descriptor is taken as the type the image reader decodes it to. Null when the kind name or a
// descriptor names nothing this factory builds, when what it builds is not the kind the image
// names (a "hashmap" over string keys, a shell over an integer key), or when the payload is
// refused or cut short. Throws std::bad_alloc as make_container does, for a capacity the machine
// cannot give.
std::unique_ptr<ab_adt> load_container(image_reader& in);

// One maker per kind family, defined in make_<family>.cc; same contract as make_container.
std::unique_ptr<ab_adt> make_hash_container(bool is_table, type_descriptor key,
                                            type_descriptor value, uint64_t capacity);
std::unique_ptr<ab_adt> make_map_container(bool is_multi, type_descriptor key,
                                           type_descriptor value);
std::unique_ptr<ab_adt> make_set_container(bool is_multi, type_descriptor key);
// kind: vector_kind, deque_kind or list_kind.
std::unique_ptr<ab_adt> make_sequence_container(std::string_view kind, type_descriptor key);
// kind: stack_kind, queue_kind or heap_kind.
std::unique_ptr<ab_adt> make_adaptor_container(std::string_view kind, type_descriptor key);
std::unique_ptr<ab_adt> make_trie_container(type_descriptor key);

}  // namespace qn::db::nosql::nosql_db
