// Server configuration: the port, the users and the limits read from zor_ndb.toml at start-up.
// Runs once on the main thread before the listener exists; the user table it fills is read
// without a lock afterwards and never changes.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "values/user_table.h"

namespace qn::config {

inline constexpr uint16_t default_port = 55554;

// zor_ndb.toml larger than this is not read (the configuration is treated as empty): the
// parse tree of a text costs tens of bytes per input byte.
inline constexpr size_t max_configuration_size = 4u << 20;

// The optional [limits] table: bounds against misbehaving clients (docs/configuration.md).
struct server_limits {
  int64_t send_timeout_s = 60;
  int64_t login_timeout_s = 10;
  int64_t max_login_bytes = 4096;
  int64_t max_frame_bytes = int64_t{64} << 20;
  int64_t max_connections = 10000;
  int64_t max_tracked_addresses = 1000000;
  int64_t worker_concurrency = 0;   // 0: the processors the process may run on, at most 16
  int64_t max_hash_slot_bytes = 0;  // 0: the machine's physical memory
};

// The optional [persistence] table (docs/configuration.md). An empty directory: nothing is kept.
struct persistence_settings {
  std::string directory;  // relative to the working directory; created when missing
  bool append_log = true;
  std::string fsync = "everysec";  // "always", "everysec" or "no"
  int64_t snapshot_every_s = 300;  // 0: only by snapshot_log_bytes
  int64_t snapshot_log_bytes = int64_t{256} << 20;
};

// Reads zor_ndb.toml from the current directory and returns the low 16 bits of server.port;
// fills `users` (cleared first) from users.users_list, the first entry of a name winning, and
// `limits` (reset first) from the [limits] table: a missing key keeps its default silently, a key
// that is not an integer or lies outside its range keeps it after one printed line.
// A text that does not parse prints "error at position: N" and gives default_port, no users and
// the default limits; a document that cannot be built gives the same after the reader's own
// message.
uint16_t read_configuration(user_table& users, server_limits& limits);
// As above, and fills `persistence` (reset first) from the [persistence] table the same way: a
// missing key keeps its default, a key of the wrong type or out of range keeps it after a line.
uint16_t read_configuration(user_table& users, server_limits& limits,
                            persistence_settings& persistence);

}  // namespace qn::config
