// Helpers of the image tests: image bytes built field by field, a container of our own for the
// framing tests, placing and listing containers. Test-only; each object belongs to one test.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "containers/adt.h"
#include "engine/registry.h"
#include "persistence/image.h"
#include "tests/temp_directory.h"
#include "values/little_endian.h"

namespace qn::db::nosql::image_testing {

using testing_support::temp_directory;

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Image bytes written field by field, little-endian, the way the tests spell out a layout.
class image_bytes {
 public:
  image_bytes& raw(std::string_view bytes) {
    bytes_.append(bytes);
    return *this;
  }
  image_bytes& u8(uint8_t v) {
    bytes_.push_back(static_cast<char>(v));
    return *this;
  }
  image_bytes& u64(uint64_t v) {
    append_le(bytes_, v);
    return *this;
  }
  image_bytes& text(std::string_view s) {
    u64(s.size());
    return raw(s);
  }
  image_bytes& descriptor(type_descriptor d) { return u8(d.width).u8(d.sign).u8(d.category); }
  // "qmdb", version 0, container count.
  image_bytes& header(uint64_t count) { return raw("qmdb").u8(0).u64(count); }
  // Name length, name, slot id.
  image_bytes& record(std::string_view name, uint64_t slot) { return text(name).u64(slot); }
  // Kind name and the two descriptors.
  image_bytes& kind(std::string_view kind, type_descriptor key, type_descriptor value) {
    return text(kind).descriptor(key).descriptor(value);
  }
  const std::string& str() const { return bytes_; }

 private:
  std::string bytes_;
};

// A container of our own: saves as its kind name, descriptors and a fixed payload (or fails its
// save), so the framing of backup can be tested apart from the real kinds.
class fake_adt final : public nosql_db::ab_adt {
 public:
  fake_adt(std::string_view kind, type_descriptor key, type_descriptor value, std::string payload,
           bool saves = true)
      : ab_adt(kind, key, value), payload_(std::move(payload)), saves_(saves) {}

  bool save(image_writer& out) override {
    if (!saves_) return false;
    save_header(out);
    out.put_bytes(payload_.data(), payload_.size());
    return true;
  }

 private:
  std::string payload_;
  bool saves_;
};

// An empty vector over i32, as the vector kind would save it.
inline std::unique_ptr<nosql_db::ab_adt> empty_fake_vector() {
  return std::make_unique<fake_adt>(nosql_db::vector_kind, i32_type, u08_type,
                                    image_bytes().u64(0).str());
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
