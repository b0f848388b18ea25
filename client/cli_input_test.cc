#include "client/cli_input.h"

#include <gtest/gtest.h>

#include <vector>

namespace qn::client {
namespace {

// The parsed options as one line, for one comparison per case.
std::string render(const cli_options& o) {
  const char* mode = o.mode == cli_mode::run      ? "run"
                     : o.mode == cli_mode::digest ? "digest"
                                                  : "help";
  std::string out = std::string(mode) + " " + o.host + ":" + std::to_string(o.port) + " " + o.user;
  out += " connect=" + std::to_string(o.connect_timeout.count()) +
         " io=" + std::to_string(o.io_timeout.count());
  if (o.is_json) out += " json";
  if (o.has_command) out += " [" + o.command + "]";
  return out;
}

// A parse that succeeds renders its options; one that fails gives its message.
TEST(CliInputTest, ParsesOptionsAndTheCommandOrRefusesThem) {
  struct case_t {
    std::vector<const char*> args;
    std::string_view expected;
  } cases[] = {
      {{}, "run 127.0.0.1:55554 admin connect=5000 io=30000"},
      {{"-H", "db.local", "-p", "6000", "-u", "reader", "--json", "k"},
       "run db.local:6000 reader connect=5000 io=30000 json [k]"},
      {{"--host=10.0.0.2", "--port=1", "--user=u", "--timeout", "0.25", "--connect-timeout=2"},
       "run 10.0.0.2:1 u connect=2000 io=250"},
      // Options end at the command: later arguments that look like options belong to it.
      {{"i", "0", "-5"}, "run 127.0.0.1:55554 admin connect=5000 io=30000 [i 0 -5]"},
      // An empty argument is an (empty) token of the command, not the end of the options.
      {{"--json", ""}, "run 127.0.0.1:55554 admin connect=5000 io=30000 json []"},
      {{"--digest"}, "digest 127.0.0.1:55554 admin connect=5000 io=30000"},
      {{"-h"}, "help 127.0.0.1:55554 admin connect=5000 io=30000"},
      {{"--password", "secret"}, "unknown option --password"},
      {{"--port="}, "option --port needs a value"},
      {{"-p", "65536"}, "bad port '65536': expected a number from 1 to 65535"},
      {{"--timeout", "0"}, "bad --timeout '0': expected seconds, more than 0 and at most 86400"},
      {{"--digest", "secret"},
       "--digest reads the password from standard input and takes no command"},
  };
  for (const auto& c : cases) {
    cli_options options;
    std::string error;
    const bool is_parsed =
        parse_cli_options(static_cast<int>(c.args.size()), c.args.data(), options, error);
    EXPECT_EQ(is_parsed ? render(options) : error, c.expected);
    EXPECT_EQ(is_parsed, error.empty()) << c.expected;
  }
}

TEST(CliInputTest, CleansScriptLines) {
  struct case_t {
    std::string line;
    bool is_command;
    std::string_view cleaned;
  } cases[] = {
      {"g 0 all\r", true, "g 0 all"},
      {"  # indented comment", false, "  # indented comment"},
      {"i 0 \"#\"", true, "i 0 \"#\""},
  };
  for (const auto& c : cases) {
    std::string line = c.line;
    EXPECT_EQ(clean_script_line(line), c.is_command) << c.line;
    EXPECT_EQ(line, c.cleaned);
  }
}

}  // namespace
}  // namespace qn::client
