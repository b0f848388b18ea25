// Test helper: a container over (i32, string) that records every operation a command calls, with
// its arguments, and answers with fixed results. Lets the word tables of the typed families be
// tested apart from any real kind. Owned by the registry once placed; single-threaded tests only.
//
// Results: K lists {1, 2}; single K 7; counts, ranks, indexes and node handles 42; truth values
// true; values_of appends "v". Every operation answers `answer`.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "containers/adt.h"
#include "engine/commands/test_support.h"

namespace qn::db::nosql::testing {

class probe_container final : public nosql_db::adt<int32_t, xstring> {
  using K = const int32_t&;
  using u = uint64_t;

 public:
  // The kind word decides only whether the typed families accept the container.
  explicit probe_container(std::string_view kind = "vector") : adt(kind, i32_type, string_type) {}

  // "op(arg,arg)" of every call so far, separated by spaces.
  std::string calls;
  bool answer = true;

  uint64_t count() override { return 5; }
  bool rank_of(K k, u& out) override { return put(__func__, out, k); }
  bool all(keys& out) override { return put(__func__, out); }
  bool count_into(u& out) override { return put(__func__, out); }
  bool value_at_node(u h, int32_t& out) override { return put(__func__, out, h); }
  bool find_node(K k, u& out) override { return put(__func__, out, k); }
  bool next_node(u h, u& out) override { return put(__func__, out, h); }
  bool prev_node(u h, u& out) override { return put(__func__, out, h); }
  bool index_of(K k, u& out) override { return put(__func__, out, k); }
  bool at(u p, int32_t& out) override { return put(__func__, out, p); }
  bool first(int32_t& out) override { return put(__func__, out); }
  bool last(int32_t& out) override { return put(__func__, out); }
  bool range(u f, u t, keys& out) override { return put(__func__, out, f, t); }
  bool first_n(u n, keys& out) override { return put(__func__, out, n); }
  bool last_n(u n, keys& out) override { return put(__func__, out, n); }
  bool between_ge_le(K lo, K hi, keys& out) override { return put(__func__, out, lo, hi); }
  bool between_ge_lt(K lo, K hi, keys& out) override { return put(__func__, out, lo, hi); }
  bool between_gt_le(K lo, K hi, keys& out) override { return put(__func__, out, lo, hi); }
  bool between_gt_lt(K lo, K hi, keys& out) override { return put(__func__, out, lo, hi); }
  bool max_n(u n, keys& out) override { return put(__func__, out, n); }
  bool min_n(u n, keys& out) override { return put(__func__, out, n); }
  bool max(int32_t& out) override { return put(__func__, out); }
  bool min(int32_t& out) override { return put(__func__, out); }
  bool equal(K k, keys& out) override { return put(__func__, out, k); }
  bool greater(K k, keys& out) override { return put(__func__, out, k); }
  bool less(K k, keys& out) override { return put(__func__, out, k); }
  bool greater_equal(K k, keys& out) override { return put(__func__, out, k); }
  bool less_equal(K k, keys& out) override { return put(__func__, out, k); }
  bool clear() override { return note(__func__); }
  bool erase_at(u p) override { return note(__func__, p); }
  bool erase_first() override { return note(__func__); }
  bool erase_last() override { return note(__func__); }
  bool erase_range(u f, u t) override { return note(__func__, f, t); }
  bool erase_first_n(u n) override { return note(__func__, n); }
  bool erase_last_n(u n) override { return note(__func__, n); }
  bool erase_node(u h) override { return note(__func__, h); }
  bool erase_between_ge_le(K lo, K hi) override { return note(__func__, lo, hi); }
  bool erase_between_ge_lt(K lo, K hi) override { return note(__func__, lo, hi); }
  bool erase_between_gt_le(K lo, K hi) override { return note(__func__, lo, hi); }
  bool erase_between_gt_lt(K lo, K hi) override { return note(__func__, lo, hi); }
  bool erase_max_n(u n) override { return note(__func__, n); }
  bool erase_min_n(u n) override { return note(__func__, n); }
  bool erase_max() override { return note(__func__); }
  bool erase_min() override { return note(__func__); }
  bool erase_equal(K k) override { return note(__func__, k); }
  bool erase_greater(K k) override { return note(__func__, k); }
  bool erase_less(K k) override { return note(__func__, k); }
  bool erase_greater_equal(K k) override { return note(__func__, k); }
  bool erase_less_equal(K k) override { return note(__func__, k); }
  bool insert_at(u p, K k) override { return note(__func__, p, k); }
  bool insert_first(K k) override { return note(__func__, k); }
  bool insert_last(K k) override { return note(__func__, k); }
  bool insert_at_node(u h, K k) override { return note(__func__, h, k); }
  bool insert(K k, const xstring& v) override { return note(__func__, k, v); }
  bool assign_all(K k) override { return note(__func__, k); }
  bool assign_at(u p, K k) override { return note(__func__, p, k); }
  bool assign_first(K k) override { return note(__func__, k); }
  bool assign_last(K k) override { return note(__func__, k); }
  bool assign_range(u f, u t, K k) override { return note(__func__, f, t, k); }
  bool assign_first_n(u n, K k) override { return note(__func__, n, k); }
  bool assign_last_n(u n, K k) override { return note(__func__, n, k); }
  bool assign_node(u h, K k) override { return note(__func__, h, k); }
  bool replace_between_ge_le(K lo, K hi, K k) override { return note(__func__, lo, hi, k); }
  bool replace_between_ge_lt(K lo, K hi, K k) override { return note(__func__, lo, hi, k); }
  bool replace_between_gt_le(K lo, K hi, K k) override { return note(__func__, lo, hi, k); }
  bool replace_between_gt_lt(K lo, K hi, K k) override { return note(__func__, lo, hi, k); }
  bool replace_max_n(u n, K k) override { return note(__func__, n, k); }
  bool replace_min_n(u n, K k) override { return note(__func__, n, k); }
  bool replace_max(K k) override { return note(__func__, k); }
  bool replace_min(K k) override { return note(__func__, k); }
  bool replace_equal(K k, K to) override { return note(__func__, k, to); }
  bool replace_greater(K k, K to) override { return note(__func__, k, to); }
  bool replace_less(K k, K to) override { return note(__func__, k, to); }
  bool replace_greater_equal(K k, K to) override { return note(__func__, k, to); }
  bool replace_less_equal(K k, K to) override { return note(__func__, k, to); }
  bool has_word(K k, bool& out) override { return put(__func__, out, k); }
  bool has_word_any_case(K k, bool& out) override { return put(__func__, out, k); }
  bool values_of(K k, nosql_db::out_list<xstring>& out) override {
    out.emplace_back("v");
    return note(__func__, k);
  }
  bool assign_value(K k, const xstring& v) override { return note(__func__, k, v); }

