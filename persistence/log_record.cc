#include "persistence/log_record.h"

#include <array>

namespace qn::db::nosql::log_record {
namespace {

constexpr uint32_t castagnoli_reflected = 0x82F63B78u;

constexpr std::array<uint32_t, 256> make_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? (c >> 1) ^ castagnoli_reflected : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> crc_table = make_table();

void put_le(uint64_t v, int bytes, std::string& out) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint64_t get_le(std::string_view bytes, uint64_t at, int count) {
  uint64_t v = 0;
  for (int i = 0; i < count; ++i) {
    v |= uint64_t{static_cast<uint8_t>(bytes[at + static_cast<uint64_t>(i)])} << (8 * i);
  }
  return v;
}

// Splits a checked payload into its fields; false when its own lengths do not add up.
bool parse_payload(std::string_view payload, record& out) {
  if (payload.size() < min_payload_size) return false;
  const uint64_t line_length = get_le(payload, 9, 8);
  if (line_length > payload.size() - min_payload_size) return false;
  out.family = payload[0];
  out.slot = get_le(payload, 1, 8);
  out.line.assign(payload.substr(min_payload_size, line_length));
  out.image.assign(payload.substr(min_payload_size + line_length));
  return true;
}

}  // namespace

uint32_t crc32c(std::string_view bytes, uint32_t crc) {
  crc = ~crc;
  for (const char b : bytes) crc = crc_table[(crc ^ static_cast<uint8_t>(b)) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void encode(char family, uint64_t slot, std::string_view line, std::string_view image,
            std::string& out) {
  const uint64_t start = out.size();
  const uint64_t length = min_payload_size + line.size() + image.size();
  put_le(length, 8, out);
  put_le(0, 4, out);  // the checksum, filled in below
  out.push_back(family);
  put_le(slot, 8, out);
  put_le(line.size(), 8, out);
  out.append(line);
  out.append(image);
  const std::string_view framed(out);
  uint32_t crc = crc32c(framed.substr(start, 8));
  crc = crc32c(framed.substr(start + header_size), crc);
  for (int i = 0; i < 4; ++i) out[start + 8 + i] = static_cast<char>((crc >> (8 * i)) & 0xFF);
}

outcome decode(std::string_view bytes, uint64_t& at, record& out) {
  const uint64_t left = bytes.size() - at;
  if (left == 0) return outcome::end;
  if (left < header_size) return outcome::torn;
  const uint64_t length = get_le(bytes, at, 8);
  if (length > left - header_size) return outcome::torn;
  const std::string_view payload = bytes.substr(at + header_size, length);
  const uint32_t crc = crc32c(payload, crc32c(bytes.substr(at, 8)));
  const bool is_last = length == left - header_size;
  if (crc != static_cast<uint32_t>(get_le(bytes, at + 8, 4)) || !parse_payload(payload, out)) {
    return is_last ? outcome::torn : outcome::corrupt;
  }
  at += header_size + length;
  return outcome::ok;
}

bool has_record_after(std::string_view bytes, uint64_t from) {
  record ignored;
  for (uint64_t at = from + 1; at + header_size + min_payload_size <= bytes.size(); ++at) {
    uint64_t probe = at;
    if (decode(bytes, probe, ignored) == outcome::ok) return true;
  }
  return false;
}

}  // namespace qn::db::nosql::log_record
