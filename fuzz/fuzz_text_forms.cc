// Fuzz target: the text forms of every scalar type and the tokenizer's escapes, with round trips.
// The first input byte picks the type; the rest is the token.
//
// Properties: a token that converts prints (as the command-line client prints it) to a text that
// converts back to the same value; a quoted string printed by the client tokenizes back to its
// bytes; tokenizing any line never fails in a way that breaks the token contract.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#include "client/format.h"
#include "engine/tokenizer.h"
#include "values/text_forms.h"

namespace {

using qn::db::nosql::max_tokens;
using qn::db::nosql::token;
using qn::db::nosql::tokenize;

// Aborts, saying which property failed, when it does not hold: libFuzzer keeps the input.
void check(bool property, const char* what) {
  if (property) return;
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}

// Equal as values: floating point bit for bit, except that every NaN equals every NaN.
template <class T>
bool same_value(const T& a, const T& b) {
  if constexpr (std::is_floating_point_v<T>) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::memcmp(&a, &b, sizeof(T)) == 0;
  } else {
    return a == b;
  }
}

// The value the token converts to, printed by the client and converted again, is the same.
template <class T>
void round_trip(std::string_view token) {
  T first{};
  if (!qn::parse_value(token, first)) return;
  const std::string text = qn::client::format_value(qn::client::value(first));
  T second{};
  check(qn::parse_value(text, second), "the printed value converts");
  check(same_value(first, second), "to the same value");
}

// A string prints quoted; tokenizing the printed text gives back exactly its bytes.
void string_round_trip(std::string_view bytes) {
  const std::string line = "g " + qn::client::quote_bytes(bytes);
  token tokens[max_tokens];
  check(tokenize(line, tokens) == 2, "a quoted string is one token");
  check(tokens[1].quoted && tokens[1].text == bytes, "of the same bytes");
}

void tokenize_line(std::string_view line) {
  token tokens[max_tokens];
  const int count = tokenize(line, tokens);
  check(count >= 0 && count <= max_tokens, "token count");
  for (int i = 0; i < count; ++i) {
    // An unquoted token views the line itself and holds no space.
    if (!tokens[i].quoted) {
      check(tokens[i].text.data() >= line.data() &&
                tokens[i].text.data() + tokens[i].text.size() <= line.data() + line.size(),
            "a bare token views the line");
      check(tokens[i].text.find(' ') == std::string_view::npos, "no space in a bare token");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view token(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 16) {
    case 0:
      round_trip<int8_t>(token);
      break;
    case 1:
      round_trip<int16_t>(token);
      break;
    case 2:
      round_trip<int32_t>(token);
      break;
    case 3:
      round_trip<int64_t>(token);
      break;
    case 4:
      round_trip<uint8_t>(token);
      break;
    case 5:
      round_trip<uint16_t>(token);
      break;
    case 6:
      round_trip<uint32_t>(token);
      break;
    case 7:
      round_trip<uint64_t>(token);
      break;
    case 8:
      round_trip<float>(token);
      break;
    case 9:
      round_trip<double>(token);
      break;
    case 10:
      round_trip<qn::date>(token);
      break;
    case 11:
      round_trip<qn::time>(token);
      break;
    case 12:
      round_trip<qn::date_time>(token);
      break;
    case 13:
      string_round_trip(token);
      break;
    default:
      tokenize_line(token);
      break;
  }
  return 0;
}
