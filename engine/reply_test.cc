#include "engine/reply.h"

#include <gtest/gtest.h>

#include <string>

namespace qn::db::nosql {
namespace {

TEST(ReplyCells, StringsKeepTheLow16BitsOfTheirLength) {
  EXPECT_EQ(make_text_cell("multiset").text, "multiset");
  EXPECT_EQ(make_cell(xstring(std::string(65536, 'x'))).text.size(), 0u);
  EXPECT_EQ(make_cell(xstring(std::string(65537, 'x'))).text, "x");
  EXPECT_EQ(make_cell(xstring(std::string(65535, 'y'))).text.size(), 65535u);
  const value_cell s = make_cell(xstring("ab"));
  for (uint8_t b : s.inline_bytes) EXPECT_EQ(b, 0);
}

}  // namespace
}  // namespace qn::db::nosql
