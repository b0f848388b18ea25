// Reply frames: the wire form of reply records and the fixed five-byte status replies.
// Pure functions; the caller owns the frame buffer and the record.
//
// Frame: u32 length of what follows, status byte (0 success, 1 failure), and for a successful
// command the u64 item count and the items. Item: u16 label length, label, 3-byte descriptor, u64
// value count, values encoded by the descriptor. All integers little-endian.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/reply.h"

namespace qn::net {

// Bytes reserved up front for a command reply frame, enough for most replies in one allocation.
inline constexpr size_t reply_frame_reserve = 96;

// The five-byte login reply or failed command reply: 01 00 00 00, then 0 (success) or 1.
std::string_view status_frame(bool is_success);

// Appends one item in its wire form. A label or string value longer than 65535 bytes is cut to
// the low 16 bits of its length (the rule reply records already apply to string values), so the
// frame stays readable. Values of a category outside 0..5 are written as nothing.
void append_reply_item(const db::nosql::reply_item& item, std::string& frame);

// Replaces `frame` with the successful reply frame of `record`: placeholder, status 0, item count,
// items, then the length of everything after the first four bytes written into the placeholder.
// Returns false when that length does not fit the u32 field (over 4 GiB of items); `frame` is
// then unspecified and the caller answers with the failure frame instead.
[[nodiscard]] bool build_reply_frame(const db::nosql::reply_record& record, std::string& frame);

}  // namespace qn::net
