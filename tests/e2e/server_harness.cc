#include "tests/e2e/server_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "net/digest.h"
#include "net/wire_format.h"
#include "values/little_endian.h"

extern char** environ;

namespace qn::e2e {
namespace {

sockaddr_in loopback(uint16_t port, const char* host = "127.0.0.1") {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  inet_pton(AF_INET, host, &address.sin_addr);
  return address;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

const char* server_program() { return ZOR_SERVER_PATH; }

// ---- ports ----

uint16_t find_free_port() {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopback(0);
  socklen_t length = sizeof address;
  uint16_t port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(s);
  return port;
}

bool is_port_free(uint16_t port) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = loopback(port);
  const bool is_free = bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(s);
  return is_free;
}

bool can_connect(uint16_t port) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = loopback(port);
  const bool is_connected =
      connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(s);
  return is_connected;
}

bool wait_for_connect(uint16_t port, bool is_accepting, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (can_connect(port) == is_accepting) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(10ms);
  }
}

std::string configuration_text(long long port, const std::vector<user_entry>& users) {
  std::string text = "[server]\nport = " + std::to_string(port) + "\n\n[users]\nusers_list = [\n";
  for (const user_entry& user : users) {
    text += "  { name = \"" + user.name + "\", password = \"" +
            net::password_digest(user.password) + "\" },\n";
  }
  return text + "]\n";
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

temp_directory::temp_directory() {
  char pattern[] = "/tmp/zor_e2e_XXXXXX";
  if (mkdtemp(pattern) != nullptr) path_ = pattern;
}

temp_directory::~temp_directory() {
  std::error_code error;
  if (!path_.empty()) std::filesystem::remove_all(path_, error);
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
  std::filesystem::create_hard_link(server_program(), program, error);
  if (error) std::filesystem::copy_file(server_program(), program, error);
  if (options_.configuration) write_file(directory_ + "/zor_ndb.toml", *options_.configuration);
  if (options_.startup_script) write_file(directory_ + "/init.nos", *options_.startup_script);
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

  // Everything the child needs is built before the fork.
  std::vector<std::string> arguments{program};
  arguments.insert(arguments.end(), options_.arguments.begin(), options_.arguments.end());
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry(*e);
    if (entry.starts_with("NOTIFY_SOCKET=") || entry.starts_with("ZOR_BIND_ADDRESS=")) continue;
    environment.emplace_back(entry);
  }
  environment.emplace_back("ZOR_BIND_ADDRESS=127.0.0.1");
  environment.insert(environment.end(), options_.environment.begin(), options_.environment.end());
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);

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
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    if (options_.descriptor_limit != 0) {
      const rlimit descriptors{options_.descriptor_limit, options_.descriptor_limit};
      if (setrlimit(RLIMIT_NOFILE, &descriptors) != 0) _exit(127);
    }
    if (options_.address_space_limit != 0) {
      const rlimit memory{options_.address_space_limit, options_.address_space_limit};
      if (setrlimit(RLIMIT_AS, &memory) != 0) _exit(127);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(program.c_str(), argv.data(), envp.data());
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

bool server_process::wait_for_output(std::string_view text, std::chrono::milliseconds limit) const {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (output().find(text) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(10ms);
  }
}

std::string server_process::output() const { return read_file(directory_ + "/output.txt"); }
std::string server_process::log_text() const { return read_file(directory_ + "/zor_mdb_s.log"); }

// ---- client ----

frame_client::frame_client(uint16_t port, const char* source, int receive_buffer) {
  socket_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const timeval limit{5, 0};
  setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  if (receive_buffer != 0) {
    setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  }
  const sockaddr_in from = loopback(0, source);
  const sockaddr_in address = loopback(port);
  if (bind(socket_, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0 ||
      connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(socket_);
    socket_ = -1;
  }
}

frame_client::~frame_client() {
  if (socket_ >= 0) close(socket_);
}

bool frame_client::send_raw(std::string_view bytes) {
  if (socket_ < 0) return false;
  while (!bytes.empty()) {
    const ssize_t n = send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool frame_client::send_frame(std::string_view payload) {
  std::string frame;
  append_le(frame, static_cast<uint32_t>(payload.size()));
  frame.append(payload);
  return send_raw(frame);
}

std::string frame_client::read_reply() {
  std::string bytes;
  size_t wanted = wire::length_bytes;
  char buffer[65536];
  while (bytes.size() < wanted) {
    const ssize_t n = recv(socket_, buffer, std::min(sizeof buffer, wanted - bytes.size()), 0);
    if (n <= 0) return {};
    bytes.append(buffer, static_cast<size_t>(n));
    if (wanted == wire::length_bytes && bytes.size() == wanted) {
      wanted += load_le<uint32_t>(bytes.data());
    }
  }
  return bytes.substr(wire::length_bytes);
}

bool frame_client::is_closed_by_server(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd p{socket_, POLLRDHUP, 0};
    const int n = poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (n > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) return true;
    if ((n < 0 && errno != EINTR) || left.count() <= 0) return false;
  }
}

std::string login_payload(std::string_view name, std::string_view password) {
  std::string payload;
  append_le(payload, static_cast<uint32_t>(name.size()));
  payload.append(name);
  append_le(payload, static_cast<uint32_t>(password.size()));
  payload.append(password);
  return payload;
}

bool frame_client::log_in(std::string_view name, std::string_view password) {
  if (!send_frame(login_payload(name, password))) return false;
  return read_reply() == std::string(1, static_cast<char>(wire::status_success));
}

std::string frame_client::command(std::string_view line) {
  if (!send_frame(line)) return {};
  return read_reply();
}

// ---- process figures ----

std::chrono::milliseconds cpu_time_of(int pid) {
  // Fields 14 and 15 of /proc/<pid>/stat, after the parenthesised command name.
  const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  const size_t end_of_name = stat.rfind(')');
  if (end_of_name == std::string::npos) return std::chrono::milliseconds(0);
  std::istringstream fields(stat.substr(end_of_name + 2));
  std::string skipped;
  for (int i = 3; i < 14; ++i) fields >> skipped;
  long long user = 0;
  long long system = 0;
  fields >> user >> system;
  return std::chrono::milliseconds((user + system) * 1000 / sysconf(_SC_CLK_TCK));
}

size_t resident_bytes_of(int pid) {
  const std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
  const size_t at = status.find("VmRSS:");
  if (at == std::string::npos) return 0;
  return static_cast<size_t>(std::strtoull(status.c_str() + at + 6, nullptr, 10)) * 1024;
}

}  // namespace qn::e2e
