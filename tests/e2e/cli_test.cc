// zor_nosql_cli end to end against the real server: one-shot, script and interactive modes, exit
// statuses, the password digest, and every example of docs/commands.md and
// docs/first_session.md. How replies are decoded and printed is the client library's tests.
//
// Examples in those documents are fenced code blocks whose info string is `zor`:
//
//     ```zor
//     zor> c vector i32 v
//     vkey: 2
//     vkey(hex): "0x2"
//     ```
//
// A line that starts with "zor> " is a command; the lines after it, up to the next command or
// the end of the block, are what zor_nosql_cli prints for it. Each block runs against a fresh
// server started with the shipped examples/zor_ndb.toml (on a free port instead of the default)
// and examples/init.nos, as one script on the client's standard input. Blocks with any other
// info string are not run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "net/digest.h"
#include "tests/e2e/server_harness.h"

#ifndef ZOR_CLI_PATH
#error "ZOR_CLI_PATH, the path of the built zor_nosql_cli, is not defined"
#endif

extern char** environ;

namespace qn::e2e {
namespace {

const char* cli_program() { return ZOR_CLI_PATH; }

// The root of the source tree, set by the build.
std::string source_directory() { return ZOR_SOURCE_DIR; }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string read_source_file(const std::string& relative_path) {
  return read_file(source_directory() + "/" + relative_path);
}

struct cli_run {
  int exit_status = -1;  // -1 when the program did not end in time or was killed
  std::string out;
  std::string err;
};

// Runs zor_nosql_cli to its end with `input` on its standard input, in a new session without a
// controlling terminal, so it can never wait at a prompt. ZOR_PASSWORD is `password`, or unset
// when that is empty. A program still running after 20 seconds is killed.
cli_run run_cli(const std::vector<std::string>& arguments, const std::string& input = "",
                const std::string& password = "") {
  temp_directory files;
  const std::string in = files.path() + "/in", out = files.path() + "/out",
                    err = files.path() + "/err";
  std::ofstream(in, std::ios::binary) << input;
  std::vector<std::string> argument_texts{cli_program()};
  argument_texts.insert(argument_texts.end(), arguments.begin(), arguments.end());
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    if (!std::string_view(*e).starts_with("ZOR_PASSWORD=")) environment.emplace_back(*e);
  }
  if (!password.empty()) environment.push_back("ZOR_PASSWORD=" + password);
  std::vector<char*> argv, envp;
  for (std::string& a : argument_texts) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    dup2(open(in.c_str(), O_RDONLY), STDIN_FILENO);
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  cli_run run;
  const std::optional<int> status = wait_for_process(pid, 20s);
  if (!status) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  } else if (WIFEXITED(*status)) {
    run.exit_status = WEXITSTATUS(*status);
  }
  run.out = read_file(out);
  run.err = read_file(err);
  return run;
}

// A server with the user admin / secret on a free port, accepting connections.
struct cli_server {
  explicit cli_server(const std::string& script = "")
      : port(find_free_port()),
        process({configuration_text(port, {{"admin", "secret"}}), script, {}, {}, ""}) {}
  bool start() { return process.start() && wait_for_connect(port, true); }
  // Runs the client against this server as admin.
  cli_run run(std::vector<std::string> arguments, const std::string& input = "",
              const std::string& password = "secret") {
    arguments.insert(arguments.begin(), {"-p", std::to_string(port)});
    return run_cli(arguments, input, password);
  }

  uint16_t port;
  server_process process;
};

TEST(Cli, OneShotRunsTheCommandGivenAsArguments) {
  cli_server server;
  ASSERT_TRUE(server.start());
  struct case_t {
    std::vector<std::string> arguments;
    std::string_view out;
    int exit_status;
  } cases[] = {
      {{"k"}, "(empty)\n", 0},
      {{"c", "vector", "i32", "v"}, "vkey: 0\nvkey(hex): \"0x0\"\n", 0},
      {{"i \"v\" last 5"}, "(empty)\n", 0},  // one argument holding the whole line
      {{"i", "\"v\"", "last", "-7"}, "(empty)\n", 0},
      {{"g", "\"v\"", "all"}, "5\n-7\n", 0},
      {{"g", "\"v\"", "nth", "x1"}, "failed\n", 1},
      {{"x"}, "failed\n", 1},
  };
  for (const auto& c : cases) {
    const cli_run run = server.run(c.arguments);
    EXPECT_EQ(run.out, c.out) << c.arguments[0];
    EXPECT_EQ(run.exit_status, c.exit_status) << c.arguments[0] << ": " << run.err;
  }
}

