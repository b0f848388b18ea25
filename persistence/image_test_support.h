// Helpers of the image tests: image bytes built field by field, containers for the framing tests,
// placing and listing containers. Test-only; each object belongs to one test.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "containers/adt.h"
#include "containers/factory.h"
#include "containers/kind_test_support.h"
#include "engine/registry.h"
#include "persistence/image.h"
#include "tests/temp_directory.h"

namespace qn::db::nosql::image_testing {

using testing_support::temp_directory;

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

using nosql_db::testing::head;
using nosql_db::testing::text;
using nosql_db::testing::u64le;

// An image's header: "qmdb", version 0, the container count.
inline std::string header(uint64_t count) { return std::string("qmdb\0", 5) + u64le(count); }
// A record's start: name length, name, slot id.
inline std::string record(std::string_view name, uint64_t slot) { return text(name) + u64le(slot); }
// The record part of an empty vector over i32, as the vector kind saves it.
inline const std::string empty_vector_record = head("vector", i32_type) + u64le(0);

// An empty vector over i32.
inline std::unique_ptr<nosql_db::ab_adt> empty_vector() {
  return nosql_db::make_container(nosql_db::vector_kind, i32_type, u08_type, 0);
}

// Places a container at a chosen slot under a name, as restore does.
inline bool place_at(container_registry& registry, uint64_t slot, std::string_view name,
                     std::unique_ptr<nosql_db::ab_adt> container) {
  registry.reserve_front(slot);
  uint64_t placed = 0;
  return registry.place_new(std::move(container), name, placed) && placed == slot;
}

// Every occupied slot as "slot:kind:name;" in slot order: enough to tell a database unchanged.
inline std::string slots_of(const container_registry& registry) {
  std::string out;
  uint64_t left = registry.occupied_count();
  for (uint64_t slot = 0; left != 0 && slot < container_registry::capacity; ++slot) {
    const nosql_db::ab_adt* c = registry.container_at(slot);
    if (c == nullptr) continue;
    --left;
    out += std::to_string(slot) + ":" + std::string(c->kind_name()) + ":" + std::string(c->name()) +
           ";";
  }
  return out;
}

}  // namespace qn::db::nosql::image_testing
