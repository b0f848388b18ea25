#include "net/reply_frame.h"

#include <cstdint>

namespace qn::net {
namespace {

void append_le(uint64_t v, size_t width, std::string& out) {
  for (size_t i = 0; i < width; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

void append_inline(const db::nosql::value_cell& cell, size_t offset, size_t width,
                   std::string& out) {
  out.append(reinterpret_cast<const char*>(cell.inline_bytes.data()) + offset, width);
}

// A u16 length and that many leading bytes of `text`.
void append_short_text(std::string_view text, std::string& out) {
  const auto length = static_cast<uint16_t>(text.size());
  append_le(length, 2, out);
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
  static constexpr char success[] = {1, 0, 0, 0, 0};
  static constexpr char failure[] = {1, 0, 0, 0, 1};
  return {is_success ? success : failure, 5};
}

void append_reply_item(const db::nosql::reply_item& item, std::string& frame) {
  append_short_text(item.label, frame);
  frame.push_back(static_cast<char>(item.type.width));
  frame.push_back(static_cast<char>(item.type.sign));
  frame.push_back(static_cast<char>(item.type.category));
  append_le(item.values.size(), 8, frame);
  for (const db::nosql::value_cell& cell : item.values) append_value(cell, item.type, frame);
}

bool build_reply_frame(const db::nosql::reply_record& record, std::string& frame) {
  frame.clear();
  frame.reserve(reply_frame_reserve);
  frame.append(4, '\0');  // length placeholder
  frame.push_back('\0');  // status: success
  append_le(record.size(), 8, frame);
  for (size_t i = 0; i < record.size(); ++i) append_reply_item(record[i], frame);
  const uint64_t length = frame.size() - 4;
  if (length > UINT32_MAX) return false;
  for (size_t i = 0; i < 4; ++i) frame[i] = static_cast<char>(length >> (8 * i));
  return true;
}

}  // namespace qn::net
