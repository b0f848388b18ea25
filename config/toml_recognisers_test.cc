#include <gtest/gtest.h>

#include <string_view>

#include "config/toml_grammar.h"

namespace qn::config {
namespace {

using namespace std::string_view_literals;

struct test_case {
  recogniser recognise;
  std::string_view input;
  int length;          // -1: no match
  size_t fail_offset;  // where a failure raises the furthest-failure position
};

void run_cases(const test_case* begin, const test_case* end, toml_rule rule) {
  const grammar_node unused;
  const resolution_table table;
  for (const test_case* c = begin; c != end; ++c) {
    reset_furthest_failure();
    const parse_ptr result = c->recognise(unused, c->input.data(), c->input.size(), table);
    if (c->length < 0) {
      EXPECT_EQ(result, nullptr) << "\"" << c->input << "\"";
      EXPECT_EQ(furthest_failure(), c->input.data() + c->fail_offset) << "\"" << c->input << "\"";
      continue;
    }
    ASSERT_NE(result, nullptr) << "\"" << c->input << "\"";
    EXPECT_EQ(result->length, static_cast<uint64_t>(c->length)) << "\"" << c->input << "\"";
    EXPECT_EQ(result->kind, node_kind(rule)) << "\"" << c->input << "\"";
    EXPECT_FALSE(result->has_children());
  }
}

TEST(TomlRecognisers, Whitespace) {
  const test_case cases[] = {
      {match_ws, " \t x", 3, 0},
      {match_ws, "x", -1, 0},
      {match_ws, "\n", -1, 0},
  };
  run_cases(std::begin(cases), std::end(cases), toml_rule::ws);
}

TEST(TomlRecognisers, LineComment) {
  const test_case cases[] = {
      {match_line_comment, "# note\nx", 7, 0},
      {match_line_comment, "# tab\tand \xc3\xa9\n", 13, 0},
      {match_line_comment, "# no line end", -1, 0},
      {match_line_comment, "# lone cr\r", -1, 0},
      {match_line_comment, "# nul \x00\n"sv, -1, 0},
      {match_line_comment, "x\n", -1, 0},
  };
  run_cases(std::begin(cases), std::end(cases), toml_rule::line_comment);
}

TEST(TomlRecognisers, QuotedKey) {
  const test_case cases[] = {
      {match_quoted_key, "'a b'=", 5, 0},
      {match_quoted_key, "'open", -1, 0},
      {match_quoted_key, "\"\\u00e9\\U0001F600\"", 18, 0},
      {match_quoted_key, "\"\\x41\"", -1, 0},
      {match_quoted_key, "\"\\uD800\"", -1, 0},
      {match_quoted_key, "\"a\nb\"", -1, 0},
      {match_quoted_key, "\"\xff\"", -1, 0},
  };
  run_cases(std::begin(cases), std::end(cases), toml_rule::quoted_key);
}

TEST(TomlRecognisers, BareKey) {
  const test_case cases[] = {
      {match_bare_key, "a-B_9 =", 5, 0},
      {match_bare_key, "1234", 4, 0},
      {match_bare_key, ".a", -1, 0},
      {match_bare_key, "\xc3\xa9", -1, 0},
  };
  run_cases(std::begin(cases), std::end(cases), toml_rule::bare_key);
}

TEST(TomlRecognisers, String) {
  const test_case cases[] = {
      {match_string, "\"abc\" x", 5, 0},
      {match_string, "\"\xf3\xa0\x80\x81\"", 6, 0},  // beyond basic_char's 0x3134F
      {match_string, "\"\\x4\"", -1, 0},
      {match_string, "\"\\uDFFF\"", -1, 0},
      {match_string, "\"\\U00110000\"", -1, 0},
      {match_string, "\"\x01\"", -1, 0},
      {match_string, "\"\xc3\"", -1, 0},
      {match_string, "\"\xed\xa0\x80\"", -1, 0},  // an encoded surrogate
      {match_string, "\"\"\"a\"\"b\"\"\"", 10, 0},
      {match_string, "\"\"\"a\"\"\"\"\"", 9, 0},
      {match_string, "\"\"\"a\"\"\"\"\"\"", -1, 0},
      {match_string, "\"\"\"a\\  \r\n  b\"\"\"", 15, 0},
      {match_string, "\"\"\"a\\ b\"\"\"", -1, 0},
      {match_string, "\"\"\"a\rb\"\"\"", -1, 0},
      {match_string, "'''\nC:\\x\n'''", 12, 0},
      {match_string, "''''a'''''", 10, 0},
      {match_string, "'''\x02'''", -1, 0},
  };
  run_cases(std::begin(cases), std::end(cases), toml_rule::string);
}

TEST(TomlRecognisers, Integers) {
  const test_case dec[] = {
      {match_uint_dec, "1_000 ", 5, 0}, {match_uint_dec, "0", 1, 0},
      {match_uint_dec, "12__3", 3, 0},  {match_uint_dec, "7_", 2, 0},
      {match_uint_dec, "_1", -1, 0},    {match_uint_dec, "x", -1, 0},
  };
  run_cases(std::begin(dec), std::end(dec), toml_rule::uint_dec);
  const test_case hex[] = {
      {match_uint_hex, "0xdead_BEEF", 11, 0},
      {match_uint_hex, "0x", -1, 0},
      {match_uint_hex, "0xg", -1, 0},
  };
  run_cases(std::begin(hex), std::end(hex), toml_rule::uint_hex);
  const test_case oct[] = {
      {match_uint_oct, "0o755", 5, 0},
      {match_uint_oct, "0o8", -1, 0},
  };
  run_cases(std::begin(oct), std::end(oct), toml_rule::uint_oct);
  const test_case bin[] = {
      {match_uint_bin, "0b1010_1", 8, 0},
      {match_uint_bin, "0b2", -1, 0},
      {match_uint_bin, "0b12", 3, 0},
  };
  run_cases(std::begin(bin), std::end(bin), toml_rule::uint_bin);
}

TEST(TomlRecognisers, LocalDateChecksMonthAndDay) {
  // An impossible month or day fails at the start of the date.
  const test_case cases[] = {
      {match_local_date, "2024-02-29", 10, 0},  {match_local_date, "2023-02-29", -1, 0},
      {match_local_date, "2000-02-29", 10, 0},  {match_local_date, "1900-02-29", -1, 0},
      {match_local_date, "2023-02-28T", 10, 0}, {match_local_date, "2023-04-31", -1, 0},
      {match_local_date, "2023-00-10", -1, 0},  {match_local_date, "2023-13-01", -1, 0},
      {match_local_date, "2023-01-00", -1, 0},  {match_local_date, "2023-01-0", -1, 0},
  };
  run_cases(std::begin(cases), std::end(cases), toml_rule::local_date);
}

TEST(TomlRecognisers, LocalTimeChecksFieldsAndTakesLongFractions) {
  const test_case cases[] = {
      {match_local_time, "07:32:00", 8, 0},
      {match_local_time, "23:59:59Z", 8, 0},
      {match_local_time, "24:00:00", -1, 0},
      {match_local_time, "12:60:00", -1, 3},
      {match_local_time, "12:00:60", -1, 6},
      {match_local_time, "07:32:00.999", 12, 0},
      {match_local_time, "07:32:00.123456789012", 21, 0},
      {match_local_time, "07:32:00.5", 8, 0},
      {match_local_time, "07:32:00.", 8, 0},
      {match_local_time, "7:32:00", -1, 0},
  };
  run_cases(std::begin(cases), std::end(cases), toml_rule::local_time);
}

}  // namespace
}  // namespace qn::config
