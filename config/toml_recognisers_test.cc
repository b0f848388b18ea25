#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "config/toml_grammar.h"

namespace qn::config {
namespace {

// The hand-written recognisers of the TOML grammar on their own. What is valid TOML is the
// conformance corpus's (tools/toml_conformance.py); these rows pin what it cannot see: where a
// refusal raises the furthest-failure position, and the lengths that are this reader's own.
TEST(TomlRecognisers, MatchOrFailAtTheirPosition) {
  struct {
    recogniser recognise;
    toml_rule rule;
    std::string_view input;
    int length;          // -1: no match
    size_t fail_offset;  // where a failure raises the furthest-failure position
  } cases[] = {
      // Where a match ends, which the next rule then refuses, is this reader's own.
      {match_uint_dec, toml_rule::uint_dec, "12__3", 3, 0},
      {match_local_time, toml_rule::local_time, "07:32:00.", 8, 0},
      // Fraction digits beyond nanoseconds are read (and dropped by the builder).
      {match_local_time, toml_rule::local_time, "07:32:00.123456789012", 21, 0},
      // Where the error is reported: an impossible date fails at its start, a time at its field.
      {match_local_date, toml_rule::local_date, "2023-02-29", -1, 0},
      {match_local_time, toml_rule::local_time, "12:60:00", -1, 3},
      {match_local_time, toml_rule::local_time, "12:00:60", -1, 6},
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
