// Byte layout of the database image file (constants only); docs/image_format.md describes it.
// No state, no locking.
//
// All integers are little-endian; lengths, counts, slot ids and capacities are u64. A record is
// name length, name, slot id, then what the container's `save` writes: kind name length, kind
// name, key and value type descriptors and the kind's payload.
#pragma once

#include <cstdint>
#include <string_view>

namespace qn::db::nosql::image_format {

// ---- file header ----
inline constexpr std::string_view magic = "qmdb";
inline constexpr uint64_t magic_offset = 0;
inline constexpr uint64_t magic_size = 4;
inline constexpr uint8_t version = 0;
inline constexpr uint64_t version_offset = 4;
inline constexpr uint64_t version_size = 1;
inline constexpr uint64_t count_offset = 5;
inline constexpr uint64_t count_size = 8;
inline constexpr uint64_t header_size = 13;  // an empty database is exactly this long

// ---- container record ----
inline constexpr uint64_t length_size = 8;  // every name length, kind name length and count
inline constexpr uint64_t slot_id_size = 8;
inline constexpr uint64_t descriptor_size = 3;  // size code, sign code, class code
inline constexpr uint64_t capacity_size = 8;    // hash kinds only, right after the descriptors

// The longest kind name a record can carry: "hashtable_not_allowed".
inline constexpr uint64_t max_kind_name_size = 21;
// The shortest a record can be: empty name, a three-byte kind name ("map", "set"), the two
// descriptors and an element count of 0. Records of the "_not_allowed" shells are longer.
inline constexpr uint64_t min_record_size =
    length_size + slot_id_size + length_size + 3 + 2 * descriptor_size + length_size;

// Hash payload: the hash table writes each key widened to 64 bits before the key itself.
inline constexpr uint64_t widened_key_size = 8;

}  // namespace qn::db::nosql::image_format
