// zor_nosql_cli: the command-line client. One-shot (the command as arguments), script (one
// command per line on standard input) and interactive (a prompt with line editing and history)
// modes, human or JSON output, and the password digest for the configuration file.
//
// Exit status: 0 when every command succeeded, 1 when at least one failed, 2 for usage,
// connection and login errors (a broken connection also ends a script at once).
#include <editline/readline.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "client/cli_input.h"
#include "client/connection.h"
#include "client/format.h"
#include "client/password_prompt.h"
#include "net/digest.h"
#include "zor_version.h"

namespace qn::client {
namespace {

constexpr int exit_success = 0;
constexpr int exit_command_failed = 1;
constexpr int exit_unusable = 2;

// Commands remembered by the interactive prompt across runs.
constexpr int history_size = 1000;

void print_error(std::string_view what, std::string_view detail) {
  std::string line = "zor_nosql_cli: ";
  line.append(what);
  if (!detail.empty()) line.append(": ").append(detail);
  std::cerr << line << '\n';
}

void print_out(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// Runs commands over one logged-in connection and keeps the exit status.
class command_runner {
 public:
  command_runner(connection& c, bool is_json) : connection_(c), is_json_(is_json) {}

  // Runs one command and prints its outcome. Returns false when the connection is no longer
  // usable, so no further command can run.
  bool run(std::string_view line) {
    command_reply reply;
    const result r = connection_.execute(line, reply);
    if (is_json_) {
      print_out(format_json(line, r, reply, error_text(r)));
    } else {
      print_out(format_outcome(r, reply));
    }
    if (r == result::ok) return true;
    if (r == result::command_failed) {
      has_failed_ = true;
      return true;
    }
    print_error(describe(r), connection_.last_error());
    if (r == result::request_too_long) {  // refused before sending: the session goes on
      has_failed_ = true;
      return true;
    }
    is_broken_ = true;
    return false;
  }

  int exit_status() const {
    return is_broken_ ? exit_unusable : has_failed_ ? exit_command_failed : exit_success;
  }

 private:
  std::string error_text(result r) const {
    std::string text(describe(r));
    if (!connection_.last_error().empty()) text.append(": ").append(connection_.last_error());
    return text;
  }

  connection& connection_;
  bool is_json_;
  bool has_failed_ = false;
  bool is_broken_ = false;
};

std::string history_path() {
  const char* home = std::getenv("HOME");
  return home == nullptr || *home == '\0' ? std::string()
                                          : std::string(home) + "/.zor_nosql_history";
}

std::string_view trimmed(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

constexpr std::string_view interactive_help =
    "Type a command and press Enter, for example:\n"
    "  c vector i32 v      create a vector named v\n"
    "  i \"v\" last 5        append 5 to it\n"
    "  g \"v\" all           read it\n"
    "  k                   list every container\n"
    "quit, exit or Control-D leaves. The command language is described in docs/commands.md.\n";

void run_interactive(command_runner& runner) {
  const std::string history = history_path();
  using_history();
  stifle_history(history_size);
  if (!history.empty()) read_history(history.c_str());
  for (;;) {
    char* raw = readline("zor> ");
    if (raw == nullptr) {
      print_out("\n");
      break;
    }
    std::string line(raw);
    std::free(raw);
    if (!clean_script_line(line)) continue;
    add_history(line.c_str());
    const std::string_view word = trimmed(line);
    if (word == "quit" || word == "exit") break;  // neither is a valid command line
    if (word == "help") {
      print_out(interactive_help);
      continue;
    }
    if (!runner.run(line)) break;
  }
  if (!history.empty() && write_history(history.c_str()) == 0) {
    ::chmod(history.c_str(), S_IRUSR | S_IWUSR);  // commands may hold private data
  }
}

void run_script(command_runner& runner) {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!clean_script_line(line)) continue;
    if (!runner.run(line)) return;
  }
}

// --digest: the password is standard input, less one trailing line feed.
int print_digest() {
  std::string password;
  if (::isatty(STDIN_FILENO)) {
    if (!read_password_from_terminal("password: ", password)) {
      print_error("cannot read the password", "no terminal");
      return exit_unusable;
    }
  } else {
    password.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    if (!password.empty() && password.back() == '\n') password.pop_back();
  }
  print_out(net::password_digest(password) + "\n");
  return exit_success;
}

bool find_password(const cli_options& options, std::string& password) {
  if (const char* from_environment = std::getenv("ZOR_PASSWORD")) {
    password = from_environment;
    return true;
  }
  const std::string prompt = "password for " + options.user + "@" + options.host + ":" +
                             std::to_string(options.port) + ": ";
  return read_password_from_terminal(prompt, password);
}

// No session: reports why on standard error and, with --json, as an error object on standard
// output too, so that a script reading the objects learns why none came. Its "command" is the
// one-shot command, or "" in the other modes, where no line has been read yet.
int refuse_session(const cli_options& options, result r, std::string_view what,
                   std::string_view detail) {
  print_error(what, detail);
  if (options.is_json) {
    std::string text(what);
    if (!detail.empty()) text.append(": ").append(detail);
    print_out(format_json(options.has_command ? options.command : std::string(), r, {}, text));
  }
  return exit_unusable;
}

int run(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    print_out(std::string("zor_nosql_cli ") + release_version + "\n");
    return exit_success;
  }
  cli_options options;
  std::string error;
  if (!parse_cli_options(argc - 1, argv + 1, options, error)) {
    print_error(error, {});
    std::cerr << "try 'zor_nosql_cli --help'\n";
    return exit_unusable;
  }
  if (options.mode == cli_mode::help) {
    print_out(usage_text());
    return exit_success;
  }
  if (options.mode == cli_mode::digest) return print_digest();

  std::string password;
  if (!find_password(options, password)) {
    return refuse_session(options, result::not_connected, "no password",
                          "set ZOR_PASSWORD or run at a terminal");
  }
  connection c;
  const connect_options where{options.host, options.port, options.connect_timeout,
                              options.io_timeout};
  if (const result r = c.open(where); r != result::ok) {
    return refuse_session(options, r,
                          "cannot connect to " + options.host + ":" + std::to_string(options.port),
                          c.last_error());
  }
  if (const result r = c.log_in(options.user, password); r != result::ok) {
    return refuse_session(
        options, r,
        r == result::login_refused ? "login refused for " + options.user : std::string(describe(r)),
        c.last_error());
  }
  command_runner runner(c, options.is_json);
  if (options.has_command) {
    runner.run(options.command);
  } else if (::isatty(STDIN_FILENO)) {
    run_interactive(runner);
  } else {
    run_script(runner);
  }
  return runner.exit_status();
}

}  // namespace
}  // namespace qn::client

int main(int argc, char** argv) { return qn::client::run(argc, argv); }
