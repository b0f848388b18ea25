// zor_nosql_benchmark against the real server: every ready-made workload runs, reports one JSON
// line, and leaves no container behind; a refused login is exit code 2.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/e2e/server_harness.h"

#ifdef ZOR_BENCHMARK_PATH

namespace qn::e2e {
namespace {

struct tool_run {
  int exit_code = -1;
  std::string out;
};

// Runs the tool through the shell with ZOR_PASSWORD set; the tool bounds its own waits.
tool_run run_tool(const std::string& password, const std::string& arguments) {
  const std::string command = "ZOR_PASSWORD='" + password + "' timeout 120 " +
                              ZOR_BENCHMARK_PATH + " " + arguments + " 2>&1";
  tool_run r;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return r;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) r.out.append(buffer, n);
  const int status = pclose(p);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(BenchmarkTool, RunsEveryWorkloadAndCleansUp) {
  const uint16_t port = find_free_port();
  server_process server({configuration_text(port, {{"admin", "pw"}}), std::string(), {}, {}, {}});
  ASSERT_TRUE(server.start());
  ASSERT_TRUE(wait_for_connect(port, true));

  const char* workloads[] = {"hashmap_set", "hashmap_get", "set_insert", "set_rank",
                             "list_push",   "list_pop",    "map_insert", "map_get"};
  std::string list;
  for (const char* w : workloads) list += std::string(list.empty() ? "" : ",") + w;
  const tool_run r = run_tool(
      "pw", "-p " + std::to_string(port) + " -c 3 -n 300 -r 40 -w 0.05 --json -t " + list);
  ASSERT_EQ(r.exit_code, 0) << r.out;
  for (const char* w : workloads) {
    const std::string head = std::string("{\"workload\":\"") + w + "\",\"connections\":3,";
    const size_t at = r.out.find(head);
    ASSERT_NE(at, std::string::npos) << w << "\n" << r.out;
    EXPECT_NE(r.out.find("\"requests\":300,", at), std::string::npos) << w;
  }
  // Only the inserts of keys already present may be refused.
  for (const char* w : {"hashmap_set", "hashmap_get", "set_rank", "list_push", "list_pop",
                        "map_get"}) {
    const size_t at = r.out.find(std::string("{\"workload\":\"") + w + "\"");
    EXPECT_EQ(r.out.substr(r.out.find("\"failures\":", at), 13), "\"failures\":0,") << w;
  }

  frame_client client(port);
  ASSERT_TRUE(client.log_in("admin", "pw"));
  // Success with no items: every container the tool made was erased again.
  EXPECT_EQ(client.command("k"), std::string("\0\0\0\0\0\0\0\0\0", 9));
}

TEST(BenchmarkTool, RefusedLoginIsExitCodeTwo) {
  const uint16_t port = find_free_port();
  server_process server({configuration_text(port, {{"admin", "pw"}}), std::string(), {}, {}, {}});
  ASSERT_TRUE(server.start());
  ASSERT_TRUE(wait_for_connect(port, true));
  const tool_run r = run_tool("wrong", "-p " + std::to_string(port) + " -c 1 -n 10");
  EXPECT_EQ(r.exit_code, 2) << r.out;
  EXPECT_NE(r.out.find("login refused"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace qn::e2e

#endif  // ZOR_BENCHMARK_PATH
