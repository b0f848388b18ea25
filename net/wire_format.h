// Wire format of the session protocol: the sizes, markers and status bytes of request and reply
// frames, shared by the server, the client library and the tests. Constants only.
//
// Request frame: u32 payload length, payload. Login payload: u32 name length, name, u32 password
// length, password. Reply frame: u32 length of what follows, status byte, and in a successful
// command reply a u64 item count and the items. Item: u16 label length, label, 3-byte type
// descriptor, u64 value count, values (a string value: u16 length, bytes). All integers
// little-endian (values/little_endian.h); docs/protocol.md describes the exchange.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qn::wire {

// The u32 length that opens every frame, request and reply alike.
inline constexpr size_t length_bytes = 4;
// A request length that asks the server to close the connection.
inline constexpr uint32_t close_marker = 0xFFFFFFFF;
// The largest payload a request may declare.
inline constexpr uint32_t max_payload_length = 0xFFFFFFFE;

// The u32 lengths of the name and the password in a login payload.
inline constexpr size_t login_field_length_bytes = 4;

inline constexpr uint8_t status_success = 0;
inline constexpr uint8_t status_failure = 1;
// A login reply and a failed command reply: length 1, then the status byte.
inline constexpr size_t status_frame_bytes = length_bytes + 1;
// A successful command reply before its items: length, status, u64 item count.
inline constexpr size_t reply_head_bytes = length_bytes + 1 + 8;

// Reply item fields.
inline constexpr size_t label_length_bytes = 2;
inline constexpr size_t descriptor_bytes = 3;
inline constexpr size_t value_count_bytes = 8;
inline constexpr size_t string_length_bytes = 2;

}  // namespace qn::wire
