#include "tools/resp.h"

#include <charconv>

namespace qn::tools {
namespace {

constexpr size_t max_line = size_t{1} << 20;
constexpr int64_t max_bulk = int64_t{512} << 20;  // redis-server's own limit on a bulk string
constexpr uint64_t max_elements = uint64_t{1} << 24;

void append_number(size_t n, std::string& out) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  out.append(digits, end);
}

// The body of the CR LF-ended line that starts at `at`, and where the next line starts.
resp_parse read_line(std::string_view bytes, size_t at, std::string_view& body, size_t& next) {
  const size_t cr = bytes.find('\r', at);
  if (cr == std::string_view::npos) {
    return bytes.size() - at > max_line ? resp_parse::malformed : resp_parse::incomplete;
  }
  if (cr - at > max_line) return resp_parse::malformed;
  if (cr + 1 == bytes.size()) return resp_parse::incomplete;
  if (bytes[cr + 1] != '\n') return resp_parse::malformed;
  body = bytes.substr(at, cr - at);
  next = cr + 2;
  return resp_parse::complete;
}

// A whole decimal integer, optionally negative, of at most 18 digits.
bool parse_integer(std::string_view text, int64_t& out) {
  const size_t digits = text.size() - (!text.empty() && text[0] == '-');
  if (digits == 0 || digits > 18) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

void append_resp_command(std::string_view line, std::string& out) {
  size_t words = 0;
  for (size_t at = 0; at < line.size();) {
    const size_t start = line.find_first_not_of(' ', at);
    if (start == std::string_view::npos) break;
    ++words;
    at = std::min(line.find(' ', start), line.size());
  }
  out += '*';
  append_number(words, out);
  out += "\r\n";
  for (size_t at = 0; at < line.size();) {
    const size_t start = line.find_first_not_of(' ', at);
    if (start == std::string_view::npos) break;
    at = std::min(line.find(' ', start), line.size());
    out += '$';
    append_number(at - start, out);
    out += "\r\n";
    out.append(line.substr(start, at - start));
    out += "\r\n";
  }
}

resp_parse parse_resp_reply(std::string_view bytes, resp_kind& kind, size_t& size) {
  size_t at = 0;
  uint64_t pending = 1;  // values still to read: the reply, then every array's elements
  bool outermost = true;
  while (pending > 0) {
    if (at >= bytes.size()) return resp_parse::incomplete;
    const char type = bytes[at];
    std::string_view body;
    size_t next = 0;
    if (const resp_parse r = read_line(bytes, at + 1, body, next); r != resp_parse::complete) {
      return r;
    }
    --pending;
    resp_kind k;
    int64_t n = 0;
    switch (type) {
      case '+':
        k = resp_simple;
        break;
      case '-':
        k = resp_error;
        break;
      case ':':
        if (!parse_integer(body, n)) return resp_parse::malformed;
        k = resp_integer;
        break;
      case '$':
        if (!parse_integer(body, n) || n < -1 || n > max_bulk) return resp_parse::malformed;
        k = n < 0 ? resp_null : resp_bulk;
        if (n >= 0) {
          const size_t end = next + static_cast<size_t>(n);
          if (bytes.size() < end + 2) return resp_parse::incomplete;
          if (bytes[end] != '\r' || bytes[end + 1] != '\n') return resp_parse::malformed;
          next = end + 2;
        }
        break;
      case '*':
        if (!parse_integer(body, n) || n < -1 ||
            pending + static_cast<uint64_t>(n < 0 ? 0 : n) > max_elements) {
          return resp_parse::malformed;
        }
        k = n < 0 ? resp_null : resp_array;
        if (n > 0) pending += static_cast<uint64_t>(n);
        break;
      default:
        return resp_parse::malformed;
    }
    if (outermost) kind = k;
    outermost = false;
    at = next;
  }
  size = at;
  return resp_parse::complete;
}

}  // namespace qn::tools
