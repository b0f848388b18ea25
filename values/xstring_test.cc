#include "values/xstring.h"

#include <gtest/gtest.h>

namespace qn::adt::string {
namespace {

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
  EXPECT_EQ(b.size(), 3u);
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
}  // namespace qn::adt::string
