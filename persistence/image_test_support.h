// Helpers of the image tests: a scratch directory, image bytes built field by field, a container
// of our own for the framing tests. Test-only; each object belongs to one test.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "containers/adt.h"
#include "engine/registry.h"
#include "persistence/image.h"
#include "values/little_endian.h"

namespace qn::db::nosql::image_testing {

// A fresh directory, removed with everything in it: under the system's temporary directory, or
// in memory (/dev/shm, where syncing costs nothing) for tests that write thousands of images.
class scratch_dir {
 public:
  explicit scratch_dir(bool in_memory = false) {
    std::error_code ignored;
    const std::filesystem::path base =
        in_memory && std::filesystem::is_directory("/dev/shm", ignored)
            ? std::filesystem::path("/dev/shm")
            : std::filesystem::temp_directory_path();
    std::string pattern = (base / "zor_image_XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~scratch_dir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;

  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }
  // True when nothing (not even a temporary file of a failed backup) is left in the directory.
  bool is_empty() const { return std::filesystem::is_empty(path_); }

 private:
  std::string path_;
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
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
