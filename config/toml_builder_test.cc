#include "config/toml_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "config/toml_grammar.h"
#include "config/toml_test_support.h"

namespace qn::config {
namespace {

using testing_support::read_text;

struct document_case {
  const char* text;
  const char* document;  // rendered root table, or "null"
  const char* messages;  // standard output, addresses shown as @
};

// Valid documents are the conformance corpus's (tools/toml_conformance.py); these rows pin what
// this reader adds: its messages, its refusals, and the forms it accepts beyond the standard.
TEST(TomlBuilder, DocumentsAndTheirMessages) {
  const document_case cases[] = {
      // A header given twice is accepted; its keys must still be distinct.
      {"[t]\nx = 1\n[t]\ny = 2\n", "{t={x=i:1, y=i:2}}", ""},
      {"[t]\nx = 1\n[t]\nx = 2\n", "null", "table@@ repeat key x\n"},
      // A duplicate at the top level or in an inline table fails without a message.
      {"a = 1\na = 2\n", "null", ""},
      {"t = {a = 1, a = 2}\n", "null", ""},
      // Key paths and headers through values that are not tables.
      {"a = 1\na.b = 2\n", "null", "table@@ repeat with key a\n"},
      {"a = 1\n[a.b]\n", "null", "table@@ repeat with: a.b\n"},
      {"[[p]]\nn = 1\n[[p]]\nn = 2\n", "{p=[[{n=i:1}, {n=i:2}]]}",
       "table_array@@ insert tab_array p, pointer is: @\n"},
      // A header through an array of tables continues into its last element.
      {"[[p]]\nn = 1\n[[p]]\nn = 2\n[p.q]\nz = 3\n", "{p=[[{n=i:1}, {n=i:2, q={z=i:3}}]]}",
       "table_array@@ insert tab_array p, pointer is: @\n"},
      {"[[p]]\n[p.q]\n[[p]]\np.x = 1\n", "{p=[[{q={}}, {p={x=i:1}}]]}",
       "table_array@@ insert tab_array p, pointer is: @\n"},
      {"[[a]]\n[[a.b]]\nx = 1\n[[a]]\n[[a.b]]\nx = 2\n", "{a=[[{b=[[{x=i:1}]]}, {b=[[{x=i:2}]]}]]}",
       "table_array@@ insert tab_array a, pointer is: @\n"
       "table_array@@ insert tab_array b, pointer is: @\n"
       "table_array@@ insert tab_array b, pointer is: @\n"},
      // The parent of an array of tables must exist already.
      {"[[a.b]]\n", "null", "table/tab_array@@ is missed with key a\n"},
      {"[a]\n[[a]]\n", "null", "table_array@@ is conflict as table with key a\n"},
      {"a = 1\n[[a]]\n", "null", "table@@ repeat with key a\n"},
      {"[[p]]\nn = 1\nn = 2\n", "null",
       "table_array@@ insert tab_array p, pointer is: @\ntable@@ repeat key n\n"},
      // No overflow check: a value past the range wraps in 64 bits.
      {"m = -9223372036854775808\nw = 99999999999999999999\nx = 0xDEAD_beef\n",
       "{m=i:-9223372036854775808, w=i:7766279631452241919, x=i:3735928559}", ""},
      // Fractions are padded to nanoseconds; digits past the ninth are dropped.
      {"t = 07:32:00.500\nu = 00:00:00.1234567891\n",
       "{t=lt:07:32:00.500000000, u=lt:00:00:00.123456789}", ""},
      // The hex escape gives one byte.
      {"s = \"\\x41\\x42\\xff\"\n", "{s=\"AB\\xff\"}", ""},
      // Two or more multi-line strings in a row form one string.
      {"s = \"\"\"first,\"\"\"\n    ''' second'''\n", "{s=\"first, second\"}", ""},
      {"s = \"\"\"\\x41\"\"\"\"\"\"\\u0042\"\"\"\n", "{s=\"AB\"}", ""},
  };
  for (const document_case& c : cases) {
    const auto result = read_text(c.text);
    EXPECT_EQ(result.document, c.document) << c.text;
    EXPECT_EQ(result.messages, c.messages) << c.text;
  }
}

TEST(TomlBuilder, NestingIsLimited) {
  std::string deep_key = "a";
  for (int i = 0; i < max_document_depth; ++i) deep_key += ".a";
  std::string deep_header = "[" + deep_key + "]\n";
  const std::string ok_key = deep_key.substr(2) + " = 1\n";  // max_document_depth levels
  struct nesting_case {
    std::string text;
    bool builds;
    const char* messages;
  };
  const nesting_case cases[] = {
      {ok_key, true, ""},
      {deep_key + " = 1\n", false, "nesting deeper than 512 levels at key a\n"},
      {deep_header, false, "nesting deeper than 512 levels at key a\n"},
      {"[" + deep_key.substr(4) + "]\nb = {c = 1}\n", false,
       "nesting deeper than 512 levels at key c\n"},
  };
  for (const nesting_case& c : cases) {
    const auto result = read_text(c.text);
    EXPECT_EQ(result.document != "null", c.builds) << c.text.substr(0, 20);
    EXPECT_EQ(result.messages, c.messages) << c.text.substr(0, 20);
  }
}

// The edges of the float conversion: signs of zero and NaN, and the cut of long texts.
TEST(TomlBuilder, FloatTexts) {
  double d = 0;
  EXPECT_TRUE(convert_float_text("6.", d));
  EXPECT_EQ(d, 6);
  EXPECT_TRUE(convert_float_text("-0.0", d));
  EXPECT_TRUE(d == 0 && std::signbit(d));
  for (const char* nan_text : {"nan", "+nan", "-nan"}) {
    EXPECT_TRUE(convert_float_text(nan_text, d));
    EXPECT_TRUE(std::isnan(d)) << nan_text;
  }
  EXPECT_TRUE(std::signbit(d));  // of "-nan"
  // Cut to its first 95 characters: the 96th digit does not count.
  const std::string long_text = "1." + std::string(93, '0') + "9";
  EXPECT_TRUE(convert_float_text(long_text, d));
  EXPECT_EQ(d, 1.0);
}

}  // namespace
}  // namespace qn::config
