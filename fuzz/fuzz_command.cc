// Fuzz target: command lines executed against the standard database (fuzz_support.h).
// The input is up to 16 lines separated by line feeds, run in order on a fresh copy.
//
// Backup and restore lines are skipped: they touch the file system, and fuzz_image covers them.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz/fuzz_support.h"

namespace {

constexpr int max_lines = 16;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qn::fuzz::silence_stdout();
  qn::fuzz::bound_hash_tables();
  qn::db::nosql::container_registry registry;
  if (!qn::fuzz::build_standard(registry)) std::abort();  // the layout in docs/testing.md broke
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qn::db::nosql::container_registry registry;
  registry.clear_all();
  (void)qn::fuzz::build_standard(registry);
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  for (int i = 0; i < max_lines && !rest.empty(); ++i) {
    const size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!line.empty() && (line[0] == 'b' || line[0] == 'r')) continue;
    (void)qn::fuzz::run_line(registry, line);
  }
  return 0;
}
