// End-to-end harness: the real zor_nosql_server started in a fresh temporary directory with a
// chosen zor_ndb.toml and init.nos on a free loopback port; clients are net/test_client's.
// Each object is used by one thread; every wait is bounded.
//
// The directory is made under ZOR_E2E_TEMP_ROOT (the test's build directory). The server binary
// is hard-linked into it (copied when that fails), because service mode and the log file go by
// the program's own directory, /proc/self/exe, which a symbolic link would not change. The
// server's standard output and error go to output.txt there, and it binds 127.0.0.1 only
// (ZOR_BIND_ADDRESS).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/test_client.h"
#include "tests/temp_directory.h"

namespace qn::e2e {

using namespace std::chrono_literals;
using net::testing::find_free_port;
using net::testing::is_success;
using net::testing::last_u64;
using net::testing::test_client;
using testing_support::temp_directory;

// True when a connection to 127.0.0.1:port is accepted right now.
bool can_connect(uint16_t port);
// Polls (10 ms) until can_connect(port); false after `limit`.
bool wait_for_connect(uint16_t port, std::chrono::milliseconds limit = 10s);

struct server_options {
  uint16_t port = find_free_port();
  std::string settings;  // appended to the [server] port and the user admin / secret
  std::optional<std::string> startup_script;  // init.nos; no file when nullopt
  std::vector<std::string> arguments;         // after the program name
  std::vector<std::string> environment;       // extra NAME=value entries
  // Working directory of the process; the temporary directory when empty.
  std::string working_directory;
  // Soft and hard RLIMIT_NOFILE and RLIMIT_AS (bytes) of the process; inherited when 0.
  unsigned descriptor_limit = 0;
  uint64_t address_space_limit = 0;
  // The whole zor_ndb.toml instead of the one made from port and settings.
  std::optional<std::string> configuration;
};

class server_process {
 public:
  // Creates the directory and writes the files; start() runs the program.
  explicit server_process(server_options options = {});
  // Kills the process if it still runs (SIGKILL), reaps it and removes the directory.
  ~server_process();
  server_process(const server_process&) = delete;
  server_process& operator=(const server_process&) = delete;

  // Forks and executes the copied program. False when the directory or the fork failed.
  [[nodiscard]] bool start();
  // start(), then waits (at most a minute) until the port accepts connections.
  [[nodiscard]] bool start_serving() { return start() && wait_for_connect(port(), 60s); }
  uint16_t port() const { return options_.port; }
  const std::string& directory() const { return directory_; }
  int pid() const { return pid_; }
  // A client from `source`, logged in as admin.
  std::unique_ptr<test_client> client(const char* source = "127.0.0.1") const;

  [[nodiscard]] bool send_signal(int signal_number) const;
  // Waits for the process to end and returns its wait status; nullopt after `limit`.
  std::optional<int> wait_exit(std::chrono::milliseconds limit = 10s);
  // SIGTERM, then true when the process ended on its own with status 0.
  bool stop();

  // The standard output and error so far, and the log file beside the program.
  std::string output() const;
  std::string log_text() const;

 private:
  server_options options_;
  std::string directory_;
  int pid_ = -1;
};

// The zor_ndb.toml of server_options: the port, the user admin / secret, then `settings`.
std::string configuration_text(uint16_t port, std::string_view settings = "");

// True when `lines` are all in `text`, in the order given, each after the previous one.
bool has_in_order(std::string_view text, const std::vector<std::string>& lines);

// True for a wait status of a process that exited with status 0.
bool is_clean_exit(const std::optional<int>& status);

// Waits for the child (or re-parented orphan) `pid` to end and returns its wait status; nullopt
// after `limit`.
std::optional<int> wait_for_process(int pid, std::chrono::milliseconds limit = 10s);

// The whole content of a file; empty when it cannot be read.
std::string read_file(const std::string& path);

// The user plus system processor time of a running process, and its resident set in bytes.
std::chrono::milliseconds cpu_time_of(int pid);
size_t resident_bytes_of(int pid);

}  // namespace qn::e2e
