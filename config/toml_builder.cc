#include "config/toml_builder.h"

#include <locale.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "config/toml_grammar.h"
#include "config/utf8.h"

namespace qn::config {

namespace {

using key_parts = std::vector<std::string>;

unsigned long long address_of(const void* p) {
  return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p));
}

int length_of(std::string_view s) { return static_cast<int>(s.size()); }

std::string_view text_of(const parse_node& node) {
  return std::string_view(node.start, static_cast<size_t>(node.length));
}

std::string_view trim_trailing_blanks(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

const parse_node* child_of_kind(const parse_node& node, toml_rule rule) {
  for (const parse_node& c : node.children()) {
    if (c.kind == node_kind(rule)) return &c;
  }
  return nullptr;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

uint64_t line_end_length(std::string_view s, size_t i) {
  if (i < s.size() && s[i] == '\n') return 1;
  if (i + 1 < s.size() && s[i] == '\r' && s[i + 1] == '\n') return 2;
  return 0;
}

// Reads `count` hex digits at s[i]; false when they are not all there.
bool read_hex(std::string_view s, size_t i, size_t count, uint32_t& value) {
  if (i + count > s.size()) return false;
  value = 0;
  for (size_t k = 0; k < count; ++k) {
    const int d = hex_digit_value(s[i + k]);
    if (d < 0) return false;
    value = value * 16 + static_cast<uint32_t>(d);
  }
  return true;
}

// ---- strings ----

// The byte a one-character escape (\b \t \n \f \r \" \\) stands for, or 0.
char simple_escape(char e) {
  static constexpr std::string_view letters = "btnfr\"\\";
  static constexpr std::string_view bytes = "\b\t\n\f\r\"\\";
  const size_t i = letters.find(e);
  return i == std::string_view::npos ? 0 : bytes[i];
}

// Decodes the escapes of a basic string body. In a multi-line body a backslash followed by
// blanks and a line end removes them and all blank space and line ends after it. An escape
// that cannot be honoured (only the generic multi-line rules of mstring let one through) is
// kept as written.
void decode_basic(std::string_view body, bool multi_line, std::string& out) {
  out.reserve(out.size() + body.size());
  size_t i = 0;
  while (i < body.size()) {
    const char c = body[i];
    if (c != '\\' || i + 1 == body.size()) {
      out.push_back(c);
      ++i;
      continue;
    }
    const char e = body[i + 1];
    const char simple = simple_escape(e);
    if (simple != 0) {
      out.push_back(simple);
      i += 2;
      continue;
    }
    uint32_t cp = 0;
    if (e == 'x' && read_hex(body, i + 2, 2, cp)) {
      out.push_back(static_cast<char>(cp));
      i += 4;
      continue;
    }
    const size_t digits = e == 'u' ? 4 : (e == 'U' ? 8 : 0);
    if (digits != 0 && read_hex(body, i + 2, digits, cp) && cp <= 0x10FFFF &&
        !(cp >= 0xD800 && cp <= 0xDFFF)) {
      append_utf8(cp, out);
      i += 2 + digits;
      continue;
    }
    if (multi_line) {
      size_t j = i + 1;
      while (j < body.size() && is_blank(body[j])) ++j;
      uint64_t n = line_end_length(body, j);
      if (n != 0) {
        while (n != 0) {
          j += n;
          while (j < body.size() && is_blank(body[j])) ++j;
          n = line_end_length(body, j);
        }
        i = j;
        continue;
      }
    }
    out.push_back(c);
    ++i;
  }
}

// A line end right after the opening delimiter of a multi-line string is not part of it.
std::string_view drop_first_line_end(std::string_view body) {
  return body.substr(line_end_length(body, 0));
}

// ---- numbers, dates and times ----

unsigned digits_value(std::string_view s, size_t i, size_t count) {
  unsigned v = 0;
  for (size_t k = 0; k < count; ++k) v = v * 10 + static_cast<unsigned>(s[i + k] - '0');
  return v;
}

bool is_digits(std::string_view s, size_t i, size_t count) {
  if (i + count > s.size()) return false;
  for (size_t k = 0; k < count; ++k) {
    if (s[i + k] < '0' || s[i + k] > '9') return false;
  }
  return true;
}

// Reads HH:MM:SS[.fraction] at s[i]; `used` receives its length.
bool read_time(std::string_view s, size_t i, toml_time& out, size_t& used) {
  if (!is_digits(s, i, 2) || !is_digits(s, i + 3, 2) || !is_digits(s, i + 6, 2) ||
      s[i + 2] != ':' || s[i + 5] != ':') {
    return false;
  }
  out = toml_time{};
  out.hour = static_cast<uint8_t>(digits_value(s, i, 2));
  out.minute = static_cast<uint8_t>(digits_value(s, i + 3, 2));
  out.second = static_cast<uint8_t>(digits_value(s, i + 6, 2));
  size_t n = 8;
  if (i + n < s.size() && s[i + n] == '.') {
    ++n;
    // The fraction to nine digits; digits beyond the nanosecond are read and dropped.
    uint32_t ns = 0;
    size_t digits = 0;
    for (; i + n < s.size() && s[i + n] >= '0' && s[i + n] <= '9'; ++n, ++digits) {
      if (digits < 9) ns = ns * 10 + static_cast<uint32_t>(s[i + n] - '0');
    }
    for (; digits < 9; ++digits) ns *= 10;
    out.nanosecond = ns;
  }
  used = n;
  return true;
}

bool read_date(std::string_view s, toml_date& out) {
  if (!is_digits(s, 0, 4) || !is_digits(s, 5, 2) || !is_digits(s, 8, 2) || s[4] != '-' ||
      s[7] != '-') {
    return false;
  }
  out.year = static_cast<uint16_t>(digits_value(s, 0, 4));
  out.month = static_cast<uint8_t>(digits_value(s, 5, 2));
  out.day = static_cast<uint8_t>(digits_value(s, 8, 2));
  return true;
}

bool read_local_date_time(std::string_view s, toml_local_date_time& out, size_t& used) {
  size_t time_used = 0;
  if (s.size() < 11 || !read_date(s, out.date) || !read_time(s, 11, out.time, time_used)) {
    return false;
  }
  used = 11 + time_used;
  return true;
}

bool convert_offset_date_time_text(std::string_view s, toml_offset_date_time& out) {
  toml_local_date_time local;
  size_t used = 0;
  if (!read_local_date_time(s, local, used)) return false;
  out = toml_offset_date_time{};
  out.date = local.date;
  out.time = local.time;
  const std::string_view offset = s.substr(used);
  if (offset == "Z") return true;
  if (offset.size() != 6 || (offset[0] != '+' && offset[0] != '-') || offset[3] != ':' ||
      !is_digits(offset, 1, 2) || !is_digits(offset, 4, 2)) {
    return false;
  }
  out.negative = offset[0] == '-' ? 1 : 0;
  out.offset_hour = static_cast<uint8_t>(digits_value(offset, 1, 2));
  out.offset_minute = static_cast<uint8_t>(digits_value(offset, 4, 2));
  return true;
}

// strtod reads the decimal point of the current locale; the server may set one, TOML does not.
locale_t c_locale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}

// ---- building ----

class builder {
 public:
  std::unique_ptr<table> build(const parse_node& tree) {
    root_ = std::make_unique<table>();
    for (const parse_node& child : tree.children()) {
      bool ok = true;
      if (child.kind == node_kind(toml_rule::kvp)) {
        ok = build_kvp(child, *root_, 0, false);
      } else if (child.kind == node_kind(toml_rule::table)) {
        ok = build_table(child);
      } else if (child.kind == node_kind(toml_rule::tab_array)) {
        ok = build_tab_array(child);
      }
      if (!ok) return nullptr;
    }
    return std::move(root_);
  }

 private:
  // Splits a `key` node into its parts: bare keys as written, quoted keys unquoted and, in
  // double quotes, with their escapes decoded.
  static bool split_key(const parse_node& key, key_parts& parts) {
    parts.clear();
    if (!key.has_children()) return false;
    const parse_node& inner = *key.first_child;
    if (inner.kind == node_kind(toml_rule::dotted_key)) {
      for (const parse_node& c : inner.children()) add_key_part(c, parts);
    } else {
      add_key_part(inner, parts);
    }
    return !parts.empty();
  }

  static void add_key_part(const parse_node& part, key_parts& parts) {
    const std::string_view t = text_of(part);
    if (part.kind == node_kind(toml_rule::bare_key)) {
      parts.emplace_back(t);
    } else if (part.kind == node_kind(toml_rule::quoted_key) && t.size() >= 2) {
      std::string& s = parts.emplace_back();
      if (t[0] == '"') {
        decode_basic(t.substr(1, t.size() - 2), false, s);
      } else {
        s.assign(t.substr(1, t.size() - 2));
      }
    }
  }

  static bool check_depth(int depth, std::string_view key) {
    if (depth <= max_document_depth) return true;
    std::printf("nesting deeper than %d levels at key %.*s\n", max_document_depth, length_of(key),
                key.data());
    return false;
  }

  // Walks parts [0, count) from `t`: a missing part becomes an empty table, a table is
  // entered, an array of tables is entered through its last element. Anything else fails
  // with "repeat with key" naming the part, or, for a [header] (`header` not null), with
  // "repeat with:" naming the whole header. `depth` goes along with the walk.
  table* walk_path(table* t, const key_parts& parts, size_t count, int& depth,
                   const std::string_view* header) {
    for (size_t i = 0; i < count; ++i) {
      const std::string& part = parts[i];
      value* v = t->lookup(part);
      if (v == nullptr) v = t->insert(part, value::make_table());
      if (v->is_table()) {
        t = &v->as_table();
        depth += 1;
      } else if (v->is_table_array() && !v->as_array().empty()) {
        t = &v->as_array().back()->as_table();
        depth += 2;
      } else {
        if (header != nullptr) {
          std::printf("table@0x%08llx repeat with: %.*s\n", address_of(root_.get()),
                      length_of(*header), header->data());
        } else {
          std::printf("table@0x%08llx repeat with key %.*s\n", address_of(t), length_of(part),
                      part.data());
        }
        return nullptr;
      }
      if (!check_depth(depth, part)) return nullptr;
    }
    return t;
  }

  // A key/value pair relative to `base` (at `depth`). A key already present fails, printing
  // "repeat key" when `report_duplicate` (inside a [header] or [[header]] section).
  bool build_kvp(const parse_node& kvp, table& base, int depth, bool report_duplicate) {
    const parse_node* key = child_of_kind(kvp, toml_rule::key);
    const parse_node* val = child_of_kind(kvp, toml_rule::value);
    key_parts parts;
    if (key == nullptr || val == nullptr || !split_key(*key, parts)) return false;
    table* t = walk_path(&base, parts, parts.size() - 1, depth, nullptr);
    if (t == nullptr) return false;
    if (t->lookup(parts.back()) != nullptr) {
      if (report_duplicate) {
        const std::string_view k = trim_trailing_blanks(text_of(*key));
        std::printf("table@0x%08llx repeat key %.*s\n", address_of(t), length_of(k), k.data());
      }
      return false;
    }
    if (!check_depth(depth + 1, parts.back())) return false;
    value_ptr converted = convert_value(*val, depth + 1);
    if (converted == nullptr) return false;
    return t->insert(parts.back(), std::move(converted)) != nullptr;
  }

  bool fill_section(const parse_node& section, table& target, int depth) {
    for (const parse_node& c : section.children()) {
      if (c.kind == node_kind(toml_rule::kvp) && !build_kvp(c, target, depth, true)) {
        return false;
      }
    }
    return true;
  }

  bool build_table(const parse_node& node) {
    const parse_node* key = child_of_kind(node, toml_rule::key);
    key_parts parts;
    if (key == nullptr || !split_key(*key, parts)) return false;
    const std::string_view header = trim_trailing_blanks(text_of(*key));
    int depth = 0;
    table* target = walk_path(root_.get(), parts, parts.size(), depth, &header);
    return target != nullptr && fill_section(node, *target, depth);
  }

  // [[a.b.c]]: a and b must exist (tables or arrays of tables, the latter entered through
  // their last element); c is an array of tables, created when missing, that receives a new
  // empty table, the target of the section.
  bool build_tab_array(const parse_node& node) {
    const parse_node* key = child_of_kind(node, toml_rule::key);
    key_parts parts;
    if (key == nullptr || !split_key(*key, parts)) return false;
    table* t = root_.get();
    int depth = 0;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
      const std::string& part = parts[i];
      value* v = t->lookup(part);
      if (v == nullptr) {
        std::printf("table/tab_array@0x%08llx is missed with key %.*s\n", address_of(t),
                    length_of(part), part.data());
        return false;
      }
      if (v->is_table()) {
        t = &v->as_table();
        depth += 1;
      } else if (v->is_table_array() && !v->as_array().empty()) {
        t = &v->as_array().back()->as_table();
        depth += 2;
      } else {
        std::printf("table@0x%08llx repeat with key %.*s\n", address_of(t), length_of(part),
                    part.data());
        return false;
      }
      if (!check_depth(depth, part)) return false;
    }
    const std::string& last = parts.back();
    value* array = t->lookup(last);
    if (array == nullptr) {
      array = t->insert(last, value::make_table_array());
      std::printf("table_array@0x%08llx insert tab_array %.*s, pointer is: 0x%08llx\n",
                  address_of(t), length_of(last), last.data(), address_of(array));
    } else if (array->is_table()) {
      std::printf("table_array@0x%08llx is conflict as table with key %.*s\n", address_of(t),
                  length_of(last), last.data());
      return false;
    } else if (!array->is_table_array()) {
      // A plain value or an inline array under that name: no array of tables can go there.
      std::printf("table@0x%08llx repeat with key %.*s\n", address_of(t), length_of(last),
                  last.data());
      return false;
    }
    depth += 2;
    if (!check_depth(depth, last)) return false;
    array->as_array().push_back(value::make_table());
    return fill_section(node, array->as_array().back()->as_table(), depth);
  }

  // Converts a `value` node, or one of its alternatives, placed at `depth`.
  value_ptr convert_value(const parse_node& node, int depth) {
    const std::string_view t = text_of(node);
    switch (node.kind) {
      case node_kind(toml_rule::value):
        if (node.child_count() != 1) break;
        return convert_value(*node.first_child, depth);
      case node_kind(toml_rule::string): {
        std::string s;
        if (!convert_string_text(t, s)) return nullptr;
        return value::make_string(std::move(s));
      }
      case node_kind(toml_rule::mstring): {
        std::string s;
        for (const parse_node& c : node.children()) {
          if ((c.kind == node_kind(toml_rule::ml_basic_string) ||
               c.kind == node_kind(toml_rule::ml_literal_string)) &&
              !convert_string_text(text_of(c), s)) {
            return nullptr;
          }
        }
        return value::make_string(std::move(s));
      }
      case node_kind(toml_rule::boolean):
        return value::make_boolean(!t.empty() && t[0] == 't');
      case node_kind(toml_rule::integer): {
        int64_t i = 0;
        if (!convert_integer_text(t, i)) return nullptr;
        return value::make_integer(i);
      }
      case node_kind(toml_rule::floating): {
        double d = 0;
        if (!convert_float_text(t, d)) return nullptr;
        return value::make_float(d);
      }
      case node_kind(toml_rule::offset_dt): {
        toml_offset_date_time odt;
        if (!convert_offset_date_time_text(t, odt)) return nullptr;
        return value::make_offset_date_time(odt);
      }
      case node_kind(toml_rule::local_dt): {
        toml_local_date_time ldt;
        size_t used = 0;
        if (!read_local_date_time(t, ldt, used) || used != t.size()) return nullptr;
        return value::make_local_date_time(ldt);
      }
      case node_kind(toml_rule::local_date): {
        toml_date d;
        if (!convert_local_date_text(t, d)) return nullptr;
        return value::make_local_date(d);
      }
      case node_kind(toml_rule::local_time): {
        toml_time tm;
        if (!convert_local_time_text(t, tm)) return nullptr;
        return value::make_local_time(tm);
      }
      case node_kind(toml_rule::array):
        return convert_array(node, depth);
      case node_kind(toml_rule::inline_table):
        return convert_inline_table(node, depth);
      default:
        break;
    }
    std::printf("unknow type: %d\n", node.kind);
    return nullptr;
  }

  value_ptr convert_array(const parse_node& node, int depth) {
    value_ptr array = value::make_array();
    for (const parse_node& c : node.children()) {
      if (c.kind != node_kind(toml_rule::value)) continue;
      if (!check_depth(depth + 1, "[]")) return nullptr;
      value_ptr item = convert_value(c, depth + 1);
      if (item == nullptr) return nullptr;
      array->as_array().push_back(std::move(item));
    }
    return array;
  }

  value_ptr convert_inline_table(const parse_node& node, int depth) {
    value_ptr v = value::make_table();
    table& t = v->as_table();
    t.mark = 1;
    for (const parse_node& c : node.children()) {
      if (c.kind == node_kind(toml_rule::inline_kvp) && !build_kvp(c, t, depth, false)) {
        return nullptr;
      }
    }
    return v;
  }

  std::unique_ptr<table> root_;
};

}  // namespace

