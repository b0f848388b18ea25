#include "client/cli_input.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace qn::client {

namespace {

// Longest timeout accepted: one day.
constexpr double max_timeout_seconds = 86400;

bool parse_port(std::string_view text, uint16_t& out) {
  unsigned v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v == 0 || v > 65535) return false;
  out = static_cast<uint16_t>(v);
  return true;
}

// Seconds as a decimal number (0.5, 2, 10); more than zero and at most one day.
bool parse_seconds(std::string_view text, std::chrono::milliseconds& out) {
  const std::string copy(text);
  char* end = nullptr;
  const double seconds = std::strtod(copy.c_str(), &end);
  if (copy.empty() || end != copy.c_str() + copy.size() || !(seconds > 0) ||
      seconds > max_timeout_seconds) {
    return false;
  }
  out = std::chrono::milliseconds(std::max<int64_t>(1, std::llround(seconds * 1000)));
  return true;
}

}  // namespace

bool parse_cli_options(int argc, const char* const* argv, cli_options& out, std::string& error) {
  int i = 0;
  // Takes the value of the option at argv[i]: "--name=value" or the next argument.
  const auto take_value = [&](std::string_view arg, std::string_view& inline_value,
                              std::string_view& value) {
    if (!inline_value.empty()) {
      value = inline_value;
      return true;
    }
    if (i + 1 >= argc) {
      error = "option " + std::string(arg) + " needs a value";
      return false;
    }
    value = argv[++i];
    return true;
  };
  for (; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg.empty() || arg[0] != '-') break;
    std::string_view inline_value;
    if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      inline_value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      if (inline_value.empty()) {
        error = "option " + std::string(arg) + " needs a value";
        return false;
      }
    }
    std::string_view value;
    if (arg == "-H" || arg == "--host") {
      if (!take_value(arg, inline_value, value)) return false;
      if (value.empty()) {
        error = "the host must not be empty";
        return false;
      }
      out.host = value;
    } else if (arg == "-p" || arg == "--port") {
      if (!take_value(arg, inline_value, value)) return false;
      if (!parse_port(value, out.port)) {
        error = "bad port '" + std::string(value) + "': expected a number from 1 to 65535";
        return false;
      }
    } else if (arg == "-u" || arg == "--user") {
      if (!take_value(arg, inline_value, value)) return false;
      out.user = value;
    } else if (arg == "--connect-timeout" || arg == "--timeout") {
      if (!take_value(arg, inline_value, value)) return false;
      auto& target = arg == "--timeout" ? out.io_timeout : out.connect_timeout;
      if (!parse_seconds(value, target)) {
        error = "bad " + std::string(arg) + " '" + std::string(value) +
                "': expected seconds, more than 0 and at most 86400";
        return false;
      }
    } else if (!inline_value.empty()) {
      error = "option " + std::string(arg) + " takes no value";
      return false;
    } else if (arg == "--json") {
      out.is_json = true;
    } else if (arg == "--digest") {
      out.mode = cli_mode::digest;
    } else if (arg == "-h" || arg == "--help") {
      out.mode = cli_mode::help;
    } else {
      error = "unknown option " + std::string(arg);
      return false;
    }
  }
  for (; i < argc; ++i) {
    if (out.has_command) out.command.push_back(' ');
    out.command.append(argv[i]);
    out.has_command = true;
  }
  if (out.mode == cli_mode::digest && out.has_command) {
    error = "--digest reads the password from standard input and takes no command";
    return false;
  }
  return true;
}

std::string_view usage_text() {
  return "usage: zor_nosql_cli [options] [command ...]\n"
         "       zor_nosql_cli --digest < password.txt\n"
         "\n"
         "options:\n"
         "  -H, --host HOST            server address (default 127.0.0.1)\n"
         "  -p, --port PORT            server port (default 55554)\n"
         "  -u, --user NAME            user name (default admin)\n"
         "      --json                 print one JSON object per command (status \"ok\",\n"
         "                             \"failed\" or \"error\"; also one \"error\" object\n"
         "                             when the client cannot connect or log in)\n"
         "      --connect-timeout SEC  connect timeout in seconds (default 5)\n"
         "      --timeout SEC          wait at most SEC seconds for the server (default 30)\n"
         "      --digest               print the password digest of standard input\n"
         "  -h, --help                 show this help\n"
         "      --version              print the version and exit\n"
         "\n"
         "With a command, runs it and exits. Without one, reads one command per line from\n"
         "standard input, or starts an interactive prompt at a terminal.\n"
         "The password comes from the environment variable ZOR_PASSWORD, or is asked for\n"
         "at the terminal.\n"
         "Exit status: 0 every command succeeded, 1 a command failed, 2 connection, login\n"
         "or usage error.\n";
}

bool clean_script_line(std::string& line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const size_t first = line.find_first_not_of(" \t");
  return first != std::string::npos && line[first] != '#';
}

}  // namespace qn::client
