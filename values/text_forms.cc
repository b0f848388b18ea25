#include "values/text_forms.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace qn {
namespace {

bool is_space(char c) { return c == ' ' || (c >= 9 && c <= 13); }

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// The magnitude of a scanned integer and its sign, before narrowing.
struct scanned {
  uint64_t magnitude = 0;
  bool negative = false;
};

// Scans the integer text. `positive_limit` and `negative_limit` are the largest magnitudes the
// conversion holds; a value that would pass the limit is held there and digits keep being consumed.
// `saturate` false means no limit at all (digits wrap modulo 2^64).
bool scan_integer(std::string_view t, bool allow_minus, uint64_t positive_limit,
                  uint64_t negative_limit, bool saturate, scanned& out) {
  size_t i = 0;
  while (i < t.size() && is_space(t[i])) ++i;
  scanned s;
  if (i < t.size() && (t[i] == '+' || (allow_minus && t[i] == '-'))) {
    s.negative = t[i] == '-';
    ++i;
  }
  unsigned base = 10;
  if (i < t.size() && t[i] == '0') {
    if (i + 1 < t.size() && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
      base = 16;
      i += 2;
    } else if (i + 1 < t.size() && (t[i + 1] == 'b' || t[i + 1] == 'B')) {
      base = 2;
      i += 2;
    } else {
      base = 8;
    }
  }
  const uint64_t limit = s.negative ? negative_limit : positive_limit;
  for (; i < t.size(); ++i) {
    const auto d = static_cast<unsigned>(digit_value(t[i]));
    if (d >= base) break;
    if (!saturate) {
      s.magnitude = s.magnitude * base + d;
    } else if (s.magnitude > (limit - d) / base) {
      s.magnitude = limit;
    } else {
      s.magnitude = s.magnitude * base + d;
    }
  }
  if (i != t.size()) return false;
  out = s;
  return true;
}

template <class Wide, class T>
bool parse_signed(std::string_view token, T& out) {
  constexpr auto max = static_cast<uint64_t>(std::numeric_limits<Wide>::max());
  scanned s;
  if (!scan_integer(token, true, max, max + 1, true, s)) return false;
  const uint64_t bits = s.negative ? 0 - s.magnitude : s.magnitude;
  out = static_cast<T>(static_cast<Wide>(bits));
  return true;
}

template <class Wide, class T>
bool parse_unsigned(std::string_view token, T& out) {
  constexpr auto max = static_cast<uint64_t>(std::numeric_limits<Wide>::max());
  scanned s;
  if (!scan_integer(token, false, max, max, true, s)) return false;
  out = static_cast<T>(s.magnitude);
  return true;
}

// strtof and strtod need a terminated text; short tokens are copied to the stack. An empty token
// may be a null view (a missing argument), which memcpy and memchr must not be given.
template <class T, class F>
bool parse_floating(std::string_view token, T& out, F convert) {
  char small[64];
  std::string large;
  const char* text = small;
  if (token.size() >= sizeof(small)) {
    large.assign(token);
    text = large.c_str();
  } else {
    if (!token.empty()) std::memcpy(small, token.data(), token.size());
    small[token.size()] = 0;
  }
  if (!token.empty() && std::memchr(token.data(), 0, token.size()) != nullptr) return false;
  char* end = nullptr;
  const T value = convert(text, &end);
  if (end != text + token.size()) return false;
  out = value;
  return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int two_digits(const char* p) { return (p[0] - '0') * 10 + (p[1] - '0'); }

}  // namespace

bool parse_value(std::string_view t, int8_t& out) { return parse_signed<int32_t>(t, out); }
bool parse_value(std::string_view t, int16_t& out) { return parse_signed<int32_t>(t, out); }
bool parse_value(std::string_view t, int32_t& out) { return parse_signed<int32_t>(t, out); }
bool parse_value(std::string_view t, int64_t& out) { return parse_signed<int64_t>(t, out); }
bool parse_value(std::string_view t, uint8_t& out) { return parse_unsigned<uint32_t>(t, out); }
bool parse_value(std::string_view t, uint16_t& out) { return parse_unsigned<uint32_t>(t, out); }
bool parse_value(std::string_view t, uint32_t& out) { return parse_unsigned<uint32_t>(t, out); }
bool parse_value(std::string_view t, uint64_t& out) { return parse_unsigned<uint64_t>(t, out); }

bool parse_value(std::string_view t, float& out) {
  return parse_floating(t, out, [](const char* s, char** e) { return std::strtof(s, e); });
}

bool parse_value(std::string_view t, double& out) {
  return parse_floating(t, out, [](const char* s, char** e) { return std::strtod(s, e); });
}

bool parse_value(std::string_view t, date& out) {
  if (t.size() < 10) return false;
  const char* p = t.data();
  for (int i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (!is_digit(p[i])) return false;
  }
  if (p[4] != '-' || p[7] != '-') return false;
  const int year = two_digits(p) * 100 + two_digits(p + 2);
  const int month = two_digits(p + 5);
  const int day = two_digits(p + 8);
  if (day < 1 || day > days_in_month(year, month)) return false;
  out = date{static_cast<uint16_t>(year), static_cast<uint8_t>(month), static_cast<uint8_t>(day)};
  return true;
}

// A fraction of more than nine digits is cut to its first nine (nanosecond precision); the
// digits beyond are consumed and ignored rather than refused.
bool parse_value(std::string_view t, time& out) {
  if (t.size() < 8) return false;
  const char* p = t.data();
  for (int i : {0, 1, 3, 4, 6, 7}) {
    if (!is_digit(p[i])) return false;
  }
  if (p[2] != ':' || p[5] != ':') return false;
  const int hour = two_digits(p), minute = two_digits(p + 3), second = two_digits(p + 6);
  if (hour >= 24 || minute >= 60 || second >= 60) return false;
  uint32_t nanosecond = 0;
  if (t.size() > 8 && p[8] == '.') {
    int digits = 0;
    for (size_t i = 9; i < t.size() && is_digit(p[i]); ++i) {
      if (digits < 9) {
        nanosecond = nanosecond * 10 + static_cast<uint32_t>(p[i] - '0');
        ++digits;
      }
    }
    if (digits > 0) {
      for (; digits < 9; ++digits) nanosecond *= 10;
    }
  }
  out = time{static_cast<uint8_t>(hour), static_cast<uint8_t>(minute),
             static_cast<uint8_t>(second), nanosecond};
  return true;
}

bool parse_value(std::string_view t, date_time& out) {
  if (t.size() < 11) return false;
  date d;
  time tm;
  if (!parse_value(t.substr(0, 10), d) || !parse_value(t.substr(11), tm)) return false;
  out.date_part = d;
  out.time_part = tm;
  return true;
}

bool parse_value(std::string_view t, xstring& out) {
  out.assign(t);
  return true;
}

bool parse_unbounded_u64(std::string_view token, uint64_t& out) {
  scanned s;
  if (!scan_integer(token, false, 0, 0, false, s)) return false;
  out = s.magnitude;
  return true;
}

}  // namespace qn
