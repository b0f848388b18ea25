#include "engine/reply.h"

#include <gtest/gtest.h>

#include <string>

namespace qn::db::nosql {
namespace {

TEST(ReplyCells, InlineLayoutByCategory) {
  const value_cell i = make_cell(int16_t{-2});
  EXPECT_EQ(i.inline_bytes[0], 0xFE);
  EXPECT_EQ(i.inline_bytes[1], 0xFF);
  EXPECT_EQ(i.inline_bytes[2], 0);

  // A time sits after four zero bytes, where the time part of a datetime would be.
  const value_cell t = make_cell(time{1, 2, 3, 0x04050607});
  const uint8_t expected_time[16] = {0, 0, 0, 0, 1, 2, 3, 7, 6, 5, 4, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(t.inline_bytes.data(), expected_time, 16), 0);

  date_time dt;
  dt.date_part = date{2024, 2, 29};
  dt.time_part = time{23, 59, 58, 1};
  const value_cell d = make_cell(dt);
  const uint8_t expected_dt[11] = {0xE8, 0x07, 2, 29, 23, 59, 58, 1, 0, 0, 0};
  EXPECT_EQ(std::memcmp(d.inline_bytes.data(), expected_dt, 11), 0);
  EXPECT_TRUE(d.text.empty());
}

TEST(ReplyCells, StringsKeepTheLow16BitsOfTheirLength) {
  EXPECT_EQ(make_text_cell("multiset").text, "multiset");
  EXPECT_EQ(make_cell(xstring(std::string(65536, 'x'))).text.size(), 0u);
  EXPECT_EQ(make_cell(xstring(std::string(65537, 'x'))).text, "x");
  EXPECT_EQ(make_cell(xstring(std::string(65535, 'y'))).text.size(), 65535u);
  const value_cell s = make_cell(xstring("ab"));
  for (uint8_t b : s.inline_bytes) EXPECT_EQ(b, 0);
}

TEST(ReplyRecord, ItemsStartUntypedAndSingleReplacesAll) {
  reply_record r;
  r.resize(2);
  EXPECT_EQ(r[1].type, untyped);
  EXPECT_TRUE(r[1].label.empty());
  r[0].set_header("vkey", u64_type);
  r[0].append(uint64_t{5});
  reply_item& only = r.single(string_type);
  only.assign(std::vector<xstring>{xstring("a"), xstring("")});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_TRUE(r[0].label.empty());
  ASSERT_EQ(r[0].values.size(), 2u);
  EXPECT_EQ(r[0].values[0].text, "a");
}

}  // namespace
}  // namespace qn::db::nosql
