// Session protocol of one connection: request frame assembly, the login exchange, the command
// exchange and the reply frames. A connection is handled by one worker at a time (one receive
// outstanding), so its fields need no lock; the throttle and the registry lock themselves.
//
// Request frame: u32 payload length, then the payload (a login first, command lines after). The
// length 0xFFFFFFFF closes the connection. Until a login succeeds every receive that leaves the
// frame incomplete counts as a failed attempt with the login throttle.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "engine/registry.h"
#include "net/completion_port.h"
#include "net/login_throttle.h"
#include "values/user_table.h"

namespace qn::net {

// Longest a whole reply frame may take to leave unless the listener is told otherwise.
inline constexpr std::chrono::milliseconds default_send_timeout{10000};

// One accepted connection. Its io_operation base is what the completion port hands back.
// Owned by the listener run that accepted it; released when the connection closes.
struct connection : io_operation {
  static constexpr uint32_t receive_capacity = 32768;

  std::array<char, receive_capacity> receive_area;
  uint32_t expected_length = 0;  // payload length of the frame being assembled
  std::string request;           // bytes of that frame, length prefix included
  bool is_logged_in = false;
  std::string client_address;  // dotted-decimal peer address
  db::nosql::Registry* registry = nullptr;
  const user_table* users = nullptr;  // null: every login fails
  login_throttle* throttle = nullptr;
  // Budget for sending one whole reply; a peer that has not taken it all by then is cut off.
  std::chrono::milliseconds send_timeout = default_send_timeout;
};

// Handles a completed receive of `bytes` (> 0) bytes in c.receive_area. Returns true to keep the
// connection (the caller posts the next receive), false to close it.
[[nodiscard]] bool receive_bytes(connection& c, uint32_t bytes);

// Sends all of `bytes`, retrying partial sends, without SIGPIPE, and gives the whole of them
// `timeout` (steady clock) however slowly the peer reads. Returns false on the first send error or
// when the time is up with bytes still unsent; the caller then closes the connection. Does not
// depend on the socket's blocking mode or SO_SNDTIMEO.
[[nodiscard]] bool send_whole(int socket, std::string_view bytes,
                              std::chrono::milliseconds timeout);

}  // namespace qn::net
