// zor_nosql_benchmark against the real server: every ready-made workload runs, reports one JSON
// line, and leaves no container behind; failed replies are reported and set the exit status;
// connection and login errors are exit code 2 with a clear message. Against the bare framing
// server (when it is built): the protocol's ceiling can be measured. Against redis-server (when
// it is installed): every workload with a RESP form runs and deletes its keys.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/scripted_server.h"
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

TEST(BenchmarkTool, RunsEveryWorkloadAndCleansUp) {
  const uint16_t port = find_free_port();
  server_process server({configuration_text(port, {{"admin", "pw"}}), std::string(), {}, {}, {}});
  ASSERT_TRUE(server.start());
  ASSERT_TRUE(wait_for_connect(port, true));

  const char* workloads[] = {"hashmap_set", "hashmap_get", "set_insert", "set_rank",
                             "list_push",   "list_pop",    "map_insert", "map_get"};
  std::string list;
  for (const char* w : workloads) list += std::string(list.empty() ? "" : ",") + w;
  const tool_run r =
      run_tool("pw", "-p " + std::to_string(port) + " -c 3 -n 300 -r 40 -w 0.05 --json -t " + list);
  ASSERT_EQ(r.exit_code, 0) << r.out;
  for (const char* w : workloads) {
    const std::string head = std::string("{\"workload\":\"") + w + "\",\"connections\":3,";
    const size_t at = r.out.find(head);
    ASSERT_NE(at, std::string::npos) << w << "\n" << r.out;
    EXPECT_NE(r.out.find("\"requests\":300,", at), std::string::npos) << w;
  }
  // Only the inserts of keys already present may be refused, and those are expected (40 keys,
  // 300 inserts: most are refused, and the run still succeeds).
  for (const char* w :
       {"hashmap_set", "hashmap_get", "set_rank", "list_push", "list_pop", "map_get"}) {
    const size_t at = r.out.find(std::string("{\"workload\":\"") + w + "\"");
    EXPECT_EQ(r.out.substr(r.out.find("\"failures\":", at), 13), "\"failures\":0,") << w;
  }
  for (const char* w : workloads) {
    const size_t at = r.out.find(std::string("{\"workload\":\"") + w + "\"");
    EXPECT_EQ(r.out.substr(r.out.find("\"unexpected_failures\":", at), 24),
              "\"unexpected_failures\":0,")
        << w;
  }
  EXPECT_EQ(r.out.find("replies failed"), std::string::npos) << r.out;

  frame_client client(port);
  ASSERT_TRUE(client.log_in("admin", "pw"));
  // Success with no items: every container the tool made was erased again.
  EXPECT_EQ(client.command("k"), std::string("\0\0\0\0\0\0\0\0\0", 9));
}

