// Command-line options of zor_nosql_cli and the cleaning of command lines read from a script.
// Pure functions; no state.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace qn::client {

enum class cli_mode {
  run,     // connect and run commands (one-shot, script or interactive)
  digest,  // print the password digest of standard input
  help,    // print the usage text
};

struct cli_options {
  cli_mode mode = cli_mode::run;
  std::string host = "127.0.0.1";
  uint16_t port = 55554;
  std::string user = "admin";
  bool is_json = false;
  std::chrono::milliseconds connect_timeout{5000};
  std::chrono::milliseconds io_timeout{30000};
  // One-shot mode: the command arguments joined by single spaces.
  bool has_command = false;
  std::string command;
};

// Parses the arguments after the program name. Options come first; the first argument that does
// not start with '-' (or every argument after "--") begins the command. There is deliberately no
// password option: a password on the command line is visible to every user of the machine.
// Returns false with a one-line message in `error` for an unknown option or a bad value.
[[nodiscard]] bool parse_cli_options(int argc, const char* const* argv, cli_options& out,
                                     std::string& error);

std::string_view usage_text();

// Prepares one line of a script: drops a trailing carriage return. Returns false for a line that
// is not a command: blank (spaces and tabs only) or a comment (first non-blank byte '#').
[[nodiscard]] bool clean_script_line(std::string& line);

}  // namespace qn::client
