#include "config/toml_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "config/toml_grammar.h"

namespace qn::config {
namespace {

const toml_reader& reader() {
  static const auto r = toml_reader::create();
  return *r;
}

// How far a parse gets: the covered length, or the failure offset when nothing matched.
TEST(TomlReader, ParseCoversAPrefixOrFailsAtTheFurthestPosition) {
  struct parse_case {
    std::string text;
    bool parses;
    size_t length_or_offset;
  };
  const parse_case cases[] = {
      {"a = 1\nb = 2\nc = = 3\n", true, 12},
      {"# only a comment\n", false, 17},
      {"= 1\n", false, 0},
      {"a = \"\xff\"\n", false, 4},
      // An hour out of range leaves the date before it.
      {"a = 1979-05-27T25:00:00\n", true, 14},
      // A bad date leaves the integer before it: the parse stops at the dash.
      {"a = 2023-02-29\n", true, 8},
      {"\xef\xbb\xbf"
       "a = 1\n",
       false, 0},
  };
  for (const parse_case& c : cases) {
    const parse_ptr tree = reader().parse(c.text);
    ASSERT_EQ(tree != nullptr, c.parses) << c.text;
    if (tree != nullptr) {
      EXPECT_EQ(tree->length, c.length_or_offset) << c.text;
      EXPECT_EQ(tree->kind, node_kind(toml_rule::block));
    } else {
      EXPECT_EQ(toml_reader::failure_offset(c.text), c.length_or_offset) << c.text;
    }
  }
}

}  // namespace
}  // namespace qn::config
