// b and r as command lines: the path is the second token, quoted when it holds spaces. What the
// image holds and every refusal of a file are persistence's tests.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/commands/test_support.h"

namespace qn::db::nosql {
namespace {

TEST(ImageCommands, BackUpAndRestoreByAQuotedPath) {
  const std::string path = ::testing::TempDir() + "zor image commands test.img";
  std::remove(path.c_str());
  const std::string quoted = "\"" + path + "\"";
  testing::command_runner r;
  ASSERT_EQ(r.run("c vector i32 v"), "ok [vkey u64: 0] [vkey(hex) string: \"0x0\"]");
  ASSERT_EQ(r.run("i \"v\" last 5"), "ok");
  EXPECT_EQ(r.run("b " + quoted), "ok");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(r.run("b " + quoted), "false");  // never overwritten
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "exists file named " + path + "\n");
  EXPECT_EQ(r.run("d \"v\" all"), "ok");
  EXPECT_EQ(r.run("r " + quoted), "ok");
  EXPECT_EQ(r.run("g \"v\" all"), "ok [i32: 5]");
  std::remove(path.c_str());
}

}  // namespace
}  // namespace qn::db::nosql
