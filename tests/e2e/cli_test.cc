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
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "net/digest.h"
#include "tests/e2e/server_harness.h"

#ifndef ZOR_CLI_PATH
#error "ZOR_CLI_PATH, the path of the built zor_nosql_cli, is not defined"
#endif

namespace qn::e2e {
namespace {

std::string read_source_file(const std::string& relative_path) {
  return read_file(std::string(ZOR_SOURCE_DIR) + "/" + relative_path);
}

struct cli_run {
  int exit_status = -1;  // -1 when the program did not end by itself
  std::string out;
  std::string err;
};

// Runs zor_nosql_cli to its end with `input` on its standard input, through the shell in a new
// session (setsid), so that without a controlling terminal it can never wait at a prompt; or,
// `on_terminal`, through script(1) on a pseudo-terminal of its own. ZOR_PASSWORD is `password`,
// or unset when that is empty; timeout(1) ends it after 20 seconds.
cli_run run_cli(const std::vector<std::string>& arguments, const std::string& input = "",
                const std::string& password = "secret", bool on_terminal = false) {
  temp_directory files;
  files.write("in", input);
  const auto quoted = [](const std::string& text) { return "'" + text + "'"; };
  std::string command = "env -u ZOR_PASSWORD HOME=" + files.path() + " TERM=xterm ";
  if (!password.empty()) command += "ZOR_PASSWORD=" + quoted(password) + " ";
  std::string cli = quoted(ZOR_CLI_PATH);
  for (const std::string& a : arguments) cli += " " + quoted(a);
  command += on_terminal ? "timeout 20 script -qec \"" + cli + "\" /dev/null"
                         : "timeout 20 setsid -w " + cli;
  command += " <" + files.file("in") + " >" + files.file("out") + " 2>" + files.file("err");
  const int status = std::system(command.c_str());
  const bool is_own_end = WIFEXITED(status) && WEXITSTATUS(status) != 124;
  return {is_own_end ? WEXITSTATUS(status) : -1, read_file(files.file("out")),
          read_file(files.file("err"))};
}

// One server with admin / secret and a second user whose digest --digest printed, then one-shot
// commands, a script and refused sessions against it, each with its output and exit status.
TEST(Cli, RunsCommandsAndScriptsAndExitsWithTheirStatus) {
  // One trailing line feed is dropped, only one; non-ASCII bytes count as they are.
  const cli_run digest = run_cli({"--digest"}, "caf\xc3\xa9\n\n", "");
  ASSERT_EQ(digest.exit_status, 0) << digest.err;
  ASSERT_EQ(digest.out.size(), 33u) << digest.out;
  ASSERT_EQ(digest.out.find_first_not_of("0123456789ABCDEF"), 32u) << digest.out;
  server_options options;
  options.configuration = configuration_text(options.port);
  options.configuration->insert(
      options.configuration->rfind(']'),
      ", { name = \"ops\", password = \"" + digest.out.substr(0, 32) + "\" }");
  server_process server(options);
  ASSERT_TRUE(server.start_serving());
  struct case_t {
    std::vector<std::string> arguments;
    std::string out;
    int exit_status;
    std::string err_part = "";
    std::string input = "";
    std::string password = "secret";
  } cases[] = {
      {{"-u", "ops", "k"}, "(empty)\n", 0, "", "", "caf\xc3\xa9\n"},
      {{"k"}, "", 2, "ZOR_PASSWORD", "", ""},
      // As JSON, a session that never began is one error object; the message also goes to stderr.
      {{"--json"},
       R"({"command":"","status":"error","error":"login refused for admin: wrong user name or password"})"
       "\n",
       2,
       "zor_nosql_cli: ",
       "k\n",
       "wrong"},
      {{"c", "vector", "i32", "v"}, "vkey: 0\nvkey(hex): \"0x0\"\n", 0},
      {{"i \"v\" last 5"}, "(empty)\n", 0},  // one argument holding the whole line
      {{"g", "\"v\"", "nth", "x1"}, "failed\n", 1},
      // A script runs every line, goes on after a failure and exits with 1.
      {{},
       "vkey: 1\nvkey(hex): \"0x1\"\n(empty)\nfailed\n(empty)\n10\n20\n",
       1,
       "",
       "# fill a set\nc set i32 s\n\ni \"s\" 10\r\ni \"s\" 10\ni \"s\" 20\ng \"s\" all\n"},
  };
  for (const case_t& c : cases) {
    std::vector<std::string> arguments{"-p", std::to_string(server.port())};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const cli_run run = run_cli(arguments, c.input, c.password);
    const std::string label = c.arguments.empty() ? c.input : c.arguments.back();
    EXPECT_EQ(run.out, c.out) << label;
    EXPECT_EQ(run.exit_status, c.exit_status) << label << ": " << run.err;
    EXPECT_NE(run.err.find(c.err_part), std::string::npos) << label << ": " << run.err;
  }
  const cli_run nothing_listens = run_cli({"-p", std::to_string(find_free_port()), "k"});
  EXPECT_EQ(nothing_listens.exit_status, 2);
  EXPECT_NE(nothing_listens.err.find("cannot connect"), std::string::npos) << nothing_listens.err;
}

// On a terminal (script(1) gives it a pseudo-terminal, HOME a directory for the history): the
// prompt reads a line, runs it and shows the reply; "quit" leaves with status 0.
TEST(Cli, InteractiveModeRunsLinesUntilQuit) {
  server_process server;
  ASSERT_TRUE(server.start_serving());
  const cli_run run =
      run_cli({"-p", std::to_string(server.port())}, "c vector i32 v\nquit\n", "secret", true);
  EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
  EXPECT_TRUE(has_in_order(run.out, {"zor> c vector i32 v", "vkey: 0", "zor> quit"})) << run.out;
}

// ---- the documented examples ----

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
      is_inside = line == "```zor";
      if (is_inside) examples.push_back({number, "", ""});
    } else if (line == "```") {
      is_inside = false;
    } else if (line.starts_with("zor> ")) {
      examples.back().script += line.substr(5) + "\n";
    } else {
      examples.back().expected += line + "\n";
    }
  }
  return examples;
}

