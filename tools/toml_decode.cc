// toml_decode: reads one TOML document on standard input and prints it as the tagged JSON of
// the toml-test conformance suite. Exits 0 with the JSON when the configuration reader accepts
// the text, 1 (with the reason on standard error) when it does not.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "config/toml_document.h"
#include "config/toml_reader.h"

namespace {

using qn::config::table;
using qn::config::value;
using qn::config::value_type;

std::string read_all(FILE* in) {
  std::string text;
  char buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, n);
  return text;
}

void append_json_string(std::string_view s, std::string& out) {
  out.push_back('"');
  for (const char c : s) {
    const auto b = static_cast<unsigned char>(c);
    const size_t named = std::string_view("\"\\\b\f\n\r\t").find(c);
    if (c != 0 && named != std::string_view::npos) {
      out.push_back('\\');
      out.push_back("\"\\bfnrt"[named]);
    } else if (b < 0x20 || b == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", b);
      out += escape;
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
}

void append_tagged(const char* type, std::string_view text, std::string& out) {
  out += "{\"type\":\"";
  out += type;
  out += "\",\"value\":";
  append_json_string(text, out);
  out += "}";
}

std::string format_date(const qn::config::toml_date& d) {
  char s[16];
  std::snprintf(s, sizeof s, "%04u-%02u-%02u", d.year, d.month, d.day);
  return s;
}

std::string format_time(const qn::config::toml_time& t) {
  char s[32];
  std::snprintf(s, sizeof s, "%02u:%02u:%02u", t.hour, t.minute, t.second);
  std::string out = s;
  if (t.nanosecond != 0) {
    std::snprintf(s, sizeof s, ".%09u", t.nanosecond);
    out += s;
  }
  return out;
}

std::string format_float(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
  char s[40];
  std::snprintf(s, sizeof s, "%.17g", d);
  return s;
}

void append_table(const table& t, std::string& out);

// Recursion depth is bounded by the builder's nesting limit.
void append_value(const value& v, std::string& out) {
  switch (v.type()) {
    case value_type::boolean:
      append_tagged("bool", v.as_boolean() ? "true" : "false", out);
      return;
    case value_type::integer:
      append_tagged("integer", std::to_string(v.as_integer()), out);
      return;
    case value_type::floating:
      append_tagged("float", format_float(v.as_float()), out);
      return;
    case value_type::offset_date_time: {
      const auto& odt = v.as_offset_date_time();
      char offset[16];
      std::snprintf(offset, sizeof offset, "%c%02u:%02u", odt.negative ? '-' : '+', odt.offset_hour,
                    odt.offset_minute);
      append_tagged("datetime", format_date(odt.date) + "T" + format_time(odt.time) + offset, out);
      return;
    }
    case value_type::local_date_time: {
      const auto& ldt = v.as_local_date_time();
      append_tagged("datetime-local", format_date(ldt.date) + "T" + format_time(ldt.time), out);
      return;
    }
    case value_type::local_date:
      append_tagged("date-local", format_date(v.as_local_date()), out);
      return;
    case value_type::local_time:
      append_tagged("time-local", format_time(v.as_local_time()), out);
      return;
    case value_type::string:
      append_tagged("string", v.as_string(), out);
      return;
    case value_type::array:
    case value_type::table_array: {
      out.push_back('[');
      bool first = true;
      for (const auto& item : v.as_array()) {
        if (!first) out.push_back(',');
        first = false;
        append_value(*item, out);
      }
      out.push_back(']');
      return;
    }
    case value_type::table:
      append_table(v.as_table(), out);
      return;
  }
}

void append_table(const table& t, std::string& out) {
  out.push_back('{');
  bool first = true;
  for (const auto& e : t.entries()) {
    if (!first) out.push_back(',');
    first = false;
    append_json_string(*e.key, out);
    out.push_back(':');
    append_value(*e.item, out);
  }
  out.push_back('}');
}

// Reads and builds the document; the reader's own messages go wherever stdout points now.
std::unique_ptr<table> read_document(const std::string& text) {
  auto reader = qn::config::toml_reader::create();
  if (reader == nullptr) {
    std::fprintf(stderr, "toml_decode: the TOML grammar does not compile\n");
    return nullptr;
  }
  const qn::config::parse_ptr tree = reader->parse(text);
  if (tree == nullptr) {
    std::fprintf(stderr, "error at position: %zu\n", reader->failure_offset(text));
    return nullptr;
  }
  // The reader stops silently at a syntax error after valid content and keeps what came
  // before (the server relies on that). A conformance decoder must reject such text, so any
  // text the parse did not consume to its end is refused here.
  if (tree->length != text.size()) {
    std::fprintf(stderr, "syntax error at position: %zu\n", reader->failure_offset(text));
    return nullptr;
  }
  return reader->build_document(*tree);
}

}  // namespace

int main() {
  const std::string text = read_all(stdin);

  // Standard output carries only the JSON: the reader's messages go to standard error.
  std::fflush(stdout);
  const int saved_stdout = dup(STDOUT_FILENO);
  if (saved_stdout < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    std::perror("toml_decode: dup");
    return 1;
  }
  std::unique_ptr<table> document = read_document(text);
  std::fflush(stdout);
  dup2(saved_stdout, STDOUT_FILENO);
  close(saved_stdout);
  if (document == nullptr) return 1;

  std::string json;
  append_table(*document, json);
  json.push_back('\n');
  std::fwrite(json.data(), 1, json.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
