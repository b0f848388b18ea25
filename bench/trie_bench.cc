// Trie: resident memory per word, insert, exact and any-case lookup, enumeration and restore of
// a large word_trie. Memory figures are deltas of the process's resident set, so run the memory
// rows in a fresh process (`--benchmark_filter=memory`), one argument at a time for the largest.
// The timed rows use ZOR_TRIE_WORDS random words (default one million).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "containers/trie.h"
#include "containers/word_trie.h"
#include "values/image_io.h"

namespace {

using namespace qn::db::nosql::nosql_db;

constexpr int64_t million = 1'000'000;

int64_t timed_words() {
  const char* n = std::getenv("ZOR_TRIE_WORDS");
  return n == nullptr ? million : std::atoll(n);
}

// Resident bytes of this process.
int64_t resident_bytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// Bytes the allocator has handed out and not taken back (chunk headers included).
int64_t heap_bytes() {
  const struct mallinfo2 m = mallinfo2();
  return static_cast<int64_t>(m.uordblks + m.hblkhd);
}

// n distinct random words of `length` lower-case letters (fixed seed), in random order.
std::vector<std::string> random_words(int64_t n, size_t length, uint64_t seed) {
  std::mt19937_64 random(seed);
  std::vector<std::string> words;
  words.reserve(n);
  while (static_cast<int64_t>(words.size()) < n) {
    std::string w(length, ' ');
    for (char& c : w) c = static_cast<char>('a' + random() % 26);
    words.push_back(std::move(w));
  }
  std::sort(words.begin(), words.end());
  words.erase(std::unique(words.begin(), words.end()), words.end());
  std::shuffle(words.begin(), words.end(), std::mt19937_64(seed + 1));
  return words;
}

const std::vector<std::string>& stored_words() {
  static const std::vector<std::string> words = random_words(timed_words(), 12, 1);
  return words;
}

// ---- memory ----

// Resident memory of a trie of n random 12-byte words (the words themselves are made before
// the first reading).
void trie_memory(benchmark::State& state) {
  const std::vector<std::string> words = random_words(state.range(0), 12, 7);
  for (auto _ : state) {
    malloc_trim(0);
    const int64_t rss = resident_bytes(), heap = heap_bytes();
    auto t = std::make_unique<word_trie>();
    for (const std::string& w : words) benchmark::DoNotOptimize(t->insert(w));
    const auto n = static_cast<double>(words.size());
    state.counters["rss_per_word"] = static_cast<double>(resident_bytes() - rss) / n;
    state.counters["heap_per_word"] = static_cast<double>(heap_bytes() - heap) / n;
  }
}

// Resident memory of one word of n bytes, and of enumerating it.
void trie_memory_long_word(benchmark::State& state) {
  const std::string word(state.range(0), 'q');
  for (auto _ : state) {
    malloc_trim(0);
    const int64_t rss = resident_bytes();
    auto t = std::make_unique<word_trie>();
    benchmark::DoNotOptimize(t->insert(word));
    state.counters["rss_bytes"] = static_cast<double>(resident_bytes() - rss);
    uint64_t total = 0;
    t->for_each_word([&](std::string_view w) { total += w.size(); });
    benchmark::DoNotOptimize(total);
  }
}

BENCHMARK(trie_memory)
    ->Arg(100'000)
    ->Arg(2 * million)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(trie_memory_long_word)
    ->Arg(100'000)
    ->Arg(1 << 20)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// ---- time ----

void trie_insert(benchmark::State& state) {
  const auto& words = stored_words();
  for (auto _ : state) {
    word_trie t;
    for (const std::string& w : words) benchmark::DoNotOptimize(t.insert(w));
    state.PauseTiming();
    t.clear();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(words.size()));
}

const word_trie& stored_trie() {
  static const word_trie* t = [] {
    auto* made = new word_trie;
    for (const std::string& w : stored_words()) (void)made->insert(w);
    return made;
  }();
  return *t;
}

template <bool any_case>
void lookup(benchmark::State& state, const std::vector<std::string>& queries) {
  const word_trie& t = stored_trie();
  for (auto _ : state) {
    int64_t found = 0;
    for (const std::string& q : queries) found += any_case ? t.contains_any_case(q) : t.contains(q);
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(queries.size()));
}

// Every stored word, in another random order.
const std::vector<std::string>& present_queries() {
  static const std::vector<std::string> q = [] {
    std::vector<std::string> out = stored_words();
    std::shuffle(out.begin(), out.end(), std::mt19937_64(5));
    return out;
  }();
  return q;
}

void trie_lookup(benchmark::State& state) { lookup<false>(state, present_queries()); }

// Other random words: almost all absent, most part ways with the trie a few bytes in.
void trie_lookup_absent(benchmark::State& state) {
  static const std::vector<std::string> q = random_words(timed_words(), 12, 9);
  lookup<false>(state, q);
}

// The stored words with every letter in upper case: each byte tries its own case first.
void trie_lookup_any_case(benchmark::State& state) {
  static const std::vector<std::string> q = [] {
    std::vector<std::string> out = present_queries();
    for (std::string& w : out) std::transform(w.begin(), w.end(), w.begin(), ::toupper);
    return out;
  }();
  lookup<true>(state, q);
}

void trie_enumerate(benchmark::State& state) {
  const word_trie& t = stored_trie();
  for (auto _ : state) {
    uint64_t total = 0;
    t.for_each_word([&](std::string_view w) { total += w.size(); });
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(t.size()));
}

// Restore: the container's load from an image payload of the million words in memory.
void trie_restore(benchmark::State& state) {
  std::vector<std::string> sorted = stored_words();
  std::sort(sorted.begin(), sorted.end());
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  qn::image_writer writer(out);
  writer.put_u64(sorted.size());
  for (const std::string& w : sorted) writer.put_text(w);
  std::fclose(out);
  for (auto _ : state) {
    state.PauseTiming();
    std::FILE* in = fmemopen(buffer, size, "r");
    qn::image_reader reader(in, size);
    auto t = std::make_unique<trie_adt<qn::xstring, uint8_t>>();
    state.ResumeTiming();
    benchmark::DoNotOptimize(t->load(reader));
    state.PauseTiming();
    t.reset();
    std::fclose(in);
    state.ResumeTiming();
  }
  std::free(buffer);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(sorted.size()));
}

BENCHMARK(trie_insert)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(trie_lookup)->Unit(benchmark::kMillisecond);
BENCHMARK(trie_lookup_absent)->Unit(benchmark::kMillisecond);
BENCHMARK(trie_lookup_any_case)->Unit(benchmark::kMillisecond);
BENCHMARK(trie_enumerate)->Unit(benchmark::kMillisecond);
BENCHMARK(trie_restore)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
