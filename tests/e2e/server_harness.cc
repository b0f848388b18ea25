#include "tests/e2e/server_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "net/digest.h"

namespace qn::e2e {

bool can_connect(uint16_t port) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = net::testing::loopback("127.0.0.1", port);
  const bool is_connected =
      connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(s);
  return is_connected;
}

bool wait_for_connect(uint16_t port, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!can_connect(port)) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

std::string configuration_text(uint16_t port, std::string_view settings) {
  return "[server]\nport = " + std::to_string(port) +
         "\n[users]\nusers_list = [{ name = \"admin\", password = \"" +
         net::password_digest("secret") + "\" }]\n" + std::string(settings);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::chrono::milliseconds cpu_time_of(int pid) {
  // Fields 14 and 15 of /proc/<pid>/stat, after the parenthesised command name.
  const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(stat.substr(std::min(stat.rfind(')') + 2, stat.size())));
  std::string skipped;
  long long user = 0, system = 0;
  for (int i = 3; i < 14; ++i) fields >> skipped;
  fields >> user >> system;
  return std::chrono::milliseconds((user + system) * 1000 / sysconf(_SC_CLK_TCK));
}

size_t resident_bytes_of(int pid) {
  // The second field of statm: resident pages.
  size_t pages = 0;
  std::istringstream(read_file("/proc/" + std::to_string(pid) + "/statm")) >> pages >> pages;
  return pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

bool has_in_order(std::string_view text, const std::vector<std::string>& lines) {
  size_t from = 0;
  for (const std::string& line : lines) {
    const size_t at = text.find(line, from);
    if (at == std::string_view::npos) return false;
    from = at + line.size();
  }
  return true;
}

bool is_clean_exit(const std::optional<int>& status) {
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

std::optional<int> wait_for_process(int pid, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0 || std::chrono::steady_clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(10ms);
  }
}

// ---- server process ----

server_process::server_process(server_options options) : options_(std::move(options)) {
  // Beside the build tree, on the file system of the program, so that the hard link works.
  std::string pattern = std::string(ZOR_E2E_TEMP_ROOT) + "/zor_e2e_XXXXXX";
  std::error_code error;
  std::filesystem::create_directories(ZOR_E2E_TEMP_ROOT, error);
  if (mkdtemp(pattern.data()) == nullptr) return;
  directory_ = pattern;
  const std::string program = directory_ + "/zor_nosql_server";
  std::filesystem::create_hard_link(ZOR_SERVER_PATH, program, error);
  if (error) std::filesystem::copy_file(ZOR_SERVER_PATH, program, error);
  std::ofstream(directory_ + "/zor_ndb.toml", std::ios::binary)
      << options_.configuration.value_or(configuration_text(port(), options_.settings));
  if (options_.startup_script) {
    std::ofstream(directory_ + "/init.nos", std::ios::binary) << *options_.startup_script;
  }
}

server_process::~server_process() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (!directory_.empty()) {
    std::error_code error;
    std::filesystem::remove_all(directory_, error);
  }
}

bool server_process::start() {
  if (directory_.empty()) return false;
  const std::string program = directory_ + "/zor_nosql_server";
  const std::string working =
      options_.working_directory.empty() ? directory_ : options_.working_directory;
  const std::string output_path = directory_ + "/output.txt";

  // Everything the child needs is built before the fork. env(1) drops a NOTIFY_SOCKET of the
  // test's own and sets the environment, then executes the program in the same process.
  std::vector<std::string> arguments{"env", "-u", "NOTIFY_SOCKET", "ZOR_BIND_ADDRESS=127.0.0.1"};
  arguments.insert(arguments.end(), options_.environment.begin(), options_.environment.end());
  arguments.push_back(program);
  arguments.insert(arguments.end(), options_.arguments.begin(), options_.arguments.end());
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    const int out = open(output_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int in = open("/dev/null", O_RDONLY);
    if (out < 0 || in < 0 || chdir(working.c_str()) != 0) _exit(127);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    // A fatal-signal test must not leave a core file behind.
    const rlimit no_core{0, 0}, descriptors{options_.descriptor_limit, options_.descriptor_limit},
        memory{options_.address_space_limit, options_.address_space_limit};
    setrlimit(RLIMIT_CORE, &no_core);
    if ((descriptors.rlim_max != 0 && setrlimit(RLIMIT_NOFILE, &descriptors) != 0) ||
        (memory.rlim_max != 0 && setrlimit(RLIMIT_AS, &memory) != 0)) {
      _exit(127);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execv("/usr/bin/env", argv.data());
    _exit(127);
  }
  pid_ = child;
  return true;
}

bool server_process::send_signal(int signal_number) const {
  return pid_ > 0 && kill(pid_, signal_number) == 0;
}

std::optional<int> server_process::wait_exit(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return std::nullopt;
  const std::optional<int> status = wait_for_process(pid_, limit);
  if (status) pid_ = -1;
  return status;
}

bool server_process::stop() { return send_signal(SIGTERM) && is_clean_exit(wait_exit()); }

std::unique_ptr<test_client> server_process::client(const char* source) const {
  auto c = std::make_unique<test_client>(port(), source);
  EXPECT_TRUE(c->log_in("admin", "secret"));
  return c;
}

std::string server_process::output() const { return read_file(directory_ + "/output.txt"); }
std::string server_process::log_text() const { return read_file(directory_ + "/zor_mdb_s.log"); }

}  // namespace qn::e2e
