#include <gtest/gtest.h>

#include "engine/commands/test_support.h"

namespace qn::db::nosql {
namespace {

TEST(Create, Smoke) {
  testing::command_runner r;
  EXPECT_EQ(r.run("c hashmap u16 string 1000"), "ok [vkey u64: 0] [vkey(hex) string: \"0x0\"]");
}

}  // namespace
}  // namespace qn::db::nosql
