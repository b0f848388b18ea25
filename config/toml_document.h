// TOML document model: values with their type codes, arrays, and tables that keep their values
// in insertion order beside an ordered index. A value owns its payload; a table owns its values.
// Not thread-safe; a document is built, read and released on one thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "values/byte_string_order.h"

namespace qn::config {

// Type codes of TOML values, as stored in value::type().
enum class value_type : uint32_t {
  boolean = 1,
  integer = 2,
  floating = 3,
  offset_date_time = 4,
  local_date_time = 5,
  local_date = 6,
  local_time = 7,
  string = 8,
  array = 9,
  table = 10,
  table_array = 11,  // array of tables: every element is a table value
};

struct toml_date {
  uint16_t year = 0;
  uint8_t month = 0;
  uint8_t day = 0;
};

struct toml_time {
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;
  uint8_t unused = 0;
  uint32_t nanosecond = 0;  // the fraction to nine digits; 0 without a fraction
};

struct toml_local_date_time {
  toml_date date;
  toml_time time;
};

struct toml_offset_date_time {
  toml_date date;
  toml_time time;
  uint8_t negative = 0;  // 1 for a "-" offset, 0 for "+" or "Z"
  uint8_t offset_hour = 0;
  uint8_t offset_minute = 0;
};

static_assert(sizeof(toml_date) == 4 && sizeof(toml_time) == 8);
static_assert(sizeof(toml_local_date_time) == 12 && sizeof(toml_offset_date_time) == 16);

class table;
class value;
using value_ptr = std::unique_ptr<value>;
using value_list = std::vector<value_ptr>;

class value {
 public:
  static value_ptr make_boolean(bool b);
  static value_ptr make_integer(int64_t i);
  static value_ptr make_float(double d);
  static value_ptr make_offset_date_time(const toml_offset_date_time& t);
  static value_ptr make_local_date_time(const toml_local_date_time& t);
  static value_ptr make_local_date(const toml_date& d);
  static value_ptr make_local_time(const toml_time& t);
  static value_ptr make_string(std::string s);
  static value_ptr make_array();
  static value_ptr make_table();
  static value_ptr make_table_array();

  value_type type() const { return type_; }
  bool is_table() const { return type_ == value_type::table; }
  bool is_table_array() const { return type_ == value_type::table_array; }

  // Accessors. Requires: the value has the matching type.
  bool as_boolean() const { return std::get<bool>(payload_); }
  int64_t as_integer() const { return std::get<int64_t>(payload_); }
  double as_float() const { return std::get<double>(payload_); }
  const toml_offset_date_time& as_offset_date_time() const {
    return std::get<toml_offset_date_time>(payload_);
  }
  const toml_local_date_time& as_local_date_time() const {
    return std::get<toml_local_date_time>(payload_);
  }
  const toml_date& as_local_date() const { return std::get<toml_date>(payload_); }
  const toml_time& as_local_time() const { return std::get<toml_time>(payload_); }
  const std::string& as_string() const { return std::get<std::string>(payload_); }
  // array and table_array
  value_list& as_array() { return std::get<value_list>(payload_); }
  const value_list& as_array() const { return std::get<value_list>(payload_); }
  table& as_table() { return *std::get<std::unique_ptr<table>>(payload_); }
  const table& as_table() const { return *std::get<std::unique_ptr<table>>(payload_); }

 private:
  using payload =
      std::variant<bool, int64_t, double, toml_offset_date_time, toml_local_date_time, toml_date,
                   toml_time, std::string, value_list, std::unique_ptr<table>>;
  value(value_type type, payload p) : type_(type), payload_(std::move(p)) {}

  value_type type_;
  payload payload_;
};

// A table: values in insertion order and an index from key to position, ordered byte-wise
// with bytes taken as signed chars (qn::byte_string_less).
class table {
 public:
  struct entry {
    const std::string* key;  // the index's own copy of the key
    value_ptr item;
  };

  // Returns the value under `key`, or null. Plain keys only, one level at a time.
  value* lookup(std::string_view key);
  const value* lookup(std::string_view key) const;

  // Adds `item` under `key` at the end of the insertion order. Returns the inserted value, or
  // null (and `item` is released) when the key is already present.
  value* insert(std::string_view key, value_ptr item);

  size_t size() const { return entries_.size(); }
  const std::vector<entry>& entries() const { return entries_; }

  // Free for the builder's use: 1 for a table written as an inline table, 0 otherwise.
  uint8_t mark = 0;

 private:
  std::vector<entry> entries_;
  std::map<std::string, size_t, qn::byte_string_less> index_;
};

}  // namespace qn::config
