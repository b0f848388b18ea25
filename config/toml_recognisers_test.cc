#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "config/toml_grammar.h"

namespace qn::config {
namespace {

using namespace std::string_view_literals;

// The hand-written recognisers of the TOML grammar on their own. Valid documents are the
// conformance corpus's (tools/toml_conformance.py); these rows pin the refusals, where a refusal
// raises the furthest-failure position, and the lengths that are this reader's own.
TEST(TomlRecognisers, MatchOrFailAtTheirPosition) {
  struct {
    recogniser recognise;
    toml_rule rule;
    std::string_view input;
    int length;          // -1: no match
    size_t fail_offset;  // where a failure raises the furthest-failure position
  } cases[] = {
      {match_ws, toml_rule::ws, "\n", -1, 0},
      {match_line_comment, toml_rule::line_comment, "# tab\tand \xc3\xa9\n", 13, 0},
      {match_line_comment, toml_rule::line_comment, "# no line end", -1, 0},
      {match_line_comment, toml_rule::line_comment, "# lone cr\r", -1, 0},
      {match_line_comment, toml_rule::line_comment, "# nul \x00\n"sv, -1, 0},
      {match_quoted_key, toml_rule::quoted_key, "'open", -1, 0},
      {match_quoted_key, toml_rule::quoted_key, "\"\\x41\"", -1, 0},
      {match_quoted_key, toml_rule::quoted_key, "\"\\uD800\"", -1, 0},
      {match_quoted_key, toml_rule::quoted_key, "\"a\nb\"", -1, 0},
      {match_quoted_key, toml_rule::quoted_key, "\"\xff\"", -1, 0},
      {match_bare_key, toml_rule::bare_key, "a-B_9 =", 5, 0},
      {match_bare_key, toml_rule::bare_key, ".a", -1, 0},
      {match_bare_key, toml_rule::bare_key, "\xc3\xa9", -1, 0},
      {match_string, toml_rule::string, "\"\xf3\xa0\x80\x81\"", 6, 0},  // beyond 0x3134F
      {match_string, toml_rule::string, "\"\\x4\"", -1, 0},
      {match_string, toml_rule::string, "\"\\uDFFF\"", -1, 0},
      {match_string, toml_rule::string, "\"\\U00110000\"", -1, 0},
      {match_string, toml_rule::string, "\"\x01\"", -1, 0},
      {match_string, toml_rule::string, "\"\xc3\"", -1, 0},
      {match_string, toml_rule::string, "\"\xed\xa0\x80\"", -1, 0},  // an encoded surrogate
      {match_string, toml_rule::string, "\"\"\"a\"\"\"\"\"\"", -1, 0},
      {match_string, toml_rule::string, "\"\"\"a\\ b\"\"\"", -1, 0},
      {match_string, toml_rule::string, "\"\"\"a\rb\"\"\"", -1, 0},
      {match_string, toml_rule::string, "'''\x02'''", -1, 0},
      {match_uint_dec, toml_rule::uint_dec, "12__3", 3, 0},
      {match_uint_dec, toml_rule::uint_dec, "7_", 2, 0},
      {match_uint_dec, toml_rule::uint_dec, "_1", -1, 0},
      {match_uint_hex, toml_rule::uint_hex, "0x", -1, 0},
      {match_uint_hex, toml_rule::uint_hex, "0xg", -1, 0},
      {match_uint_oct, toml_rule::uint_oct, "0o8", -1, 0},
      {match_uint_bin, toml_rule::uint_bin, "0b12", 3, 0},
      // An impossible month or day fails at the start of the date.
      {match_local_date, toml_rule::local_date, "2024-02-29", 10, 0},
      {match_local_date, toml_rule::local_date, "2023-02-29", -1, 0},
      {match_local_date, toml_rule::local_date, "2000-02-29", 10, 0},
      {match_local_date, toml_rule::local_date, "1900-02-29", -1, 0},
      {match_local_date, toml_rule::local_date, "2023-04-31", -1, 0},
      {match_local_date, toml_rule::local_date, "2023-13-01", -1, 0},
      {match_local_date, toml_rule::local_date, "2023-01-00", -1, 0},
      {match_local_time, toml_rule::local_time, "24:00:00", -1, 0},
      {match_local_time, toml_rule::local_time, "12:60:00", -1, 3},
      {match_local_time, toml_rule::local_time, "12:00:60", -1, 6},
      {match_local_time, toml_rule::local_time, "07:32:00.123456789012", 21, 0},
      {match_local_time, toml_rule::local_time, "07:32:00.5", 8, 0},
      {match_local_time, toml_rule::local_time, "07:32:00.", 8, 0},
      {match_local_time, toml_rule::local_time, "7:32:00", -1, 0},
  };
  const grammar_node unused;
  const resolution_table table;
  for (const auto& c : cases) {
    reset_furthest_failure();
    const parse_ptr result = c.recognise(unused, c.input.data(), c.input.size(), table);
    const std::string label = "\"" + std::string(c.input) + "\"";
    if (c.length < 0) {
      EXPECT_EQ(result, nullptr) << label;
      EXPECT_EQ(furthest_failure(), c.input.data() + c.fail_offset) << label;
      continue;
    }
    ASSERT_NE(result, nullptr) << label;
    EXPECT_EQ(result->length, static_cast<uint64_t>(c.length)) << label;
    EXPECT_EQ(result->kind, node_kind(c.rule)) << label;
    EXPECT_FALSE(result->has_children());
  }
}

}  // namespace
}  // namespace qn::config
