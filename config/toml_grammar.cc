#include "config/toml_grammar.h"

#include "config/utf8.h"

namespace qn::config {

// The TOML grammar, rule for rule; the comment after each rule is its number. Eleven rules are
// replaced by the recognisers below, but their text stays as the reference of their syntax.
const std::string_view toml_grammar_text = R"toml(
syntax            = block;  //0x00
block             = <[unstr],(kvp|table|tab_array),[unstr]>;  //0x01
ws                = 0x09~0x09 | 0x20~0x20;  //0x02
endline           = 0x0a~0x0a | 0x0d~0x0d, 0x0a~0x0a;  //0x03
line_comment      = '#', {`"'\`|basic_char}, endline;  //0x04
basic_char        = 0x20~0x21|0x23~0x26|0x28~0x5b|0x5d~0x7e|0x09~0x09|0x80~0x03134F;  //0x05
kvp               = {ws}, key, {ws}, '=', {ws}, value, {ws}, (line_comment | [endline]);  //0x06
dotted_key        = {ws}, (quoted_key|bare_key), < {ws}, '.', {ws}, (quoted_key|bare_key), {ws} >;  //0x07
key               = dotted_key | bare_key | quoted_key;  //0x08
quoted_key        = '"', {basic_char | character_escape}, '"' | "'", {!"'"}, "'";  //0x09
bare_key          = <key_char>;  //0x0a
key_char          = 'a'~'z' | 'A'~'Z' | '0'~'9' | '_' | '-';  //0x0b
value             = mstring | string | bool | offset_dt | local_dt | local_date | local_time | float | integer | array | inline_table;  //0x0c
string            = ml_basic_string | ml_literal_string | basic_string | literal_string;  //0x0d
basic_string      = '"', {basic_char | character_escape}, '"';  //0x0e
ml_basic_string   = '"""', [endline], {basic_char | character_escape | !'"""' | '\', endline, [ws]}, '"""';  //0x0f
literal_string    = "'", {!"'"}, "'";  //0x10
ml_literal_string = "'''", [endline], {!"'''"}, "'''";  //0x11
character_escape  = control_escape | unicode_escape | hex_escape;  //0x12
control_escape    = '\', `"\bfnrt`;  //0x13
hex_digit         = digit | 'a'~'f' | 'A'~'F';  //0x14
unicode_escape    = '\', 'u', 4{hex_digit}4 | '\', 'U', 8{hex_digit}8;  //0x15
digit             = '0'~'9';  //0x16
integer           = ['+'|'-'], (uint_bin | uint_hex | uint_oct | uint_dec);  //0x17
uint_bin          = "0b", <'0'~'1',['_']>;  //0x18
uint_hex          = "0x", <hex_digit,['_']>;  //0x19
uint_dec          = <digit,['_']>;  //0x1a
uint_oct          = "0o", <'0'~'7',['_']>;  //0x1b
float             = ['+'|'-'], (uint_dec, (fraction, [exponent] | exponent) | special_float);  //0x1c
special_float     = "nan" | "inf";  //0x1d
fraction          = '.', [uint_dec];  //0x1e
exponent          = ('E'|'e'), ['+'|'-'], uint_dec;  //0x1f
bool              = "true" | "false";  //0x20
offset_dt         = local_dt, time_offset;  //0x21
local_date        = digit, digit, digit, digit, '-', digit, digit, '-', digit, digit;  //0x22
local_time        = digit, digit, ':', digit, digit, ':', digit, digit, [secfrac];  //0x23
secfrac           = '.', 3{digit};  //0x24
time_offset       = 'Z' | ('+'|'-'), digit, digit, ':', digit, digit;  //0x25
local_dt          = local_date, ('T'|' '), local_time;  //0x26
array             = '[', [{unstr}, value, {unstr}, {',', {unstr}, value, {unstr} }, [',']], {unstr}, ']';  //0x27
table             = '[', {ws}, key, {ws}, ']', {ws}, <line_comment | endline>, {kvp|unstr};  //0x28
inline_table      = '{', [inline_kvp, {',', inline_kvp }], {ws}, '}';  //0x29
unstr             = <line_comment | endline | ws>;  //0x2a
inline_kvp        = {ws}, key, {ws}, '=', {ws}, value, {ws};  //0x2b
tab_array         = '[[', {ws}, key, {ws}, ']]', {ws}, <line_comment | endline>, {kvp|unstr};  //0x2c
hex_escape        = '\', 'x', hex_digit, hex_digit;  //0x2d
mstring           = 2{(ml_basic_string | ml_literal_string), {ws|endline}};  //0x2e
)toml";

namespace {

parse_ptr recognised(toml_rule rule, const char* p, uint64_t length) {
  return make_parse_node(node_kind(rule), p, length);
}

parse_ptr fail_at(const char* p) {
  raise_furthest_failure(p);
  return nullptr;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_bin_digit(char c) { return c == '0' || c == '1'; }
bool is_oct_digit(char c) { return c >= '0' && c <= '7'; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_bare_key_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(c) || c == '_' || c == '-';
}

// Digits each optionally followed by one underscore (the grammar's <digit, ['_']>); returns
// how many bytes that covers, 0 when no digit comes first.
template <class IsDigit>
uint64_t digits_with_underscores(const char* p, uint64_t r, IsDigit is_digit_char) {
  uint64_t i = 0;
  while (i < r && is_digit_char(p[i])) {
    ++i;
    if (i < r && p[i] == '_') ++i;
  }
  return i;
}

template <class IsDigit>
parse_ptr match_prefixed_uint(toml_rule rule, std::string_view prefix, const char* p, uint64_t r,
                              IsDigit is_digit_char) {
  if (r < prefix.size() || std::string_view(p, prefix.size()) != prefix) return fail_at(p);
  const uint64_t n = digits_with_underscores(p + prefix.size(), r - prefix.size(), is_digit_char);
  if (n == 0) return fail_at(p);
  return recognised(rule, p, prefix.size() + n);
}

// Length of the escape sequence at p (p[0] is a backslash), or 0 when it is not one: \b \t \n
// \f \r \" \\, \u with 4 and \U with 8 hex digits naming a Unicode scalar value (no surrogate,
// at most 0x10FFFF; no other value has a UTF-8 form), and, when `allow_hex`, \x with 2 hex
// digits.
uint64_t escape_length(const char* p, uint64_t r, bool allow_hex) {
  if (r < 2) return 0;
  uint64_t digits = 0;
  switch (p[1]) {
    case 'b':
    case 't':
    case 'n':
    case 'f':
    case 'r':
    case '"':
    case '\\':
      return 2;
    case 'u':
      digits = 4;
      break;
    case 'U':
      digits = 8;
      break;
    case 'x':
      if (!allow_hex) return 0;
      digits = 2;
      break;
    default:
      return 0;
  }
  if (r < 2 + digits) return 0;
  uint32_t value = 0;
  for (uint64_t i = 0; i < digits; ++i) {
    if (!is_hex_digit(p[2 + i])) return 0;
    value = value * 16 + static_cast<uint32_t>(hex_digit_value(p[2 + i]));
  }
  if (p[1] != 'x' && (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))) return 0;
  return 2 + digits;
}

// Length of one character allowed as is inside a basic string or a literal string: tab,
// printable ASCII other than `quote` (and, for basic strings, the backslash) and any valid
// UTF-8 character beyond ASCII; 0 for anything else (control characters, DEL, bad UTF-8).
uint64_t plain_char_length(const char* p, uint64_t r, char quote, bool basic) {
  const auto b = static_cast<unsigned char>(*p);
  if (b == '\t') return 1;
  if (b < 0x80) {
    if (b < 0x20 || b == 0x7f || b == static_cast<unsigned char>(quote)) return 0;
    if (basic && b == '\\') return 0;
    return 1;
  }
  uint32_t cp = 0;
  return static_cast<uint64_t>(decode_utf8(p, r, cp));
}

uint64_t line_end_length(const char* p, uint64_t r) {
  if (r >= 1 && p[0] == '\n') return 1;
  if (r >= 2 && p[0] == '\r' && p[1] == '\n') return 2;
  return 0;
}

// A one-line string from its opening quote: basic (escapes allowed) or literal. Returns its
// length with both quotes, or 0.
uint64_t single_line_string_length(const char* p, uint64_t r, bool basic) {
  const char quote = basic ? '"' : '\'';
  uint64_t i = 1;
  while (i < r) {
    if (p[i] == quote) return i + 1;
    uint64_t n = 0;
    if (basic && p[i] == '\\') {
      n = escape_length(p + i, r - i, true);
    } else {
      n = plain_char_length(p + i, r - i, quote, basic);
    }
    if (n == 0) return 0;
    i += n;
  }
  return 0;
}

// A multi-line string from its opening three quotes. Up to two quotes may stand inside the
// text and right before the closing delimiter (so `"""a"""""` holds a""); six quotes in a row
// are an error. Basic ones take escapes and the line-ending backslash, which may be followed
// by blanks before the line end. Returns the length with both delimiters, or 0.
uint64_t multi_line_string_length(const char* p, uint64_t r, bool basic) {
  const char quote = basic ? '"' : '\'';
  uint64_t i = 3;
  while (i < r) {
    if (p[i] == quote) {
      uint64_t q = 0;
      while (i + q < r && p[i + q] == quote) ++q;
      if (q >= 3) return q <= 5 ? i + q : 0;
      i += q;
      continue;
    }
    uint64_t n = line_end_length(p + i, r - i);
    if (n == 0 && basic && p[i] == '\\') {
      n = escape_length(p + i, r - i, true);
      if (n == 0) {  // line-ending backslash: blanks, a line end, then any blank space
        uint64_t j = i + 1;
        while (j < r && is_blank(p[j])) ++j;
        uint64_t e = line_end_length(p + j, r - j);
        if (e == 0) return 0;
        while (e != 0) {
          j += e;
          while (j < r && is_blank(p[j])) ++j;
          e = line_end_length(p + j, r - j);
        }
        n = j - i;
      }
    } else if (n == 0) {
      n = plain_char_length(p + i, r - i, quote, basic);
    }
    if (n == 0) return 0;
    i += n;
  }
  return 0;
}

uint64_t two_digits(const char* p) {
  return static_cast<uint64_t>((p[0] - '0') * 10 + (p[1] - '0'));
}

}  // namespace

bool is_hex_digit(char c) { return hex_digit_value(c) >= 0; }

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_leap_year(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned days_in_month(unsigned year, unsigned month) {
  static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  if (month == 2 && is_leap_year(year)) return 29;
  return days[month - 1];
}

parse_ptr match_ws(const grammar_node&, const char* p, uint64_t r, const resolution_table&) {
  uint64_t i = 0;
  while (i < r && is_blank(p[i])) ++i;
  if (i == 0) return fail_at(p);
  return recognised(toml_rule::ws, p, i);
}

parse_ptr match_line_comment(const grammar_node&, const char* p, uint64_t r,
                             const resolution_table&) {
  if (r == 0 || p[0] != '#') return fail_at(p);
  uint64_t i = 1;
  for (; i < r; ++i) {
    const auto b = static_cast<unsigned char>(p[i]);
    if ((b < 0x20 && b != '\t') || b == 0x7f) break;
  }
  const uint64_t e = line_end_length(p + i, r - i);
  if (e == 0) return fail_at(p);
  return recognised(toml_rule::line_comment, p, i + e);
}

// In single quotes everything up to the next single quote; in double quotes the characters
// of a basic string (no control characters or bad UTF-8) and the escapes of control_escape
// and unicode_escape. The hex escape of basic strings is not taken in keys.
parse_ptr match_quoted_key(const grammar_node&, const char* p, uint64_t r,
                           const resolution_table&) {
  if (r == 0) return fail_at(p);
  if (p[0] == '\'') {
    for (uint64_t i = 1; i < r; ++i) {
      if (p[i] == '\'') return recognised(toml_rule::quoted_key, p, i + 1);
    }
    return fail_at(p);
  }
  if (p[0] != '"') return fail_at(p);
  uint64_t i = 1;
  while (i < r) {
    if (p[i] == '"') return recognised(toml_rule::quoted_key, p, i + 1);
    const uint64_t n = p[i] == '\\' ? escape_length(p + i, r - i, false)
                                    : plain_char_length(p + i, r - i, '"', true);
    if (n == 0) break;
    i += n;
  }
  return fail_at(p);
}

parse_ptr match_bare_key(const grammar_node&, const char* p, uint64_t r, const resolution_table&) {
  uint64_t i = 0;
  while (i < r && is_bare_key_char(p[i])) ++i;
  if (i == 0) return fail_at(p);
  return recognised(toml_rule::bare_key, p, i);
}

// The four string forms of TOML 1.0 plus the hex escape, tried as the grammar orders them.
// Beyond the grammar rules it replaces, it rejects what TOML 1.0 rejects: control characters
// (a tab excepted), line ends in one-line strings, a lone carriage return, invalid UTF-8, and
// escapes naming no Unicode scalar value. It accepts every code point up to 0x10FFFF, where
// basic_char stops at 0x3134F.
parse_ptr match_string(const grammar_node&, const char* p, uint64_t r, const resolution_table&) {
  uint64_t n = 0;
  const std::string_view s(p, r < 3 ? r : 3);
  if (s == "\"\"\"") {
    n = multi_line_string_length(p, r, true);
  } else if (s == "'''") {
    n = multi_line_string_length(p, r, false);
  } else if (r > 0 && (p[0] == '"' || p[0] == '\'')) {
    n = single_line_string_length(p, r, p[0] == '"');
  }
  if (n == 0) return fail_at(p);
  return recognised(toml_rule::string, p, n);
}

parse_ptr match_uint_bin(const grammar_node&, const char* p, uint64_t r, const resolution_table&) {
  return match_prefixed_uint(toml_rule::uint_bin, "0b", p, r, is_bin_digit);
}

parse_ptr match_uint_hex(const grammar_node&, const char* p, uint64_t r, const resolution_table&) {
  return match_prefixed_uint(toml_rule::uint_hex, "0x", p, r, is_hex_digit);
}

parse_ptr match_uint_dec(const grammar_node&, const char* p, uint64_t r, const resolution_table&) {
  return match_prefixed_uint(toml_rule::uint_dec, "", p, r, is_digit);
}

parse_ptr match_uint_oct(const grammar_node&, const char* p, uint64_t r, const resolution_table&) {
  return match_prefixed_uint(toml_rule::uint_oct, "0o", p, r, is_oct_digit);
}

// YYYY-MM-DD with a month from 1 to 12 and a day within that month.
parse_ptr match_local_date(const grammar_node&, const char* p, uint64_t r,
                           const resolution_table&) {
  static constexpr std::string_view shape = "dddd-dd-dd";
  if (r < shape.size()) return fail_at(p);
  for (size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == 'd' ? !is_digit(p[i]) : p[i] != shape[i]) return fail_at(p);
  }
  const auto year = static_cast<unsigned>(two_digits(p) * 100 + two_digits(p + 2));
  const auto month = static_cast<unsigned>(two_digits(p + 5));
  const auto day = static_cast<unsigned>(two_digits(p + 8));
  if (month < 1 || month > 12) return fail_at(p);
  if (day < 1 || day > days_in_month(year, month)) return fail_at(p);
  return recognised(toml_rule::local_date, p, shape.size());
}

// HH:MM:SS with hour at most 23 and minute and second at most 59, then a fraction when a dot
// is followed by at least three digits (the grammar's secfrac); all its digits are taken. A
// dot with fewer digits is not part of the time.
parse_ptr match_local_time(const grammar_node&, const char* p, uint64_t r,
                           const resolution_table&) {
  static constexpr std::string_view shape = "dd:dd:dd";
  if (r < shape.size()) return fail_at(p);
  for (size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == 'd' ? !is_digit(p[i]) : p[i] != shape[i]) return fail_at(p);
  }
  if (two_digits(p) > 23) return fail_at(p);
  if (two_digits(p + 3) > 59) return fail_at(p + 3);
  if (two_digits(p + 6) > 59) return fail_at(p + 6);
  uint64_t n = shape.size();
  if (n < r && p[n] == '.') {
    uint64_t digits = 0;
    while (n + 1 + digits < r && is_digit(p[n + 1 + digits])) ++digits;
    if (digits >= 3) n += 1 + digits;
  }
  return recognised(toml_rule::local_time, p, n);
}

recogniser_map toml_recognisers() {
  auto at = [](toml_rule rule) { return static_cast<size_t>(rule); };
  return recogniser_map{
      {at(toml_rule::ws), match_ws},
      {at(toml_rule::line_comment), match_line_comment},
      {at(toml_rule::quoted_key), match_quoted_key},
      {at(toml_rule::bare_key), match_bare_key},
      {at(toml_rule::string), match_string},
      {at(toml_rule::uint_bin), match_uint_bin},
      {at(toml_rule::uint_hex), match_uint_hex},
      {at(toml_rule::uint_dec), match_uint_dec},
      {at(toml_rule::uint_oct), match_uint_oct},
      {at(toml_rule::local_date), match_local_date},
      {at(toml_rule::local_time), match_local_time},
  };
}

}  // namespace qn::config
