#include "containers/growable_array.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

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

TEST(GrowableArray, RemovingNeverShrinksTheCapacity) {
  growable_array<uint8_t> a;
  a.resize(10);
  EXPECT_EQ(a.capacity(), 20u);
  a.pop_back_n(7);
  a.pop_front();
  a.clear();
  EXPECT_EQ(a.size(), 0u);
  EXPECT_EQ(a.capacity(), 20u);
  a.release();
  EXPECT_EQ(a.capacity(), 0u);
  EXPECT_EQ(a.data(), nullptr);
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

TEST(GrowableArray, RemovedStringsAreReleased) {
  growable_array<xstring> a;
  a.push_back(xstring("some bytes"));
  a.push_back(xstring("more bytes"));
  a.pop_back();
  a.resize(2);  // the slot that held "more bytes" comes back empty
  EXPECT_TRUE(a[1].empty());
  EXPECT_EQ(a[1].capacity(), 0u);
}

// Random operations against std::vector, with the contents compared after every step.
TEST(GrowableArray, MatchesStdVectorUnderRandomOperations) {
  std::mt19937_64 random(20240611);
  growable_array<int32_t> a;
  std::vector<int32_t> model;
  for (int step = 0; step < 20000; ++step) {
    const auto v = static_cast<int32_t>(random());
    switch (random() % 7) {
      case 0:
      case 1:
        a.push_back(v);
        model.push_back(v);
        break;
      case 2: {
        const uint64_t i = random() % (model.size() + 1);
        a.insert(i, v);
        model.insert(model.begin() + i, v);
        break;
      }
      case 3:
        if (!model.empty()) {
          a.pop_back();
          model.pop_back();
        }
        break;
      case 4:
        if (!model.empty()) {
          a.pop_front();
          model.erase(model.begin());
        }
        break;
      case 5: {
        const uint64_t b = random() % (model.size() + 1);
        const uint64_t e = b + random() % (model.size() - b + 1);
        a.erase(b, e);
        model.erase(model.begin() + b, model.begin() + e);
        break;
      }
      case 6: {
        const uint64_t n = random() % 4;
        a.pop_front_n(n);
        model.erase(model.begin(), model.begin() + std::min<uint64_t>(n, model.size()));
        break;
      }
    }
    ASSERT_EQ(a.size(), model.size()) << "step " << step;
    ASSERT_GE(a.capacity(), a.size());
    for (uint64_t i = 0; i < model.size(); ++i) ASSERT_EQ(a[i], model[i]) << "step " << step;
  }
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
