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

// Integers and local times as type:text (the other scalars have no form here: the conformance
// corpus checks them); strings quoted with non-printable bytes as \xNN.
inline std::string render_value(const value& v) {
  char s[96];
  switch (v.type()) {
    case value_type::integer:
      return "i:" + std::to_string(v.as_integer());
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
    default:
      return "?";
  }
}

// `raw` with every 0x... address replaced by "@", so that messages compare as text.
inline std::string without_addresses(std::string_view raw) {
  std::string out;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw.substr(i, 2) != "0x") {
      out.push_back(raw[i]);
      continue;
    }
    out += "@";
    for (i += 2; i < raw.size() && std::isxdigit(static_cast<unsigned char>(raw[i]));) ++i;
    --i;
  }
  return out;
}

// What reading a text gives: the rendered document, or "null", with the stdout messages.
struct read_result {
  std::string document;
  std::string messages;
};

// Parses and builds `text`; messages as without_addresses shows them.
inline read_result read_text(std::string_view text) {
  static const auto reader = toml_reader::create();
  ::testing::internal::CaptureStdout();
  std::string document = "null";
  if (const parse_ptr tree = reader->parse(text)) {
    if (const auto doc = reader->build_document(*tree)) document = render_table(*doc);
  }
  return {document, without_addresses(::testing::internal::GetCapturedStdout())};
}

}  // namespace qn::config::testing_support
