#include "app/program_path.h"

#include <gtest/gtest.h>

#include <string>

namespace qn::app {
namespace {

// program_path itself, and the directory of an absolute path, are the end-to-end suite's: every
// server there finds its zor_ndb.toml beside the program, the service test's started in /.
TEST(ProgramPath, DirectoryIsEverythingBeforeTheLastSlash) {
  struct case_t {
    const char* path;
    const char* expected;
  };
  const case_t cases[] = {
      {"/zor_nosql_server", "/"},
      {"zor_nosql_server", "."},
      {"./zor_nosql_server", "."},
      {"/a/b/", "/a/b"},
  };
  for (const case_t& c : cases) EXPECT_EQ(directory_of(c.path), c.expected) << c.path;
}

}  // namespace
}  // namespace qn::app
