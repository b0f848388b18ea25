// Reply records: ordered, typed items that command handlers fill and the session serialises.
// Owned by the caller of execute (one per request); used by one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "values/scalar.h"

namespace qn::db::nosql {

// One value. Non-string values sit little-endian in `inline_bytes`, laid out by the item's
// category: integers and floating point in the first 1, 2, 4 or 8 bytes; a date in bytes 0..3; a
// time in bytes 4..10 (the area is laid out as a datetime); a datetime in bytes 0..10. A string
// value lives in `text`, cut to the low 16 bits of its length (a 65,536-byte string becomes empty).
struct value_cell {
  std::array<uint8_t, 16> inline_bytes{};
  std::string text;
};

// Offset of a scalar's bytes inside the inline area.
template <class T>
constexpr size_t inline_offset() {
  return std::is_same_v<T, time> ? 4 : 0;
}

template <class T>
value_cell make_cell(const T& v) {
  value_cell cell;
  if constexpr (std::is_same_v<T, xstring>) {
    const auto length = static_cast<uint16_t>(v.size());
    cell.text.assign(v.data(), length);
  } else {
    std::memcpy(cell.inline_bytes.data() + inline_offset<T>(), &v, sizeof(T));
  }
  return cell;
}

inline value_cell make_text_cell(std::string_view s) {
  value_cell cell;
  cell.text.assign(s.data(), static_cast<uint16_t>(s.size()));
  return cell;
}

struct reply_item {
  std::string label;
  type_descriptor type = untyped;
  std::vector<value_cell> values;

  void set_header(std::string_view new_label, type_descriptor new_type) {
    label.assign(new_label);
    type = new_type;
  }
  template <class T>
  void append(const T& v) {
    values.push_back(make_cell(v));
  }
  void append_text(std::string_view s) { values.push_back(make_text_cell(s)); }
  // Replaces the values with a list, sized once.
  template <class T>
  void assign(const std::vector<T>& list) {
    values.clear();
    values.reserve(list.size());
    for (const T& v : list) values.push_back(make_cell(v));
  }
};

class reply_record {
 public:
  // Resizes to n items; new items have no label, the untyped descriptor and no values.
  void resize(size_t n) { items_.resize(n); }
  size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  reply_item& operator[](size_t i) { return items_[i]; }
  const reply_item& operator[](size_t i) const { return items_[i]; }
  void clear() { items_.clear(); }

  // Makes the record exactly one item with this header and returns it: the shape of every read.
  reply_item& single(type_descriptor type) {
    items_.resize(1);
    items_[0] = reply_item{};
    items_[0].type = type;
    return items_[0];
  }

 private:
  std::vector<reply_item> items_;
};

}  // namespace qn::db::nosql
