// Configuration reader: compiling the TOML grammar, and parsing plus building a 1 MiB document
// of typical tables and key/value lines.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "config/grammar.h"
#include "config/toml_grammar.h"
#include "config/toml_reader.h"

namespace {

// About 1 MiB of sections, each with strings, integers, floats, booleans, a date, an array and
// an inline table, with comments and blank lines: what a large configuration looks like.
std::string typical_document(size_t size) {
  std::string text = "# generated configuration\n[server]\nport = 55554\n\n";
  for (int t = 0; text.size() < size; ++t) {
    const std::string n = std::to_string(t);
    text += "[section_" + n + "]\n";
    text += "name = \"service " + n + "\"  # display name\n";
    text += "path = 'C:\\data\\" + n + "'\n";
    text += "enabled = true\n";
    text += "retries = " + n + "\n";
    text += "timeout = 2.5\n";
    text += "since = 2024-02-29\n";
    text += "ports = [ 8080, 8081, 8082 ]\n";
    text += "owner = { name = \"ops\", id = " + n + " }\n\n";
  }
  return text;
}

void BM_CompileTomlGrammar(benchmark::State& state) {
  for (auto _ : state) {
    qn::config::compile_error error;
    auto g = qn::config::compile_grammar(qn::config::toml_grammar_text, error);
    benchmark::DoNotOptimize(g);
  }
}
BENCHMARK(BM_CompileTomlGrammar);

void BM_CreateTomlReader(benchmark::State& state) {
  for (auto _ : state) {
    auto reader = qn::config::toml_reader::create();
    benchmark::DoNotOptimize(reader);
  }
}
BENCHMARK(BM_CreateTomlReader);

void BM_ParseAndBuild1MiB(benchmark::State& state) {
  const std::string text = typical_document(1 << 20);
  const auto reader = qn::config::toml_reader::create();
  for (auto _ : state) {
    auto tree = reader->parse(text);
    if (tree == nullptr || tree->length != text.size()) {
      state.SkipWithError("the document does not parse");
      break;
    }
    auto document = reader->build_document(*tree);
    benchmark::DoNotOptimize(document);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseAndBuild1MiB)->Unit(benchmark::kMillisecond);

void BM_ParseOnly1MiB(benchmark::State& state) {
  const std::string text = typical_document(1 << 20);
  const auto reader = qn::config::toml_reader::create();
  for (auto _ : state) {
    auto tree = reader->parse(text);
    benchmark::DoNotOptimize(tree);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseOnly1MiB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
