// One record of the command log: its framing (length, CRC32C checksum) and its payload (family,
// slot, command line, and for a restore the image bytes). Pure functions; no state, no locking.
//
// Framing, little-endian: u64 payload length, u32 CRC32C of the length's eight bytes and the
// payload, then the payload: u8 family, u64 slot, u64 line length, the line, and the rest (the
// image file a restore read; empty for every other family).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qn::db::nosql::log_record {

inline constexpr uint64_t header_size = 12;
inline constexpr uint64_t min_payload_size = 17;

// CRC32C (Castagnoli), continuing from `crc` (0 to start).
uint32_t crc32c(std::string_view bytes, uint32_t crc = 0);

struct record {
  char family = 0;
  uint64_t slot = 0;
  std::string line;
  std::string image;  // r only
};

// Appends the framed record to `out`.
void encode(char family, uint64_t slot, std::string_view line, std::string_view image,
            std::string& out);

enum class outcome {
  ok,       // a whole record with a good checksum was read
  end,      // no bytes left: the clean end
  torn,     // the bytes end inside the record, or its checksum fails and nothing follows it
  corrupt,  // a complete record whose checksum or payload is wrong, with bytes after it
};

// Reads the record that starts at `at` in `bytes`; on ok fills `out` and advances `at`.
outcome decode(std::string_view bytes, uint64_t& at, record& out);

// Whether a whole record with a good checksum starts at some offset after `from`. Tells a bad
// record that good ones follow (corruption in the middle, even of a length field) from a tail
// that ends the log in garbage (a torn write, zeros left by a power cut). Scans byte by byte.
bool has_record_after(std::string_view bytes, uint64_t from);

}  // namespace qn::db::nosql::log_record