TEST(BenchmarkTool, FailedRepliesAreReportedAndSetTheExitStatus) {
  const uint16_t port = find_free_port();
  server_process server({configuration_text(port, {{"admin", "pw"}}), std::string(), {}, {}, {}});
  ASSERT_TRUE(server.start());
  ASSERT_TRUE(wait_for_connect(port, true));
  // "x" is no command: every reply is a failure, which no custom workload expects.
  const tool_run r =
      run_tool("pw", "-p " + std::to_string(port) + " -c 2 -n 50 -w 0 --json --command x");
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_NE(r.out.find("{\"workload\":\"custom\",\"connections\":2,\"requests\":50,"
                       "\"failures\":50,\"unexpected_failures\":50,"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("zor_nosql_benchmark: custom: 50 of 50 replies failed"), std::string::npos)
      << r.out;
}

TEST(BenchmarkTool, ConnectionAndLoginErrorsAreExitCodeTwo) {
  const uint16_t port = find_free_port();
  server_process server({configuration_text(port, {{"admin", "pw"}}), std::string(), {}, {}, {}});
  ASSERT_TRUE(server.start());
  ASSERT_TRUE(wait_for_connect(port, true));
  const tool_run refused = run_tool("wrong", "-p " + std::to_string(port) + " -c 1 -n 10");
  EXPECT_EQ(refused.exit_code, 2) << refused.out;
  EXPECT_NE(refused.out.find("zor_nosql_benchmark: login refused for user admin"),
            std::string::npos)
      << refused.out;

  const std::string closed_port = std::to_string(find_free_port());
  const tool_run nothing_listens = run_tool("pw", "-p " + closed_port + " -c 1 -n 10");
  EXPECT_EQ(nothing_listens.exit_code, 2) << nothing_listens.out;
  EXPECT_NE(nothing_listens.out.find("zor_nosql_benchmark: cannot connect to 127.0.0.1:" +
                                     closed_port + ": Connection refused"),
            std::string::npos)
      << nothing_listens.out;

  struct case_t {
    const char* what;
    std::vector<std::string> replies;
    std::string message;
  } cases[] = {
      {"closed at once", {}, "no login reply from 127.0.0.1:"},
      {"login reply of two bytes", {std::string("\x02\0\0\0\0\0", 6)}, "does not decode"},
  };
  for (const auto& c : cases) {
    scripted_server fake(c.replies);
    ASSERT_NE(fake.port(), 0);
    const tool_run r = run_tool("pw", "-p " + std::to_string(fake.port()) + " -c 1 -n 10");
    EXPECT_EQ(r.exit_code, 2) << c.what << ": " << r.out;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << c.what << ": " << r.out;
    EXPECT_EQ(fake.finish(), 1u) << c.what;  // the login only
  }
}

// Another server program (found on PATH unless the name has a slash), started on a free loopback
// port with `arguments` (where "PORT" stands for that port) and killed at the end of the test.
class child_server {
 public:
  child_server(const char* program, std::vector<std::string> arguments) : port_(find_free_port()) {
    for (std::string& a : arguments) {
      if (a == "PORT") a = std::to_string(port_);
    }
    pid_ = fork();
    if (pid_ == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      std::vector<char*> argv{const_cast<char*>(program)};
      for (std::string& a : arguments) argv.push_back(a.data());
      argv.push_back(nullptr);
      execvp(program, argv.data());
      _exit(127);
    }
  }
  ~child_server() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  child_server(const child_server&) = delete;
  child_server& operator=(const child_server&) = delete;

  bool is_listening() const { return pid_ > 0 && wait_for_connect(port_, true); }
  uint16_t port() const { return port_; }

 private:
  uint16_t port_;
  pid_t pid_ = -1;
};

#ifdef ZOR_BARE_FRAME_SERVER_PATH
constexpr const char* bare_frame_server_program = ZOR_BARE_FRAME_SERVER_PATH;
#else
constexpr const char* bare_frame_server_program = nullptr;
#endif

TEST(BenchmarkTool, MeasuresTheBareFramingServer) {
  if (bare_frame_server_program == nullptr) {
    GTEST_SKIP() << "bare_frame_server is built only with ZOR_BENCH=ON";
  }
  child_server bare(bare_frame_server_program, {"PORT", "127.0.0.1"});
  ASSERT_TRUE(bare.is_listening());
  // Every frame gets the empty success reply, whatever the password and the command.
  const tool_run r = run_tool(
      "any", "-p " + std::to_string(bare.port()) + " -c 4 -n 2000 -w 0.05 --json --command k");
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("{\"workload\":\"custom\",\"connections\":4,\"requests\":2000,"
                       "\"failures\":0,\"unexpected_failures\":0,"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
}

bool is_installed(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(BenchmarkTool, DrivesRedisServerOverResp) {
  if (!is_installed("redis-server") || !is_installed("redis-cli")) {
    GTEST_SKIP() << "redis-server and redis-cli are not installed (Debian package redis-server)";
  }
  child_server redis("redis-server",
                     {"--port", "PORT", "--bind", "127.0.0.1", "--save", "", "--appendonly", "no"});
  ASSERT_TRUE(redis.is_listening());
  const std::string port = std::to_string(redis.port());
  const char* workloads[] = {"hashmap_set", "hashmap_get", "set_insert",
                             "set_rank",    "list_push",   "list_pop"};
  std::string list;
  for (const char* w : workloads) list += std::string(list.empty() ? "" : ",") + w;
  const tool_run r =
      run_tool("", "--protocol resp -p " + port + " -c 3 -n 300 -r 40 -w 0.05 --json -t " + list);
  ASSERT_EQ(r.exit_code, 0) << r.out;
  for (const char* w : workloads) {
    const size_t at = r.out.find(std::string("{\"workload\":\"") + w + "\",\"connections\":3,");
    ASSERT_NE(at, std::string::npos) << w << "\n" << r.out;
    // Every reply is of the kind its command answers with (GET and ZRANK find every key).
    EXPECT_NE(r.out.find("\"requests\":300,\"failures\":0,", at), std::string::npos) << w;
    EXPECT_NE(r.out.find("\"client_bound\":", at), std::string::npos) << w;
  }
  FILE* p = popen(("redis-cli -p " + port + " dbsize").c_str(), "r");
  ASSERT_NE(p, nullptr);
  char keys[32] = {};
  const size_t n = fread(keys, 1, sizeof keys - 1, p);
  pclose(p);
  EXPECT_EQ(std::string(keys, n), "0\n");  // every key the workloads made was deleted

  // An error reply is a failed reply, which no custom workload expects.
  const tool_run errors =
      run_tool("", "--protocol resp -p " + port + " -c 2 -n 50 -w 0 --json --command NOPE");
  EXPECT_EQ(errors.exit_code, 1) << errors.out;
  EXPECT_NE(errors.out.find("\"requests\":50,\"failures\":50,\"unexpected_failures\":50,"),
            std::string::npos)
      << errors.out;
}

}  // namespace
}  // namespace qn::e2e
