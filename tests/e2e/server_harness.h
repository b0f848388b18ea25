// End-to-end harness: the real zor_nosql_server started in a fresh temporary directory with a
// chosen zor_ndb.toml and init.nos on a free loopback port, and a blocking client speaking request
// and reply frames. Each object is used by one thread; every wait is bounded.
//
// The directory is made under ZOR_E2E_TEMP_ROOT (the test's build directory). The server binary
// is hard-linked into it (copied when that fails), because service
// mode and the log file go by the program's own directory, /proc/self/exe, which a symbolic link
// would not change. The server's standard output and error go to output.txt there, and it binds
// 127.0.0.1 only (ZOR_BIND_ADDRESS).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qn::e2e {

using namespace std::chrono_literals;

// Path of the zor_nosql_server built with this test.
const char* server_program();

// A TCP port on 127.0.0.1 that nothing is bound to right now.
uint16_t find_free_port();
// True when 127.0.0.1:port can be bound right now.
bool is_port_free(uint16_t port);
// True when a connection to 127.0.0.1:port is accepted right now.
bool can_connect(uint16_t port);
// Polls (10 ms) until can_connect(port) equals `is_accepting`; false after `limit`.
bool wait_for_connect(uint16_t port, bool is_accepting, std::chrono::milliseconds limit = 10s);

struct user_entry {
  std::string name;
  std::string password;  // plain; the configuration gets its digest
};
// A zor_ndb.toml with the port and the users, in order (an array of inline tables).
std::string configuration_text(long long port, const std::vector<user_entry>& users);

struct server_options {
  std::optional<std::string> configuration;   // zor_ndb.toml; no file when nullopt
  std::optional<std::string> startup_script;  // init.nos; no file when nullopt
  std::vector<std::string> arguments;         // after the program name
  std::vector<std::string> environment;       // extra NAME=value entries
  // Working directory of the process; the temporary directory when empty.
  std::string working_directory;
  // Soft and hard RLIMIT_NOFILE of the process; inherited when 0.
  unsigned descriptor_limit = 0;
  // Soft and hard RLIMIT_AS of the process in bytes; inherited when 0.
  uint64_t address_space_limit = 0;
};

class server_process {
 public:
  // Creates the directory and writes the files; start() runs the program.
  explicit server_process(server_options options);
  // Kills the process if it still runs (SIGKILL), reaps it and removes the directory.
  ~server_process();
  server_process(const server_process&) = delete;
  server_process& operator=(const server_process&) = delete;

  // Forks and executes the copied program. False when the directory or the fork failed.
  [[nodiscard]] bool start();
  const std::string& directory() const { return directory_; }
  int pid() const { return pid_; }

  [[nodiscard]] bool send_signal(int signal_number) const;
  // Waits for the process to end and returns its wait status; nullopt after `limit`.
  std::optional<int> wait_exit(std::chrono::milliseconds limit = 10s);
  // Polls until the standard output contains `text`; false after `limit`.
  bool wait_for_output(std::string_view text, std::chrono::milliseconds limit = 10s) const;

  // The standard output and error so far, and the log file beside the program.
  std::string output() const;
  std::string log_text() const;

 private:
  server_options options_;
  std::string directory_;
  int pid_ = -1;
};

// Indexes of `lines` in `text`, in the order given, each searched after the previous one;
// true when all are found in that order.
bool has_in_order(std::string_view text, const std::vector<std::string>& lines);

// Waits for the child (or re-parented orphan) `pid` to end and returns its wait status; nullopt
// after `limit`.
std::optional<int> wait_for_process(int pid, std::chrono::milliseconds limit = 10s);

// A fresh directory under /tmp, removed with everything in it on destruction.
class temp_directory {
 public:
  temp_directory();
  ~temp_directory();
  temp_directory(const temp_directory&) = delete;
  temp_directory& operator=(const temp_directory&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A blocking client on 127.0.0.1; replies are awaited at most 5 seconds.
class frame_client {
 public:
  // Connects from `source` (bound before connecting, so a test can speak from 127.0.0.2 and the
  // like). A non-zero `receive_buffer` fixes the kernel receive buffer (no autotuning) in bytes.
  explicit frame_client(uint16_t port, const char* source = "127.0.0.1", int receive_buffer = 0);
  ~frame_client();
  frame_client(const frame_client&) = delete;
  frame_client& operator=(const frame_client&) = delete;

  bool is_connected() const { return socket_ >= 0; }
  // Sends the login frame; true when the server accepts it.
  bool log_in(std::string_view name, std::string_view password);
  // Sends one command line; returns the reply after its length field (status byte first), or
  // empty when the connection closed or timed out.
  std::string command(std::string_view line);
  // Sends one request frame without waiting for its reply.
  bool send_frame(std::string_view payload);
  // Sends bytes as they are; false when the socket refused them.
  bool send_raw(std::string_view bytes);
  // One reply frame after its length field; empty when the connection closed or timed out.
  std::string read_reply();
  // True when the server ends the connection (end of stream or reset) within `limit`, whether or
  // not what it sent before has been read.
  bool is_closed_by_server(std::chrono::milliseconds limit = 5s);

 private:
  int socket_ = -1;
};

// The login payload: u32 name length, name, u32 password length, password.
std::string login_payload(std::string_view name, std::string_view password);

// CPU time (user and system) the process has used so far, and its resident set size in bytes.
std::chrono::milliseconds cpu_time_of(int pid);
size_t resident_bytes_of(int pid);

// True for a reply (as returned by command) whose status byte is 0.
inline bool is_success(std::string_view reply) { return !reply.empty() && reply[0] == 0; }

}  // namespace qn::e2e
