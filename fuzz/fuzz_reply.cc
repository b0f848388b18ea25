// Fuzz target: reply frame bytes through the client library's decoders and the command-line
// client's formatters (text, table, JSON).
//
// Property: a JSON line is valid UTF-8 with no raw control byte, ending in one line feed.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "client/format.h"
#include "client/frame.h"

namespace {

using namespace qn::client;

// Aborts, saying which property failed, when it does not hold: libFuzzer keeps the input.
void check(bool property, const char* what) {
  if (property) return;
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}

// Valid UTF-8 (no overlong forms, no surrogates, at most U+10FFFF) without bytes below 0x20.
bool is_clean_utf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<uint8_t>(s[i]);
    if (b < 0x20) return false;
    if (b < 0x80) {
      ++i;
      continue;
    }
    const size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
    if (n == 0 || b > 0xF4 || i + n > s.size()) return false;
    uint32_t cp = b & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
      const auto c = static_cast<uint8_t>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = cp << 6 | (c & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  bool accepted = false;
  (void)decode_login_reply(bytes, accepted);
  uint64_t frame_size = 0;
  (void)peek_frame_size(bytes, frame_size);

  command_reply reply;
  if (decode_command_reply(bytes, reply) != decode_status::complete) return 0;
  const result r = reply.is_success ? result::ok : result::command_failed;
  (void)format_outcome(r, reply);
  if (reply.is_success) (void)format_reply(reply);
  if (is_introspection_reply(reply)) (void)format_table(reply);
  const std::string json = format_json("g 0 all", r, reply, "");
  check(!json.empty() && json.back() == '\n', "one JSON line");
  check(is_clean_utf8(std::string_view(json).substr(0, json.size() - 1)), "JSON is clean UTF-8");
  return 0;
}