TEST(Cli, ScriptModeRunsEveryLineAndGoesOnAfterAFailure) {
  cli_server server;
  ASSERT_TRUE(server.start());
  const cli_run run = server.run({},
                                 "# fill a set\n"
                                 "c set i32 s\n"
                                 "\n"
                                 "i \"s\" 10\r\n"
                                 "i \"s\" 10\n"
                                 "i \"s\" 20\n"
                                 "g \"s\" all\n"
                                 "k\n");
  EXPECT_EQ(run.out,
            "vkey: 0\nvkey(hex): \"0x0\"\n"
            "(empty)\n"
            "failed\n"
            "(empty)\n"
            "10\n20\n"
            "skey  vkey  vkey(hex)  count  ctype  ktype  vtype\n"
            "s        0  0x0            2  set    i32    u08\n");
  EXPECT_EQ(run.exit_status, 1) << run.err;
  EXPECT_EQ(server.run({}, "k\ng 0 count\n").exit_status, 0);
}

TEST(Cli, ConnectionAndLoginErrorsExitWithTwo) {
  cli_server server;
  ASSERT_TRUE(server.start());
  const cli_run wrong_password = server.run({"k"}, "", "not the password");
  EXPECT_EQ(wrong_password.exit_status, 2);
  EXPECT_EQ(wrong_password.out, "");
  EXPECT_NE(wrong_password.err.find("login refused"), std::string::npos) << wrong_password.err;

  const cli_run unknown_user = server.run({"-u", "nobody", "k"});
  EXPECT_EQ(unknown_user.exit_status, 2);

  const cli_run no_password = server.run({"k"}, "", "");
  EXPECT_EQ(no_password.exit_status, 2);
  EXPECT_NE(no_password.err.find("ZOR_PASSWORD"), std::string::npos) << no_password.err;

  const cli_run nothing_listens = run_cli({"-p", std::to_string(find_free_port()), "k"}, "", "x");
  EXPECT_EQ(nothing_listens.exit_status, 2);
  EXPECT_NE(nothing_listens.err.find("cannot connect"), std::string::npos) << nothing_listens.err;

  const cli_run bad_option = run_cli({"--password", "secret", "k"}, "", "x");
  EXPECT_EQ(bad_option.exit_status, 2);

  // As JSON, a session that never began is one error object; the message also goes to stderr.
  const cli_run json = server.run({"--json"}, "k\n", "wrong");
  EXPECT_EQ(json.out, R"({"command":"","status":"error","error":"login refused for admin: )"
                      R"(wrong user name or password"})"
                      "\n");
  EXPECT_EQ(json.exit_status, 2);
  EXPECT_NE(json.err.find("zor_nosql_cli: "), std::string::npos) << json.err;
}