// Every example of a document against the shipped defaults (examples/zor_ndb.toml on a free port,
// whose admin password is "admin" as docs/configuration.md says, and examples/init.nos).
TEST(Cli, EveryDocumentedExampleRuns) {
  const std::string shipped = read_source_file("examples/zor_ndb.toml");
  const size_t port_at = shipped.find("port = 55554");
  ASSERT_NE(port_at, std::string::npos) << "examples/zor_ndb.toml has no line 'port = 55554'";
  ASSERT_NE(shipped.find(net::password_digest("admin")), std::string::npos)
      << "the admin password of examples/zor_ndb.toml is not the documented one";
  const std::pair<const char*, size_t> documents[] = {{"docs/commands.md", 20},
                                                      {"docs/first_session.md", 1}};
  for (const auto& [document, min_examples] : documents) {
    const std::vector<doc_example> examples = extract_examples(read_source_file(document));
    ASSERT_GE(examples.size(), min_examples) << document << " lost its examples";
    for (const doc_example& example : examples) {
      server_options options{.startup_script = read_source_file("examples/init.nos")};
      options.configuration =
          std::string(shipped).replace(port_at, 12, "port = " + std::to_string(options.port));
      server_process process(options);
      ASSERT_TRUE(process.start_serving());
      const cli_run run = run_cli({"-p", std::to_string(options.port)}, example.script, "admin");
      EXPECT_EQ(run.out, example.expected)
          << document << ", example at line " << example.line << ":\n"
          << example.script << run.err;
    }
  }
}

}  // namespace
}  // namespace qn::e2e
