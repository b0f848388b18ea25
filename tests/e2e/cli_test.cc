// zor_nosql_cli end to end against the real server: one-shot and script modes, JSON output, exit
// statuses, the password digest, and every example of docs/commands.md and
// docs/first_session.md.
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
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "net/digest.h"
#include "tests/e2e/server_harness.h"

// Built only beside the client program.
#ifdef ZOR_CLI_PATH

extern char** environ;

namespace qn::e2e {
namespace {

const char* cli_program() { return ZOR_CLI_PATH; }

// The root of the source tree, from this file's own path (tests/e2e/cli_test.cc).
std::string source_directory() {
  const std::string_view self = __FILE__;
  return std::string(self.substr(0, self.rfind("/tests/e2e/")));
}

std::string read_source_file(const std::string& relative_path) {
  std::ifstream in(source_directory() + "/" + relative_path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct cli_run {
  int exit_status = -1;  // -1 when the program did not end in time or was killed
  std::string out;
  std::string err;
};

// zor_nosql_cli as a child process with pipes on its standard input, output and error, started
// in a new session without a controlling terminal, so it can never wait at a prompt. ZOR_PASSWORD
// is `password`, or unset when that is empty. Every wait is bounded (20 seconds); the destructor
// kills a child that is still running.
class cli_child {
 public:
  cli_child(const std::vector<std::string>& arguments, const std::string& password) {
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

    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0) return;
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) return;
    signal(SIGPIPE, SIG_IGN);  // the program may end without reading all its input
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      dup2(in_pipe[0], STDIN_FILENO);
      dup2(out_pipe[1], STDOUT_FILENO);
      dup2(err_pipe[1], STDERR_FILENO);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    in_fd_ = in_pipe[1];
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
  }
  ~cli_child() {
    close_fd(in_fd_);
    close_fd(out_fd_);
    close_fd(err_fd_);
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  cli_child(const cli_child&) = delete;
  cli_child& operator=(const cli_child&) = delete;

  // Writes a short input at once (it must fit the pipe).
  bool send(std::string_view input) {
    return in_fd_ >= 0 && write(in_fd_, input.data(), input.size()) == ssize_t(input.size());
  }

  // Reads until the standard output holds `text`; false when it never comes.
  bool wait_for_output(std::string_view text) {
    return pump("", false, [&] { return run_.out.find(text) != std::string::npos; });
  }

  // Writes the rest of the input, closes it, reads everything and reaps the program.
  cli_run finish(std::string_view input) {
    pump(input, true, [] { return false; });
    int status = 0;
    if (pid_ > 0) {
      if (out_fd_ >= 0 || err_fd_ >= 0) kill(pid_, SIGKILL);  // still writing after 20 s
      waitpid(pid_, &status, 0);
      if (WIFEXITED(status)) run_.exit_status = WEXITSTATUS(status);
      pid_ = -1;
    }
    return run_;
  }

 private:
  static void close_fd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
  }

  // Moves bytes both ways until `is_done()`, until the output pipes close, or for 20 seconds.
  // Writes `input` first and then closes the standard input when `closes_input`.
  template <class F>
  bool pump(std::string_view input, bool closes_input, F is_done) {
    if (closes_input && input.empty()) close_fd(in_fd_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!is_done() && (out_fd_ >= 0 || err_fd_ >= 0) &&
           std::chrono::steady_clock::now() < deadline) {
      pollfd fds[3] = {
          {out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}, {input.empty() ? -1 : in_fd_, POLLOUT, 0}};
      if (poll(fds, 3, 100) < 0 && errno != EINTR) return false;
      char buffer[4096];
      for (int i = 0; i < 2; ++i) {
        if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
          (i == 0 ? run_.out : run_.err).append(buffer, static_cast<size_t>(n));
        } else {
          close_fd(i == 0 ? out_fd_ : err_fd_);
        }
      }
      if ((fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
        const ssize_t n = write(in_fd_, input.data(), input.size());
        if (n > 0) input.remove_prefix(static_cast<size_t>(n));
        if (n <= 0 || (input.empty() && closes_input)) close_fd(in_fd_);
      }
    }
    return is_done();
  }

  pid_t pid_ = -1;
  int in_fd_ = -1, out_fd_ = -1, err_fd_ = -1;
  cli_run run_;
};

// Runs zor_nosql_cli to its end with `input` on its standard input.
cli_run run_cli(const std::vector<std::string>& arguments, const std::string& input = "",
                const std::string& password = "") {
  return cli_child(arguments, password).finish(input);
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

TEST(Cli, PrintsTypedValues) {
  cli_server server(
      "c vector datetime dt\n"
      "i \"dt\" last \"2024-01-31 08:00:00.25\"\n"
      "i \"dt\" last 2024-02-29T23:59:59\n"
      "c list string words\n"
      "i \"words\" last \"tab\\there\"\n"
      "i \"words\" last \"caf\\u00e9\"\n"
      "i \"words\" last \"\\xff\"\n"
      "c set double d\n"
      "i \"d\" 0.1\n"
      "i \"d\" -2.5e10\n");
  ASSERT_TRUE(server.start());
  struct case_t {
    std::string command;
    std::string_view out;
  } cases[] = {
      {"g \"dt\" all", "2024-01-31T08:00:00.25\n2024-02-29T23:59:59\n"},
      {"g \"words\" all", "\"tab\\there\"\n\"caf\xc3\xa9\"\n\"\\xff\"\n"},
      {"g \"d\" all", "-2.5e+10\n0.1\n"},
      {"g \"dt\" key_type", "\"datetime\"\n"},
  };
  for (const auto& c : cases) {
    const cli_run run = server.run({c.command});
    EXPECT_EQ(run.out, c.out) << c.command;
    EXPECT_EQ(run.exit_status, 0) << c.command << ": " << run.err;
  }
}

TEST(Cli, JsonPrintsOneObjectPerCommand) {
  cli_server server;
  ASSERT_TRUE(server.start());
  const cli_run run =
      server.run({"--json"}, "c map i32 string m\ni \"m\" 1 one\ng \"m\" value 1\nx\n");
  EXPECT_EQ(run.out, R"j({"command":"c map i32 string m","status":"ok","items":[)j"
                     R"j({"label":"vkey","type":"u64","values":[0]},)j"
                     R"j({"label":"vkey(hex)","type":"string","values":["0x0"]}]})j"
                     "\n"
                     R"({"command":"i \"m\" 1 one","status":"ok","items":[]})"
                     "\n"
                     R"({"command":"g \"m\" value 1","status":"ok","items":[)"
                     R"({"label":"","type":"string","values":["one"]}]})"
                     "\n"
                     R"({"command":"x","status":"failed"})"
                     "\n");
  EXPECT_EQ(run.exit_status, 1) << run.err;
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
}

TEST(Cli, AServerThatGoesAwayEndsTheScriptWithTwo) {
  cli_server server;
  ASSERT_TRUE(server.start());
  cli_child client({"-p", std::to_string(server.port)}, "secret");
  // The first line of the script runs; then the server dies while the client waits for more.
  ASSERT_TRUE(client.send("k\n"));
  ASSERT_TRUE(client.wait_for_output("(empty)\n"));
  ASSERT_TRUE(server.process.send_signal(SIGKILL));
  ASSERT_TRUE(server.process.wait_exit());
  const cli_run run = client.finish("k\nk\n");
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.out, "(empty)\n");
  EXPECT_NE(run.err.find("zor_nosql_cli: connection closed"), std::string::npos) << run.err;
}

TEST(Cli, DigestIsWhatTheServerAcceptsAtLogin) {
  struct case_t {
    std::string input;     // what --digest reads
    std::string password;  // what the login then sends
  } cases[] = {
      {"s3cret pass\n", "s3cret pass"},  // one trailing line feed is dropped
      {"no newline", "no newline"},
      {"two\n\n", "two\n"},  // only one
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

TEST(Cli, EveryExampleOfTheCommandDocumentRuns) { run_document_examples("docs/commands.md", 15); }

TEST(Cli, TheFirstSessionRuns) { run_document_examples("docs/first_session.md", 1); }

}  // namespace
}  // namespace qn::e2e

#endif  // ZOR_CLI_PATH
