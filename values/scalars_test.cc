// The scalar types: type words and names, the key order of every type, and xstring's growth and
// ownership.
#include "values/type_descriptor.h"

#include <gtest/gtest.h>

#include <string>

#include "values/byte_string_order.h"
#include "values/scalar.h"
#include "values/xstring.h"

namespace qn {
namespace {

TEST(TypeWords, RecognisedFromAFewBytes) {
  struct {
    std::string_view word;
    std::string_view name;  // empty: not a type
  } cases[] = {
      {"i08", "i08"},   {"ix8", "i08"},       {"i_8", "i08"},         {"i16", "i16"},
      {"i32", "i32"},   {"iX2", "i32"},       {"i64", "i64"},         {"u08", "u08"},
      {"u16", "u16"},   {"u32", "u32"},       {"uz2", "u32"},         {"u64", "u64"},
      {"x32", ""},      {"i3", ""},           {"i99", ""},            {"float", "float"},
      {"fxx", "float"}, {"double", "double"}, {"dox", "double"},      {"date", "date"},
      {"datetime", "datetime"},               {"dxxxxxxx", "datetime"}, {"dat", ""},
      {"dates", ""},    {"time", "time"},     {"txx", "time"},        {"string", "string"},
      {"sxx", "string"}, {"", ""},            {"zzz", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.word));
    type_descriptor d{9, 9, 9};
    const bool ok = recognise_type_word(c.word, d);
    EXPECT_EQ(ok, !c.name.empty());
    if (ok) {
      EXPECT_EQ(type_name(d), c.name);
    } else {
      EXPECT_EQ(d, (type_descriptor{9, 9, 9}));
    }
  }
}

TEST(TypeNames, DecodedCategoryFirst) {
  struct {
    type_descriptor d;
    std::string_view name;
  } cases[] = {
      {{0, 0, 0}, "i08"},     {{3, 0, 0}, "i64"},    {{0, 1, 0}, "u08"},   {{3, 7, 0}, "u64"},
      {{2, 2, 1}, "float"},   {{3, 2, 1}, "double"}, {{0, 2, 1}, "double"}, {{4, 2, 2}, "string"},
      {{5, 2, 3}, "date"},    {{5, 2, 4}, "time"},   {{5, 2, 5}, "datetime"}, {{5, 2, 6}, ""},
      {{4, 0, 0}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(type_name(c.d), c.name);
}

TEST(KeyOrder, FollowsEachTypesRules) {
  EXPECT_LT(compare_keys<int8_t>(-128, -1), 0);
  EXPECT_GT(compare_keys<uint8_t>(255, 7), 0);
  EXPECT_LT(compare_keys(date{2024, 12, 31}, date{2025, 1, 1}), 0);
  EXPECT_LT(compare_keys(time{1, 2, 3, 4}, time{1, 2, 3, 5}), 0);
  EXPECT_LT(compare_keys(xstring("B"), xstring("a")), 0);
  EXPECT_LT(compare_keys(xstring("a"), xstring("ab")), 0);
  EXPECT_LT(compare_keys(xstring("\xC3"), xstring("A")), 0);
  EXPECT_EQ(compare_keys(xstring("ab"), xstring("ab")), 0);
  // NaN sorts after every number and equals itself, so trees keep a total order.
  const double nan = std::nan("");
  EXPECT_GT(compare_keys(nan, 1e308), 0);
  EXPECT_LT(compare_keys(-1e308, nan), 0);
  EXPECT_EQ(compare_keys(nan, nan), 0);
  EXPECT_EQ(compare_keys(0.0, -0.0), 0);
  EXPECT_TRUE(byte_string_less{}("\x80", "\x7f"));
}

TEST(Xstring, GrowthFollowsTheDoublingRule) {
  xstring s;
  EXPECT_EQ(s.capacity(), 0u);
  EXPECT_STREQ(s.data(), "");
  s.resize(3, 'a');
  EXPECT_EQ(s.capacity(), 4u);  // from empty: n + 1
  EXPECT_EQ(s.view(), "aaa");
  s.resize(4, 'b');
  EXPECT_EQ(s.capacity(), 10u);  // 2 * (n + 1)
  EXPECT_EQ(s.view(), "aaab");
  EXPECT_EQ(s.data()[4], 0);
  s.resize(1);
  EXPECT_EQ(s.capacity(), 10u);  // shrinking keeps the buffer
  EXPECT_EQ(s.view(), "a");
  EXPECT_EQ(s.data()[1], 0);
}

TEST(Xstring, CopiesMovesAndAppendsOwnBytes) {
  xstring a(std::string_view("x\0y", 3));
  xstring b = a;
  EXPECT_EQ(a, b);
  b.append("z");
  EXPECT_NE(a, b);
  xstring c = std::move(b);
  EXPECT_EQ(c.view(), std::string_view("x\0yz", 4));
  EXPECT_EQ(b.size(), 0u);
  // Appending a view of itself survives the reallocation.
  c.append(c.view());
  EXPECT_EQ(c.view(), std::string_view("x\0yzx\0yz", 8));
  c = c;
  EXPECT_EQ(c.size(), 8u);
}

}  // namespace
}  // namespace qn
