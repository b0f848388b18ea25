// zor_nosql_benchmark against the real server: every ready-made workload runs, reports one JSON
// line, and leaves no container behind; failed replies are reported and set the exit status; a
// refused login is exit code 2 with a clear message.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "tests/e2e/server_harness.h"

#ifndef ZOR_BENCHMARK_PATH
#error "ZOR_BENCHMARK_PATH, the path of the built zor_nosql_benchmark, is not defined"
#endif

namespace qn::e2e {
namespace {

struct tool_run {
  int exit_code = -1;
  std::string out;
};

// Runs the tool through the shell with ZOR_PASSWORD set; the tool bounds its own waits.
tool_run run_tool(const std::string& password, const std::string& arguments) {
  const std::string command = "ZOR_PASSWORD='" + password + "' timeout 120 " + ZOR_BENCHMARK_PATH +
                              " " + arguments + " 2>&1";
  tool_run r;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return r;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) r.out.append(buffer, n);
  const int status = pclose(p);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(BenchmarkTool, RunsEveryWorkloadReportsFailuresAndCleansUp) {
  server_process server;
  ASSERT_TRUE(server.start_serving());
  const std::string on_port = "-p " + std::to_string(server.port());

  const char* workloads[] = {"hashmap_set", "hashmap_get", "set_insert", "set_rank",
                             "list_push",   "list_pop",    "map_insert", "map_get"};
  std::string list;
  for (const char* w : workloads) list += std::string(list.empty() ? "" : ",") + w;
  const tool_run r = run_tool("secret", on_port + " -c 3 -n 300 -r 40 -w 0.05 --json -t " + list);
  ASSERT_EQ(r.exit_code, 0) << r.out;
  for (const char* w : workloads) {
    const std::string head = std::string("{\"workload\":\"") + w + "\",\"connections\":3,";
    const size_t at = r.out.find(head);
    ASSERT_NE(at, std::string::npos) << w << "\n" << r.out;
    EXPECT_NE(r.out.find("\"requests\":300,", at), std::string::npos) << w;
    // Only the inserts of keys already present may be refused, and those are expected.
    EXPECT_NE(r.out.find("\"unexpected_failures\":0,", at), std::string::npos) << w;
  }
  // Success with no items: every container the tool made was erased again.
  EXPECT_EQ(server.client()->command("k"), net::testing::empty_reply);

  // "x" is no command: every reply is a failure, which no custom workload expects.
  const tool_run failing = run_tool("secret", on_port + " -c 2 -n 50 -w 0 --json --command x");
  EXPECT_EQ(failing.exit_code, 1) << failing.out;
  EXPECT_NE(failing.out.find("{\"workload\":\"custom\",\"connections\":2,\"requests\":50,"
                             "\"failures\":50,\"unexpected_failures\":50,"),
            std::string::npos)
      << failing.out;
  EXPECT_NE(failing.out.find("zor_nosql_benchmark: custom: 50 of 50 replies failed"),
            std::string::npos)
      << failing.out;

  const tool_run refused = run_tool("wrong", on_port + " -c 1 -n 10");
  EXPECT_EQ(refused.exit_code, 2) << refused.out;
  EXPECT_NE(refused.out.find("zor_nosql_benchmark: login refused for user admin"),
            std::string::npos)
      << refused.out;
}

}  // namespace
}  // namespace qn::e2e
