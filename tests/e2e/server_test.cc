// The server program end to end: the usage, stopping by signal, service mode with pause and
// continue, background mode. How the command line, the configuration and the start-up script are
// read is pinned by the unit tests of app/ and config/.
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
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/server_harness.h"

namespace qn::e2e {
namespace {

TEST(ServerProgram, SingleArgumentsThatEndAtOnce) {
  const std::string usage =
      "usage: --hide         run and hide window.\n"
      "       --help\t\t\t\t  show this help.\n"
      "       --as_service   run as windows service(install first).\n";
  struct case_t {
    const char* argument;
    int exit_status;
    std::string output;
  } cases[] = {
      {"--help", 0, usage},
      // The harness never passes its own NOTIFY_SOCKET on: there is no service manager.
      {"--as_service", 255, "dispatch failed with err: " + std::to_string(ENOTCONN) + "\n"},
  };
  for (const case_t& c : cases) {
    server_process server({.arguments = {c.argument}});
    ASSERT_TRUE(server.start());
    const std::optional<int> status = server.wait_exit();
    ASSERT_TRUE(status && WIFEXITED(*status)) << c.argument;
    EXPECT_EQ(WEXITSTATUS(*status), c.exit_status) << c.argument;
    EXPECT_EQ(server.output(), c.output) << c.argument;
  }
}

TEST(ServerProgram, SignalsEndTheServerWithTheirLogLines) {
  struct case_t {
    int signal_number;
    std::vector<std::string> log_lines;  // in this order
  };
  const case_t cases[] = {
      {SIGINT, {"[note]", "want to exit by ctrl-c", "will be exit!", "exit successful!"}},
      {SIGTERM, {"[warn]", "catch signal: 15, abnormal.", "will be exit!", "exit successful!"}},
      {SIGHUP, {"[warn]", "catch by ctrl_handler 1", "will be exit!", "exit successful!"}},
      // A fatal signal: its line, written by the handler, then the end by that signal.
      {SIGABRT, {"[warn] [#", "catch signal: 6, abnormal.\n"}},
  };
  for (const case_t& c : cases) {
    server_process server;
    ASSERT_TRUE(server.start_serving());
    const auto client = server.client();  // an open session does not hold the stop up
    ASSERT_TRUE(server.send_signal(c.signal_number));
    const std::optional<int> status = server.wait_exit();
    ASSERT_TRUE(status.has_value()) << c.signal_number;
    if (c.signal_number == SIGABRT) {
      EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGABRT) << *status;
    } else {
      EXPECT_TRUE(is_clean_exit(status)) << c.signal_number;
    }
    EXPECT_TRUE(has_in_order(server.log_text(), c.log_lines)) << server.log_text();
    EXPECT_FALSE(can_connect(server.port()));
    EXPECT_NE(server.output().find("zor_sql_s(nos) version: "), std::string::npos);
  }
}

// A port bound on 127.0.0.1 (not listening) is retried until it is free, and the start-up script
// runs once, not once per attempt; a stop while it is still taken ends the server all the same.
TEST(ServerProgram, BusyPortIsRetriedAndAStopEndsTheWait) {
  for (const bool is_freed : {true, false}) {
    server_options options{.startup_script = "c vector i32\n"};
    const int blocker = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = net::testing::loopback("127.0.0.1", options.port);
    ASSERT_EQ(bind(blocker, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    server_process server(options);
    ASSERT_TRUE(server.start());
    for (int i = 0; i < 1000 && server.output().find("bind err") == std::string::npos; ++i) {
      std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(500ms);  // a few more attempts
    if (is_freed) {
      close(blocker);
      ASSERT_TRUE(wait_for_connect(server.port()));
      EXPECT_FALSE(is_success(server.client()->request("g 1 count")));  // slot 0 only
    }
    EXPECT_TRUE(server.stop()) << is_freed;
    if (!is_freed) close(blocker);
  }
}

// The datagram socket systemd would listen on for the notify protocol: `reports` keeps every
// report received, each followed by "|".
struct notify_socket {
  explicit notify_socket(const std::string& path) {
    sockaddr_un address{AF_UNIX, {}};
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    is_bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  ~notify_socket() { close(fd); }
  // Receives reports until one contains `text` (true) or 10 seconds pass.
  bool wait_for(std::string_view text) {
    char buffer[512];
    for (int i = 0; i < 1000; ++i) {
      pollfd p{fd, POLLIN, 0};
      const ssize_t n = poll(&p, 1, 10) == 1 ? recv(fd, buffer, sizeof buffer, 0) : 0;
      if (n <= 0) continue;
      reports.append(buffer, static_cast<size_t>(n)).append("|");
      if (std::string_view(buffer, static_cast<size_t>(n)).find(text) != std::string::npos)
        return true;
    }
    return false;
  }

  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  bool is_bound = false;
  std::string reports;
};

TEST(ServerProgram, ServiceModeReportsItsStatesAndPauseKeepsTheData) {
  temp_directory notify_directory;
  notify_socket notify(notify_directory.file("notify"));
  ASSERT_TRUE(notify.is_bound);
  // Started in another directory: zor_ndb.toml is found beside the program all the same.
  server_process server({.startup_script = "c vector i32 alpha\nc map i32 string beta\n",
                         .arguments = {"--as_service"},
                         .environment = {"NOTIFY_SOCKET=" + notify_directory.file("notify")},
                         .working_directory = "/"});
  ASSERT_TRUE(server.start());
  ASSERT_TRUE(notify.wait_for("READY=1")) << notify.reports << server.output();
  EXPECT_TRUE(notify.reports.starts_with("STATUS=start pending|")) << notify.reports;
  EXPECT_TRUE(can_connect(server.port()));
  const auto open = server.client();
  const std::string before = open->request("k");
  ASSERT_TRUE(is_success(before));

  // A pause closes the open connections and the listening socket; the registry stays.
  ASSERT_TRUE(server.send_signal(SIGUSR1));
  EXPECT_TRUE(notify.wait_for("STATUS=paused")) << notify.reports;
  EXPECT_TRUE(open->is_closed_by_server());
  EXPECT_FALSE(can_connect(server.port()));
  ASSERT_TRUE(server.send_signal(SIGUSR2));
  EXPECT_TRUE(notify.wait_for("STATUS=running")) << notify.reports;
  EXPECT_EQ(server.client()->request("k"), before);

  // A stop while paused ends the process as well.
  ASSERT_TRUE(server.send_signal(SIGUSR1));
  EXPECT_TRUE(notify.wait_for("STATUS=paused")) << notify.reports;
  ASSERT_TRUE(server.stop());
  EXPECT_TRUE(notify.wait_for("STOPPING=1")) << notify.reports;
  EXPECT_TRUE(notify.wait_for("STATUS=stopped")) << notify.reports;
  EXPECT_TRUE(has_in_order(
      server.log_text(), {"pause requested, signal: 10", "continue requested, signal: 12",
                          "pause requested, signal: 10", "stop by the service manager, signal: 15",
                          "will be exit!", "exit successful!"}))
      << server.log_text();
  EXPECT_EQ(server.log_text().find("abnormal"), std::string::npos);
}

TEST(ServerProgram, HideRunsTheServerInTheBackground) {
  // The detached server is re-parented to this process, so it can be reaped and waited for.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  server_process server({.arguments = {"--hide"}});
  ASSERT_TRUE(server.start());
  EXPECT_TRUE(is_clean_exit(server.wait_exit()));  // the foreground process
  const std::string output = server.output();
  const std::string announcement = "runs in the background, process id ";
  const size_t at = output.find(announcement);
  ASSERT_NE(at, std::string::npos) << output;
  const int pid = std::atoi(output.c_str() + at + announcement.size());
  ASSERT_GT(pid, 0);
  // Nothing below returns early, so the background server never outlives the test.
  EXPECT_TRUE(wait_for_connect(server.port()));
  server.client();
  EXPECT_EQ(kill(pid, SIGTERM), 0);
  const std::optional<int> status = wait_for_process(pid);
  if (!status) kill(pid, SIGKILL);
  EXPECT_TRUE(is_clean_exit(status));
  // The version line goes to the background's own output file, not to the foreground's.
  EXPECT_EQ(output.find("zor_sql_s(nos) version: "), std::string::npos);
  EXPECT_NE(
      read_file(server.directory() + "/zor_nosql_server.out").find("zor_sql_s(nos) version: "),
      std::string::npos);
  EXPECT_TRUE(has_in_order(server.log_text(), {"catch signal: 15, abnormal.", "exit successful!"}));
}

}  // namespace
}  // namespace qn::e2e
