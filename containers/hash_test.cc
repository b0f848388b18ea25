#include "containers/hash.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "containers/factory.h"
#include "containers/image_test_support.h"

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
    out += (out.empty() ? "" : " ") + std::to_string(k) + "=";
    if constexpr (std::is_same_v<V, xstring>) {
      out += values.at(0).view();
    } else {
      out += std::to_string(values.at(0));
    }
  }
  return out;
}

template <class K, class V>
std::string render_keys(adt<K, V>& c) {
  std::vector<K> keys;
  EXPECT_TRUE(c.all(keys));
  std::string out;
  for (const K& k : keys) out += (out.empty() ? "" : " ") + std::to_string(k);
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
  const row i32_rows[] = {{1000, -2147483648LL, true},
                          {1000, -2147482649LL, true},
                          {1000, -2147482648LL, false},
                          {1000, 0, false}};
  for (const row& r : i32_rows) {
    hm_adt<int32_t, uint8_t> c(r.capacity);
    EXPECT_EQ(c.insert(static_cast<int32_t>(r.key), 1), r.storable) << r.key;
  }
  hm_adt<uint8_t, uint8_t> full(256);
  for (int k = 0; k < 256; ++k) EXPECT_TRUE(full.insert(static_cast<uint8_t>(k), 0));
  hm_adt<uint8_t, uint8_t> ten(10);
  EXPECT_TRUE(ten.insert(9, 0));
  EXPECT_FALSE(ten.insert(10, 0));
  EXPECT_EQ(ten.count(), 10u);           // the capacity, not the entries
  ht_adt<uint8_t, int32_t> not_u08(10);  // only the u08 instantiation of a table inserts
  EXPECT_FALSE(not_u08.insert(1, 0));
}

TEST(HashTable, KeysOnlyAndReKeying) {
  ht_adt<int16_t, uint8_t> c(4);
  EXPECT_TRUE(c.insert(-32767, 9));
  EXPECT_FALSE(c.insert(-32767, 0));
  EXPECT_FALSE(c.insert(-32764, 0));  // slot 4
  EXPECT_TRUE(c.insert(-32768, 0));

  struct row {
    int from, to;
    bool result;
    const char* after;
  };
  // Applied in order to the same table.
  const row rows[] = {
      {-32767, -32766, true, "-32768 -32766"},
      {-32768, -32766, true, "-32766"},   // onto a present key: it stays present
      {-32766, 0, false, "-32766"},       // not storable
      {-32768, -32767, false, "-32766"},  // absent
      {-32766, -32766, true, "-32766"},   // onto itself
  };
  for (const row& r : rows) {
    EXPECT_EQ(c.replace_equal(static_cast<int16_t>(r.from), static_cast<int16_t>(r.to)), r.result)
        << r.from << "->" << r.to;
    EXPECT_EQ(render_keys(c), r.after) << r.from << "->" << r.to;
  }
  std::vector<uint8_t> values;
  EXPECT_FALSE(c.values_of(-32766, values));  // keys only
  EXPECT_FALSE(c.assign_value(-32766, 1));
}

TEST(HashCreation, ASlotArrayTooLargeToAllocateThrowsBadAlloc) {
  const uint64_t huge[] = {uint64_t{1} << 40, (uint64_t{1} << 61) + 1, ~uint64_t{0}};
  for (uint64_t capacity : huge) {
    EXPECT_THROW((hm_adt<uint64_t, int32_t>{capacity}), std::bad_alloc) << capacity;
    EXPECT_THROW((ht_adt<int64_t, uint8_t>{capacity}), std::bad_alloc) << capacity;
  }
  // A narrow key needs only its key space, however large the capacity.
  hm_adt<uint8_t, uint8_t> wide(uint64_t{1} << 40);
  EXPECT_TRUE(wide.insert(255, 1));
}

// ---- image payload ----

std::string u64_bytes(uint64_t v) { return image_testing::u64le(v); }

// What `load` reads: the saved payload after the capacity, which the image reader takes itself.
std::string loadable(ab_adt& c) { return image_testing::saved_payload(c).substr(8); }

// A record: kind name, descriptors, capacity, entry count, then each key widened to 8 bytes
// (a table) or at its width (a map) with the value; a shell's record ends after the descriptors.
TEST(HashImage, RecordBytes) {
  hm_adt<uint8_t, int32_t> map(16);
  ASSERT_TRUE(map.insert(3, 7));
  EXPECT_EQ(image_testing::saved(map),
            u64_bytes(7) + "hashmap" + std::string("\x00\x01\x00\x02\x00\x00", 6) + u64_bytes(16) +
                u64_bytes(1) + std::string("\x03\x07\x00\x00\x00", 5));
  ht_adt<int16_t, uint8_t> table(4);
  ASSERT_TRUE(table.insert(-32767, 0));
  EXPECT_EQ(image_testing::saved(table),
            u64_bytes(9) + "hashtable" + std::string("\x01\x00\x00\x00\x01\x00", 6) + u64_bytes(4) +
                u64_bytes(1) + std::string("\x01\x80\xff\xff\xff\xff\xff\xff\x01\x80", 10));
  hm_adt<xstring, int32_t> shell;
  EXPECT_EQ(shell.kind_name(), "hashmap_not_allowed");
  EXPECT_EQ(shell.count(), 0u);
  EXPECT_FALSE(shell.insert(xstring("a"), 1));
  EXPECT_EQ(image_testing::saved(shell),
            u64_bytes(19) + "hashmap_not_allowed" + std::string("\4\2\2\2\0\0", 6));
  uint64_t left = 0;
  EXPECT_TRUE(image_testing::load_payload(shell, "rest", &left));
  EXPECT_EQ(left, 4u);
}

