#include "app/program_path.h"

#include <gtest/gtest.h>

#include <string>

namespace qn::app {
namespace {

// program_path itself is the end-to-end service test's: started in /, the server finds its
// zor_ndb.toml beside the program.
TEST(ProgramPath, DirectoryIsEverythingBeforeTheLastSlash) {
  struct case_t {
    const char* path;
    const char* expected;
  };
  const case_t cases[] = {
      {"/opt/zor/zor_nosql_server", "/opt/zor"},
      {"/zor_nosql_server", "/"},
      {"zor_nosql_server", "."},
      {"./zor_nosql_server", "."},
      {"/a/b/", "/a/b"},
  };
  for (const case_t& c : cases) EXPECT_EQ(directory_of(c.path), c.expected) << c.path;
}

}  // namespace
}  // namespace qn::app
