#include "values/text_forms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <string>
#include <utility>

namespace qn {
namespace {

// Renders a conversion as "fail" or the decimal value, so one table covers every integer type.
template <class T>
std::string convert(std::string_view token) {
  T v{};
  if (!parse_value(token, v)) return "fail";
  return std::to_string(+v);
}

TEST(TextForms, IntegersEveryWidthBaseAndSign) {
  // The token, then what i08, i16, i32, i64, u08, u16, u32 and u64 make of it.
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"0x1F", "31 31 31 31 31 31 31 31"},
      {"037", "31 31 31 31 31 31 31 31"},
      {"0b11111", "31 31 31 31 31 31 31 31"},
      {"0XfF", "-1 255 255 255 255 255 255 255"},
      {"09", "fail fail fail fail fail fail fail fail"},
      {"+5", "5 5 5 5 5 5 5 5"},
      {"-5", "-5 -5 -5 -5 fail fail fail fail"},
      {"  \t7", "7 7 7 7 7 7 7 7"},
      {"", "0 0 0 0 0 0 0 0"},
      {"12abc", "fail fail fail fail fail fail fail fail"},
      {"300", "44 300 300 300 44 300 300 300"},
      {"99999999999", "-1 -1 2147483647 99999999999 255 65535 4294967295 99999999999"},
      {"-99999999999", "0 0 -2147483648 -99999999999 fail fail fail fail"},
      {"18446744073709551615",
       "-1 -1 2147483647 9223372036854775807 255 65535 4294967295 18446744073709551615"},
      {"18446744073709551616",
       "-1 -1 2147483647 9223372036854775807 255 65535 4294967295 18446744073709551615"},
      {"-9223372036854775809", "0 0 -2147483648 -9223372036854775808 fail fail fail fail"},
      {"0x", "0 0 0 0 0 0 0 0"},
      {"0b2", "fail fail fail fail fail fail fail fail"},
  };
  for (const auto& [token, expected] : cases) {
    const std::string got = convert<int8_t>(token) + " " + convert<int16_t>(token) + " " +
                            convert<int32_t>(token) + " " + convert<int64_t>(token) + " " +
                            convert<uint8_t>(token) + " " + convert<uint16_t>(token) + " " +
                            convert<uint32_t>(token) + " " + convert<uint64_t>(token);
    EXPECT_EQ(got, expected) << token;
  }
}

TEST(TextForms, FloatingPointTakesWholeTokenOnly) {
  struct {
    std::string_view token;
    bool ok;
    double value;
  } cases[] = {
      {"1.5", true, 1.5},   {"-2e3", true, -2000},  {"0x1p4", true, 16},   {"inf", true, INFINITY},
      {"1.5x", false, 0},   {"1.5 ", false, 0},     {"", true, 0},          {"abc", false, 0},
      // A missing argument arrives as a null view: it must reach no memcpy or memchr.
      {std::string_view(), true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.token));
    double d = -7;
    float f = -7;
    EXPECT_EQ(parse_value(c.token, d), c.ok);
    EXPECT_EQ(parse_value(c.token, f), c.ok);
    // A failed conversion leaves the value as it was.
    EXPECT_EQ(d, c.ok ? c.value : -7);
    EXPECT_EQ(f, c.ok ? static_cast<float>(c.value) : -7);
  }
  double nan_value = 0;
  EXPECT_TRUE(parse_value("nan", nan_value));
  EXPECT_TRUE(std::isnan(nan_value));
  // A zero byte inside the token must not end the conversion early.
  EXPECT_FALSE(parse_value(std::string_view("1\0" "2", 3), nan_value));
  // Long tokens take the heap path.
  EXPECT_TRUE(parse_value(std::string(100, '1'), nan_value));
}

// A conversion's answer and, when it converts, its value; a failed one leaves `start` as it was.
template <class T>
struct form_case {
  std::string_view token;
  bool ok;
  T value;
};
template <class T>
void expect_forms(std::initializer_list<form_case<T>> cases, T start) {
  for (const form_case<T>& c : cases) {
    T v = start;
    EXPECT_EQ(parse_value(c.token, v), c.ok) << c.token;
    EXPECT_EQ(v, c.ok ? c.value : start) << c.token;
  }
}

TEST(TextForms, DatesTimesAndDateTimes) {
  expect_forms<date>({{"2024-02-29", true, {2024, 2, 29}},
                      {"2023-02-29", false, {}},
                      {"1900-02-29", false, {}},
                      {"2000-02-29", true, {2000, 2, 29}},
                      {"2024-13-01", false, {}},
                      {"2024-00-10", false, {}},
                      {"2024-04-31", false, {}},
                      {"2024-12-31", true, {2024, 12, 31}},
                      {"2024-01-01trailing", true, {2024, 1, 1}},
                      {"2024-1-01", false, {}},
                      {"2024/01/01", false, {}},
                      {"", false, {}},
                      {"0000-01-01", true, {0, 1, 1}},
                      {"2024-01-00", false, {}}},
                     date{1999, 1, 2});
  expect_forms<time>({{"23:59:59", true, {23, 59, 59, 0}},
                      {"24:00:00", false, {}},
                      {"12:60:00", false, {}},
                      {"12:00:60", false, {}},
                      {"12:00:00.25", true, {12, 0, 0, 250000000}},
                      {"12:00:00.123456789", true, {12, 0, 0, 123456789}},
                      {"12:00:00.1234567891", true, {12, 0, 0, 123456789}},
                      {"12:00:00.", true, {12, 0, 0, 0}},
                      {"12:00:00.5xyz", true, {12, 0, 0, 500000000}},
                      {"1:00:00", false, {}},
                      {"", false, {}}},
                     time{});
  // Both spellings; a date alone, or a bad date or time, fails.
  const date_time morning{{2024, 1, 31}, {8, 0, 0, 0}};
  expect_forms<date_time>({{"2024-01-31T08:00:00", true, morning},
                           {"2024-01-31 08:00:00", true, morning},
                           {"2024-01-31", false, {}},
                           {"2024-02-30T08:00:00", false, {}},
                           {"2024-01-31T25:00:00", false, {}}},
                          date_time{});
}

TEST(TextForms, DefaultsOfDateAndTimeTypes) {
  EXPECT_EQ(date{}, (date{2020, 10, 16}));
  EXPECT_EQ(time{}, (time{17, 34, 36, 0}));
  const date_time dt;
  const auto* bytes = reinterpret_cast<const unsigned char*>(&dt);
  for (size_t i = 0; i < sizeof dt; ++i) EXPECT_EQ(bytes[i], 0) << i;
}

}  // namespace
}  // namespace qn
