#include "containers/hash.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qn::db::nosql::nosql_db {
namespace {

// All keys of a container and their values, as "key=value" in `all` order.
template <class K, class V>
std::string render(hm_adt<K, V>& c) {
  std::vector<K> keys;
  EXPECT_TRUE(c.all(keys));
  std::string out;
  for (const K& k : keys) {
    std::vector<V> values;
    EXPECT_TRUE(c.values_of(k, values));
    out += (out.empty() ? "" : " ") + std::to_string(k) + "=" + std::to_string(values.at(0));
  }
  return out;
}

TEST(HashMap, StorableKeysRunFromTheTypeMinimumUpToTheCapacity) {
  struct row {
    uint64_t capacity;
    int64_t key;
    bool storable;
  };
  const row i08_rows[] = {{10, -128, true}, {10, -119, true}, {10, -118, false}, {10, 0, false},
                          {256, 127, true}, {300, 127, true}, {0, -128, false}};
  for (const row& r : i08_rows) {
    hm_adt<int8_t, int32_t> c(r.capacity);
    EXPECT_EQ(c.insert(static_cast<int8_t>(r.key), 1), r.storable) << r.capacity << " " << r.key;
  }
  hm_adt<uint8_t, uint8_t> full(256);
  for (int k = 0; k < 256; ++k) EXPECT_TRUE(full.insert(static_cast<uint8_t>(k), 0));
}

// Applied in order to one hash map with four slots (keys -32768 to -32765); the table shares
// the map's slot logic and keeps keys only.
TEST(HashMap, OperationsInOrder) {
  hm_adt<int16_t, int32_t> c(4);
  const struct {
    char op;  // i insert, a assign_value, e erase_equal, r replace_equal
    int key, arg;
    bool result;
    const char* after;
  } rows[] = {
      {'i', -32767, 9, true, "-32767=9"}, {'i', -32767, 0, false, "-32767=9"},
      {'i', -32764, 0, false, "-32767=9"},  // slot 4
      {'i', -32768, 1, true, "-32768=1 -32767=9"}, {'a', -32768, 5, true, "-32768=5 -32767=9"},
      {'a', -32766, 5, false, "-32768=5 -32767=9"},
      {'r', -32767, -32766, true, "-32768=5 -32766=9"},
      {'r', -32768, -32766, true, "-32766=5"},   // onto a present key: the moved value wins
      {'r', -32766, 0, false, "-32766=5"},       // not storable
      {'r', -32768, -32767, false, "-32766=5"},  // absent
      {'r', -32766, -32766, true, "-32766=5"},   // onto itself
      {'e', -32768, 0, false, "-32766=5"}, {'e', -32766, 0, true, ""},
  };
  for (const auto& r : rows) {
    const auto key = static_cast<int16_t>(r.key);
    const bool result = r.op == 'i'   ? c.insert(key, r.arg)
                        : r.op == 'a' ? c.assign_value(key, r.arg)
                        : r.op == 'e' ? c.erase_equal(key)
                                      : c.replace_equal(key, static_cast<int16_t>(r.arg));
    EXPECT_EQ(result, r.result) << r.op << " " << r.key;
    EXPECT_EQ(render(c), r.after) << r.op << " " << r.key;
  }
  // equal and values_of append to what the list holds.
  ASSERT_TRUE(c.insert(-32765, 3));
  std::vector<int16_t> keys{1};
  std::vector<int32_t> values{-1};
  EXPECT_TRUE(c.equal(-32765, keys));
  EXPECT_TRUE(c.values_of(-32765, values));
  EXPECT_EQ(keys, (std::vector<int16_t>{1, -32765}));
  EXPECT_EQ(values, (std::vector<int32_t>{-1, 3}));
  EXPECT_FALSE(c.values_of(-32766, values));

  ht_adt<int16_t, uint8_t> table(4);
  EXPECT_TRUE(table.insert(-32767, 9));
  EXPECT_TRUE(table.insert(-32768, 0));
  EXPECT_TRUE(table.replace_equal(-32767, -32768));  // onto a present key: it stays present
  std::vector<int16_t> left;
  EXPECT_TRUE(table.all(left));
  EXPECT_EQ(left, std::vector<int16_t>{-32768});
  std::vector<uint8_t> none;
  EXPECT_FALSE(table.values_of(-32768, none));  // keys only
  EXPECT_FALSE(table.assign_value(-32768, 1));
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
