#include "tools/load_options.h"

#include <gtest/gtest.h>

namespace qn::tools {
namespace {

TEST(LoadOptions, ParsesEveryOptionAndRefusesBadValues) {
  struct {
    std::vector<std::string_view> args;
    bool ok;
  } cases[] = {
      {{}, true},
      {{"-c", "1", "-n", "10", "-r", "5", "-t", "set_rank,list_pop", "--json"}, true},
      {{"-d", "2.5", "-w", "0", "-h", "10.0.0.1", "-p", "7000", "-u", "bob"}, true},
      {{"--command", "g 0 count"}, true},
      {{"--command", "g __slot__ count"}, false},  // no container is made for a template
      {{"-c", "0"}, false},
      {{"-t", "nope"}, false},
      {{"--bogus", "1"}, false},
      {{"-t", "set_rank,list_pop", "--protocol", "resp"}, true},  // the protocol comes later
      {{"--protocol", "resp", "-t", "map_get"}, false},           // no RESP form
  };
  for (const auto& c : cases) {
    load_options o;
    std::string error;
    EXPECT_EQ(parse_load_options(c.args, o, error), c.ok) << (c.args.empty() ? "" : c.args[0]);
    EXPECT_EQ(error.empty(), c.ok);
  }
}

// Every ready-made workload, and a custom one, runs against the real server in the end-to-end
// benchmark test, which pins their templates; these are the default pair and what that test does
// not reach.
TEST(LoadOptions, WorkloadsAndTemplates) {
  load_options o;
  std::string error;
  ASSERT_TRUE(parse_load_options({"-r", "1000"}, o, error));
  ASSERT_EQ(o.workloads.size(), 2u);
  EXPECT_EQ(o.workloads[0].create, "c hashmap u64 u64 1000");
  EXPECT_EQ(o.workloads[1].name, "hashmap_get");
  load_options custom;
  ASSERT_TRUE(
      parse_load_options({"--command", "g 5 value __rand_int__", "--command", "k"}, custom, error));
  ASSERT_EQ(custom.workloads.size(), 1u);
  EXPECT_EQ(custom.workloads[0].commands.size(), 2u);
  EXPECT_EQ(expand_template("x__slot____rand_int___y __z", 4, 9), "x49_y __z");
  workload push;
  ASSERT_TRUE(find_workload("list_push", push, wire_protocol::resp));
  EXPECT_EQ(expand_template(push.commands[0], 4, 9), "RPUSH zb:list 9");
}

}  // namespace
}  // namespace qn::tools
