// Running in the background for "--hide": the process leaves its terminal, daemon style.
// Call before any thread exists (fork copies only the calling thread).
#pragma once

#include <string>

namespace qn::app {

// Forks. The parent gets the child's process id (> 0) and should print it and end with 0. The
// child starts a new session (so it has no controlling terminal and no SIGHUP or Control-C from
// the old one), reads standard input from /dev/null and appends standard output and standard
// error to `output_path`, or sends them to /dev/null when that file cannot be opened; it gets 0.
// The working directory is kept, since zor_ndb.toml and init.nos are read from it.
// Returns -1 (after printing) when the fork fails; the caller then goes on in the foreground.
int detach_from_terminal(const std::string& output_path);

}  // namespace qn::app
