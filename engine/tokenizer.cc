#include "engine/tokenizer.h"

#include <array>

namespace qn::db::nosql {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte after a backslash mapped to the byte it stands for, for bytes from space to 'w';
// `no_mapping` where the escape writes nothing. Built once, before the first command.
constexpr int no_mapping = -1;
constexpr std::array<int, 128> make_escape_table() {
  std::array<int, 128> table{};
  for (int& entry : table) entry = no_mapping;
  table['"'] = '"';
  table['\''] = '\'';
  table['\\'] = '\\';
  table['a'] = 7;
  table['b'] = 8;
  table['f'] = 12;
  table['n'] = 10;
  table['r'] = 13;
  table['t'] = 9;
  table['v'] = 11;
  return table;
}
constexpr std::array<int, 128> escape_table = make_escape_table();

// Reads n bytes as hexadecimal digits; a byte that is not a digit counts as 0.
uint32_t read_code_point(std::string_view raw, size_t at, int n) {
  uint32_t value = 0;
  for (int k = 0; k < n; ++k) {
    const int d = at + k < raw.size() ? hex_value(raw[at + k]) : -1;
    value = value * 16 + static_cast<uint32_t>(d < 0 ? 0 : d);
  }
  return value;
}

void append_utf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes the raw bytes between two quotes. A \U escape beyond 0x10FFFF ends the decoding; the
// bytes decoded before it stay.
void decode_quoted(std::string_view raw, std::string& out) {
  out.clear();
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\') {
      out += raw[i];
      continue;
    }
    if (++i >= raw.size()) return;
    const char e = raw[i];
    if (e == 'u' || e == 'U') {
      const int digits = e == 'u' ? 4 : 8;
      const uint32_t cp = read_code_point(raw, i + 1, digits);
      if (cp > 0x10FFFF) return;
      append_utf8(cp, out);
      i += digits;
    } else if (e == 'x') {
      const int hi = i + 1 < raw.size() ? hex_value(raw[i + 1]) : -1;
      const int lo = i + 2 < raw.size() ? hex_value(raw[i + 2]) : -1;
      out += static_cast<char>(hi < 0 || lo < 0 ? 0 : hi * 16 + lo);
      i += 2;
    } else {
      const auto b = static_cast<unsigned char>(e);
      const int mapped = b < escape_table.size() ? escape_table[b] : no_mapping;
      if (mapped != no_mapping) out += static_cast<char>(mapped);
    }
  }
}

// How many bytes after a backslash its escape covers while scanning for the closing quote.
size_t escape_length(std::string_view line, size_t backslash) {
  if (backslash + 1 >= line.size()) return 1;
  switch (line[backslash + 1]) {
    case 'u':
      return 5;
    case 'U':
      return 9;
    case 'x':
      return 3;
    default:
      return 1;
  }
}

}  // namespace

int tokenize(std::string_view line, token (&tokens)[max_tokens]) {
  int count = 0;
  bool in_quote = false;
  bool open = !line.empty() && line[0] != ' ';
  size_t start = 0;
  size_t quote_at = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    if (count == max_tokens) return 0;
    const char c = line[i];
    if (in_quote) {
      if (c == '\\') {
        i += escape_length(line, i);
      } else if (c == '"') {
        token& t = tokens[count++];
        decode_quoted(line.substr(quote_at + 1, i - quote_at - 1), t.owned);
        t.text = t.owned;
        t.quoted = true;
        in_quote = false;
      }
      continue;
    }
    if (c == ' ') {
      if (open) {
        tokens[count++] = token{line.substr(start, i - start), {}, false};
        open = false;
      }
    } else if (c == '"') {
      if (open) return 0;
      in_quote = true;
      quote_at = i;
    } else if (!open) {
      open = true;
      start = i;
    }
  }
  if (in_quote) return 0;
  if (open) {
    if (count == max_tokens) return 0;
    tokens[count++] = token{line.substr(start), {}, false};
  }
  return count;
}

bool resolve_container(const container_registry& registry, std::string_view text, bool quoted,
                       uint64_t& slot) {
  if (quoted) return registry.find_by_name(text, slot);
  const bool hex = text.size() >= 2 && (text[1] == 'x' || text[1] == 'X');
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= 9 && text[i] <= 13))) ++i;
  if (i < text.size() && text[i] == '+') ++i;
  if (hex && i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    i += 2;
  }
  const unsigned base = hex ? 16 : 10;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const int d = hex_value(text[i]);
    if (d < 0 || static_cast<unsigned>(d) >= base) return false;
    value = value * base + static_cast<unsigned>(d);
  }
  slot = value;
  return true;
}

ab_adt* container_of(const container_registry& registry, const token& token, uint64_t& slot) {
  if (!resolve_container(registry, token.text, token.is_name(), slot)) return nullptr;
  return registry.container_at(slot);
}

}  // namespace qn::db::nosql
