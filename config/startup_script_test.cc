#include "config/startup_script.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "engine/registry.h"
#include "tests/temp_directory.h"

namespace qn::config {
namespace {

TEST(StartupScript, RunsLinesUntilTheFirstRejectedOne) {
  struct script_case {
    std::optional<std::string> file;  // nullopt: no init.nos
    uint64_t containers;              // containers in the registry afterwards
    const char* messages;
  };
  const script_case cases[] = {
      {std::nullopt, 0, "unable to open file init.nos\nload init.nos failed\n"},
      {"", 0, ""},
      {"c vector i32\nc trie\n", 2, ""},
      // The third non-empty line fails: index 2; the first two stay, the rest does not run.
      {"c vector i32\nc trie\nx\nc trie\n", 2, "exec failed with:\"x\" at line 2\n"},
      {"\n\nc trie\n\n\nx\nc trie\n", 1, "exec failed with:\"x\" at line 1\n"},
      // The executor sees the carriage return: the kind word "trie\r" is refused.
      {"c trie\r\nc trie\r\n", 0, "exec failed with:\"c trie\r\" at line 0\n"},
  };
  for (const script_case& c : cases) {
    testing_support::temp_directory dir(testing_support::temp_directory::current::enter);
    if (c.file) dir.write("init.nos", *c.file);
    qn::db::nosql::container_registry registry;
    testing::internal::CaptureStdout();
    run_startup_script(registry);
    const std::string label = c.file ? *c.file : "(no file)";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.messages) << label;
    EXPECT_EQ(registry.occupied_count(), c.containers) << label;
  }
}

}  // namespace
}  // namespace qn::config
