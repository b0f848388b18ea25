// Helpers of the containers' image tests: what a container saves, as bytes, and loading given
// bytes. Test-only; each helper owns the temporary file it opens and closes it before returning.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "containers/adt.h"
#include "values/image_io.h"
#include "values/little_endian.h"

namespace qn::db::nosql::nosql_db::image_testing {

// An open temporary file, closed on scope exit.
struct temp_file {
  std::FILE* file = std::tmpfile();
  ~temp_file() {
    if (file != nullptr) std::fclose(file);
  }
  std::string bytes() {
    std::fflush(file);
    std::fseek(file, 0, SEEK_END);
    std::string out(static_cast<size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    if (std::fread(out.data(), 1, out.size(), file) != out.size()) out.clear();
    return out;
  }
};

inline std::string u64le(uint64_t v) {
  std::string bytes;
  append_le(bytes, v);
  return bytes;
}
inline std::string text(std::string_view s) { return u64le(s.size()) + std::string(s); }
inline std::string descriptor_bytes(type_descriptor d) {
  return std::string{static_cast<char>(d.width), static_cast<char>(d.sign),
                     static_cast<char>(d.category)};
}
// The record part every kind writes before its payload.
inline std::string header_of(const ab_adt& c) {
  return text(c.kind_name()) + descriptor_bytes(c.key_type()) + descriptor_bytes(c.value_type());
}

// Everything `save` writes for the container.
inline std::string saved(ab_adt& c) {
  temp_file f;
  image_writer out(f.file);
  EXPECT_TRUE(c.save(out));
  return f.bytes();
}
// The payload `save` writes, after the header.
inline std::string saved_payload(ab_adt& c) {
  const std::string all = saved(c);
  const std::string header = header_of(c);
  EXPECT_EQ(all.substr(0, header.size()), header);
  return all.size() < header.size() ? std::string() : all.substr(header.size());
}
// Runs `load` over a payload given as bytes; the file holds exactly those bytes. `left` receives
// how many of them `load` did not read.
inline bool load_payload(ab_adt& c, const std::string& payload, uint64_t* left = nullptr) {
  temp_file f;
  if (std::fwrite(payload.data(), 1, payload.size(), f.file) != payload.size()) return false;
  std::rewind(f.file);
  image_reader in(f.file, payload.size());
  const bool loaded = c.load(in);
  if (left != nullptr) *left = in.remaining();
  return loaded;
}

}  // namespace qn::db::nosql::nosql_db::image_testing
