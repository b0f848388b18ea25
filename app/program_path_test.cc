#include "app/program_path.h"

#include <gtest/gtest.h>

#include <string>

namespace qn::app {
namespace {

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

TEST(ProgramPath, ProgramPathIsTheRunningBinary) {
  const std::string path = program_path("not-used");
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(path.substr(path.rfind('/') + 1), "app_test");
}

}  // namespace
}  // namespace qn::app