TEST(HashImage, LoadsIntoTablesOfAnySizeAndRefusesCutPayloads) {
  hm_adt<int16_t, xstring> c(40);
  ASSERT_TRUE(c.insert(-32768, xstring("")));
  ASSERT_TRUE(c.insert(-32750, xstring("abc")));
  ASSERT_TRUE(c.insert(-32729, xstring(std::string(300, 'z'))));
  const std::string payload = loadable(c);
  hm_adt<int16_t, xstring> back(40);
  uint64_t left = 1;
  EXPECT_TRUE(image_testing::load_payload(back, payload, &left));
  EXPECT_EQ(left, 0u);
  EXPECT_EQ(render(back), render(c));
  // Into a smaller table: keys beyond it are skipped, present keys take the loaded value.
  hm_adt<int16_t, xstring> small(20);
  ASSERT_TRUE(small.insert(-32768, xstring("old")));
  EXPECT_TRUE(image_testing::load_payload(small, payload));
  EXPECT_EQ(render(small), "-32768= -32750=abc");
  for (size_t length = 0; length < payload.size(); ++length) {
    hm_adt<int16_t, xstring> cut(40);
    EXPECT_FALSE(image_testing::load_payload(cut, payload.substr(0, length))) << length;
  }
  // Counts and lengths the file cannot hold are refused before anything is sized by them.
  for (const std::string& bytes : {u64_bytes(uint64_t{1} << 60) + "\x01\x80",
                                   u64_bytes(1) + "\x01\x80" + u64_bytes(~uint64_t{0})}) {
    EXPECT_FALSE(image_testing::load_payload(back, bytes));
  }
  ht_adt<uint64_t, uint8_t> t(100);
  for (uint64_t k : {0, 50, 99}) ASSERT_TRUE(t.insert(k, 0));
  ht_adt<uint64_t, uint8_t> table_back(60);
  EXPECT_TRUE(image_testing::load_payload(table_back, loadable(t)));
  EXPECT_EQ(render_keys(table_back), "0 50");
  EXPECT_FALSE(image_testing::load_payload(table_back, u64_bytes(uint64_t{1} << 62)));
}

// ---- model ----

TEST(HashMap, RandomOperationsAgreeWithAStandardMap) {
  std::mt19937 random(7);
  hm_adt<int8_t, int32_t> c(50);
  std::map<int, int32_t> model;
  const auto storable = [](int k) { return k >= -128 && k < -128 + 50; };
  for (int step = 0; step < 20000; ++step) {
    const auto key = static_cast<int8_t>(static_cast<int>(random() % 70) - 128);
    const auto other = static_cast<int8_t>(static_cast<int>(random() % 70) - 128);
    const auto value = static_cast<int32_t>(random() % 1000);
    const bool present = model.contains(key);
    switch (random() % 6) {
      case 0:
        ASSERT_EQ(c.insert(key, value), storable(key) && !present);
        if (storable(key) && !present) model[key] = value;
        break;
      case 1:
        ASSERT_EQ(c.assign_value(key, value), present);
        if (present) model[key] = value;
        break;
      case 2:
        ASSERT_EQ(c.erase_equal(key), present);
        model.erase(key);
        break;
      case 3: {
        const bool moves = present && storable(other);
        ASSERT_EQ(c.replace_equal(key, other), moves);
        if (moves) {
          const int32_t moved = model[key];
          model.erase(key);
          model[other] = moved;
        }
        break;
      }
      case 4:
        if (random() % 50 == 0) {
          ASSERT_TRUE(c.clear());
          model.clear();
        }
        break;
      default: {
        std::vector<int32_t> values{-1};  // both append
        std::vector<int8_t> keys{1};
        ASSERT_EQ(c.values_of(key, values), present);
        ASSERT_EQ(c.equal(key, keys), present);
        ASSERT_EQ(values.size(), present ? 2u : 1u);
        ASSERT_EQ(keys.size(), values.size());
        if (present) {
          ASSERT_EQ(values[1], model[key]);
          ASSERT_EQ(keys[1], key);
        }
      }
    }
    if (step % 100 == 0) {
      std::string expected;
      for (const auto& [k, v] : model) {
        expected += (expected.empty() ? "" : " ") + std::to_string(k) + "=" + std::to_string(v);
      }
      ASSERT_EQ(render(c), expected) << step;
    }
  }
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
