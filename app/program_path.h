// Where the program lives: its own path and directory, and the files kept beside it.
// Pure functions over their arguments, except program_path, which reads /proc/self/exe.
#pragma once

#include <string>
#include <string_view>

namespace qn::app {

// The program's absolute path from /proc/self/exe (symbolic links resolved), or `argv0` when that
// link cannot be read.
std::string program_path(const char* argv0);

// The directory part of `path`: everything before its last '/', "/" for a file in the root
// directory, and "." when the path has no '/' at all (a bare program name run from the current
// directory).
std::string directory_of(std::string_view path);

// The log file beside the program: directory + "/zor_mdb_s.log".
std::string log_file_path(std::string_view program_directory);

}  // namespace qn::app
