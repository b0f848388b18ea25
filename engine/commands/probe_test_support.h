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

#include "containers/adt.h"
#include "engine/commands/test_support.h"

namespace qn::db::nosql::testing {

class probe_container final : public nosql_db::adt<int32_t, xstring> {
 public:
  // The kind word decides only whether the typed families accept the container.
  explicit probe_container(std::string_view kind = "vector") : adt(kind, i32_type, string_type) {}

  // "op(arg,arg)" of every call so far, separated by spaces.
  std::string calls;
  bool answer = true;

  uint64_t count() override { return 5; }
  bool rank_of(const int32_t& k, uint64_t& out) override { return number("rank_of", out, k); }
  bool all(keys& out) override { return list("all", out); }
  bool count_into(uint64_t& out) override { return number("count_into", out); }
  bool value_at_node(uint64_t h, int32_t& out) override { return one("value_at_node", out, h); }
  bool find_node(const int32_t& k, uint64_t& out) override { return number("find_node", out, k); }
  bool next_node(uint64_t h, uint64_t& out) override { return number("next_node", out, h); }
  bool prev_node(uint64_t h, uint64_t& out) override { return number("prev_node", out, h); }
  bool index_of(const int32_t& k, uint64_t& out) override { return number("index_of", out, k); }
  bool at(uint64_t p, int32_t& out) override { return one("at", out, p); }
  bool first(int32_t& out) override { return one("first", out); }
  bool last(int32_t& out) override { return one("last", out); }
  bool range(uint64_t f, uint64_t t, keys& out) override { return list("range", out, f, t); }
  bool first_n(uint64_t n, keys& out) override { return list("first_n", out, n); }
  bool last_n(uint64_t n, keys& out) override { return list("last_n", out, n); }
  bool between_ge_le(const int32_t& lo, const int32_t& hi, keys& out) override {
    return list("between_ge_le", out, lo, hi);
  }
  bool between_ge_lt(const int32_t& lo, const int32_t& hi, keys& out) override {
    return list("between_ge_lt", out, lo, hi);
  }
  bool between_gt_le(const int32_t& lo, const int32_t& hi, keys& out) override {
    return list("between_gt_le", out, lo, hi);
  }
  bool between_gt_lt(const int32_t& lo, const int32_t& hi, keys& out) override {
    return list("between_gt_lt", out, lo, hi);
  }
  bool max_n(uint64_t n, keys& out) override { return list("max_n", out, n); }
  bool min_n(uint64_t n, keys& out) override { return list("min_n", out, n); }
  bool max(int32_t& out) override { return one("max", out); }
  bool min(int32_t& out) override { return one("min", out); }
  bool equal(const int32_t& k, keys& out) override { return list("equal", out, k); }
  bool greater(const int32_t& k, keys& out) override { return list("greater", out, k); }
  bool less(const int32_t& k, keys& out) override { return list("less", out, k); }
  bool greater_equal(const int32_t& k, keys& out) override { return list("greater_equal", out, k); }
  bool less_equal(const int32_t& k, keys& out) override { return list("less_equal", out, k); }
  bool clear() override { return note("clear"); }
  bool erase_at(uint64_t p) override { return note("erase_at", p); }
  bool erase_first() override { return note("erase_first"); }
  bool erase_last() override { return note("erase_last"); }
  bool erase_range(uint64_t f, uint64_t t) override { return note("erase_range", f, t); }
  bool erase_first_n(uint64_t n) override { return note("erase_first_n", n); }
  bool erase_last_n(uint64_t n) override { return note("erase_last_n", n); }
  bool erase_node(uint64_t h) override { return note("erase_node", h); }
  bool erase_between_ge_le(const int32_t& lo, const int32_t& hi) override {
    return note("erase_between_ge_le", lo, hi);
  }
  bool erase_between_ge_lt(const int32_t& lo, const int32_t& hi) override {
    return note("erase_between_ge_lt", lo, hi);
  }
  bool erase_between_gt_le(const int32_t& lo, const int32_t& hi) override {
    return note("erase_between_gt_le", lo, hi);
  }
  bool erase_between_gt_lt(const int32_t& lo, const int32_t& hi) override {
    return note("erase_between_gt_lt", lo, hi);
  }
  bool erase_max_n(uint64_t n) override { return note("erase_max_n", n); }
  bool erase_min_n(uint64_t n) override { return note("erase_min_n", n); }
  bool erase_max() override { return note("erase_max"); }
  bool erase_min() override { return note("erase_min"); }
  bool erase_equal(const int32_t& k) override { return note("erase_equal", k); }
  bool erase_greater(const int32_t& k) override { return note("erase_greater", k); }
  bool erase_less(const int32_t& k) override { return note("erase_less", k); }
  bool erase_greater_equal(const int32_t& k) override { return note("erase_greater_equal", k); }
  bool erase_less_equal(const int32_t& k) override { return note("erase_less_equal", k); }
  bool insert_at(uint64_t p, const int32_t& k) override { return note("insert_at", p, k); }
  bool insert_first(const int32_t& k) override { return note("insert_first", k); }
  bool insert_last(const int32_t& k) override { return note("insert_last", k); }
  bool insert_at_node(uint64_t h, const int32_t& k) override {
    return note("insert_at_node", h, k);
  }
  bool insert(const int32_t& k, const xstring& v) override { return note("insert", k, v); }
  bool assign_all(const int32_t& k) override { return note("assign_all", k); }
  bool assign_at(uint64_t p, const int32_t& k) override { return note("assign_at", p, k); }
  bool assign_first(const int32_t& k) override { return note("assign_first", k); }
  bool assign_last(const int32_t& k) override { return note("assign_last", k); }
  bool assign_range(uint64_t f, uint64_t t, const int32_t& k) override {
    return note("assign_range", f, t, k);
  }
  bool assign_first_n(uint64_t n, const int32_t& k) override {
    return note("assign_first_n", n, k);
  }
  bool assign_last_n(uint64_t n, const int32_t& k) override { return note("assign_last_n", n, k); }
  bool assign_node(uint64_t h, const int32_t& k) override { return note("assign_node", h, k); }
  bool replace_between_ge_le(const int32_t& lo, const int32_t& hi, const int32_t& k) override {
    return note("replace_between_ge_le", lo, hi, k);
  }
  bool replace_between_ge_lt(const int32_t& lo, const int32_t& hi, const int32_t& k) override {
    return note("replace_between_ge_lt", lo, hi, k);
  }
  bool replace_between_gt_le(const int32_t& lo, const int32_t& hi, const int32_t& k) override {
    return note("replace_between_gt_le", lo, hi, k);
  }
  bool replace_between_gt_lt(const int32_t& lo, const int32_t& hi, const int32_t& k) override {
    return note("replace_between_gt_lt", lo, hi, k);
  }
  bool replace_max_n(uint64_t n, const int32_t& k) override { return note("replace_max_n", n, k); }
  bool replace_min_n(uint64_t n, const int32_t& k) override { return note("replace_min_n", n, k); }
  bool replace_max(const int32_t& k) override { return note("replace_max", k); }
  bool replace_min(const int32_t& k) override { return note("replace_min", k); }
  bool replace_equal(const int32_t& k, const int32_t& to) override {
    return note("replace_equal", k, to);
  }
  bool replace_greater(const int32_t& k, const int32_t& to) override {
    return note("replace_greater", k, to);
  }
  bool replace_less(const int32_t& k, const int32_t& to) override {
    return note("replace_less", k, to);
  }
  bool replace_greater_equal(const int32_t& k, const int32_t& to) override {
    return note("replace_greater_equal", k, to);
  }
  bool replace_less_equal(const int32_t& k, const int32_t& to) override {
    return note("replace_less_equal", k, to);
  }
  bool has_word(const int32_t& k, bool& out) override { return truth("has_word", out, k); }
  bool has_word_any_case(const int32_t& k, bool& out) override {
    return truth("has_word_any_case", out, k);
  }
  bool values_of(const int32_t& k, nosql_db::out_list<xstring>& out) override {
    out.emplace_back("v");
    return note("values_of", k);
  }
  bool assign_value(const int32_t& k, const xstring& v) override {
    return note("assign_value", k, v);
  }

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
  template <class... A>
  bool list(std::string_view op, keys& out, const A&... args) {
    out = {1, 2};
    return note(op, args...);
  }
  template <class... A>
  bool one(std::string_view op, int32_t& out, const A&... args) {
    out = 7;
    return note(op, args...);
  }
  template <class... A>
  bool number(std::string_view op, uint64_t& out, const A&... args) {
    out = 42;
    return note(op, args...);
  }
  template <class... A>
  bool truth(std::string_view op, bool& out, const A&... args) {
    out = true;
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
