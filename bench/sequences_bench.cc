// Sequences, adaptors and trie: the data structures side by side with the standard containers,
// and the container operations (virtual call and lock included) on top of them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <numeric>
#include <queue>
#include <random>
#include <set>
#include <stack>
#include <string>
#include <unordered_set>
#include <vector>

#include "containers/adaptors.h"
#include "containers/binary_heap.h"
#include "containers/block_deque.h"
#include "containers/growable_array.h"
#include "containers/node_list.h"
#include "containers/sequences.h"
#include "containers/trie.h"
#include "containers/word_trie.h"

namespace {

using namespace qn::db::nosql::nosql_db;

constexpr int64_t elements = 1 << 20;

// ---- push at the back, pop at the back, read by index ----

// From empty: the growth, its allocations and copies included (with the 2n growth rule a
// million elements end in a 16 MB buffer, std::vector's in an 8 MB one).
template <class S>
void push_back(benchmark::State& state) {
  for (auto _ : state) {
    S s;
    for (int64_t i = 0; i < elements; ++i) s.push_back(i);
    benchmark::DoNotOptimize(s);
  }
  state.SetItemsProcessed(state.iterations() * elements);
}

// Pushes then pops a million elements on one container, so the arrays work in kept capacity.
template <class S>
void push_then_pop_back(benchmark::State& state) {
  S s;
  for (auto _ : state) {
    for (int64_t i = 0; i < elements; ++i) s.push_back(i);
    for (int64_t i = 0; i < elements; ++i) s.pop_back();
    benchmark::DoNotOptimize(s);
  }
  state.SetItemsProcessed(state.iterations() * elements * 2);
}

// Reads at shuffled indexes, so neither side gets the benefit of a sequential walk.
template <class S>
void read_by_index(benchmark::State& state) {
  S s;
  for (int64_t i = 0; i < elements; ++i) s.push_back(i);
  std::vector<uint32_t> order(elements);
  std::iota(order.begin(), order.end(), 0u);
  std::shuffle(order.begin(), order.end(), std::mt19937(1));
  for (auto _ : state) {
    int64_t sum = 0;
    for (uint32_t i : order) sum += s[i];
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * elements);
}

BENCHMARK(push_back<growable_array<int64_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(push_back<std::vector<int64_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(push_back<block_deque<int64_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(push_back<std::deque<int64_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(push_then_pop_back<growable_array<int64_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(push_then_pop_back<std::vector<int64_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(push_then_pop_back<block_deque<int64_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(push_then_pop_back<std::deque<int64_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(read_by_index<growable_array<int64_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(read_by_index<std::vector<int64_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(read_by_index<block_deque<int64_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(read_by_index<std::deque<int64_t>>)->Unit(benchmark::kMillisecond);

// ---- the front of a deque: push there, and use it as a queue ----

template <class S>
void push_front(benchmark::State& state) {
  for (auto _ : state) {
    S s;
    for (int64_t i = 0; i < elements; ++i) s.push_front(i);
    benchmark::DoNotOptimize(s);
  }
  state.SetItemsProcessed(state.iterations() * elements);
}

// A queue holding about a thousand elements, pushed at the back and taken from the front.
template <class S>
void queue_churn(benchmark::State& state) {
  S s;
  for (int64_t i = 0; i < 1000; ++i) s.push_back(i);
  for (auto _ : state) {
    for (int64_t i = 0; i < elements; ++i) {
      s.push_back(i);
      s.pop_front();
    }
    benchmark::DoNotOptimize(s);
  }
  state.SetItemsProcessed(state.iterations() * elements);
}

BENCHMARK(push_front<block_deque<int64_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(push_front<std::deque<int64_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(queue_churn<block_deque<int64_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(queue_churn<std::deque<int64_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(queue_churn<node_list<int64_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(queue_churn<std::list<int64_t>>)->Unit(benchmark::kMillisecond);

// ---- the container operations: one virtual call and one lock per element ----

template <class C>
void container_push_pop(benchmark::State& state) {
  C c;
  adt<int64_t, uint8_t>& s = c;
  for (auto _ : state) {
    for (int64_t i = 0; i < elements; ++i) benchmark::DoNotOptimize(s.insert_last(i));
    for (int64_t i = 0; i < elements; ++i) benchmark::DoNotOptimize(s.erase_last());
  }
  state.SetItemsProcessed(state.iterations() * elements * 2);
}

void std_stack_push_pop(benchmark::State& state) {
  std::stack<int64_t, std::vector<int64_t>> s;
  for (auto _ : state) {
    for (int64_t i = 0; i < elements; ++i) s.push(i);
    for (int64_t i = 0; i < elements; ++i) s.pop();
    benchmark::DoNotOptimize(s);
  }
  state.SetItemsProcessed(state.iterations() * elements * 2);
}

template <class C>
void container_read_by_position(benchmark::State& state) {
  C c;
  adt<int64_t, uint8_t>& s = c;
  for (int64_t i = 0; i < elements; ++i) (void)s.insert_last(i);
  for (auto _ : state) {
    int64_t sum = 0, v = 0;
    for (int64_t p = 1; p <= elements; ++p) {
      (void)s.at(static_cast<uint64_t>(p), v);
      sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * elements);
}

BENCHMARK(container_push_pop<stack_adt<int64_t, uint8_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(container_push_pop<vec_adt<int64_t, uint8_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(container_push_pop<deque_adt<int64_t, uint8_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(std_stack_push_pop)->Unit(benchmark::kMillisecond);
BENCHMARK(container_read_by_position<vec_adt<int64_t, uint8_t>>)->Unit(benchmark::kMillisecond);
BENCHMARK(container_read_by_position<deque_adt<int64_t, uint8_t>>)->Unit(benchmark::kMillisecond);

// ---- heap ----

std::vector<int64_t> random_keys(int64_t n) {
  std::mt19937_64 random(7);
  std::vector<int64_t> keys(n);
  for (int64_t& k : keys) k = static_cast<int64_t>(random());
  return keys;
}

// A million random keys pushed, then popped, on one heap (kept capacity).
void heap_push_pop(benchmark::State& state) {
  const std::vector<int64_t> keys = random_keys(elements);
  growable_array<int64_t> h;
  for (auto _ : state) {
    for (int64_t k : keys) heap_push(h, k);
    while (!h.empty()) heap_pop(h);
    benchmark::DoNotOptimize(h);
  }
  state.SetItemsProcessed(state.iterations() * elements * 2);
}

void std_priority_queue_push_pop(benchmark::State& state) {
  const std::vector<int64_t> keys = random_keys(elements);
  std::priority_queue<int64_t, std::vector<int64_t>, std::greater<>> h;
  for (auto _ : state) {
    for (int64_t k : keys) h.push(k);
    while (!h.empty()) h.pop();
    benchmark::DoNotOptimize(h);
  }
  state.SetItemsProcessed(state.iterations() * elements * 2);
}

// Pushes alone (kept capacity): the sift-up's walk to the root against std::push_heap, which
// stops at the first parent that is not greater.
void heap_push_only(benchmark::State& state) {
  const std::vector<int64_t> keys = random_keys(elements);
  growable_array<int64_t> h;
  for (auto _ : state) {
    h.clear();
    for (int64_t k : keys) heap_push(h, k);
    benchmark::DoNotOptimize(h);
  }
  state.SetItemsProcessed(state.iterations() * elements);
}

void std_push_heap_only(benchmark::State& state) {
  const std::vector<int64_t> keys = random_keys(elements);
  std::vector<int64_t> h;
  for (auto _ : state) {
    h.clear();
    for (int64_t k : keys) {
      h.push_back(k);
      std::push_heap(h.begin(), h.end(), std::greater<>());
    }
    benchmark::DoNotOptimize(h);
  }
  state.SetItemsProcessed(state.iterations() * elements);
}

BENCHMARK(heap_push_pop)->Unit(benchmark::kMillisecond);
BENCHMARK(std_priority_queue_push_pop)->Unit(benchmark::kMillisecond);
BENCHMARK(heap_push_only)->Unit(benchmark::kMillisecond);
BENCHMARK(std_push_heap_only)->Unit(benchmark::kMillisecond);

// ---- list: insert before a node and erase it again, at a handle ----

void node_list_at_handle(benchmark::State& state) {
  node_list<int64_t> l;
  for (int64_t i = 0; i < 1000; ++i) l.push_back(i);
  const uint64_t middle = l.handle_of(l.position_at(500));
  for (auto _ : state) {
    for (int64_t i = 0; i < elements; ++i) {
      node_list<int64_t>::position at = node_list<int64_t>::none;
      if (!l.find(middle, at)) state.SkipWithError("lost the handle");
      const uint64_t added = l.handle_of(l.insert_before(at, i));
      node_list<int64_t>::position p;
      if (l.find(added, p)) l.erase(p);
    }
  }
  state.SetItemsProcessed(state.iterations() * elements * 2);
}

void std_list_at_iterator(benchmark::State& state) {
  std::list<int64_t> l;
  for (int64_t i = 0; i < 1000; ++i) l.push_back(i);
  const auto middle = std::next(l.begin(), 500);
  for (auto _ : state) {
    for (int64_t i = 0; i < elements; ++i) l.erase(l.insert(middle, i));
    benchmark::DoNotOptimize(l);
  }
  state.SetItemsProcessed(state.iterations() * elements * 2);
}

// The same through list_adt: each call checks the handle and takes the lock.
void list_adt_at_handle(benchmark::State& state) {
  list_adt<int64_t, uint8_t> c;
  adt<int64_t, uint8_t>& l = c;
  for (int64_t i = 0; i < 1000; ++i) (void)l.insert_last(i);
  node_handle middle = 0, before = 0;
  (void)l.find_node(500, middle);
  for (auto _ : state) {
    for (int64_t i = 0; i < elements; ++i) {
      (void)l.insert_at_node(middle, i);
      (void)l.prev_node(middle, before);
      (void)l.erase_node(before);
    }
  }
  state.SetItemsProcessed(state.iterations() * elements * 3);
}

BENCHMARK(node_list_at_handle)->Unit(benchmark::kMillisecond);
BENCHMARK(std_list_at_iterator)->Unit(benchmark::kMillisecond);
BENCHMARK(list_adt_at_handle)->Unit(benchmark::kMillisecond);

// ---- trie: one million words ----

// Decimal numbers behind a letter, in shuffled order: prefixes are shared the way the words of
// a dictionary share them.
const std::vector<std::string>& million_words() {
  static const std::vector<std::string> words = [] {
    std::vector<std::string> w;
    for (int i = 0; i < 1000000; ++i) w.push_back("k" + std::to_string(i));
    std::shuffle(w.begin(), w.end(), std::mt19937(3));
    return w;
  }();
  return words;
}

template <class S>
void word_insert(benchmark::State& state) {
  const auto& words = million_words();
  for (auto _ : state) {
    S s;
    for (const std::string& w : words) benchmark::DoNotOptimize(s.insert(w));
  }
  state.SetItemsProcessed(state.iterations() * words.size());
}

bool has(const word_trie& t, const std::string& w) { return t.contains(w); }
template <class S>
bool has(const S& s, const std::string& w) {
  return s.count(w) != 0;
}

template <class S>
void word_lookup(benchmark::State& state) {
  const auto& words = million_words();
  S s;
  for (const std::string& w : words) (void)s.insert(w);
  for (auto _ : state) {
    int64_t found = 0;
    for (const std::string& w : words) found += has(s, w);
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * words.size());
}

void word_lookup_any_case(benchmark::State& state) {
  const auto& words = million_words();
  word_trie t;
  for (const std::string& w : words) (void)t.insert(w);
  std::vector<std::string> upper = words;
  for (std::string& w : upper) w[0] = 'K';
  for (auto _ : state) {
    int64_t found = 0;
    for (const std::string& w : upper) found += t.contains_any_case(w);
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * words.size());
}

BENCHMARK(word_insert<word_trie>)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(word_insert<std::set<std::string>>)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(word_insert<std::unordered_set<std::string>>)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(word_lookup<word_trie>)->Unit(benchmark::kMillisecond);
BENCHMARK(word_lookup<std::set<std::string>>)->Unit(benchmark::kMillisecond);
BENCHMARK(word_lookup<std::unordered_set<std::string>>)->Unit(benchmark::kMillisecond);
BENCHMARK(word_lookup_any_case)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
