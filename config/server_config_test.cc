#include "config/server_config.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>

#include "config/toml_test_support.h"
#include "tests/temp_directory.h"

namespace qn::config {
namespace {

// What reading a zor_ndb.toml gives, from a fresh current directory. The tables start out
// dirty: the reading must reset them.
struct reading {
  uint16_t port = 0;
  std::string messages;  // standard output, every 0x... address shown as "@"
  std::string users;     // name=password; ...
  server_limits limits;
  persistence_settings persistence;
};

reading read_text(const std::optional<std::string>& file) {
  qn::testing_support::temp_directory dir(qn::testing_support::temp_directory::current::enter);
  if (file) dir.write("zor_ndb.toml", *file);
  reading r;
  user_table users{{"stale", "entry"}};
  r.limits.login_timeout_s = 1;
  r.persistence.directory = "left over";
  testing::internal::CaptureStdout();
  r.port = read_configuration(users, r.limits, r.persistence);
  r.messages = testing_support::without_addresses(testing::internal::GetCapturedStdout());
  for (const auto& [name, password] : users) r.users += name + "=" + password + ";";
  return r;
}

TEST(ServerConfig, PortUsersAndMessages) {
  const std::string users_list =
      "[users]\nusers_list = [{name = \"ann\", password = \"p1\"}, {name = \"bob\", password = "
      "\"p2\"}]\n";
  struct config_case {
    std::optional<std::string> file;  // nullopt: no zor_ndb.toml at all
    uint16_t port;
    const char* users;
    const char* messages;
  };
  const config_case cases[] = {
      {std::nullopt, 55554, "", "error at position: 0\n"},
      {"\n# nothing\n", 55554, "", "error at position: 11\n"},
      // The low 16 bits of the port.
      {"[server]\nport = 70000\n" + users_list, 4464, "ann=p1;bob=p2;", ""},
      {"[server]\nport = -1\n" + users_list, 65535, "ann=p1;bob=p2;", ""},
      // The first entry of a name wins.
      {"[server]\nport = 1234\n[users]\n[[users.users_list]]\nname = \"ann\"\npassword = "
       "\"first\"\n[[users.users_list]]\nname = \"ann\"\npassword = \"second\"\n",
       1234, "ann=first;", "table_array@@ insert tab_array users_list, pointer is: @\n"},
      // A document that cannot be built: the reader's message (none for a top-level duplicate).
      {"a = 1\na = 2\n", 55554, "", ""},
      {"[server]\nport = 1\nport = 2\n", 55554, "", "table@@ repeat key port\n"},
      // Text after a syntax error is ignored.
      {"[server]\nport = 80\n" + users_list + "[broken\n", 80, "ann=p1;bob=p2;", ""},
      // Missing or mistyped entries: defaults, each said once.
      {"[server]\nport = \"80\"\n" + users_list, 55554, "ann=p1;bob=p2;",
       "no integer server.port in zor_ndb.toml, using port 55554\n"},
      {"[server]\nport = 80\n[users]\nusers_list = 3\n", 80, "",
       "no users.users_list array of tables in zor_ndb.toml, no user can log in\n"},
      {"[server]\nport = 80\n[users]\nusers_list = [{name = \"ann\"}, 7, {name = \"bob\", "
       "password = \"p\"}]\n",
       80, "bob=p;",
       "users.users_list entry 0 has no string name and password, skipped\n"
       "users.users_list entry 1 has no string name and password, skipped\n"},
      {"[server]\nport = 80\npad = \"" + std::string(max_configuration_size, 'x') + "\"\n", 55554,
       "", "zor_ndb.toml is larger than 4194304 bytes, not read\nerror at position: 0\n"},
  };
  for (const config_case& c : cases) {
    const reading r = read_text(c.file);
    const std::string label = c.file ? c.file->substr(0, 60) : "(no file)";
    EXPECT_EQ(r.port, c.port) << label;
    EXPECT_EQ(r.users, c.users) << label;
    EXPECT_EQ(r.messages, c.messages) << label;
  }
}

// [limits] and [persistence]: each key falls back to its default alone, with a line when it is
// there but mistyped or out of range; persistence is off (no directory) unless a table names one.
TEST(ServerConfig, LimitsAndPersistenceKeys) {
  struct case_t {
    std::string tables;
    const char* messages;
    std::string settings;  // as `shown` renders them
  };
  const std::string defaults = "60 67108864 1000000 10 '' 1 everysec 300";
  const case_t cases[] = {
      {"", "", defaults},
      {"[limits]\nsend_timeout_s = 2\nmax_frame_bytes = 4294967294\nmax_tracked_addresses = 5\n"
       "[persistence]\ndirectory = \"d\"\nappend_log = false\nfsync = \"always\"\n"
       "snapshot_every_s = 0\n",
       "", "2 4294967294 5 10 'd' 0 always 0"},
      {"[limits]\nsend_timeout_s = \"2\"\nmax_frame_bytes = 4294967295\n"
       "max_tracked_addresses = 0\n[persistence]\ndirectory = 3\nappend_log = 1\n"
       "fsync = \"sometimes\"\nsnapshot_every_s = -1\n",
       "limits.send_timeout_s in zor_ndb.toml is not an integer, using 60\n"
       "limits.max_frame_bytes in zor_ndb.toml is outside 1..4294967294, using 67108864\n"
       "limits.max_tracked_addresses in zor_ndb.toml is outside 1..100000000, using 1000000\n"
       "persistence.directory in zor_ndb.toml is not a non-empty string, using none\n"
       "persistence.append_log in zor_ndb.toml is not a boolean, using true\n"
       "persistence.fsync in zor_ndb.toml is not \"always\", \"everysec\" or \"no\", using "
       "everysec\n"
       "persistence.snapshot_every_s in zor_ndb.toml is not an integer of at least 0, using 300\n",
       defaults},
  };
  for (const case_t& c : cases) {
    const reading r = read_text("[server]\nport = 80\n[users]\nusers_list = []\n" + c.tables);
    const server_limits& l = r.limits;
    const persistence_settings& p = r.persistence;
    const std::string shown =
        std::to_string(l.send_timeout_s) + " " + std::to_string(l.max_frame_bytes) + " " +
        std::to_string(l.max_tracked_addresses) + " " + std::to_string(l.login_timeout_s) + " '" +
        p.directory + "' " + std::to_string(p.append_log) + " " + p.fsync + " " +
        std::to_string(p.snapshot_every_s);
    EXPECT_EQ(r.port, 80) << c.tables;
    EXPECT_EQ(r.messages, c.messages) << c.tables;
    EXPECT_EQ(shown, c.settings) << c.tables;
  }
}

}  // namespace
}  // namespace qn::config
