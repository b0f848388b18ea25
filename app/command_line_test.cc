#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qn::app {
namespace {

TEST(CommandLine, ChoosesTheModeFromExactlyOneArgument) {
  struct case_t {
    std::vector<const char*> arguments;  // after the program name
    run_mode expected;
  };
  const case_t cases[] = {
      {{}, run_mode::console},
      {{"--hide"}, run_mode::hidden},
      {{"--as_service"}, run_mode::service},
      {{"--version"}, run_mode::version},
      {{""}, run_mode::usage},
      {{"--as_servic"}, run_mode::usage},
      {{"--hide", "--as_service"}, run_mode::console},
      {{"--help", "x"}, run_mode::console},
  };
  for (const case_t& c : cases) {
    std::vector<const char*> argv{"zor_nosql_server"};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    argv.push_back(nullptr);
    const std::string shown = c.arguments.empty() ? "(none)" : c.arguments[0];
    EXPECT_EQ(parse_command_line(static_cast<int>(c.arguments.size() + 1), argv.data()), c.expected)
        << shown << " with " << c.arguments.size() << " arguments";
  }
}

}  // namespace
}  // namespace qn::app