bool convert_string_text(std::string_view text, std::string& out) {
  const bool multi =
      text.size() >= 6 && (text.substr(0, 3) == "\"\"\"" || text.substr(0, 3) == "'''");
  const size_t delimiter = multi ? 3 : 1;
  if (text.size() < 2 * delimiter) return false;
  std::string_view body = text.substr(delimiter, text.size() - 2 * delimiter);
  if (multi) body = drop_first_line_end(body);
  if (text[0] == '"') {
    decode_basic(body, multi, out);
  } else if (text[0] == '\'') {
    out.append(body);
  } else {
    return false;
  }
  return true;
}

// An optional sign, then "0b", "0o" or "0x" digits or decimal digits; underscores skipped;
// accumulated in 64 bits with wrap-around, as the grammar checks no range.
bool convert_integer_text(std::string_view text, int64_t& out) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  unsigned base = 10;
  if (i + 1 < text.size() && text[i] == '0') {
    const char p = text[i + 1];
    base = p == 'b' ? 2 : (p == 'o' ? 8 : (p == 'x' ? 16 : 10));
    if (base != 10) i += 2;
  }
  uint64_t v = 0;
  bool any = false;
  for (; i < text.size(); ++i) {
    if (text[i] == '_') continue;
    const int d = hex_digit_value(text[i]);
    if (d < 0 || static_cast<unsigned>(d) >= base) return false;
    v = v * base + static_cast<uint64_t>(d);
    any = true;
  }
  if (!any) return false;
  out = static_cast<int64_t>(negative ? 0 - v : v);
  return true;
}

bool convert_float_text(std::string_view text, double& out) {
  std::string_view t = text;
  bool negative = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  if (t == "nan" || t == "inf") {
    out = t == "nan" ? std::nan("") : HUGE_VAL;
    if (negative) out = -out;
    return true;
  }
  // Underscores removed, then cut to its first 95 characters.
  char buffer[96];
  size_t n = 0;
  for (char c : text) {
    if (c == '_') continue;
    if (n == sizeof buffer - 1) break;
    buffer[n++] = c;
  }
  buffer[n] = 0;
  if (n == 0) return false;
  char* end = nullptr;
  const locale_t c = c_locale();
  out = c != static_cast<locale_t>(nullptr) ? strtod_l(buffer, &end, c) : std::strtod(buffer, &end);
  return end != buffer;
}

bool convert_local_date_text(std::string_view text, toml_date& out) {
  return text.size() == 10 && read_date(text, out);
}

bool convert_local_time_text(std::string_view text, toml_time& out) {
  size_t used = 0;
  return read_time(text, 0, out, used) && used == text.size();
}

std::unique_ptr<table> build_toml_document(const parse_node& tree) { return builder().build(tree); }

}  // namespace qn::config
