// Reading a password at the controlling terminal without echoing it.
// Process-wide: changes the terminal's echo mode and the SIGINT/SIGTERM/SIGHUP handlers for the
// duration of the prompt only; call from one thread.
#pragma once

#include <string>
#include <string_view>

namespace qn::client {

// Writes `prompt` to the terminal (/dev/tty, so standard input and output may be redirected),
// reads one line with echo off and restores the terminal, also when the prompt is interrupted
// by a signal. Returns false when there is no terminal to ask; `out` is then unchanged.
[[nodiscard]] bool read_password_from_terminal(std::string_view prompt, std::string& out);

}  // namespace qn::client