// zor_nosql_cli on a pseudo-terminal, as a person at a terminal runs it: the interactive mode.
// HOME is `home` (the history file goes there) and TERM is xterm. Every wait is bounded
// (20 seconds); the destructor kills a child that is still running.
class cli_terminal {
 public:
  cli_terminal(uint16_t port, const std::string& home) {
    std::vector<std::string> argument_texts{cli_program(), "-p", std::to_string(port)};
    std::vector<std::string> environment{"HOME=" + home, "TERM=xterm", "ZOR_PASSWORD=secret"};
    std::vector<char*> argv, envp;
    for (std::string& a : argument_texts) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    pid_ = forkpty(&terminal_, nullptr, nullptr, &size);
    if (pid_ == 0) {
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
  }
  ~cli_terminal() {
    if (terminal_ >= 0) close(terminal_);
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  cli_terminal(const cli_terminal&) = delete;
  cli_terminal& operator=(const cli_terminal&) = delete;

  bool is_running() const { return pid_ > 0 && terminal_ >= 0; }
  const std::string& screen() const { return screen_; }

  // Types `keys` once the output since the last match shows `prompt` and the line editor has
  // the terminal in character mode. (Typed before that, Control-D would be the terminal's own
  // end-of-file mark, which the editor never sees as a key.)
  bool type_after(std::string_view prompt, std::string_view keys) {
    return wait_for(prompt) && wait_for_character_mode() &&
           write(terminal_, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
  }

  // Reads until the output since the last match holds `text`, and moves past it.
  bool wait_for(std::string_view text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      if (const size_t at = screen_.find(text, seen_); at != std::string::npos) {
        seen_ = at + text.size();
        return true;
      }
      if (!read_some(deadline)) return false;
    }
  }

  // Reads to the end of the output and returns the exit status; -1 when the program did not end.
  int wait_exit() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (read_some(deadline)) {
    }
    const std::optional<int> status = wait_for_process(pid_, 20s);
    if (!status) return -1;
    pid_ = -1;
    return WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
  }

 private:
  // Polls the terminal's modes until line mode (ICANON) is off; false after 20 seconds. The
  // terminal is opened only for each look, as holding it open would hide the program's end.
  bool wait_for_character_mode() const {
    char name[128];
    if (ptsname_r(terminal_, name, sizeof name) != 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      const int fd = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
      termios modes{};
      const bool is_known = fd >= 0 && tcgetattr(fd, &modes) == 0;
      if (fd >= 0) close(fd);
      if (is_known && (modes.c_lflag & ICANON) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  // False at the end of the output (EIO once the program has closed the terminal) or the deadline.
  bool read_some(std::chrono::steady_clock::time_point deadline) {
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{terminal_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(terminal_, buffer, sizeof buffer);
      if (n > 0) {
        screen_.append(buffer, static_cast<size_t>(n));
        return true;
      }
      if (n < 0 && errno == EINTR) continue;
      return false;
    }
    return false;
  }

  pid_t pid_ = -1;
  int terminal_ = -1;
  std::string screen_;
  size_t seen_ = 0;
};

TEST(Cli, InteractiveModeEditsLinesAndKeepsHistory) {
  cli_server server;
  ASSERT_TRUE(server.start());
  temp_directory home;
  constexpr std::string_view prompt = "zor> ";
  // A value printed alone on its line; the echo of the typed commands never shows it so.
  constexpr std::string_view value_line = "\n4242\r\n";
  constexpr std::string_view left = "\x1b[D", up = "\x1b[A", erase = "\x7f", line_start = "\x01";
  {
    cli_terminal terminal(server.port, home.path());
    ASSERT_TRUE(terminal.is_running());
    ASSERT_TRUE(terminal.type_after(prompt, "c vector i32 v\r")) << terminal.screen();
    ASSERT_TRUE(terminal.wait_for("vkey: 0")) << terminal.screen();
    ASSERT_TRUE(terminal.type_after(prompt, "i \"v\" last 4242\r")) << terminal.screen();
    ASSERT_TRUE(terminal.wait_for("(empty)")) << terminal.screen();
    // Erasing: "allx", one erase, gives "all".
    ASSERT_TRUE(terminal.type_after(prompt, std::string("g \"v\" allx").append(erase) + "\r"));
    ASSERT_TRUE(terminal.wait_for(value_line)) << terminal.screen();
    // Moving: the start of the line typed last, then the missing "g ".
    ASSERT_TRUE(terminal.type_after(prompt, std::string("\"v\" all").append(line_start) + "g \r"));
    ASSERT_TRUE(terminal.wait_for(value_line)) << terminal.screen();
    // Inserting inside the line: "g "v" cunt", three to the left, "o".
    ASSERT_TRUE(terminal.type_after(
        prompt, std::string("g \"v\" cunt").append(left).append(left).append(left) + "o\r"));
    ASSERT_TRUE(terminal.wait_for("\n1\r\n")) << terminal.screen();
    // The previous line from the history.
    ASSERT_TRUE(terminal.type_after(prompt, std::string(up).append(up) + "\r"));
    ASSERT_TRUE(terminal.wait_for(value_line)) << terminal.screen();
    ASSERT_TRUE(terminal.type_after(prompt, "g \"v\" nth x1\r"));
    ASSERT_TRUE(terminal.wait_for("failed")) << terminal.screen();
    ASSERT_TRUE(terminal.type_after(prompt, "quit\r"));
    EXPECT_EQ(terminal.wait_exit(), 1) << terminal.screen();  // one command failed
  }
  {
    // A new session starts with the history of the last one; Control-D on an empty line leaves.
    cli_terminal terminal(server.port, home.path());
    ASSERT_TRUE(terminal.type_after(prompt, std::string(up).append(up).append(up) + "\r"));
    ASSERT_TRUE(terminal.wait_for(value_line)) << terminal.screen();
    ASSERT_TRUE(terminal.type_after(prompt, "\x04"));
    EXPECT_EQ(terminal.wait_exit(), 0) << terminal.screen();
  }
}

TEST(Cli, DigestIsWhatTheServerAcceptsAtLogin) {
  struct case_t {
    std::string input;     // what --digest reads
    std::string password;  // what the login then sends
  } cases[] = {
      {"two\n\n", "two\n"},  // one trailing line feed is dropped, only one
      {"caf\xc3\xa9", "caf\xc3\xa9"},
  };
  for (const auto& c : cases) {
    const cli_run digest = run_cli({"--digest"}, c.input);
    ASSERT_EQ(digest.exit_status, 0) << digest.err;
    ASSERT_EQ(digest.out.size(), 33u) << digest.out;
    const std::string text = digest.out.substr(0, 32);
    ASSERT_EQ(text.find_first_not_of("0123456789ABCDEF"), std::string::npos) << text;

    const uint16_t port = find_free_port();
    server_process process({"[server]\nport = " + std::to_string(port) +
                                "\n[users]\nusers_list = [{ name = \"ops\", password = \"" + text +
                                "\" }]\n",
                            "",
                            {},
                            {},
                            ""});
    ASSERT_TRUE(process.start() && wait_for_connect(port, true));
    const std::string port_text = std::to_string(port);
    EXPECT_EQ(run_cli({"-p", port_text, "-u", "ops", "k"}, "", c.password).exit_status, 0)
        << c.password;
    EXPECT_EQ(run_cli({"-p", port_text, "-u", "ops", "k"}, "", c.password + "x").exit_status, 2)
        << c.password;
  }
}

// ---- the examples of docs/commands.md ----

struct doc_example {
  int line = 0;  // line of the opening fence, for messages
  std::string script;
  std::string expected;
};

// Collects the ```zor blocks of a Markdown text.
std::vector<doc_example> extract_examples(const std::string& markdown) {
  std::vector<doc_example> examples;
  std::istringstream in(markdown);
  std::string line;
  bool is_inside = false;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!is_inside) {
      if (line == "```zor") {
        is_inside = true;
        examples.push_back({number, "", ""});
      }
      continue;
    }
    if (line == "```") {
      is_inside = false;
    } else if (line.starts_with("zor> ")) {
      examples.back().script += line.substr(5) + "\n";
    } else {
      examples.back().expected += line + "\n";
    }
  }
  return examples;
}

// The password of the user admin in examples/zor_ndb.toml, as docs/configuration.md gives it.
constexpr const char* shipped_admin_password = "admin";

// The shipped configuration on another port.
std::string shipped_configuration(uint16_t port) {
  std::string text = read_source_file("examples/zor_ndb.toml");
  const std::string default_port = "port = 55554";
  const size_t at = text.find(default_port);
  if (at == std::string::npos) return {};
  return text.replace(at, default_port.size(), "port = " + std::to_string(port));
}

// Runs every example of a document against the shipped defaults.
void run_document_examples(const std::string& document, size_t min_examples) {
  const std::vector<doc_example> examples = extract_examples(read_source_file(document));
  ASSERT_GE(examples.size(), min_examples) << document << " lost its examples";
  const std::string startup_script = read_source_file("examples/init.nos");
  ASSERT_FALSE(shipped_configuration(0).empty())
      << "examples/zor_ndb.toml has no line 'port = 55554'";
  ASSERT_NE(shipped_configuration(0).find(net::password_digest(shipped_admin_password)),
            std::string::npos)
      << "the admin password of examples/zor_ndb.toml is not the documented one";
  for (const doc_example& example : examples) {
    const uint16_t port = find_free_port();
    server_process process({shipped_configuration(port), startup_script, {}, {}, ""});
    ASSERT_TRUE(process.start() && wait_for_connect(port, true));
    const cli_run run =
        run_cli({"-p", std::to_string(port)}, example.script, shipped_admin_password);
    EXPECT_EQ(run.out, example.expected)
        << document << ", example at line " << example.line << ":\n"
        << example.script << run.err;
  }
}

TEST(Cli, EveryExampleOfTheCommandDocumentRuns) { run_document_examples("docs/commands.md", 20); }

TEST(Cli, TheFirstSessionRuns) { run_document_examples("docs/first_session.md", 1); }

}  // namespace
}  // namespace qn::e2e
