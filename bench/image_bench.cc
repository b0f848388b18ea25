// Backup and restore of the database image: MB/s both ways over about ten million elements spread
// over every kind, and, as the yardstick for restore, building the same database through the
// container operations directly. Images go to $ZOR_BENCH_DIR, else /dev/shm, else the temp dir.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "containers/factory.h"
#include "engine/registry.h"
#include "persistence/image.h"

namespace qn::db::nosql {
namespace {

using nosql_db::ab_adt;
using nosql_db::adt;

// One container of the benchmark database.
struct part {
  std::string_view kind;
  type_descriptor key, value;
  uint64_t capacity;  // hash kinds only
  uint64_t count;     // elements to insert
};

// About 10.9 million elements; hash keys are the lowest `count` keys, shuffled.
const std::vector<part> mixed_parts = {
    {"vector", u64_type, u08_type, 0, 3'000'000},
    {"vector", i32_type, u08_type, 0, 2'000'000},
    {"deque", double_type, u08_type, 0, 1'000'000},
    {"list", i32_type, u08_type, 0, 500'000},
    {"hashmap", u32_type, i64_type, 1'000'000, 1'000'000},
    {"hashtable", i32_type, u08_type, 1'000'000, 500'000},
    {"map", i64_type, double_type, 0, 1'000'000},
    {"set", i32_type, u08_type, 0, 500'000},
    {"multiset", u16_type, u08_type, 0, 300'000},
    {"multimap", string_type, i32_type, 0, 200'000},
    {"heap", i64_type, u08_type, 0, 500'000},
    {"stack", u32_type, u08_type, 0, 200'000},
    {"queue", i16_type, u08_type, 0, 200'000},
    {"trie", string_type, u08_type, 0, 100'000},
};

// Vectors of fixed-width elements only: the kind that writes its elements in one block.
const std::vector<part> vector_parts = {
    {"vector", u64_type, u08_type, 0, 6'000'000},
    {"vector", i32_type, u08_type, 0, 4'000'000},
};

bool is_sequence(std::string_view kind) {
  return kind == "vector" || kind == "deque" || kind == "list" || kind == "stack" ||
         kind == "queue";
}

template <class T>
std::vector<T> random_values(uint64_t n, std::mt19937_64& rng) {
  std::vector<T> out;
  out.reserve(n);
  for (uint64_t i = 0; i < n; ++i) {
    const uint64_t r = rng();
    if constexpr (std::is_same_v<T, xstring>) {
      std::string word;
      for (uint64_t x = r; word.size() < 10; x /= 26) word += static_cast<char>('a' + x % 26);
      out.emplace_back(word);
    } else if constexpr (std::is_floating_point_v<T>) {
      out.push_back(static_cast<T>(r) / static_cast<T>(1 << 20));
    } else if constexpr (std::is_integral_v<T>) {
      out.push_back(static_cast<T>(r));
    } else {
      out.push_back(T{});
    }
  }
  return out;
}

// The lowest n keys of K, shuffled: what a hash container of capacity >= n can store.
template <class K>
std::vector<K> hash_keys(uint64_t n, std::mt19937_64& rng) {
  std::vector<K> out;
  if constexpr (std::is_integral_v<K>) {
    const auto low = static_cast<uint64_t>(std::numeric_limits<K>::min());
    for (uint64_t i = 0; i < n; ++i) out.push_back(static_cast<K>(low + i));
    std::shuffle(out.begin(), out.end(), rng);
  }
  return out;
}

// A part with its elements generated once; `build` makes the container and inserts them through
// the container operations, as clients would.
struct prepared_part {
  part p;
  std::function<std::unique_ptr<ab_adt>()> build;
};

prepared_part prepare(const part& p, std::mt19937_64& rng) {
  prepared_part out{p, nullptr};
  (void)with_scalar_type(p.key, [&]<class K>() {
    return with_scalar_type(p.value, [&]<class V>() {
      const bool hashed = p.kind == "hashmap" || p.kind == "hashtable";
      auto keys = std::make_shared<std::vector<K>>(hashed ? hash_keys<K>(p.count, rng)
                                                          : random_values<K>(p.count, rng));
      auto values = std::make_shared<std::vector<V>>(random_values<V>(p.count, rng));
      out.build = [p, keys, values]() {
        std::unique_ptr<ab_adt> c = nosql_db::make_container(p.kind, p.key, p.value, p.capacity);
        if (c == nullptr) return c;
        auto& typed = static_cast<adt<K, V>&>(*c);
        for (uint64_t i = 0; i < keys->size(); ++i) {
          const bool done = is_sequence(p.kind) ? typed.insert_last((*keys)[i])
                                                : typed.insert((*keys)[i], (*values)[i]);
          benchmark::DoNotOptimize(done);
        }
        return c;
      };
      return true;
    });
  });
  return out;
}

std::vector<prepared_part> prepare_all(const std::vector<part>& parts) {
  std::mt19937_64 rng(20201016);
  std::vector<prepared_part> out;
  for (const part& p : parts) out.push_back(prepare(p, rng));
  return out;
}

// Builds the whole database; false when a kind cannot be built yet.
bool build_database(const std::vector<prepared_part>& parts, container_registry& registry) {
  for (const prepared_part& p : parts) {
    uint64_t slot = 0;
    if (!registry.place_new(p.build(), "", slot)) return false;
  }
  return true;
}

uint64_t element_count(const std::vector<part>& parts) {
  uint64_t n = 0;
  for (const part& p : parts) n += p.count;
  return n;
}

std::string image_path(const char* name) {
  std::filesystem::path dir;
  if (const char* chosen = std::getenv("ZOR_BENCH_DIR")) {
    dir = chosen;
  } else if (std::filesystem::is_directory("/dev/shm")) {
    dir = "/dev/shm";
  } else {
    dir = std::filesystem::temp_directory_path();
  }
  return (dir / (std::string(name) + "." + std::to_string(::getpid()) + ".img")).string();
}

void report(benchmark::State& state, uint64_t bytes, uint64_t elements) {
  state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
  state.SetItemsProcessed(static_cast<int64_t>(elements * state.iterations()));
  state.counters["image_MB"] = static_cast<double>(bytes) / 1e6;
}

void run_backup(benchmark::State& state, const std::vector<part>& parts, const char* name) {
  container_registry registry;
  if (!build_database(prepare_all(parts), registry)) {
    state.SkipWithError("a kind cannot be built yet");
    return;
  }
  const std::string path = image_path(name);
  uint64_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(path);
    state.ResumeTiming();
    if (!save_image(registry, path)) state.SkipWithError("backup failed");
  }
  bytes = std::filesystem::file_size(path);
  std::filesystem::remove(path);
  report(state, bytes, element_count(parts));
}

void run_restore(benchmark::State& state, const std::vector<part>& parts, const char* name) {
  const std::string path = image_path(name);
  {
    container_registry source;
    std::filesystem::remove(path);
    if (!build_database(prepare_all(parts), source) || !save_image(source, path)) {
      state.SkipWithError("cannot write the image");
      return;
    }
  }
  const uint64_t bytes = std::filesystem::file_size(path);
  container_registry registry;
  for (auto _ : state) {
    state.PauseTiming();
    registry.clear_all();  // destroying the previous round is not part of a restore
    state.ResumeTiming();
    if (!load_image(registry, path)) state.SkipWithError("restore failed");
  }
  std::filesystem::remove(path);
  report(state, bytes, element_count(parts));
}

// The yardstick for restore: the same containers filled through their operations, with the
// elements already in memory (no parsing, no file).
void run_insert(benchmark::State& state, const std::vector<part>& parts) {
  const std::vector<prepared_part> prepared = prepare_all(parts);
  container_registry registry;
  for (auto _ : state) {
    state.PauseTiming();
    registry.clear_all();
    state.ResumeTiming();
    if (!build_database(prepared, registry)) state.SkipWithError("a kind cannot be built yet");
  }
  report(state, 0, element_count(parts));
}

void BM_backup_mixed(benchmark::State& state) { run_backup(state, mixed_parts, "mixed"); }
void BM_restore_mixed(benchmark::State& state) { run_restore(state, mixed_parts, "mixed"); }
void BM_insert_mixed(benchmark::State& state) { run_insert(state, mixed_parts); }
void BM_backup_fixed_vectors(benchmark::State& state) {
  run_backup(state, vector_parts, "vectors");
}
void BM_restore_fixed_vectors(benchmark::State& state) {
  run_restore(state, vector_parts, "vectors");
}
void BM_insert_fixed_vectors(benchmark::State& state) { run_insert(state, vector_parts); }

// One part at a time, to find a kind whose save or load lags: argument = index in mixed_parts.
void BM_backup_part(benchmark::State& state) {
  const part& p = mixed_parts[static_cast<size_t>(state.range(0))];
  state.SetLabel(std::string(p.kind) + " " + std::string(type_name(p.key)));
  run_backup(state, {p}, "part");
}
void BM_restore_part(benchmark::State& state) {
  const part& p = mixed_parts[static_cast<size_t>(state.range(0))];
  state.SetLabel(std::string(p.kind) + " " + std::string(type_name(p.key)));
  run_restore(state, {p}, "part");
}
void BM_insert_part(benchmark::State& state) {
  const part& p = mixed_parts[static_cast<size_t>(state.range(0))];
  state.SetLabel(std::string(p.kind) + " " + std::string(type_name(p.key)));
  run_insert(state, {p});
}

constexpr int rounds = 5;
BENCHMARK(BM_backup_fixed_vectors)->Unit(benchmark::kMillisecond)->Iterations(rounds);
BENCHMARK(BM_restore_fixed_vectors)->Unit(benchmark::kMillisecond)->Iterations(rounds);
BENCHMARK(BM_insert_fixed_vectors)->Unit(benchmark::kMillisecond)->Iterations(rounds);
BENCHMARK(BM_backup_mixed)->Unit(benchmark::kMillisecond)->Iterations(rounds);
BENCHMARK(BM_restore_mixed)->Unit(benchmark::kMillisecond)->Iterations(rounds);
BENCHMARK(BM_insert_mixed)->Unit(benchmark::kMillisecond)->Iterations(rounds);
BENCHMARK(BM_backup_part)->DenseRange(0, 13)->Unit(benchmark::kMillisecond)->Iterations(rounds);
BENCHMARK(BM_restore_part)->DenseRange(0, 13)->Unit(benchmark::kMillisecond)->Iterations(rounds);
BENCHMARK(BM_insert_part)->DenseRange(0, 13)->Unit(benchmark::kMillisecond)->Iterations(rounds);

}  // namespace
}  // namespace qn::db::nosql

BENCHMARK_MAIN();
