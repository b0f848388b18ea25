// The command line of the server: which way to run, and the usage text.
// Pure functions; no state.
#pragma once

#include <string_view>

namespace qn::app {

enum class run_mode {
  console,  // in the foreground of the terminal
  hidden,   // "--hide": detached from the terminal, in the background
  service,  // "--as_service": under systemd, reporting states through the notify socket
  version,  // "--version": print the program name and the release version and end with 0
  usage,    // any other single argument: print the usage text and end with 0
};

// Exactly one argument is examined; with none or with more than one the server runs in the
// console and ignores them. `argv[0]` is the program.
run_mode parse_command_line(int argc, const char* const* argv);

// The three usage lines, in order.
inline constexpr std::string_view usage_text =
    "usage: --hide         run and hide window.\n"
    "       --help\t\t\t\t  show this help.\n"
    "       --as_service   run as windows service(install first).\n";

}  // namespace qn::app
