#include "config/server_config.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>

#include "tests/temp_directory.h"

namespace qn::config {
namespace {

// Replaces every 0x... address by "@" so that messages compare as text.
std::string without_addresses(const std::string& raw) {
  std::string out;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw.compare(i, 2, "0x") == 0) {
      out += "@";
      i += 2;
      while (i < raw.size() && std::isxdigit(static_cast<unsigned char>(raw[i]))) ++i;
      --i;
    } else {
      out.push_back(raw[i]);
    }
  }
  return out;
}

std::string render(const user_table& users) {
  std::string out;
  for (const auto& [name, password] : users) out += name + "=" + password + ";";
  return out;
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
      {"", 55554, "", "error at position: 0\n"},
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
      {users_list, 55554, "ann=p1;bob=p2;",
       "no integer server.port in zor_ndb.toml, using port 55554\n"},
      {"[server]\nport = \"80\"\n" + users_list, 55554, "ann=p1;bob=p2;",
       "no integer server.port in zor_ndb.toml, using port 55554\n"},
      {"[server]\nport = 80\n", 80, "",
       "no users.users_list array of tables in zor_ndb.toml, no user can log in\n"},
      {"[server]\nport = 80\n[users]\nusers_list = 3\n", 80, "",
       "no users.users_list array of tables in zor_ndb.toml, no user can log in\n"},
      {"[server]\nport = 80\n[users]\nusers_list = [{name = \"ann\"}, 7, {name = \"bob\", "
       "password = \"p\"}]\n",
       80, "bob=p;",
       "users.users_list entry 0 has no string name and password, skipped\n"
       "users.users_list entry 1 has no string name and password, skipped\n"},
  };
  for (const config_case& c : cases) {
    testing_support::temp_directory dir(testing_support::temp_directory::current::enter);
    if (c.file) dir.write("zor_ndb.toml", *c.file);
    user_table users{{"stale", "entry"}};
    server_limits limits;
    testing::internal::CaptureStdout();
    const uint16_t port = read_configuration(users, limits);
    const std::string messages = without_addresses(testing::internal::GetCapturedStdout());
    const std::string label = c.file ? *c.file : "(no file)";
    EXPECT_EQ(port, c.port) << label;
    EXPECT_EQ(render(users), c.users) << label;
    EXPECT_EQ(messages, c.messages) << label;
  }
}

TEST(ServerConfig, OversizedFileIsNotRead) {
  testing_support::temp_directory dir(testing_support::temp_directory::current::enter);
  std::string text = "[server]\nport = 80\n";
  text += "pad = \"" + std::string(max_configuration_size, 'x') + "\"\n";
  dir.write("zor_ndb.toml", text);
  user_table users;
  server_limits limits;
  testing::internal::CaptureStdout();
  EXPECT_EQ(read_configuration(users, limits), default_port);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "zor_ndb.toml is larger than 4194304 bytes, not read\nerror at position: 0\n");
}

TEST(ServerConfig, LimitsTakeTheirDefaultsWhenMissingMistypedOrOutOfRange) {
  struct limits_case {
    std::string table;  // the [limits] lines
    int64_t send_timeout_s;
    int64_t max_frame_bytes;
    int64_t max_tracked_addresses;
    const char* messages;
  };
  const limits_case cases[] = {
      {"", 60, 64 << 20, 1000000, ""},
      {"send_timeout_s = 2\nmax_frame_bytes = 4294967294\nmax_tracked_addresses = 5\n", 2,
       4294967294, 5, ""},
      {"send_timeout_s = \"2\"\nmax_frame_bytes = 4294967295\nmax_tracked_addresses = 0\n", 60,
       64 << 20, 1000000,
       "limits.send_timeout_s in zor_ndb.toml is not an integer, using 60\n"
       "limits.max_frame_bytes in zor_ndb.toml is outside 1..4294967294, using 67108864\n"
       "limits.max_tracked_addresses in zor_ndb.toml is outside 1..100000000, using 1000000\n"},
  };
  for (const limits_case& c : cases) {
    testing_support::temp_directory dir(testing_support::temp_directory::current::enter);
    dir.write("zor_ndb.toml",
              "[server]\nport = 80\n[users]\nusers_list = []\n[limits]\n" + c.table);
    user_table users;
    server_limits limits;
    limits.login_timeout_s = 1;  // reset by the reading
    testing::internal::CaptureStdout();
    EXPECT_EQ(read_configuration(users, limits), 80) << c.table;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.messages) << c.table;
    EXPECT_EQ(limits.send_timeout_s, c.send_timeout_s) << c.table;
    EXPECT_EQ(limits.max_frame_bytes, c.max_frame_bytes) << c.table;
    EXPECT_EQ(limits.max_tracked_addresses, c.max_tracked_addresses) << c.table;
    EXPECT_EQ(limits.login_timeout_s, 10) << c.table;
  }
}

// Persistence is off (no directory) unless the table names one; each key falls back alone.
TEST(ServerConfig, PersistenceKeysTakeTheirDefaultsWhenMissingOrMistyped) {
  struct persistence_case {
    std::string table;  // the [persistence] lines, table header included
    std::string directory;
    bool append_log;
    std::string fsync;
    int64_t snapshot_every_s;
    const char* messages;
  };
  const persistence_case cases[] = {
      {"", "", true, "everysec", 300, ""},
      {"[persistence]\ndirectory = \"d\"\nappend_log = false\nfsync = \"always\"\n"
       "snapshot_every_s = 0\n",
       "d", false, "always", 0, ""},
      {"[persistence]\ndirectory = 3\nappend_log = 1\nfsync = \"sometimes\"\n"
       "snapshot_every_s = -1\n",
       "", true, "everysec", 300,
       "persistence.directory in zor_ndb.toml is not a non-empty string, using none\n"
       "persistence.append_log in zor_ndb.toml is not a boolean, using true\n"
       "persistence.fsync in zor_ndb.toml is not \"always\", \"everysec\" or \"no\", using "
       "everysec\n"
       "persistence.snapshot_every_s in zor_ndb.toml is not an integer of at least 0, using 300\n"},
  };
  for (const persistence_case& c : cases) {
    testing_support::temp_directory dir(testing_support::temp_directory::current::enter);
    dir.write("zor_ndb.toml", "[server]\nport = 80\n[users]\nusers_list = []\n" + c.table);
    user_table users;
    server_limits limits;
    persistence_settings settings;
    settings.directory = "left over";  // reset by the reading
    testing::internal::CaptureStdout();
    EXPECT_EQ(read_configuration(users, limits, settings), 80) << c.table;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.messages) << c.table;
    EXPECT_EQ(settings.directory, c.directory) << c.table;
    EXPECT_EQ(settings.append_log, c.append_log) << c.table;
    EXPECT_EQ(settings.fsync, c.fsync) << c.table;
    EXPECT_EQ(settings.snapshot_every_s, c.snapshot_every_s) << c.table;
  }
}

}  // namespace
}  // namespace qn::config
