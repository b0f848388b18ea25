// The server program end to end: command line, configuration, start-up script, stopping by
// signal, service mode, pause and continue, background mode.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/e2e/server_harness.h"

namespace qn::e2e {
namespace {

const char* const usage_lines =
    "usage: --hide         run and hide window.\n"
    "       --help\t\t\t\t  show this help.\n"
    "       --as_service   run as windows service(install first).\n";

bool is_clean_exit(const std::optional<int>& status) {
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

// A server with one user "admin" / "secret" on a free port, started and accepting.
struct running_server {
  explicit running_server(const std::string& script = "", std::vector<std::string> arguments = {},
                          std::vector<std::string> environment = {})
      : port(find_free_port()),
        process({configuration_text(port, {{"admin", "secret"}}), script, std::move(arguments),
                 std::move(environment), ""}) {}
  bool start() { return process.start() && wait_for_connect(port, true); }

  uint16_t port;
  server_process process;
};

// ---- command line ----

TEST(ServerProgram, AnyOtherSingleArgumentPrintsTheUsage) {
  const char* arguments[] = {"--help", "-h", "--HIDE", ""};
  for (const char* argument : arguments) {
    server_process server({configuration_text(find_free_port(), {}), "", {argument}, {}, ""});
    ASSERT_TRUE(server.start());
    EXPECT_TRUE(is_clean_exit(server.wait_exit())) << argument;
    EXPECT_EQ(server.output(), usage_lines) << argument;
  }
}

TEST(ServerProgram, ServiceModeOutsideTheServiceManagerFails) {
  // The harness never passes its own NOTIFY_SOCKET on; without one there is no service manager.
  server_process server({configuration_text(find_free_port(), {}), "", {"--as_service"}, {}, ""});
  ASSERT_TRUE(server.start());
  const std::optional<int> status = server.wait_exit();
  ASSERT_TRUE(status && WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 255);
  EXPECT_EQ(server.output(), "dispatch failed with err: " + std::to_string(ENOTCONN) + "\n");
}

TEST(ServerProgram, TwoArgumentsRunInTheConsole) {
  running_server server("", {"--help", "--as_service"});
  ASSERT_TRUE(server.start());
  EXPECT_NE(server.process.output().find("zor_sql_s(nos) version: "), std::string::npos);
  ASSERT_TRUE(server.process.send_signal(SIGINT));
  EXPECT_TRUE(is_clean_exit(server.process.wait_exit()));
}

// ---- configuration ----

TEST(ServerProgram, BrokenConfigurationAndMissingScriptStillStart) {
  if (!is_port_free(55554)) GTEST_SKIP() << "the default port 55554 is in use here";
  // A document that does not parse: the default port, no users; no init.nos at all.
  server_process server({"[server\nport = 1\n", std::nullopt, {}, {}, ""});
  ASSERT_TRUE(server.start());
  ASSERT_TRUE(wait_for_connect(55554, true)) << server.output();
  frame_client client(55554);
  EXPECT_FALSE(client.log_in("admin", "admin"));
  ASSERT_TRUE(server.send_signal(SIGINT));
  EXPECT_TRUE(is_clean_exit(server.wait_exit()));
  EXPECT_TRUE(has_in_order(
      server.output(),
      {"error at position: ", "unable to open file init.nos\n", "load init.nos failed\n"}))
      << server.output();
}

// ---- start-up script ----

TEST(ServerProgram, StartupScriptRunsUntilItsFirstFailingLine) {
  // The failing line is the third non-empty one: index 2; the first two stay in effect.
  running_server server(
      "c vector i32 alpha\n\nc map i32 string beta\nzzz bad line\nc set i32 gamma\n");
  ASSERT_TRUE(server.start());
  EXPECT_NE(server.process.output().find("exec failed with:\"zzz bad line\" at line 2\n"),
            std::string::npos)
      << server.process.output();
  frame_client client(server.port);
  ASSERT_TRUE(client.log_in("admin", "secret"));
  EXPECT_TRUE(is_success(client.command("k \"alpha\"")));
  EXPECT_TRUE(is_success(client.command("k \"beta\"")));
  EXPECT_FALSE(is_success(client.command("k \"gamma\"")));
}

// ---- stopping ----

TEST(ServerProgram, StopSignalsEndTheServerInOrder) {
  struct case_t {
    int signal_number;
    std::vector<std::string> log_lines;  // in this order
  };
  const case_t cases[] = {
      {SIGINT, {"[note]", "want to exit by ctrl-c", "will be exit!", "exit successful!"}},
      {SIGTERM, {"[warn]", "catch signal: 15, abnormal.", "will be exit!", "exit successful!"}},
      {SIGHUP, {"[warn]", "catch by ctrl_handler 1", "will be exit!", "exit successful!"}},
  };
  for (const case_t& c : cases) {
    running_server server;
    ASSERT_TRUE(server.start());
    frame_client client(server.port);  // an open session does not hold the stop up
    ASSERT_TRUE(client.log_in("admin", "secret"));
    ASSERT_TRUE(server.process.send_signal(c.signal_number));
    EXPECT_TRUE(is_clean_exit(server.process.wait_exit())) << c.log_lines[1];
    EXPECT_TRUE(has_in_order(server.process.log_text(), c.log_lines)) << server.process.log_text();
    EXPECT_FALSE(can_connect(server.port));
  }
}

TEST(ServerProgram, FatalSignalWritesItsLineAndEndsWithTheSignal) {
  running_server server;
  ASSERT_TRUE(server.start());
  ASSERT_TRUE(server.process.send_signal(SIGABRT));
  const std::optional<int> status = server.process.wait_exit();
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGABRT) << *status;
  EXPECT_NE(server.process.log_text().find("[warn] [#"), std::string::npos);
  EXPECT_NE(server.process.log_text().find("catch signal: 6, abnormal.\n"), std::string::npos)
      << server.process.log_text();
}

// ---- service mode ----

// The datagram socket systemd would listen on for the notify protocol.
class notify_socket {
 public:
  explicit notify_socket(const std::string& path) : path_(path) {
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    is_bound_ = bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  ~notify_socket() { close(socket_); }
  bool is_bound() const { return is_bound_; }
  // Receives reports until one contains `text` (true) or 10 seconds pass; keeps them all.
  bool wait_for(std::string_view text) {
    for (int i = 0; i < 1000; ++i) {
      pollfd p{socket_, POLLIN, 0};
      if (poll(&p, 1, 10) != 1) continue;
      char buffer[512];
      const ssize_t n = recv(socket_, buffer, sizeof buffer, 0);
      if (n <= 0) continue;
      reports.emplace_back(buffer, static_cast<size_t>(n));
      if (reports.back().find(text) != std::string::npos) return true;
    }
    return false;
  }
  std::string joined() const {
    std::string all;
    for (const std::string& r : reports) all += r + "|";
    return all;
  }

  std::vector<std::string> reports;

 private:
  std::string path_;
  int socket_ = -1;
  bool is_bound_ = false;
};

TEST(ServerProgram, ServiceModeReportsReadyOnceAcceptingAndStoppingOnStop) {
  temp_directory notify_directory;
  const std::string notify_path = notify_directory.path() + "/notify";
  notify_socket notify(notify_path);
  ASSERT_TRUE(notify.is_bound());
  const uint16_t port = find_free_port();
  // Started in another directory: zor_ndb.toml is found beside the program all the same.
  server_process service({configuration_text(port, {{"admin", "secret"}}),
                          "",
                          {"--as_service"},
                          {"NOTIFY_SOCKET=" + notify_path},
                          "/"});
  ASSERT_TRUE(service.start());
  ASSERT_TRUE(notify.wait_for("READY=1")) << notify.joined() << service.output();
  EXPECT_TRUE(can_connect(port));
  EXPECT_EQ(notify.reports.front(), "STATUS=start pending");
  frame_client client(port);
  EXPECT_TRUE(client.log_in("admin", "secret"));

  ASSERT_TRUE(service.send_signal(SIGTERM));
  EXPECT_TRUE(notify.wait_for("STOPPING=1")) << notify.joined();
  EXPECT_TRUE(notify.wait_for("STATUS=stopped")) << notify.joined();
  EXPECT_TRUE(is_clean_exit(service.wait_exit()));
  EXPECT_TRUE(has_in_order(service.log_text(), {"stop by the service manager, signal: 15",
                                                "will be exit!", "exit successful!"}))
      << service.log_text();
  EXPECT_EQ(service.log_text().find("abnormal"), std::string::npos);
}

TEST(ServerProgram, PauseRefusesConnectionsAndContinueServesTheSameData) {
  temp_directory notify_directory;
  const std::string notify_path = notify_directory.path() + "/notify";
  notify_socket notify(notify_path);
  ASSERT_TRUE(notify.is_bound());
  running_server server("c vector i32 alpha\nc map i32 string beta\n", {"--as_service"},
                        {"NOTIFY_SOCKET=" + notify_path});
  ASSERT_TRUE(server.start());
  ASSERT_TRUE(notify.wait_for("READY=1")) << notify.joined();

  std::string before;
  {
    frame_client client(server.port);
    ASSERT_TRUE(client.log_in("admin", "secret"));
    before = client.command("k");
    ASSERT_TRUE(is_success(before));
  }

  ASSERT_TRUE(server.process.send_signal(SIGUSR1));
  EXPECT_TRUE(notify.wait_for("STATUS=paused")) << notify.joined();
  EXPECT_FALSE(can_connect(server.port));

  ASSERT_TRUE(server.process.send_signal(SIGUSR2));
  EXPECT_TRUE(notify.wait_for("STATUS=running")) << notify.joined();
  ASSERT_TRUE(can_connect(server.port));
  {
    frame_client client(server.port);
    ASSERT_TRUE(client.log_in("admin", "secret"));
    EXPECT_EQ(client.command("k"), before);
  }

  // A stop while paused ends the process as well.
  ASSERT_TRUE(server.process.send_signal(SIGUSR1));
  EXPECT_TRUE(notify.wait_for("STATUS=paused")) << notify.joined();
  ASSERT_TRUE(server.process.send_signal(SIGTERM));
  EXPECT_TRUE(is_clean_exit(server.process.wait_exit()));
  EXPECT_TRUE(has_in_order(server.process.log_text(),
                           {"pause requested, signal: 10", "continue requested, signal: 12",
                            "pause requested, signal: 10", "will be exit!", "exit successful!"}))
      << server.process.log_text();
}

// ---- background mode ----

TEST(ServerProgram, HideRunsTheServerInTheBackground) {
  // The detached server is re-parented to this process, so it can be reaped and waited for.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  running_server server("", {"--hide"});
  ASSERT_TRUE(server.process.start());
  EXPECT_TRUE(is_clean_exit(server.process.wait_exit()));  // the foreground process
  const std::string output = server.process.output();
  const std::string announcement = "runs in the background, process id ";
  const size_t at = output.find(announcement);
  ASSERT_NE(at, std::string::npos) << output;
  const int pid = std::atoi(output.c_str() + at + announcement.size());
  ASSERT_GT(pid, 0);
  // Whatever fails below, the background server does not outlive the test.
  struct reaper {
    int pid;
    bool is_reaped = false;
    ~reaper() {
      if (is_reaped) return;
      kill(pid, SIGKILL);
      wait_for_process(pid);
    }
  } guard{pid};

  EXPECT_TRUE(wait_for_connect(server.port, true));
  frame_client client(server.port);
  EXPECT_TRUE(client.log_in("admin", "secret"));
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  const std::optional<int> status = wait_for_process(pid);
  guard.is_reaped = status.has_value();
  EXPECT_TRUE(is_clean_exit(status));
  EXPECT_EQ(output.find("zor_sql_s(nos) version: "), std::string::npos);  // not in the foreground
  server_process& p = server.process;
  std::ifstream background(p.directory() + "/zor_nosql_server.out");
  const std::string background_output((std::istreambuf_iterator<char>(background)),
                                      std::istreambuf_iterator<char>());
  EXPECT_NE(background_output.find("zor_sql_s(nos) version: "), std::string::npos);
  EXPECT_TRUE(has_in_order(p.log_text(), {"catch signal: 15, abnormal.", "exit successful!"}));
}

}  // namespace
}  // namespace qn::e2e
