#include "app/program_path.h"

#include <limits.h>
#include <unistd.h>

namespace qn::app {

std::string program_path(const char* argv0) {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n > 0 && static_cast<size_t>(n) < sizeof buffer) return std::string(buffer, n);
  return argv0 != nullptr ? std::string(argv0) : std::string();
}

std::string directory_of(std::string_view path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

std::string log_file_path(std::string_view program_directory) {
  std::string path(program_directory);
  if (path.empty() || path.back() != '/') path += '/';
  path += "zor_mdb_s.log";
  return path;
}

}  // namespace qn::app
