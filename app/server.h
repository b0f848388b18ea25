// The program's entry and the server main: logging set-up, command line, handlers, banner,
// configuration, the listener thread, and the stop, pause and continue paths.
// One server per process: the lifecycle state is process-wide and lives for the whole process.
//
// Threads: the main thread runs the server main and, once the listener has started, owns the
// listener thread and is the only one that starts, pauses, continues and stops it. The signal
// thread turns signals into requests and wakes the main thread; it never waits for the listener,
// so a second signal is taken at once. Both modes handle the same signals; service mode adds the
// chdir to the program's directory and the state reports to systemd.
#pragma once

#include <cstdint>

#include "app/command_line.h"
#include "zor_version.h"

namespace qn::app {

// The version (the project's one release version, from CMake) and the three further texts of
// the banner "zor_sql_s(nos) version: %s by %s, mail: %s. code : %s.\n".
inline constexpr const char* version_text = release_version;
inline constexpr const char* author_text = "the zor nosql developers";
inline constexpr const char* contact_text = "zor-nosql@example.org";
inline constexpr const char* release_name = "first light";

// The whole program: configures the log, reads the command line and runs the server in the
// chosen way. Returns the process exit code: 0 normally (also after a stop by signal), -1 when
// service mode cannot change to the program's directory or a thread cannot be created.
int run_program(int argc, const char* const* argv);

// The server main: installs the handlers, prints the banner, reads zor_ndb.toml from the current
// directory, starts the listener thread and waits, in 100-second steps, until a stop request,
// which wakes it at once. Then it stops the listener, waits for its thread and returns 0.
// With `is_service` it reports its states through NOTIFY_SOCKET.
int run_server(bool is_service);

}  // namespace qn::app
