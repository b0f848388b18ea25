// set_adt and multiset_adt: random operation sequences against std::multiset over every key type
// (every query, every erase and replace selection, rank).
#include "containers/set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "containers/kind_test_support.h"

namespace qn::db::nosql::nosql_db {
namespace {

using namespace testing;

template <class K, bool unique>
using set_kind_t = std::conditional_t<unique, set_adt<K, uint8_t>, multiset_adt<K, uint8_t>>;
template <class K>
using model_t = std::multiset<K, key_order>;

// The thirteen selections, in the order the families list them.
enum class sel { ge_le, ge_lt, gt_le, gt_lt, max_n, min_n, max, min, equal, gt, lt, ge, le };
constexpr int selection_count = 13;

struct args {
  sel what;
  uint64_t n;
};

// Each selection's query, erase and replace, in the order of `sel`: four between two keys, max_n
// and min_n, max and min (a query delivers the one key as a list of one), then five of one key.
template <class K>
struct selection_ops {
  bool (*query)(adt<K, uint8_t>& c, const K& a, const K& b, uint64_t n, std::vector<K>& out);
  bool (*erase)(adt<K, uint8_t>& c, const K& a, const K& b, uint64_t n);
  bool (*replace)(adt<K, uint8_t>& c, const K& a, const K& b, uint64_t n, const K& fresh);
};
template <class K>
constexpr selection_ops<K> ops[] = {
    {[](auto& c, auto& a, auto& b, auto, auto& o) { return c.between_ge_le(a, b, o); },
     [](auto& c, auto& a, auto& b, auto) { return c.erase_between_ge_le(a, b); },
     [](auto& c, auto& a, auto& b, auto, auto& k) { return c.replace_between_ge_le(a, b, k); }},
    {[](auto& c, auto& a, auto& b, auto, auto& o) { return c.between_ge_lt(a, b, o); },
     [](auto& c, auto& a, auto& b, auto) { return c.erase_between_ge_lt(a, b); },
     [](auto& c, auto& a, auto& b, auto, auto& k) { return c.replace_between_ge_lt(a, b, k); }},
    {[](auto& c, auto& a, auto& b, auto, auto& o) { return c.between_gt_le(a, b, o); },
     [](auto& c, auto& a, auto& b, auto) { return c.erase_between_gt_le(a, b); },
     [](auto& c, auto& a, auto& b, auto, auto& k) { return c.replace_between_gt_le(a, b, k); }},
    {[](auto& c, auto& a, auto& b, auto, auto& o) { return c.between_gt_lt(a, b, o); },
     [](auto& c, auto& a, auto& b, auto) { return c.erase_between_gt_lt(a, b); },
     [](auto& c, auto& a, auto& b, auto, auto& k) { return c.replace_between_gt_lt(a, b, k); }},
    {[](auto& c, auto&, auto&, auto n, auto& o) { return c.max_n(n, o); },
     [](auto& c, auto&, auto&, auto n) { return c.erase_max_n(n); },
     [](auto& c, auto&, auto&, auto n, auto& k) { return c.replace_max_n(n, k); }},
    {[](auto& c, auto&, auto&, auto n, auto& o) { return c.min_n(n, o); },
     [](auto& c, auto&, auto&, auto n) { return c.erase_min_n(n); },
     [](auto& c, auto&, auto&, auto n, auto& k) { return c.replace_min_n(n, k); }},
    {[](auto& c, auto&, auto&, auto, auto& o) {
       o.resize(1);
       return c.max(o[0]);
     },
     [](auto& c, auto&, auto&, auto) { return c.erase_max(); },
     [](auto& c, auto&, auto&, auto, auto& k) { return c.replace_max(k); }},
    {[](auto& c, auto&, auto&, auto, auto& o) {
       o.resize(1);
       return c.min(o[0]);
     },
     [](auto& c, auto&, auto&, auto) { return c.erase_min(); },
     [](auto& c, auto&, auto&, auto, auto& k) { return c.replace_min(k); }},
    {[](auto& c, auto& a, auto&, auto, auto& o) { return c.equal(a, o); },
     [](auto& c, auto& a, auto&, auto) { return c.erase_equal(a); },
     [](auto& c, auto& a, auto&, auto, auto& k) { return c.replace_equal(a, k); }},
    {[](auto& c, auto& a, auto&, auto, auto& o) { return c.greater(a, o); },
     [](auto& c, auto& a, auto&, auto) { return c.erase_greater(a); },
     [](auto& c, auto& a, auto&, auto, auto& k) { return c.replace_greater(a, k); }},
    {[](auto& c, auto& a, auto&, auto, auto& o) { return c.less(a, o); },
     [](auto& c, auto& a, auto&, auto) { return c.erase_less(a); },
     [](auto& c, auto& a, auto&, auto, auto& k) { return c.replace_less(a, k); }},
    {[](auto& c, auto& a, auto&, auto, auto& o) { return c.greater_equal(a, o); },
     [](auto& c, auto& a, auto&, auto) { return c.erase_greater_equal(a); },
     [](auto& c, auto& a, auto&, auto, auto& k) { return c.replace_greater_equal(a, k); }},
    {[](auto& c, auto& a, auto&, auto, auto& o) { return c.less_equal(a, o); },
     [](auto& c, auto& a, auto&, auto) { return c.erase_less_equal(a); },
     [](auto& c, auto& a, auto&, auto, auto& k) { return c.replace_less_equal(a, k); }},
};

// The selection computed from its definition over the model, element by element.
template <class K>
std::vector<K> select_model(const model_t<K>& m, args s, const K& a, const K& b, bool& answer) {
  answer = !((s.what == sel::max || s.what == sel::min) && m.empty());
  const std::vector<K> all(m.begin(), m.end());
  const uint64_t size = all.size();
  const uint64_t n = std::min<uint64_t>(s.n, size);
  switch (s.what) {
    case sel::max_n:
      return std::vector<K>(all.end() - static_cast<long>(n), all.end());
    case sel::min_n:
      return std::vector<K>(all.begin(), all.begin() + static_cast<long>(n));
    case sel::max:
      return m.empty() ? std::vector<K>{} : std::vector<K>{all.back()};
    case sel::min:
      return m.empty() ? std::vector<K>{} : std::vector<K>{all.front()};
    default:
      break;
  }
  std::vector<K> out;
  for (const K& e : all) {
    const int ca = compare_keys(e, a), cb = compare_keys(e, b);
    const auto i = static_cast<size_t>(s.what);
    const bool one_key[] = {ca == 0, ca > 0, ca < 0, ca >= 0, ca <= 0};  // equal, gt, lt, ge, le
    // ge_le, ge_lt, gt_le, gt_lt: strict at a from gt_le on, strict at b in the _lt ones.
    const bool between = (i < 2 ? ca >= 0 : ca > 0) && (i % 2 == 0 ? cb <= 0 : cb < 0);
    if (i < 4 ? between : i >= 8 && one_key[i - 8]) out.push_back(e);
  }
  return out;
}

template <class K, bool unique>
void expect_same(set_kind_t<K, unique>& c, const model_t<K>& m, int step) {
  std::string why;
  ASSERT_TRUE(c.is_sound(&why)) << "step " << step << ": " << why;
  ASSERT_EQ(c.count(), m.size()) << "step " << step;
  std::vector<K> all;
  ASSERT_TRUE(c.all(all));
  ASSERT_TRUE(same_keys(all, std::vector<K>(m.begin(), m.end()))) << "step " << step;
}

template <class K, bool unique>
void run_model(uint32_t seed, int steps) {
  set_kind_t<K, unique> c;
  model_t<K> m;
  std::mt19937 rng(seed);
  for (int step = 0; step < steps; ++step) {
    const K a = sample<K>(rng);
    const K b = rng() % 6 == 0 ? a : sample<K>(rng);
    const K fresh = rng() % 6 == 0 ? a : sample<K>(rng);
    const args s{static_cast<sel>(rng() % selection_count), rng() % 5};
    const int op = static_cast<int>(rng() % 10);
    SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op) + " selection " +
                 std::to_string(static_cast<int>(s.what)) + " n " + std::to_string(s.n));
    bool answer = false;
    const std::vector<K> picked = select_model(m, s, a, b, answer);
    if (op <= 3) {
      const bool expected = !unique || !m.contains(a);
      ASSERT_EQ(c.insert(a, 0), expected);
      if (expected) m.insert(a);
    } else if (op <= 5) {
      // The query; equal appends to what the list holds, the others replace it.
      std::vector<K> out{fresh};
      ASSERT_EQ(ops<K>[int(s.what)].query(c, a, b, s.n, out), answer);
      if (answer && s.what == sel::equal) {
        ASSERT_TRUE(compare_keys(out.front(), fresh) == 0);
        out.erase(out.begin());
      }
      if (answer) {
        ASSERT_TRUE(same_keys(out, picked));
      }
      uint64_t rank = 0;
      const auto lb = m.lower_bound(a), ub = m.upper_bound(a);
      ASSERT_EQ(c.rank_of(a, rank), lb != ub);
      if (lb == ub) {
        ASSERT_EQ(rank, ~uint64_t{0});
      } else {
        // A multiset ranks the first copy met searching from the root: one of the copies.
        ASSERT_GE(rank, static_cast<uint64_t>(std::distance(m.begin(), lb)));
        ASSERT_LT(rank, static_cast<uint64_t>(std::distance(m.begin(), ub)));
      }
    } else if (op <= 7) {
      ASSERT_EQ(ops<K>[int(s.what)].erase(c, a, b, s.n), unique ? answer : !picked.empty());
      for (const K& e : picked) m.erase(m.find(e));
    } else if (op <= 8) {
      if (unique) {
        const bool acts = picked.size() == 1;
        ASSERT_EQ(ops<K>[int(s.what)].replace(c, a, b, s.n, fresh), acts);
        if (acts && (compare_keys(picked[0], fresh) == 0 || !m.contains(fresh))) {
          m.erase(m.find(picked[0]));
          m.insert(fresh);
        }
      } else {
        ASSERT_EQ(ops<K>[int(s.what)].replace(c, a, b, s.n, fresh), answer);
        for (const K& e : picked) {
          m.erase(m.find(e));
          m.insert(fresh);
        }
      }
    } else if (rng() % 30 == 0) {
      ASSERT_TRUE(c.clear());
      m.clear();
    }
    expect_same<K, unique>(c, m, step);
  }
}

TEST(SetAdt, RandomSequencesMatchTheModelForEveryKeyTypeInBothKinds) {
  for_every_type([]<class K>() {
    const int steps = std::is_same_v<K, int32_t> ? 10000 : 2500;
    run_model<K, true>(21, steps);
    run_model<K, false>(22, steps);
  });
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
