#include "net/base64.h"

#include <cstdint>

namespace qn::net {

std::string encode_base64(std::string_view bytes) {
  static constexpr char alphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t group = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << 16 |
                           static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8 |
                           static_cast<uint8_t>(bytes[i + 2]);
    out.push_back(alphabet[group >> 18]);
    out.push_back(alphabet[(group >> 12) & 63]);
    out.push_back(alphabet[(group >> 6) & 63]);
    out.push_back(alphabet[group & 63]);
  }
  const size_t rest = bytes.size() - i;
  if (rest == 0) return out;
  uint32_t group = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << 16;
  if (rest == 2) group |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8;
  out.push_back(alphabet[group >> 18]);
  out.push_back(alphabet[(group >> 12) & 63]);
  out.push_back(rest == 2 ? alphabet[(group >> 6) & 63] : '=');
  out.push_back('=');
  return out;
}

}  // namespace qn::net
