// Request and reply frames of the session protocol: building request frames, decoding reply frames
// into typed items. Pure functions over caller-owned buffers; no sockets, no shared state.
//
// Request: u32 payload length, payload (the login payload, then one command line per request).
// Reply: u32 length of what follows, status byte (0 success, 1 failure) and, in a successful
// command reply only, a u64 item count and the items. Item: u16 label length, label, 3-byte type
// descriptor, u64 value count, values encoded by the descriptor. All integers little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "net/wire_format.h"
#include "values/date_time.h"
#include "values/type_descriptor.h"

namespace qn::client {

// One decoded value. The alternative follows the item's descriptor: integers by sign byte and
// width, `float` for floating width 2 and `double` otherwise, dates and times as their packed
// types, strings as their raw bytes.
using value = std::variant<int8_t, int16_t, int32_t, int64_t, uint8_t, uint16_t, uint32_t, uint64_t,
                           float, double, date, time, date_time, std::string>;

struct reply_item {
  std::string label;
  type_descriptor type = untyped;
  // Number of values on the wire. Equals values.size(), except for an item whose category names
  // no type (6 marks such an item): its values take no bytes and `values` stays empty.
  uint64_t value_count = 0;
  std::vector<value> values;
};

struct command_reply {
  bool is_success = false;
  // Only a successful reply carries items; a success may carry none (a write, or a read that
  // found nothing).
  std::vector<reply_item> items;
};

// The largest payload a request may declare: the server closes the connection on 0xFFFFFFFF.
inline constexpr uint64_t max_request_payload = wire::max_payload_length;

// Appends u32 length and payload to `out`. Returns false, leaving `out` unchanged, when the
// payload is longer than max_request_payload.
[[nodiscard]] bool append_request_frame(std::string_view payload, std::string& out);

// Appends the login request: a frame whose payload is u32 name length, name, u32 password length,
// password. Returns false, leaving `out` unchanged, when the payload would be too long.
[[nodiscard]] bool append_login_frame(std::string_view user, std::string_view password,
                                      std::string& out);

enum class decode_status {
  complete,    // one whole, well-formed frame was decoded
  incomplete,  // fewer bytes than the length field announces (or fewer than four)
  malformed,   // the bytes cannot be a reply of this kind
};

// Size of the whole frame, length field included, read from the first four bytes. Returns false
// when fewer than four bytes are present.
[[nodiscard]] bool peek_frame_size(std::string_view bytes, uint64_t& size);

// Decodes the reply to a login: exactly five bytes, length 1 and status 0 or 1. `bytes` must hold
// exactly one frame; bytes beyond it make the frame malformed. On `complete` sets `is_accepted`;
// otherwise leaves it unchanged.
decode_status decode_login_reply(std::string_view bytes, bool& is_accepted);

// Decodes the reply to a command: either the five-byte failure frame, or status 0 with the item
// count and items that fill the announced length exactly. `bytes` must hold exactly one frame.
// On `complete` replaces `out`; otherwise `out` is unspecified. Counts are checked against the
// bytes present before anything is allocated for them.
decode_status decode_command_reply(std::string_view bytes, command_reply& out);

}  // namespace qn::client
