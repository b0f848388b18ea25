// Ordered containers over one million random i64 keys: insert, find, erase and rank of the AVL
// tree (raw and through the map and set kinds, lock included) beside std::map, std::multiset and
// the GNU order-statistics tree.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <ext/pb_ds/assoc_container.hpp>
#include <ext/pb_ds/tree_policy.hpp>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "containers/avl_tree.h"
#include "containers/map.h"
#include "containers/set.h"

namespace {

using namespace qn::db::nosql::nosql_db;

constexpr int64_t key_count = 1'000'000;

// The keys in insertion order, and the same keys in another random order for the lookups.
const std::vector<int64_t>& keys() {
  static const std::vector<int64_t> k = [] {
    std::mt19937_64 rng(42);
    std::vector<int64_t> v(key_count);
    for (int64_t& x : v) x = static_cast<int64_t>(rng());
    return v;
  }();
  return k;
}
const std::vector<int64_t>& probes() {
  static const std::vector<int64_t> p = [] {
    std::vector<int64_t> v = keys();
    std::shuffle(v.begin(), v.end(), std::mt19937_64(7));
    return v;
  }();
  return p;
}

using gnu_tree =
    __gnu_pbds::tree<int64_t, __gnu_pbds::null_type, std::less<int64_t>, __gnu_pbds::rb_tree_tag,
                     __gnu_pbds::tree_order_statistics_node_update>;

// The raw tree with its nodes, as the set kinds hold it.
class raw_tree : public avl_tree<int64_t, true, true> {
 public:
  ~raw_tree() { dispose_all(&free_node); }
  static void free_node(avl_node* n) { delete static_cast<node*>(n); }
  void insert(int64_t k) {
    slot s;
    if (find_slot(k, s)) link_at(s, new node(k));
  }
};

// Runs `fill` into a fresh container per iteration; only the inserts are timed.
template <class C, class F>
void time_inserts(benchmark::State& state, F fill) {
  for (auto _ : state) {
    auto c = std::make_unique<C>();
    fill(*c);
    state.PauseTiming();
    c.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * key_count);
}

void insert_std_map(benchmark::State& state) {
  time_inserts<std::map<int64_t, int64_t>>(state, [](auto& c) {
    for (int64_t k : keys()) c.emplace(k, k);
  });
}
void insert_map_adt(benchmark::State& state) {
  time_inserts<map_adt<int64_t, int64_t>>(state, [](adt<int64_t, int64_t>& c) {
    for (int64_t k : keys()) benchmark::DoNotOptimize(c.insert(k, k));
  });
}
void insert_std_multiset(benchmark::State& state) {
  time_inserts<std::multiset<int64_t>>(state, [](auto& c) {
    for (int64_t k : keys()) c.insert(k);
  });
}
void insert_multiset_adt(benchmark::State& state) {
  time_inserts<multiset_adt<int64_t, uint8_t>>(state, [](adt<int64_t, uint8_t>& c) {
    for (int64_t k : keys()) benchmark::DoNotOptimize(c.insert(k, 0));
  });
}
void insert_gnu_tree(benchmark::State& state) {
  time_inserts<gnu_tree>(state, [](auto& c) {
    for (int64_t k : keys()) c.insert(k);
  });
}
void insert_raw_sized_tree(benchmark::State& state) {
  time_inserts<raw_tree>(state, [](auto& c) {
    for (int64_t k : keys()) c.insert(k);
  });
}

// Containers filled once and shared by the lookup benchmarks.
std::map<int64_t, int64_t>& filled_std_map() {
  static auto* c = [] {
    auto* m = new std::map<int64_t, int64_t>;
    for (int64_t k : keys()) m->emplace(k, k);
    return m;
  }();
  return *c;
}
map_adt<int64_t, int64_t>& filled_map_adt() {
  static auto* c = [] {
    auto* m = new map_adt<int64_t, int64_t>;
    for (int64_t k : keys()) static_cast<void>(m->insert(k, k));
    return m;
  }();
  return *c;
}
set_adt<int64_t, uint8_t>& filled_set_adt() {
  static auto* c = [] {
    auto* s = new set_adt<int64_t, uint8_t>;
    for (int64_t k : keys()) static_cast<void>(s->insert(k, 0));
    return s;
  }();
  return *c;
}
gnu_tree& filled_gnu_tree() {
  static auto* c = [] {
    auto* t = new gnu_tree;
    for (int64_t k : keys()) t->insert(k);
    return t;
  }();
  return *c;
}
raw_tree& filled_raw_tree() {
  static auto* c = [] {
    auto* t = new raw_tree;
    for (int64_t k : keys()) t->insert(k);
    return t;
  }();
  return *c;
}

void find_std_map(benchmark::State& state) {
  auto& c = filled_std_map();
  for (auto _ : state) {
    for (int64_t k : probes()) benchmark::DoNotOptimize(c.find(k));
  }
  state.SetItemsProcessed(state.iterations() * key_count);
}
void find_map_adt(benchmark::State& state) {
  adt<int64_t, int64_t>& c = filled_map_adt();
  std::vector<int64_t> values;
  values.reserve(1);
  for (auto _ : state) {
    for (int64_t k : probes()) {
      values.clear();
      benchmark::DoNotOptimize(c.values_of(k, values));
    }
  }
  state.SetItemsProcessed(state.iterations() * key_count);
}
void find_raw_tree(benchmark::State& state) {
  auto& c = filled_raw_tree();
  for (auto _ : state) {
    for (int64_t k : probes()) benchmark::DoNotOptimize(c.find(k));
  }
  state.SetItemsProcessed(state.iterations() * key_count);
}

void rank_gnu_tree(benchmark::State& state) {
  auto& c = filled_gnu_tree();
  for (auto _ : state) {
    for (int64_t k : probes()) benchmark::DoNotOptimize(c.order_of_key(k));
  }
  state.SetItemsProcessed(state.iterations() * key_count);
}
void rank_set_adt(benchmark::State& state) {
  adt<int64_t, uint8_t>& c = filled_set_adt();
  uint64_t rank = 0;
  for (auto _ : state) {
    for (int64_t k : probes()) benchmark::DoNotOptimize(c.rank_of(k, rank));
  }
  state.SetItemsProcessed(state.iterations() * key_count);
}
void rank_raw_tree(benchmark::State& state) {
  auto& c = filled_raw_tree();
  uint64_t rank = 0;
  for (auto _ : state) {
    for (int64_t k : probes()) benchmark::DoNotOptimize(c.rank_of(k, rank));
  }
  state.SetItemsProcessed(state.iterations() * key_count);
}

// Erases every key in the probe order from a container filled outside the timing.
template <class C, class Fill, class Erase>
void time_erases(benchmark::State& state, Fill fill, Erase erase) {
  for (auto _ : state) {
    state.PauseTiming();
    auto c = std::make_unique<C>();
    fill(*c);
    state.ResumeTiming();
    for (int64_t k : probes()) erase(*c, k);
    state.PauseTiming();
    c.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * key_count);
}

void erase_std_map(benchmark::State& state) {
  time_erases<std::map<int64_t, int64_t>>(
      state,
      [](auto& c) {
        for (int64_t k : keys()) c.emplace(k, k);
      },
      [](auto& c, int64_t k) { benchmark::DoNotOptimize(c.erase(k)); });
}
void erase_map_adt(benchmark::State& state) {
  time_erases<map_adt<int64_t, int64_t>>(
      state,
      [](auto& c) {
        for (int64_t k : keys()) static_cast<void>(c.insert(k, k));
      },
      [](adt<int64_t, int64_t>& c, int64_t k) { benchmark::DoNotOptimize(c.erase_equal(k)); });
}
void erase_std_multiset(benchmark::State& state) {
  time_erases<std::multiset<int64_t>>(
      state,
      [](auto& c) {
        for (int64_t k : keys()) c.insert(k);
      },
      [](auto& c, int64_t k) { benchmark::DoNotOptimize(c.erase(k)); });
}
void erase_multiset_adt(benchmark::State& state) {
  time_erases<multiset_adt<int64_t, uint8_t>>(
      state,
      [](auto& c) {
        for (int64_t k : keys()) static_cast<void>(c.insert(k, 0));
      },
      [](adt<int64_t, uint8_t>& c, int64_t k) { benchmark::DoNotOptimize(c.erase_equal(k)); });
}
void erase_gnu_tree(benchmark::State& state) {
  time_erases<gnu_tree>(
      state,
      [](auto& c) {
        for (int64_t k : keys()) c.insert(k);
      },
      [](auto& c, int64_t k) { benchmark::DoNotOptimize(c.erase(k)); });
}

constexpr int repeats = 3;

BENCHMARK(insert_std_map)->Unit(benchmark::kMillisecond)->Iterations(repeats);
BENCHMARK(insert_map_adt)->Unit(benchmark::kMillisecond)->Iterations(repeats);
BENCHMARK(insert_std_multiset)->Unit(benchmark::kMillisecond)->Iterations(repeats);
BENCHMARK(insert_multiset_adt)->Unit(benchmark::kMillisecond)->Iterations(repeats);
BENCHMARK(insert_gnu_tree)->Unit(benchmark::kMillisecond)->Iterations(repeats);
BENCHMARK(insert_raw_sized_tree)->Unit(benchmark::kMillisecond)->Iterations(repeats);
BENCHMARK(find_std_map)->Unit(benchmark::kMillisecond)->Iterations(repeats);
BENCHMARK(find_map_adt)->Unit(benchmark::kMillisecond)->Iterations(repeats);
BENCHMARK(find_raw_tree)->Unit(benchmark::kMillisecond)->Iterations(repeats);
BENCHMARK(erase_std_map)->Unit(benchmark::kMillisecond)->Iterations(repeats);
BENCHMARK(erase_map_adt)->Unit(benchmark::kMillisecond)->Iterations(repeats);
BENCHMARK(erase_std_multiset)->Unit(benchmark::kMillisecond)->Iterations(repeats);
BENCHMARK(erase_multiset_adt)->Unit(benchmark::kMillisecond)->Iterations(repeats);
BENCHMARK(erase_gnu_tree)->Unit(benchmark::kMillisecond)->Iterations(repeats);
BENCHMARK(rank_gnu_tree)->Unit(benchmark::kMillisecond)->Iterations(repeats);
BENCHMARK(rank_set_adt)->Unit(benchmark::kMillisecond)->Iterations(repeats);
BENCHMARK(rank_raw_tree)->Unit(benchmark::kMillisecond)->Iterations(repeats);

}  // namespace

BENCHMARK_MAIN();
