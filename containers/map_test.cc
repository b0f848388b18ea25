// map_adt and multimap_adt: random operation sequences against std::multimap over every key
// type.
#include "containers/map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "containers/kind_test_support.h"

namespace qn::db::nosql::nosql_db {
namespace {

using namespace testing;

template <class K, class V, bool unique>
using map_kind_t = std::conditional_t<unique, map_adt<K, V>, multimap_adt<K, V>>;

// Compares everything a client can read: structure, count, keys in order, the values of each key
// in entry order, max and min.
template <class K, bool unique>
void expect_same(map_kind_t<K, int32_t, unique>& c,
                 const std::multimap<K, int32_t, key_order>& model, int step) {
  std::string why;
  ASSERT_TRUE(c.is_sound(&why)) << "step " << step << ": " << why;
  ASSERT_EQ(c.count(), model.size()) << "step " << step;
  std::vector<K> keys, model_keys;
  std::vector<int32_t> model_values;
  for (const auto& [k, v] : model) {
    model_keys.push_back(k);
    model_values.push_back(v);
  }
  ASSERT_TRUE(c.all(keys));
  ASSERT_TRUE(same_keys(keys, model_keys)) << "step " << step;
  std::vector<int32_t> values;
  for (size_t i = 0; i < keys.size(); i += model.count(keys[i])) {
    ASSERT_TRUE(c.values_of(keys[i], values)) << "step " << step;
  }
  ASSERT_EQ(values, model_values) << "step " << step;
  K extreme{};
  ASSERT_EQ(c.max(extreme), !model.empty());
  if (!model.empty()) {
    ASSERT_EQ(compare_keys(extreme, std::prev(model.end())->first), 0);
  }
  ASSERT_EQ(c.min(extreme), !model.empty());
  if (!model.empty()) {
    ASSERT_EQ(compare_keys(extreme, model.begin()->first), 0);
  }
}

// The model of re-keying one entry: a map refuses a new key held by another entry; otherwise the
// entry moves after every entry of the new key.
template <class K, bool unique>
bool rekey_model(std::multimap<K, int32_t, key_order>& model,
                 typename std::multimap<K, int32_t, key_order>::iterator it, const K& fresh) {
  if (unique && compare_keys(it->first, fresh) != 0 && model.contains(fresh)) return false;
  const int32_t value = it->second;
  model.erase(it);
  model.emplace(fresh, value);
  return true;
}

template <class K, bool unique>
void run_model(uint32_t seed, int steps) {
  map_kind_t<K, int32_t, unique> c;
  std::multimap<K, int32_t, key_order> model;
  std::mt19937 rng(seed);
  int32_t next_value = 1;
  for (int step = 0; step < steps; ++step) {
    const K k = sample<K>(rng);
    const K other = rng() % 8 == 0 ? k : sample<K>(rng);
    const bool present = model.contains(k);
    // Of twenty draws: six inserts, two erase_equal, one each of erase_max, erase_min,
    // replace_max and replace_min, two replace_equal, two assign_value, a rare clear, three reads.
    constexpr int actions[20] = {0, 0, 0, 0, 0, 0, 1, 1, 2, 3, 4, 5, 6, 6, 7, 7, 8, 9, 9, 9};
    switch (actions[rng() % 20]) {
      case 0: {
        const bool expected = !unique || !present;
        ASSERT_EQ(c.insert(k, next_value), expected) << "insert, step " << step;
        if (expected) model.emplace(k, next_value);
        ++next_value;
        break;
      }
      case 1:
        ASSERT_EQ(c.erase_equal(k), present) << "erase_equal, step " << step;
        model.erase(k);
        break;
      case 2:
        ASSERT_EQ(c.erase_max(), !model.empty());
        if (!model.empty()) model.erase(std::prev(model.end()));
        break;
      case 3:
        ASSERT_EQ(c.erase_min(), !model.empty());
        if (!model.empty()) model.erase(model.begin());
        break;
      case 4: {
        const bool expected =
            !model.empty() && rekey_model<K, unique>(model, std::prev(model.end()), k);
        ASSERT_EQ(c.replace_max(k), expected) << "replace_max, step " << step;
      } break;
      case 5: {
        const bool expected = !model.empty() && rekey_model<K, unique>(model, model.begin(), k);
        ASSERT_EQ(c.replace_min(k), expected) << "replace_min, step " << step;
      } break;
      case 6:
        if (unique) {
          const bool expected = present && rekey_model<K, unique>(model, model.find(k), other);
          ASSERT_EQ(c.replace_equal(k, other), expected) << "replace_equal, step " << step;
        } else if (compare_keys(k, other) == 0 || !present) {
          ASSERT_EQ(c.replace_equal(k, other), present) << "replace_equal, step " << step;
        } else {
          // The entries of k move behind those of `other`, in the order the searches met them:
          // check the entries already under `other` stay first and the moved values all arrive,
          // then take the container's order for the moved ones.
          std::vector<int32_t> before, moved, after;
          for (auto [it, end] = model.equal_range(other); it != end; ++it)
            before.push_back(it->second);
          for (auto [it, end] = model.equal_range(k); it != end; ++it) moved.push_back(it->second);
          ASSERT_TRUE(c.replace_equal(k, other)) << "replace_equal, step " << step;
          ASSERT_TRUE(c.values_of(other, after));
          ASSERT_EQ(after.size(), before.size() + moved.size());
          ASSERT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
          std::vector<int32_t> arrived(after.begin() + static_cast<long>(before.size()),
                                       after.end());
          std::sort(arrived.begin(), arrived.end());
          std::sort(moved.begin(), moved.end());
          ASSERT_EQ(arrived, moved);
          model.erase(k);
          model.erase(other);
          for (int32_t v : after) model.emplace(other, v);
        }
        break;
      case 7: {
        ASSERT_EQ(c.assign_value(k, next_value), present) << "assign_value, step " << step;
        for (auto [it, end] = model.equal_range(k); it != end; ++it) it->second = next_value;
        ++next_value;
        break;
      }
      case 8:
        if (rng() % 40 == 0) {
          ASSERT_TRUE(c.clear());
          model.clear();
        }
        break;
      default: {
        // equal and values_of append to what the list holds.
        std::vector<K> found{other};
        const bool expected = !unique || present;
        ASSERT_EQ(c.equal(k, found), expected) << "equal, step " << step;
        ASSERT_EQ(found.size(), 1 + model.count(k));
        std::vector<int32_t> values{-1};
        ASSERT_EQ(c.values_of(k, values), present);
        ASSERT_EQ(values.size(), 1 + model.count(k));
        break;
      }
    }
    expect_same<K, unique>(c, model, step);
  }
}

TEST(MapAdt, RandomSequencesMatchTheModelForEveryKeyTypeInBothKinds) {
  for_every_type([]<class K>() {
    const int steps = std::is_same_v<K, int32_t> ? 10000 : 2500;
    run_model<K, true>(11, steps);
    run_model<K, false>(12, steps);
  });
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
