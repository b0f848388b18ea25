// Standard Base64 encoding (RFC 4648 alphabet, "=" padding).
// Pure function; no state.
#pragma once

#include <string>
#include <string_view>

namespace qn::net {

// Returns the Base64 text of `bytes`: 4 characters per 3 bytes, the last group padded with "=".
std::string encode_base64(std::string_view bytes);

}  // namespace qn::net
