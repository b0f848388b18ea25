// Fuzz target: image file bytes through restore into a fresh database; an image that restores
// is backed up, and that backup must restore again and back up to the very same bytes.
//
// Files live in a directory of their own under the system's temporary directory.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz/fuzz_support.h"

namespace {

std::string directory;

// Aborts, saying which property failed, when it does not hold: libFuzzer keeps the input.
void check(bool property, const char* what) {
  if (property) return;
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}

void write_file(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  check(f != nullptr && (size == 0 || std::fwrite(data, 1, size, f) == size), "write input");
  std::fclose(f);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Backs the registry up to a fresh file and returns its bytes.
std::string backup(qn::db::nosql::container_registry& registry, const std::string& path) {
  ::unlink(path.c_str());
  check(qn::fuzz::run_line(registry, "b " + path), "a restored database backs up");
  return read_file(path);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  directory = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
  directory += "/fuzz_image.XXXXXX";
  check(::mkdtemp(directory.data()) != nullptr, "make a directory");
  qn::fuzz::silence_stdout();
  qn::fuzz::bound_hash_tables();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qn::db::nosql::container_registry registry;
  const std::string input = directory + "/input", first = directory + "/first",
                    second = directory + "/second";
  write_file(input, data, size);
  registry.clear_all();  // a fresh database: a refused magic or version changes nothing
  if (!qn::fuzz::run_line(registry, "r " + input)) {
    check(registry.occupied_count() == 0, "a failed restore leaves the database empty");
    return 0;
  }
  const uint64_t count = registry.occupied_count();
  const std::string image = backup(registry, first);
  check(qn::fuzz::run_line(registry, "r " + first), "its backup restores");
  check(registry.occupied_count() == count, "with as many containers");
  check(backup(registry, second) == image, "and backs up to the same bytes");
  return 0;
}
