#include "engine/tokenizer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "containers/factory.h"

namespace qn::db::nosql {
namespace {

// Renders the tokens as [a][b]..., quoted ones as ["a"], or "fail" for a count of 0.
std::string split(std::string_view line) {
  token t[max_tokens];
  const int n = tokenize(line, t);
  if (n == 0) return "fail";
  std::string out;
  for (int i = 0; i < n; ++i) {
    out += t[i].quoted ? "[\"" : "[";
    out += t[i].text;
    out += t[i].quoted ? "\"]" : "]";
  }
  return out;
}

TEST(Tokenize, SplitsAtSpacesAndQuotes) {
  struct {
    std::string_view line;
    std::string_view tokens;
  } cases[] = {
      {"g 1 count", "[g][1][count]"}, {"  g   1  count  ", "[g][1][count]"},
      {"a b c d e f", "[a][b][c][d][e][f]"}, {"a b c d e f  ", "fail"}, {"a b c d e f g", "fail"},
      {"a b c d e \"f\"", "[a][b][c][d][e][\"f\"]"}, {"a b c d e \"f\" ", "fail"},
      {"g \"my name\" count", "[g][\"my name\"][count]"}, {"g \"x\"y", "[g][\"x\"][y]"},
      {"g \"x\"\"y\"", "[g][\"x\"][\"y\"]"}, {"g ab\"c\"", "fail"}, {"\"g\" 1", "fail"},
      {"g \"unterminated", "fail"}, {"g \"ends in escape\\\"", "fail"}, {"g \"\\u12\"", "fail"},
      {"g \"\\U1234567\"", "fail"},  // the escape takes the closing quote
      {"", "fail"}, {"g\tx", "[g\tx]"}, {"g \\ x", "[g][\\][x]"},
  };
  for (const auto& c : cases) EXPECT_EQ(split(c.line), c.tokens) << c.line;
}

TEST(Tokenize, DecodesEscapesInsideQuotes) {
  struct {
    std::string_view line;
    std::string_view bytes;
  } cases[] = {
      {"x \"a\\\"b\"", "a\"b"}, {"x \"\\x41\\u00e9\"", "A\xC3\xA9"}, {"x \"\\q\"", ""},
      {"x \"\\xZZ\"", std::string_view("\0", 1)}, {"x \"\\'\\\\\"", "'\\"},
      {"x \"\\a\\b\\f\\n\\r\\t\\v\"", "\a\b\f\n\r\t\v"},
      {"x \"\\u0041\\u07FF\\uFFFF\"", "A\xDF\xBF\xEF\xBF\xBF"}, {"x \"\\uD800\"", "\xED\xA0\x80"},
      {"x \"\\U0001F600\"", "\xF0\x9F\x98\x80"}, {"x \"ok\\U00110000rest\"", "ok"}, {"x \"\"", ""},
  };
  for (const auto& c : cases) {
    token t[max_tokens];
    const int n = tokenize(c.line, t);
    ASSERT_GE(n, 1) << c.line;
    EXPECT_EQ(t[n - 1].text, c.bytes) << c.line;
    EXPECT_TRUE(t[n - 1].quoted);
  }
}

TEST(ResolveContainer, NumbersAndNames) {
  container_registry r;
  uint64_t slot = 0;
  ASSERT_TRUE(r.place_new(nosql_db::make_container("vector", i32_type, u08_type, 0), "", slot));
  ASSERT_TRUE(r.place_new(nosql_db::make_container("vector", i32_type, u08_type, 0), "1", slot));
  struct {
    std::string_view text;
    bool quoted;
    bool ok;
    uint64_t slot;
  } cases[] = {
      {"0x1F", false, true, 31}, {"+31", false, true, 31}, {"031", false, true, 31},
      {" 7", false, true, 7}, {"-1", false, false, 0}, {"1x5", false, false, 0},
      {"12a", false, false, 0},  // a digit of a higher base
      {"", false, true, 0}, {"+", false, true, 0}, {"18446744073709551617", false, true, 1},
      {"0x10000000000000001", false, true, 1}, {"1", true, true, 1}, {"missing", true, false, 0},
  };
  for (const auto& c : cases) {
    uint64_t s = 99;
    EXPECT_EQ(resolve_container(r, c.text, c.quoted, s), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(s, c.slot) << c.text;
    }
  }
}

}  // namespace
}  // namespace qn::db::nosql
