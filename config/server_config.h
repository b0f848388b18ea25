// Server configuration: the port and the users read from zor_ndb.toml at start-up.
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

// Reads zor_ndb.toml from the current directory and returns the low 16 bits of server.port;
// fills `users` (cleared first) from users.users_list, the first entry of a name winning.
// A text that does not parse prints "error at position: N" and gives default_port and no users;
// a document that cannot be built gives the same after the reader's own message.
uint16_t read_configuration(user_table& users);

}  // namespace qn::config
