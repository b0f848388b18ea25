#include "engine/commands/logged_node.h"

namespace qn::db::nosql {

void append_quoted(std::string_view text, std::string& out) {
  static constexpr char hex[] = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b > 0x7e) {
      out += "\\x";
      out += hex[b >> 4];
      out += hex[b & 0xF];
    } else {
      out += c;
    }
  }
  out += '"';
}

}  // namespace qn::db::nosql
