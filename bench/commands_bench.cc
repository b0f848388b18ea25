// Typed commands through execute on one thread: the read and write paths of a hash map, with the
// heap allocations each command makes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/allocation_counter.h"
#include "engine/executor.h"
#include "engine/registry.h"
#include "engine/reply.h"

namespace qn::db::nosql {
namespace {

constexpr int key_count = 4096;

bool run(container_registry& registry, const std::string& line) {
  reply_record reply;
  return execute(registry, line.data(), line.size(), reply);
}

// A registry whose slot 0 is a hash map of `create` with the keys base .. base + key_count - 1
// present, and the command lines of `pattern` (with %k for the key) for those keys.
struct fixture {
  fixture(const std::string& create, const std::string& pattern, int64_t base) {
    if (!run(registry, create)) std::abort();
    for (int k = 0; k < key_count; ++k) {
      const std::string key = std::to_string(base + k);
      if (!run(registry, "i 0 " + key + " " + std::to_string(k * 7))) std::abort();
      std::string line = pattern;
      line.replace(line.find("%k"), 2, key);
      lines.push_back(line);
    }
  }
  container_registry registry;
  std::vector<std::string> lines;
};

// Runs the lines round-robin, one command per iteration, each with a fresh reply record as a
// session makes one per request.
void run_commands(benchmark::State& state, const std::string& create, const std::string& pattern,
                  int64_t base = 0) {
  fixture f(create, pattern, base);
  size_t i = 0;
  uint64_t failures = 0;
  const uint64_t before = qn::bench::allocations_so_far();
  for (auto _ : state) {
    const std::string& line = f.lines[i++ % f.lines.size()];
    reply_record reply;
    failures += !execute(f.registry, line.data(), line.size(), reply);
    benchmark::DoNotOptimize(reply);
  }
  const auto made = static_cast<double>(qn::bench::allocations_so_far() - before);
  state.counters["allocs_per_cmd"] = benchmark::Counter(made, benchmark::Counter::kAvgIterations);
  if (failures != 0) state.SkipWithError("a command failed");
}

void BM_ReadValueU32U64(benchmark::State& state) {
  run_commands(state, "c hashmap u32 u64 65536", "g 0 value %k");
}
void BM_WriteValueU32U64(benchmark::State& state) {
  run_commands(state, "c hashmap u32 u64 65536", "s 0 value %k 123456789");
}
void BM_ReadValueI64I32(benchmark::State& state) {
  run_commands(state, "c hashmap i64 i32 65536", "g 0 value %k", INT64_MIN);
}
void BM_WriteValueI64I32(benchmark::State& state) {
  run_commands(state, "c hashmap i64 i32 65536", "s 0 value %k -42", INT64_MIN);
}
void BM_WriteValueByName(benchmark::State& state) {
  run_commands(state, "c hashmap u32 u64 65536 \"accounts\"", "s \"accounts\" value %k 9");
}
void BM_WriteValueString(benchmark::State& state) {
  run_commands(state, "c hashmap u32 string 65536", "s 0 value %k short_text");
}
void BM_CountHashMap(benchmark::State& state) {
  run_commands(state, "c hashmap u32 u64 65536", "g 0 count %k");
}

BENCHMARK(BM_ReadValueU32U64);
BENCHMARK(BM_WriteValueU32U64);
BENCHMARK(BM_ReadValueI64I32);
BENCHMARK(BM_WriteValueI64I32);
BENCHMARK(BM_WriteValueByName);
BENCHMARK(BM_WriteValueString);
BENCHMARK(BM_CountHashMap);

}  // namespace
}  // namespace qn::db::nosql

BENCHMARK_MAIN();
