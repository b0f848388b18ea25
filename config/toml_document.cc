#include "config/toml_document.h"

namespace qn::config {

value_ptr value::make_boolean(bool b) { return value_ptr(new value(value_type::boolean, b)); }

value_ptr value::make_integer(int64_t i) { return value_ptr(new value(value_type::integer, i)); }

value_ptr value::make_float(double d) { return value_ptr(new value(value_type::floating, d)); }

value_ptr value::make_offset_date_time(const toml_offset_date_time& t) {
  return value_ptr(new value(value_type::offset_date_time, t));
}

value_ptr value::make_local_date_time(const toml_local_date_time& t) {
  return value_ptr(new value(value_type::local_date_time, t));
}

value_ptr value::make_local_date(const toml_date& d) {
  return value_ptr(new value(value_type::local_date, d));
}

value_ptr value::make_local_time(const toml_time& t) {
  return value_ptr(new value(value_type::local_time, t));
}

value_ptr value::make_string(std::string s) {
  return value_ptr(new value(value_type::string, std::move(s)));
}

value_ptr value::make_array() { return value_ptr(new value(value_type::array, value_list{})); }

value_ptr value::make_table() {
  return value_ptr(new value(value_type::table, std::make_unique<table>()));
}

value_ptr value::make_table_array() {
  return value_ptr(new value(value_type::table_array, value_list{}));
}

value* table::lookup(std::string_view key) {
  const auto it = index_.find(key);
  return it == index_.end() ? nullptr : entries_[it->second].item.get();
}

const value* table::lookup(std::string_view key) const {
  const auto it = index_.find(key);
  return it == index_.end() ? nullptr : entries_[it->second].item.get();
}

value* table::insert(std::string_view key, value_ptr item) {
  // Room first, so that running out of memory cannot leave an index entry without its value.
  if (entries_.size() == entries_.capacity()) entries_.reserve(entries_.size() * 2 + 4);
  const auto [it, inserted] = index_.emplace(std::string(key), entries_.size());
  if (!inserted) return nullptr;
  entries_.push_back(entry{&it->first, std::move(item)});
  return entries_.back().item.get();
}

}  // namespace qn::config
