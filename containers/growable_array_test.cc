#include "containers/growable_array.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "values/xstring.h"

namespace qn::db::nosql::nosql_db {
namespace {

TEST(GrowableArray, AppendingGrowsToTwiceTheNeededSize) {
  struct case_t {
    uint64_t appends;
    uint64_t capacity;
  };
  const case_t cases[] = {{0, 0}, {1, 2}, {2, 2}, {3, 6}, {6, 6}, {7, 14}, {14, 14}, {15, 30}};
  for (const case_t& c : cases) {
    growable_array<int32_t> a;
    for (uint64_t i = 0; i < c.appends; ++i) a.push_back(static_cast<int32_t>(i));
    EXPECT_EQ(a.capacity(), c.capacity) << c.appends << " appends";
    EXPECT_EQ(a.size(), c.appends);
  }
}

TEST(GrowableArray, PushingAnElementOfItselfWhileGrowing) {
  growable_array<xstring> a;
  a.push_back(xstring("first"));
  a.push_back(xstring("second"));  // size 2, capacity 2: the next push reallocates
  a.push_back(a[0]);
  a.insert(0, a[2]);
  std::string got;
  a.for_each_in(0, a.size(), [&](xstring& s) { got += std::string(s.view()) + ","; });
  EXPECT_EQ(got, "first,first,second,first,");
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
