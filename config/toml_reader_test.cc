#include "config/toml_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "config/toml_grammar.h"
#include "config/toml_test_support.h"

namespace qn::config {
namespace {

using testing_support::read_text;
using testing_support::render_table;

const toml_reader& reader() {
  static const auto r = toml_reader::create();
  return *r;
}

TEST(TomlReader, CreatesFromTheBuiltInGrammar) {
  compile_error error;
  const auto g = compile_grammar(toml_grammar_text, error);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(error.code, compile_error_code::none);
  ASSERT_EQ(g->rule_count(), static_cast<size_t>(toml_rule::count));
  EXPECT_EQ(g->rule(static_cast<size_t>(toml_rule::mstring)).text(), "mstring");
  EXPECT_EQ(g->rule(static_cast<size_t>(toml_rule::local_date)).text(), "local_date");
  EXPECT_NE(toml_reader::create(), nullptr);
}

// How far a parse gets: the covered length, or the failure offset when nothing matched.
TEST(TomlReader, ParseCoversAPrefixOrFailsAtTheFurthestPosition) {
  struct parse_case {
    std::string text;
    bool parses;
    size_t length_or_offset;
  };
  const parse_case cases[] = {
      {"a = 1\n", true, 6},
      {"a = 1", true, 5},
      {"a = 1\nb = 2\nc = = 3\n", true, 12},
      {"a = 1 # note", true, 6},
      {"", false, 0},
      {"\n\n", false, 2},
      {"# only a comment\n", false, 17},
      {"= 1\n", false, 0},
      {"a = \"open\n", false, 4},
      {"a = \"\xff\"\n", false, 4},
      // An hour out of range leaves the date before it.
      {"a = 1979-05-27T25:00:00\n", true, 14},
      // A bad date leaves the integer before it: the parse stops at the dash.
      {"a = 2023-02-29\n", true, 8},
      {"[t\n", false, 2},
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

TEST(TomlReader, SyntaxErrorsKeepWhatCameBefore) {
  struct reader_case {
    const char* text;
    const char* document;
  };
  const reader_case cases[] = {
      {"a = 1\nb = 2\nc = = 3\nd = 4\n", "{a=i:1, b=i:2}"},
      {"!a = 1\n", "null"},
      {"[server]\nport = 70000\n[users\n", "{server={port=i:70000}}"},
      {"a = 1 b = 2\n", "{a=i:1, b=i:2}"},
  };
  for (const reader_case& c : cases) EXPECT_EQ(read_text(c.text).document, c.document) << c.text;
}

TEST(TomlReader, DeepNestingFailsCleanly) {
  const size_t deep = 100000;
  std::string inline_tables;
  for (size_t i = 0; i < deep; ++i) inline_tables += "{b=";
  const std::string texts[] = {
      "a = " + std::string(deep, '[') + std::string(deep, ']') + "\n",
      "a = " + inline_tables + "1" + std::string(deep, '}') + "\n",
      "a = [" + std::string(deep, '"') + "\n",
  };
  for (const std::string& text : texts) {
    EXPECT_EQ(read_text(text).document, "null") << text.substr(0, 12);
  }
  const std::string shallow = "a = " + std::string(100, '[') + std::string(100, ']') + "\n";
  EXPECT_NE(read_text(shallow).document, "null");
}

TEST(TomlReader, LargeDocumentsBuild) {
  std::string text;
  const int tables = 2000;
  for (int t = 0; t < tables; ++t) {
    text += "[section_" + std::to_string(t) + "]\n";
    for (int k = 0; k < 10; ++k) {
      text += "key_" + std::to_string(k) + " = \"value " + std::to_string(t * 10 + k) + "\"\n";
    }
  }
  const parse_ptr tree = reader().parse(text);
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->length, text.size());
  const auto doc = reader().build_document(*tree);
  ASSERT_NE(doc, nullptr);
  ASSERT_EQ(doc->size(), static_cast<size_t>(tables));
  const value* section = doc->lookup("section_1999");
  ASSERT_NE(section, nullptr);
  const value* key = section->as_table().lookup("key_9");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->as_string(), "value 19999");
}

// Random texts over the characters that matter to TOML must give a document or null, never a
// crash, a hang or (under the sanitizer) a leak.
TEST(TomlReader, RandomBytesNeverBreakTheReader) {
  static constexpr char alphabet[] = "abc019_-=.,[]{}\"'\\ \t\n\r#xuU+:TZe\x80\xc3\xa9\xff";
  std::mt19937 rng(20240229);
  std::uniform_int_distribution<size_t> pick(0, sizeof alphabet - 2);
  std::uniform_int_distribution<size_t> length(0, 120);
  size_t documents = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string text = i % 2 == 0 ? "a = 1\n" : "";
    const size_t n = length(rng);
    for (size_t k = 0; k < n; ++k) text.push_back(alphabet[pick(rng)]);
    const auto result = read_text(text);
    if (result.document != "null") ++documents;
  }
  EXPECT_GT(documents, 0u);
}

}  // namespace
}  // namespace qn::config
