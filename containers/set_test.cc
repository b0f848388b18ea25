// set_adt and multiset_adt: random operation sequences against std::multiset over every key type
// (every query, every erase and replace selection, rank), the listed edge cases and image
// payloads.
#include "containers/set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "containers/factory.h"
#include "containers/ordered_test_support.h"

namespace qn::db::nosql::nosql_db {
namespace {

using namespace ordered_testing;

constexpr std::array<type_descriptor, 14> every_type = {
    i08_type, u08_type,   i16_type,    u16_type,  i32_type,  u32_type,      i64_type,
    u64_type, float_type, double_type, date_type, time_type, datetime_type, string_type};

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

template <class K>
bool query(adt<K, uint8_t>& c, args s, const K& a, const K& b, std::vector<K>& out) {
  K one{};
  switch (s.what) {
    case sel::ge_le:
      return c.between_ge_le(a, b, out);
    case sel::ge_lt:
      return c.between_ge_lt(a, b, out);
    case sel::gt_le:
      return c.between_gt_le(a, b, out);
    case sel::gt_lt:
      return c.between_gt_lt(a, b, out);
    case sel::max_n:
      return c.max_n(s.n, out);
    case sel::min_n:
      return c.min_n(s.n, out);
    case sel::max:
      if (!c.max(one)) return false;
      out.assign(1, one);
      return true;
    case sel::min:
      if (!c.min(one)) return false;
      out.assign(1, one);
      return true;
    case sel::equal:
      return c.equal(a, out);
    case sel::gt:
      return c.greater(a, out);
    case sel::lt:
      return c.less(a, out);
    case sel::ge:
      return c.greater_equal(a, out);
    case sel::le:
      return c.less_equal(a, out);
  }
  return false;
}

template <class K>
bool erase(adt<K, uint8_t>& c, args s, const K& a, const K& b) {
  switch (s.what) {
    case sel::ge_le:
      return c.erase_between_ge_le(a, b);
    case sel::ge_lt:
      return c.erase_between_ge_lt(a, b);
    case sel::gt_le:
      return c.erase_between_gt_le(a, b);
    case sel::gt_lt:
      return c.erase_between_gt_lt(a, b);
    case sel::max_n:
      return c.erase_max_n(s.n);
    case sel::min_n:
      return c.erase_min_n(s.n);
    case sel::max:
      return c.erase_max();
    case sel::min:
      return c.erase_min();
    case sel::equal:
      return c.erase_equal(a);
    case sel::gt:
      return c.erase_greater(a);
    case sel::lt:
      return c.erase_less(a);
    case sel::ge:
      return c.erase_greater_equal(a);
    case sel::le:
      return c.erase_less_equal(a);
  }
  return false;
}

template <class K>
bool replace(adt<K, uint8_t>& c, args s, const K& a, const K& b, const K& fresh) {
  switch (s.what) {
    case sel::ge_le:
      return c.replace_between_ge_le(a, b, fresh);
    case sel::ge_lt:
      return c.replace_between_ge_lt(a, b, fresh);
    case sel::gt_le:
      return c.replace_between_gt_le(a, b, fresh);
    case sel::gt_lt:
      return c.replace_between_gt_lt(a, b, fresh);
    case sel::max_n:
      return c.replace_max_n(s.n, fresh);
    case sel::min_n:
      return c.replace_min_n(s.n, fresh);
    case sel::max:
      return c.replace_max(fresh);
    case sel::min:
      return c.replace_min(fresh);
    case sel::equal:
      return c.replace_equal(a, fresh);
    case sel::gt:
      return c.replace_greater(a, fresh);
    case sel::lt:
      return c.replace_less(a, fresh);
    case sel::ge:
      return c.replace_greater_equal(a, fresh);
    case sel::le:
      return c.replace_less_equal(a, fresh);
  }
  return false;
}

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
    bool in = false;
    switch (s.what) {
      case sel::ge_le:
        in = ca >= 0 && cb <= 0;
        break;
      case sel::ge_lt:
        in = ca >= 0 && cb < 0;
        break;
      case sel::gt_le:
        in = ca > 0 && cb <= 0;
        break;
      case sel::gt_lt:
        in = ca > 0 && cb < 0;
        break;
      case sel::equal:
        in = ca == 0;
        break;
      case sel::gt:
        in = ca > 0;
        break;
      case sel::lt:
        in = ca < 0;
        break;
      case sel::ge:
        in = ca >= 0;
        break;
      case sel::le:
        in = ca <= 0;
        break;
      default:
        break;
    }
    if (in) out.push_back(e);
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
  ASSERT_TRUE(same_keys(all, std::vector<K>(m.begin(), m.end())))
      << "step " << step << ": " << show(all) << " vs " << show(std::vector<K>(m.begin(), m.end()));
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
                 std::to_string(static_cast<int>(s.what)) + " a " + show(a) + " b " + show(b) +
                 " n " + std::to_string(s.n));
    bool answer = false;
    const std::vector<K> picked = select_model(m, s, a, b, answer);
    if (op <= 3) {
      const bool expected = !unique || !m.contains(a);
      ASSERT_EQ(c.insert(a, 0), expected);
      if (expected) m.insert(a);
    } else if (op <= 5) {
      // The query; equal appends to what the list holds, the others replace it.
      std::vector<K> out{fresh};
      ASSERT_EQ(query<K>(c, s, a, b, out), answer);
      if (answer && s.what == sel::equal) {
        ASSERT_TRUE(compare_keys(out.front(), fresh) == 0);
        out.erase(out.begin());
      }
      if (answer) {
        ASSERT_TRUE(same_keys(out, picked)) << show(out) << " vs " << show(picked);
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
      ASSERT_EQ(erase<K>(c, s, a, b), unique ? answer : !picked.empty());
      for (const K& e : picked) m.erase(m.find(e));
    } else if (op <= 8) {
      if (unique) {
        const bool acts = picked.size() == 1;
        ASSERT_EQ(replace<K>(c, s, a, b, fresh), acts);
        if (acts && (compare_keys(picked[0], fresh) == 0 || !m.contains(fresh))) {
          m.erase(m.find(picked[0]));
          m.insert(fresh);
        }
      } else {
        ASSERT_EQ(replace<K>(c, s, a, b, fresh), answer);
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

template <bool unique>
void run_model_over_every_key_type(uint32_t seed, int steps) {
  for (type_descriptor d : every_type) {
    SCOPED_TRACE(std::string(type_name(d)));
    static_cast<void>(with_scalar_type(d, [&]<class K>() {
      run_model<K, unique>(seed, std::is_same_v<K, int32_t> ? steps * 4 : steps);
      return true;
    }));
  }
}

TEST(SetAdt, RandomSequencesMatchTheModelForEveryKeyType) {
  run_model_over_every_key_type<true>(21, 2500);
}

TEST(MultisetAdt, RandomSequencesMatchTheModelForEveryKeyType) {
  run_model_over_every_key_type<false>(22, 2500);
}

// Threads mixing queries, inserts and both two-step families on one container: every operation
// takes the lock itself and never holds it twice, so this ends, and the tree stays sound.
template <bool unique>
void run_concurrently(uint32_t seed) {
  set_kind_t<int32_t, unique> c;
  std::vector<std::thread> threads;
  for (uint32_t t = 0; t < 4; ++t) {
    threads.emplace_back([&c, seed, t] {
      std::mt19937 rng(seed + t);
      for (int i = 0; i < 3000; ++i) {
        const int32_t a = static_cast<int32_t>(rng() % 64), b = a + static_cast<int32_t>(rng() % 8);
        const args s{static_cast<sel>(rng() % selection_count), rng() % 4};
        std::vector<int32_t> out;
        switch (rng() % 4) {
          case 0:
            static_cast<void>(c.insert(a, 0));
            break;
          case 1:
            static_cast<void>(query<int32_t>(c, s, a, b, out));
            break;
          case 2:
            static_cast<void>(erase<int32_t>(c, s, a, b));
            break;
          default:
            static_cast<void>(replace<int32_t>(c, s, a, b, b));
            break;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  std::string why;
  EXPECT_TRUE(c.is_sound(&why)) << why;
  std::vector<int32_t> all;
  EXPECT_TRUE(c.all(all));
  EXPECT_EQ(all.size(), c.count());
}

TEST(SetAdt, ConcurrentChangesKeepTheTreeSound) { run_concurrently<true>(31); }
TEST(MultisetAdt, ConcurrentChangesKeepTheTreeSound) { run_concurrently<false>(32); }

// ---- edge cases ----

template <class C>
std::string contents(C& c) {
  std::vector<int32_t> all;
  EXPECT_TRUE(c.all(all));
  return show(all);
}

// Each case runs on a fresh container and renders "answer [delivered] {contents after}".
template <class C>
struct edge_case {
  const char* name;
  std::vector<int32_t> start;
  std::function<bool(C&, std::vector<int32_t>&)> run;
  const char* expected;
};

template <class C>
void run_edge_cases(const std::vector<edge_case<C>>& cases) {
  for (const auto& ec : cases) {
    C c;
    for (int32_t e : ec.start) ASSERT_TRUE(c.insert(e, 0)) << ec.name;
    std::vector<int32_t> out;
    const bool answer = ec.run(c, out);
    const std::string rendered =
        std::string(answer ? "true" : "false") + " [" + show(out) + "] {" + contents(c) + "}";
    EXPECT_EQ(rendered, ec.expected) << ec.name;
    EXPECT_TRUE(c.is_sound()) << ec.name;
  }
}

using int_set = set_adt<int32_t, uint8_t>;
using int_multiset = multiset_adt<int32_t, uint8_t>;

TEST(SetAdt, EdgeCases) {
  const std::vector<int32_t> tens = {10, 20, 30};
  auto rank = [](int32_t k) {
    return [k](int_set& c, std::vector<int32_t>& out) {
      uint64_t r = 0;
      const bool ok = c.rank_of(k, r);
      out.push_back(static_cast<int32_t>(r));
      return ok;
    };
  };
  run_edge_cases<int_set>({
      {"rank of a present element", tens, rank(20), "true [1] {10 20 30}"},
      {"rank of an absent element stores all ones", tens, rank(25), "false [-1] {10 20 30}"},
      {"open interval", tens, [](int_set& c, auto& o) { return c.between_gt_lt(10, 30, o); },
       "true [20] {10 20 30}"},
      {"closed low end", tens, [](int_set& c, auto& o) { return c.between_ge_lt(10, 30, o); },
       "true [10 20] {10 20 30}"},
      {"closed high end", tens, [](int_set& c, auto& o) { return c.between_gt_le(10, 30, o); },
       "true [20 30] {10 20 30}"},
      {"empty half-open interval", tens,
       [](int_set& c, auto& o) { return c.between_ge_lt(20, 20, o); }, "true [] {10 20 30}"},
      {"reversed bounds", tens, [](int_set& c, auto& o) { return c.between_ge_le(30, 10, o); },
       "true [] {10 20 30}"},
      {"max_n ascending", tens, [](int_set& c, auto& o) { return c.max_n(2, o); },
       "true [20 30] {10 20 30}"},
      {"min_n beyond the count", tens, [](int_set& c, auto& o) { return c.min_n(5, o); },
       "true [10 20 30] {10 20 30}"},
      {"min_n of zero", tens, [](int_set& c, auto& o) { return c.min_n(0, o); },
       "true [] {10 20 30}"},
      {"erase_min_n of zero removes nothing", tens,
       [](int_set& c, auto&) { return c.erase_min_n(0); }, "true [] {10 20 30}"},
      {"erase of an empty selection still answers true", tens,
       [](int_set& c, auto&) { return c.erase_greater(30); }, "true [] {10 20 30}"},
      {"erase of a closed interval",
       {5, 10, 15, 20},
       [](int_set& c, auto&) { return c.erase_between_ge_lt(10, 20); },
       "true [] {5 20}"},
      {"erase_equal of an absent element", tens,
       [](int_set& c, auto&) { return c.erase_equal(25); }, "true [] {10 20 30}"},
      {"replace with two selected", tens,
       [](int_set& c, auto&) { return c.replace_greater_equal(20, 25); }, "false [] {10 20 30}"},
      {"replace with one selected", tens,
       [](int_set& c, auto&) { return c.replace_greater(20, 25); }, "true [] {10 20 25}"},
      {"replace onto a present element puts the old one back", tens,
       [](int_set& c, auto&) { return c.replace_equal(20, 30); }, "true [] {10 20 30}"},
      {"replace_min_n of two", tens, [](int_set& c, auto&) { return c.replace_min_n(2, 1); },
       "false [] {10 20 30}"},
      {"replace of nothing", tens, [](int_set& c, auto&) { return c.replace_equal(40, 50); },
       "false [] {10 20 30}"},
      {"interval replace with one element in range",
       {12},
       [](int_set& c, auto&) { return c.replace_between_ge_le(10, 20, 15); },
       "true [] {15}"},
      {"interval replace with two in range",
       {12, 18},
       [](int_set& c, auto&) { return c.replace_between_ge_le(10, 20, 15); },
       "false [] {12 18}"},
      {"max of an empty set",
       {},
       [](int_set& c, auto& o) {
         int32_t k = 0;
         const bool ok = c.max(k);
         if (ok) o.push_back(k);
         return ok;
       },
       "false [] {}"},
      {"erase_max of an empty set",
       {},
       [](int_set& c, auto&) { return c.erase_max(); },
       "false [] {}"},
      {"replace_min of an empty set",
       {},
       [](int_set& c, auto&) { return c.replace_min(1); },
       "false [] {}"},
      {"a present element is refused", tens, [](int_set& c, auto&) { return c.insert(20, 0); },
       "false [] {10 20 30}"},
  });
}

TEST(MultisetAdt, EdgeCases) {
  const std::vector<int32_t> fives = {5, 5, 5};
  run_edge_cases<int_multiset>({
      {"equal gives every copy", fives, [](int_multiset& c, auto& o) { return c.equal(5, o); },
       "true [5 5 5] {5 5 5}"},
      {"replace every copy", fives, [](int_multiset& c, auto&) { return c.replace_equal(5, 7); },
       "true [] {7 7 7}"},
      {"erase every copy",
       {7, 7, 7},
       [](int_multiset& c, auto&) { return c.erase_equal(7); },
       "true [] {}"},
      {"erase of nothing answers false", fives,
       [](int_multiset& c, auto&) { return c.erase_equal(7); }, "false [] {5 5 5}"},
      {"erase_min_n of zero answers false", fives,
       [](int_multiset& c, auto&) { return c.erase_min_n(0); }, "false [] {5 5 5}"},
      {"erase_max_n takes part of a run",
       {1, 5, 5, 5},
       [](int_multiset& c, auto&) { return c.erase_max_n(2); },
       "true [] {1 5}"},
      {"replace of nothing answers the query", fives,
       [](int_multiset& c, auto&) { return c.replace_greater(5, 1); }, "true [] {5 5 5}"},
      {"replace_max of an empty multiset",
       {},
       [](int_multiset& c, auto&) { return c.replace_max(1); },
       "false [] {}"},
      {"replace_min_n of two",
       {1, 2, 3},
       [](int_multiset& c, auto&) { return c.replace_min_n(2, 9); },
       "true [] {3 9 9}"},
      {"copies are stored",
       {},
       [](int_multiset& c, auto&) { return c.insert(4, 0) && c.insert(4, 0); },
       "true [] {4 4}"},
  });
}

TEST(SetAdt, StringElementsFollowTheSignedByteOrder) {
  set_adt<xstring, uint8_t> c;
  for (const char* s : {"ab", "a", "B", "\xC3x", "A"}) ASSERT_TRUE(c.insert(xstring(s), 0));
  std::vector<xstring> out;
  ASSERT_TRUE(c.all(out));
  EXPECT_EQ(show(out), R"("\xC3x" "A" "B" "a" "ab")");
  uint64_t rank = 0;
  EXPECT_TRUE(c.rank_of(xstring("B"), rank));
  EXPECT_EQ(rank, 2u);
}

// ---- image payloads ----

TEST(SetAdt, PayloadIsTheCountThenTheElementsAscending) {
  int_set set;
  for (int32_t e : {3, 1}) ASSERT_TRUE(set.insert(e, 0));
  EXPECT_EQ(saved(set), text("set") + std::string("\x02\0\0\0\x01\0", 6) + u64le(2) +
                            std::string("\x01\0\0\0\x03\0\0\0", 8));
  multiset_adt<xstring, uint8_t> words;
  for (const char* w : {"b", "a", "b"}) ASSERT_TRUE(words.insert(xstring(w), 0));
  EXPECT_EQ(saved_payload(words), u64le(3) + text("a") + text("b") + text("b"));
}

TEST(SetAdt, CutOrOversizedPayloadFailsAndLeavesTheSetEmpty) {
  multiset_adt<xstring, uint8_t> source;
  for (const char* w : {"pear", "", "fig", "fig"}) ASSERT_TRUE(source.insert(xstring(w), 0));
  const std::string payload = saved_payload(source);
  for (size_t cut = 0; cut < payload.size(); ++cut) {
    multiset_adt<xstring, uint8_t> c;
    EXPECT_FALSE(load_payload(c, payload.substr(0, cut))) << "cut at " << cut;
    EXPECT_EQ(c.count(), 0u) << "cut at " << cut;
  }
  int_set huge;
  EXPECT_FALSE(load_payload(huge, u64le(1000) + std::string(400, '\0')));
  EXPECT_EQ(huge.count(), 0u);
  // A set keeps one of repeated saved elements.
  int_set set;
  EXPECT_TRUE(load_payload(set, u64le(3) + std::string("\x01\0\0\0\x01\0\0\0\x02\0\0\0", 12)));
  EXPECT_EQ(contents(set), "1 2");
}

template <class K>
void expect_round_trip(bool is_multi, uint32_t seed) {
  const std::string_view kind = is_multi ? multiset_kind : set_kind;
  auto made = make_container(kind, descriptor_of<K>(), u08_type, 0);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->kind_name(), kind);
  EXPECT_EQ(made->key_type(), descriptor_of<K>());
  EXPECT_EQ(made->value_type(), u08_type);
  auto& c = static_cast<adt<K, uint8_t>&>(*made);
  std::mt19937 rng(seed);
  for (int i = 0; i < 12; ++i) static_cast<void>(c.insert(sample<K>(rng), 0));
  const std::string payload = saved_payload(c);
  auto copy = make_container(kind, descriptor_of<K>(), u08_type, 0);
  ASSERT_TRUE(load_payload(*copy, payload));
  EXPECT_EQ(copy->count(), c.count());
  EXPECT_EQ(saved_payload(*copy), payload);
}

TEST(SetAdt, EveryKeyTypeIsBuiltAndRoundTripsThroughAnImage) {
  uint32_t seed = 1;
  for (bool is_multi : {false, true}) {
    for (type_descriptor k : every_type) {
      SCOPED_TRACE(std::string(type_name(k)));
      static_cast<void>(with_scalar_type(k, [&]<class K>() {
        expect_round_trip<K>(is_multi, ++seed);
        return true;
      }));
      // The value-less kinds exist only over the u08 value type.
      EXPECT_EQ(make_container(is_multi ? multiset_kind : set_kind, k, i32_type, 0), nullptr);
    }
  }
  EXPECT_EQ(make_set_container(false, type_descriptor{3, 0, 7}), nullptr);
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
