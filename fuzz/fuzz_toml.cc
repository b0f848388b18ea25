// Fuzz target: a TOML document through the reader and the document builder, and, for inputs that
// start with "#" (a comment, so the document is unchanged), through the server configuration
// (port and users) exactly as the server reads zor_ndb.toml at start-up.
//
// The server configuration compiles the grammar afresh on every call, which costs far more than
// a parse; a reader built once keeps the other inputs fast. The configuration is read from the
// current directory, so the target works in a directory of its own under the temporary directory.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "config/server_config.h"
#include "config/toml_document.h"
#include "config/toml_reader.h"

namespace {

void read_as_server(const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen("zor_ndb.toml", "wb");
  if (f == nullptr || (size != 0 && std::fwrite(data, 1, size, f) != size)) std::abort();
  std::fclose(f);
  qn::user_table users;
  qn::config::server_limits limits;
  qn::config::persistence_settings persistence;
  (void)qn::config::read_configuration(users, limits, persistence);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string dir = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
  dir += "/fuzz_toml.XXXXXX";
  if (::mkdtemp(dir.data()) == nullptr || ::chdir(dir.c_str()) != 0) std::abort();
  (void)std::freopen("/dev/null", "w", stdout);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::unique_ptr<qn::config::toml_reader> reader = qn::config::toml_reader::create();
  if (reader == nullptr) std::abort();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const qn::config::parse_ptr tree = reader->parse(text)) {
    (void)reader->build_document(*tree);
  } else {
    (void)qn::config::toml_reader::failure_offset(text);
  }
  if (size != 0 && data[0] == '#') read_as_server(data, size);
  return 0;
}
