// Test helpers for the TOML reader: reading a text to a document and rendering it compactly.
// Test-only; no state.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>

#include "config/toml_document.h"
#include "config/toml_reader.h"

namespace qn::config::testing_support {

inline std::string render_value(const value& v);

// {key=value, ...} in insertion order.
inline std::string render_table(const table& t) {
  std::string out = "{";
  for (size_t i = 0; i < t.entries().size(); ++i) {
    if (i != 0) out += ", ";
    out += *t.entries()[i].key + "=" + render_value(*t.entries()[i].item);
  }
  return out + "}";
}

// Scalars as type:text; strings quoted with non-printable bytes as \xNN.
inline std::string render_value(const value& v) {
  char s[96];
  switch (v.type()) {
    case value_type::boolean:
      return v.as_boolean() ? "true" : "false";
    case value_type::integer:
      return "i:" + std::to_string(v.as_integer());
    case value_type::floating:
      std::snprintf(s, sizeof s, "f:%g", v.as_float());
      return s;
    case value_type::offset_date_time: {
      const auto& o = v.as_offset_date_time();
      std::snprintf(s, sizeof s, "odt:%04u-%02u-%02uT%02u:%02u:%02u.%09u%c%02u:%02u", o.date.year,
                    o.date.month, o.date.day, o.time.hour, o.time.minute, o.time.second,
                    o.time.nanosecond, o.negative ? '-' : '+', o.offset_hour, o.offset_minute);
      return s;
    }
    case value_type::local_date_time: {
      const auto& l = v.as_local_date_time();
      std::snprintf(s, sizeof s, "ldt:%04u-%02u-%02uT%02u:%02u:%02u.%09u", l.date.year,
                    l.date.month, l.date.day, l.time.hour, l.time.minute, l.time.second,
                    l.time.nanosecond);
      return s;
    }
    case value_type::local_date: {
      const auto& d = v.as_local_date();
      std::snprintf(s, sizeof s, "ld:%04u-%02u-%02u", d.year, d.month, d.day);
      return s;
    }
    case value_type::local_time: {
      const auto& t = v.as_local_time();
      std::snprintf(s, sizeof s, "lt:%02u:%02u:%02u.%09u", t.hour, t.minute, t.second,
                    t.nanosecond);
      return s;
    }
    case value_type::string: {
      std::string out = "\"";
      for (const char c : v.as_string()) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7f) {
          std::snprintf(s, sizeof s, "\\x%02x", b);
          out += s;
        } else {
          out.push_back(c);
        }
      }
      return out + "\"";
    }
    case value_type::array:
    case value_type::table_array: {
      std::string out = v.type() == value_type::array ? "[" : "[[";
      for (size_t i = 0; i < v.as_array().size(); ++i) {
        if (i != 0) out += ", ";
        out += render_value(*v.as_array()[i]);
      }
      return out + (v.type() == value_type::array ? "]" : "]]");
    }
    case value_type::table:
      return render_table(v.as_table());
  }
  return "?";
}

// What reading a text gives: the rendered document, or "null", with the stdout messages.
struct read_result {
  std::string document;
  std::string messages;
};

// Parses and builds `text`, replacing every 0x... address in the messages by "@".
inline read_result read_text(std::string_view text) {
  static const auto reader = toml_reader::create();
  ::testing::internal::CaptureStdout();
  std::string document = "null";
  if (const parse_ptr tree = reader->parse(text)) {
    if (const auto doc = reader->build_document(*tree)) document = render_table(*doc);
  }
  const std::string raw = ::testing::internal::GetCapturedStdout();
  std::string messages;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw.compare(i, 2, "0x") == 0) {
      messages += "@";
      i += 2;
      while (i < raw.size() && std::isxdigit(static_cast<unsigned char>(raw[i]))) ++i;
      --i;
    } else {
      messages.push_back(raw[i]);
    }
  }
  return {document, messages};
}

}  // namespace qn::config::testing_support
