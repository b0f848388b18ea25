// Registry creation and tokenizing: time, memory, and allocations per call.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "bench/allocation_counter.h"
#include "engine/registry.h"
#include "engine/tokenizer.h"

namespace qn::db::nosql {
namespace {

// Resident set size of the process now, in MiB.
double resident_mib() {
  long pages_total = 0, pages_resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages_total, &pages_resident) != 2) pages_resident = 0;
    std::fclose(f);
  }
  return static_cast<double>(pages_resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
         (1024.0 * 1024.0);
}

// Creation, one container placed (so the registry is in use), and destruction.
void BM_RegistryCreate(benchmark::State& state) {
  double growth = 0;
  for (auto _ : state) {
    const double before = resident_mib();
    auto r = std::make_unique<container_registry>();
    uint64_t slot = 0;
    benchmark::DoNotOptimize(r->can_place("x"));
    benchmark::DoNotOptimize(slot);
    growth = resident_mib() - before;
  }
  state.counters["rss_growth_MiB"] = growth;
}
BENCHMARK(BM_RegistryCreate)->Unit(benchmark::kMicrosecond);

void BM_Tokenize(benchmark::State& state) {
  static constexpr std::string_view lines[] = {"g 12 count", "g 12 value 77",
                                               "s 0x1f value 1234 5678"};
  const std::string_view line = lines[state.range(0)];
  const uint64_t before = qn::bench::allocations_so_far();
  for (auto _ : state) {
    token t[max_tokens];
    benchmark::DoNotOptimize(tokenize(line, t));
  }
  const auto made = static_cast<double>(qn::bench::allocations_so_far() - before);
  state.counters["allocs_per_call"] = made / static_cast<double>(state.iterations());
}
BENCHMARK(BM_Tokenize)->DenseRange(0, 2);

}  // namespace
}  // namespace qn::db::nosql

BENCHMARK_MAIN();
