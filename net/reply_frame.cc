#include "net/reply_frame.h"

#include <cstdint>

#include "net/wire_format.h"
#include "values/little_endian.h"

namespace qn::net {
namespace {

void append_inline(const db::nosql::value_cell& cell, size_t offset, size_t width,
                   std::string& out) {
  out.append(reinterpret_cast<const char*>(cell.inline_bytes.data()) + offset, width);
}

// A u16 length and that many leading bytes of `text`.
void append_short_text(std::string_view text, std::string& out) {
  const auto length = static_cast<uint16_t>(text.size());
  append_le<uint16_t>(out, length);
  out.append(text.data(), length);
}

void append_value(const db::nosql::value_cell& cell, type_descriptor type, std::string& out) {
  switch (type.category) {
    case integer_category: {
      static constexpr size_t widths[] = {1, 2, 4};
      append_inline(cell, 0, type.width < 3 ? widths[type.width] : 8, out);
      return;
    }
    case floating_category:
      append_inline(cell, 0, type.width == 2 ? 4 : 8, out);
      return;
    case string_category:
      append_short_text(cell.text, out);
      return;
    case date_category:
      append_inline(cell, 0, 4, out);
      return;
    case time_category:
      append_inline(cell, 4, 7, out);  // the time part of the datetime-shaped inline area
      return;
    case datetime_category:
      append_inline(cell, 0, 11, out);
      return;
    default:
      return;  // an item without type carries no value bytes
  }
}

}  // namespace

std::string_view status_frame(bool is_success) {
  static constexpr char success[] = {1, 0, 0, 0, wire::status_success};
  static constexpr char failure[] = {1, 0, 0, 0, wire::status_failure};
  return {is_success ? success : failure, wire::status_frame_bytes};
}

void append_reply_item(const db::nosql::reply_item& item, std::string& frame) {
  append_short_text(item.label, frame);
  frame.push_back(static_cast<char>(item.type.width));
  frame.push_back(static_cast<char>(item.type.sign));
  frame.push_back(static_cast<char>(item.type.category));
  append_le<uint64_t>(frame, item.values.size());
  for (const db::nosql::value_cell& cell : item.values) append_value(cell, item.type, frame);
}

bool build_reply_frame(const db::nosql::reply_record& record, std::string& frame) {
  frame.clear();
  frame.reserve(reply_frame_reserve);
  frame.append(wire::length_bytes, '\0');  // length placeholder
  frame.push_back(static_cast<char>(wire::status_success));
  append_le<uint64_t>(frame, record.size());
  for (size_t i = 0; i < record.size(); ++i) append_reply_item(record[i], frame);
  const uint64_t length = frame.size() - wire::length_bytes;
  if (length > UINT32_MAX) return false;
  store_le(frame.data(), static_cast<uint32_t>(length));
  return true;
}

}  // namespace qn::net
