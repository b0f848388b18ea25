#include "client/format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <type_traits>
#include <vector>

namespace qn::client {

namespace {

constexpr std::array<std::string_view, 7> introspection_labels = {
    "skey", "vkey", "vkey(hex)", "count", "ctype", "ktype", "vtype"};

// Length of the valid UTF-8 sequence that starts at s[i] (overlong forms, surrogates and code
// points above U+10FFFF are invalid), or 0 when the byte does not start one. Sets `code_point`.
size_t utf8_sequence(std::string_view s, size_t i, uint32_t& code_point) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t b0 = byte(i);
  size_t n = 0;
  uint32_t lowest = 0;
  if (b0 < 0x80) {
    code_point = b0;
    return 1;
  } else if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2, lowest = 0x80, code_point = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3, lowest = 0x800, code_point = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4, lowest = 0x10000, code_point = b0 & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code_point = (code_point << 6) | (byte(i + k) & 0x3F);
  }
  if (code_point < lowest || code_point > 0x10FFFF) return 0;
  if (code_point >= 0xD800 && code_point <= 0xDFFF) return 0;
  return n;
}

bool is_valid_utf8(std::string_view s) {
  uint32_t cp = 0;
  for (size_t i = 0; i < s.size();) {
    const size_t n = utf8_sequence(s, i, cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// Characters as a terminal shows them: one per UTF-8 sequence, one per other byte.
size_t display_width(std::string_view s) {
  size_t width = 0;
  uint32_t cp = 0;
  for (size_t i = 0; i < s.size(); ++width) {
    const size_t n = utf8_sequence(s, i, cp);
    i += n == 0 ? 1 : n;
  }
  return width;
}

void append_hex_byte(uint8_t b, std::string_view prefix, std::string& out) {
  static constexpr char digits[] = "0123456789abcdef";
  out.append(prefix);
  out.push_back(digits[b >> 4]);
  out.push_back(digits[b & 0xF]);
}

// The escape letter the command language decodes back into byte `b`, or 0 for none.
char escape_letter(uint8_t b) {
  switch (b) {
    case '"':
      return '"';
    case '\\':
      return '\\';
    case '\a':
      return 'a';
    case '\b':
      return 'b';
    case '\f':
      return 'f';
    case '\n':
      return 'n';
    case '\r':
      return 'r';
    case '\t':
      return 't';
    case '\v':
      return 'v';
  }
  return 0;
}

// True when a table cell can show the text without quotes and still be read unambiguously.
bool is_bare_cell(std::string_view s) {
  uint32_t cp = 0;
  for (size_t i = 0; i < s.size();) {
    const size_t n = utf8_sequence(s, i, cp);
    if (n == 0 || cp <= 0x20 || cp == '"' || cp == '\\' || (cp >= 0x7F && cp < 0xA0)) {
      return false;
    }
    i += n;
  }
  return true;
}

// Labels are short words of the server's ("vkey", "erase vkey"): printed bare unless a byte of
// theirs would need an escape.
std::string quote_label(std::string_view label) {
  std::string quoted = quote_bytes(label);
  return quoted.size() == label.size() + 2 ? std::string(label) : quoted;
}

template <class F>
std::string format_floating(F v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
  char buffer[64];
  const auto end = std::to_chars(buffer, buffer + sizeof(buffer), v).ptr;
  return std::string(buffer, end);
}

bool is_number(const value& v) {
  return !std::holds_alternative<std::string>(v) && !std::holds_alternative<date>(v) &&
         !std::holds_alternative<time>(v) && !std::holds_alternative<date_time>(v);
}

std::string format_cell(const value& v) {
  if (const auto* s = std::get_if<std::string>(&v)) {
    return is_bare_cell(*s) ? *s : quote_bytes(*s);
  }
  return format_value(v);
}

void append_padded(std::string_view text, size_t width, bool is_right_aligned, std::string& out) {
  const size_t pad = width - std::min(width, display_width(text));
  if (is_right_aligned) out.append(pad, ' ');
  out.append(text);
  if (!is_right_aligned) out.append(pad, ' ');
}

void append_item(const reply_item& item, std::string& out) {
  const bool has_label = !item.label.empty();
  if (item.values.size() == 1) {
    if (has_label) out.append(quote_label(item.label)).append(": ");
    out.append(format_value(item.values[0])).push_back('\n');
    return;
  }
  if (item.values.empty()) {
    if (has_label) out.append(quote_label(item.label)).append(": ");
    out.append("(empty)\n");
    return;
  }
  if (has_label) out.append(quote_label(item.label)).append(":\n");
  for (const value& v : item.values) {
    if (has_label) out.append("  ");
    out.append(format_value(v)).push_back('\n');
  }
}

// ---- JSON ----

void append_json_text(std::string_view s, std::string& out) {
  if (!is_valid_utf8(s)) {
    out.append("{\"hex\":\"");
    for (const char c : s) append_hex_byte(static_cast<uint8_t>(c), "", out);
    out.append("\"}");
    return;
  }
  out.push_back('"');
  for (const char c : s) {
    const auto b = static_cast<uint8_t>(c);
    switch (b) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      case '\b':
        out.append("\\b");
        break;
      case '\f':
        out.append("\\f");
        break;
      default:
        if (b < 0x20) {
          append_hex_byte(b, "\\u00", out);
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
}

void append_json_value(const value& v, std::string& out) {
  std::visit(
      [&]<class T>(const T& x) {
        if constexpr (std::is_same_v<T, std::string>) {
          append_json_text(x, out);
        } else if constexpr (std::is_floating_point_v<T>) {
          const std::string text = format_floating(x);
          if (std::isfinite(x)) {
            out.append(text);
          } else {
            append_json_text(text, out);
          }
        } else if constexpr (std::is_integral_v<T>) {
          out.append(std::to_string(x));
        } else {
          out.push_back('"');
          out.append(format_value(v));
          out.push_back('"');
        }
      },
      v);
}

}  // namespace

std::string format_date(const date& d) {
  char buffer[32];
  const int n = std::snprintf(buffer, sizeof(buffer), "%04u-%02u-%02u", unsigned{d.year},
                              unsigned{d.month}, unsigned{d.day});
  return std::string(buffer, static_cast<size_t>(n));
}

std::string format_time(const time& t) {
  char buffer[48];
  int n = std::snprintf(buffer, sizeof(buffer), "%02u:%02u:%02u", unsigned{t.hour},
                        unsigned{t.minute}, unsigned{t.second});
  std::string text(buffer, static_cast<size_t>(n));
  const uint32_t ns = t.nanosecond;
  if (ns == 0) return text;
  // A well-formed value has fewer than 10^9 nanoseconds; a larger one is shown with all its
  // digits rather than cut, so that nothing is hidden.
  n = ns < 1000000000u ? std::snprintf(buffer, sizeof(buffer), ".%09u", unsigned{ns})
                       : std::snprintf(buffer, sizeof(buffer), ".%u", unsigned{ns});
  std::string_view fraction(buffer, static_cast<size_t>(n));
  while (fraction.back() == '0') fraction.remove_suffix(1);
  return text.append(fraction);
}

std::string format_date_time(const date_time& dt) {
  return format_date(dt.date_part) + 'T' + format_time(dt.time_part);
}

std::string quote_bytes(std::string_view bytes) {
  std::string out = "\"";
  uint32_t cp = 0;
  for (size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<uint8_t>(bytes[i]);
    if (const char letter = escape_letter(b); letter != 0) {
      out.push_back('\\');
      out.push_back(letter);
      ++i;
      continue;
    }
    const size_t n = utf8_sequence(bytes, i, cp);
    if (n == 0 || cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
      append_hex_byte(b, "\\x", out);
      ++i;
      continue;
    }
    out.append(bytes.substr(i, n));
    i += n;
  }
  out.push_back('"');
  return out;
}

std::string format_value(const value& v) {
  return std::visit(
      [](const auto& x) -> std::string {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::string>) {
          return quote_bytes(x);
        } else if constexpr (std::is_floating_point_v<T>) {
          return format_floating(x);
        } else if constexpr (std::is_integral_v<T>) {
          return std::to_string(x);
        } else if constexpr (std::is_same_v<T, date>) {
          return format_date(x);
        } else if constexpr (std::is_same_v<T, time>) {
          return format_time(x);
        } else {
          return format_date_time(x);
        }
      },
      v);
}

std::string_view type_word(type_descriptor d) {
  const std::string_view name = type_name(d);
  return name.empty() ? "untyped" : name;
}

bool is_introspection_reply(const command_reply& reply) {
  if (!reply.is_success || reply.items.size() != introspection_labels.size()) return false;
  for (size_t i = 0; i < introspection_labels.size(); ++i) {
    const reply_item& item = reply.items[i];
    if (item.label != introspection_labels[i]) return false;
    if (item.values.size() != reply.items[0].values.size()) return false;
  }
  return true;
}

std::string format_table(const command_reply& reply) {
  const size_t columns = reply.items.size();
  const size_t rows = columns == 0 ? 0 : reply.items[0].values.size();
  // cells[r][c], row 0 being the header.
  std::vector<std::vector<std::string>> cells(rows + 1, std::vector<std::string>(columns));
  std::vector<size_t> widths(columns, 0);
  std::vector<bool> is_numeric(columns, false);
  for (size_t c = 0; c < columns; ++c) {
    const reply_item& item = reply.items[c];
    cells[0][c] = item.label;
    is_numeric[c] = rows > 0 && is_number(item.values[0]);
    for (size_t r = 0; r < rows; ++r) cells[r + 1][c] = format_cell(item.values[r]);
    for (size_t r = 0; r <= rows; ++r) widths[c] = std::max(widths[c], display_width(cells[r][c]));
  }
  std::string out;
  for (const auto& row : cells) {
    std::string line;
    for (size_t c = 0; c < columns; ++c) {
      if (c != 0) line.append("  ");
      append_padded(row[c], widths[c], is_numeric[c], line);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out.append(line).push_back('\n');
  }
  return out;
}

std::string format_reply(const command_reply& reply) {
  if (reply.items.empty()) return "(empty)\n";
  if (is_introspection_reply(reply)) return format_table(reply);
  std::string out;
  for (const reply_item& item : reply.items) append_item(item, out);
  return out;
}

std::string format_outcome(result r, const command_reply& reply) {
  switch (r) {
    case result::ok:
      return format_reply(reply);
    case result::command_failed:
      return "failed\n";
    default:
      return {};
  }
}

std::string format_json(std::string_view command, result r, const command_reply& reply,
                        std::string_view error_text) {
  std::string out = "{\"command\":";
  append_json_text(command, out);
  if (r == result::command_failed) return out.append(",\"status\":\"failed\"}\n");
  if (r != result::ok) {
    out.append(",\"status\":\"error\",\"error\":");
    append_json_text(error_text, out);
    return out.append("}\n");
  }
  out.append(",\"status\":\"ok\",\"items\":[");
  for (size_t i = 0; i < reply.items.size(); ++i) {
    const reply_item& item = reply.items[i];
    if (i != 0) out.push_back(',');
    out.append("{\"label\":");
    append_json_text(item.label, out);
    out.append(",\"type\":\"").append(type_word(item.type)).append("\",\"values\":[");
    for (size_t k = 0; k < item.values.size(); ++k) {
      if (k != 0) out.push_back(',');
      append_json_value(item.values[k], out);
    }
    out.append("]}");
  }
  return out.append("]}\n");
}

}  // namespace qn::client