 private:
  static std::string text(int32_t v) { return std::to_string(v); }
  static std::string text(uint64_t v) { return std::to_string(v); }
  static std::string text(const xstring& v) { return "\"" + std::string(v.view()) + "\""; }

  template <class... A>
  bool note(std::string_view op, const A&... args) {
    if (!calls.empty()) calls += ' ';
    calls += op;
    calls += '(';
    std::string_view separator;
    ((calls += separator, calls += text(args), separator = ","), ...);
    calls += ')';
    return answer;
  }
  // Sets `out` to the fixed result of its type (see the top of this file), then notes the call.
  template <class T, class... A>
  bool put(std::string_view op, T& out, const A&... args) {
    if constexpr (std::is_same_v<T, keys>) {
      out = {1, 2};
    } else {
      out = static_cast<T>(std::is_same_v<T, int32_t> ? 7 : 42);
    }
    return note(op, args...);
  }
};

// A runner whose slot 0 holds a probe.
class probed_runner {
 public:
  explicit probed_runner(std::string_view kind = "vector") {
    auto p = std::make_unique<probe_container>(kind);
    probe = p.get();
    uint64_t slot = 0;
    EXPECT_TRUE(runner.registry().place_new(std::move(p), "", slot));
  }
  command_runner runner;
  probe_container* probe;  // owned by the runner's registry
};

}  // namespace qn::db::nosql::testing
