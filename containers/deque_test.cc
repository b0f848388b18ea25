#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <random>
#include <string>

#include "containers/block_deque.h"
#include "values/xstring.h"

namespace qn::db::nosql::nosql_db {
namespace {

// A deque used as a queue for long keeps a map the size of what it holds, not of its history.
TEST(BlockDeque, QueueUseKeepsTheMapBounded) {
  block_deque<int64_t> d;
  int64_t next_in = 0, next_out = 0;
  for (int round = 0; round < 200; ++round) {
    for (int i = 0; i < 3000; ++i) d.push_back(next_in++);
    for (int i = 0; i < 3000; ++i) {
      ASSERT_EQ(d.front(), next_out++);
      d.pop_front();
    }
  }
  EXPECT_TRUE(d.empty());
  EXPECT_LE(d.map_length(), 16u);
  // The same from the other end.
  for (int round = 0; round < 200; ++round) {
    for (int i = 0; i < 3000; ++i) d.push_front(next_in++);
    for (int i = 0; i < 3000; ++i) d.pop_back();
  }
  EXPECT_LE(d.map_length(), 16u);
}

// Random operations against std::deque over strings (which own memory), the contents compared
// after every step. The sizes stay around a few thousand so both sides cross block boundaries in
// both directions.
TEST(BlockDeque, MatchesStdDequeUnderRandomOperations) {
  std::mt19937_64 random(77);
  block_deque<xstring> d;
  std::deque<std::string> model;
  for (int step = 0; step < 60000; ++step) {
    const std::string v = std::to_string(random() % 100000);
    const uint64_t op = random() % 10;
    // Drift: grow for a while, then shrink for a while.
    const bool growing = (step / 5000) % 2 == 0;
    if (op < 3 || (growing && op < 5)) {
      d.push_back(xstring(v));
      model.push_back(v);
    } else if (op < 6 || (growing && op < 8)) {
      d.push_front(xstring(v));
      model.push_front(v);
    } else if (op == 8 && !model.empty()) {
      d.pop_front();
      model.pop_front();
    } else if (op == 9 && !model.empty()) {
      d.pop_back();
      model.pop_back();
    } else if (random() % 16 == 0) {
      const uint64_t i = random() % (model.size() + 1);
      d.insert(i, xstring(v));
      model.insert(model.begin() + i, v);
    } else if (!model.empty()) {
      const uint64_t n = std::min<uint64_t>(random() % 2000, model.size());
      if (random() % 2) {
        d.pop_front_n(n);
        model.erase(model.begin(), model.begin() + n);
      } else {
        d.pop_back_n(n);
        model.erase(model.end() - n, model.end());
      }
    }
    ASSERT_EQ(d.size(), model.size()) << "step " << step;
    if (step % 97 == 0 || model.size() < 50) {
      for (uint64_t i = 0; i < model.size(); ++i) ASSERT_EQ(d[i].view(), model[i]) << step;
    } else if (!model.empty()) {
      const uint64_t i = random() % model.size();
      ASSERT_EQ(d.front().view(), model.front());
      ASSERT_EQ(d.back().view(), model.back());
      ASSERT_EQ(d[i].view(), model[i]);
    }
  }
  d.clear();
  EXPECT_EQ(d.map_length(), 0u);
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
