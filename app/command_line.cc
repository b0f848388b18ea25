#include "app/command_line.h"

namespace qn::app {

run_mode parse_command_line(int argc, const char* const* argv) {
  if (argc != 2 || argv == nullptr || argv[1] == nullptr) return run_mode::console;
  const std::string_view argument(argv[1]);
  if (argument == "--hide") return run_mode::hidden;
  if (argument == "--as_service") return run_mode::service;
  if (argument == "--version") return run_mode::version;
  return run_mode::usage;
}

}  // namespace qn::app
