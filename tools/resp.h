// RESP, the encoding redis-server speaks, as far as the load tool needs it: commands out as arrays
// of bulk strings, replies measured and classified where they lie. Pure functions; no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qn::tools {

// The kind of a reply's outermost value, as bits so that a workload can accept several.
enum resp_kind : unsigned {
  resp_simple = 1,   // +OK
  resp_error = 2,    // -ERR ...
  resp_integer = 4,  // :12
  resp_bulk = 8,     // $3 abc
  resp_null = 16,    // $-1 or *-1
  resp_array = 32,   // *2 ... (elements of any kind, nested arrays included)
};
inline constexpr unsigned resp_any_success = ~static_cast<unsigned>(resp_error);

// Appends `line` as one RESP command: its words (separated by one or more spaces) become the
// bulk strings of an array. Allocates nothing when `out` has room.
void append_resp_command(std::string_view line, std::string& out);

enum class resp_parse { complete, incomplete, malformed };

// Looks at the reply at the front of `bytes`. complete: the first `size` bytes hold one whole
// reply of `kind`; incomplete: it needs more bytes; malformed: the bytes are no RESP2 reply (an
// unknown type byte, a bad length, a line that does not end in CR LF, a line longer than 1 MiB or
// more than 2^24 elements). Each call starts over, so a reply that arrives in k pieces costs k
// passes; the tool's replies are a few bytes.
resp_parse parse_resp_reply(std::string_view bytes, resp_kind& kind, size_t& size);

}  // namespace qn::tools
