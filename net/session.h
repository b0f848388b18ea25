// Session protocol of one connection: request frame assembly, the login exchange, the command
// exchange and the reply frames. A connection is handled by one worker at a time (one receive or
// send outstanding), so its fields need no lock, except the two deadlines, which the listener's
// sweep reads from another thread; the throttle and the registry lock themselves.
//
// Request frame: u32 payload length, then the payload (a login first, command lines after). The
// length 0xFFFFFFFF closes the connection. Until a login succeeds every receive that leaves the
// frame incomplete counts as a failed attempt with the login throttle. The session never sends:
// it leaves the reply frame in the connection and says so; the caller sends it and reports back.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/registry.h"
#include "net/completion_port.h"
#include "net/login_throttle.h"
#include "values/user_table.h"

namespace qn::net {

// What every connection of a listener start shares; read-only while connections exist.
struct session_context {
  db::nosql::container_registry* registry = nullptr;
  const user_table* users = nullptr;  // null: every login fails
  login_throttle* throttle = nullptr;
  // A login frame with a longer payload is refused at once, before it is gathered or digested.
  uint32_t max_login_bytes = 4096;
  // A logged-in frame with a longer payload closes the connection.
  uint32_t max_frame_bytes = 64u << 20;
  // Writes one warning line (the frame limit); may be empty.
  std::function<void(const std::string&)> warn;
};

// Steady-clock time in milliseconds, the unit of the connection deadlines (0 means none).
int64_t steady_now_ms();

// One accepted connection. Its io_operation base is what the completion port hands back.
// Owned by the listener run that accepted it; released when the connection closes.
struct connection : io_operation {
  static constexpr uint32_t receive_capacity = 32768;

  // What to do once the reply frame has left.
  enum class after_reply : uint8_t { receive, count_failure, count_failure_and_close };

  std::array<char, receive_capacity> receive_area;
  uint32_t expected_length = 0;  // payload length of the frame being assembled
  std::string request;           // bytes of that frame, length prefix included
  bool is_logged_in = false;
  std::string client_address;  // dotted-decimal peer address
  const session_context* context = nullptr;
  std::string reply;          // storage of a command reply frame
  std::string_view outgoing;  // the reply frame to send (in `reply` or static)
  after_reply then = after_reply::receive;
  // Steady-clock ms after which the connection is closed: not logged in by then, and the reply
  // under way not gone by then. 0: no such deadline.
  std::atomic<int64_t> login_deadline{0};
  std::atomic<int64_t> send_deadline{0};
};

// What the caller does next with a connection.
enum class session_step {
  receive,  // post the next receive
  send,     // send c.outgoing, then call reply_sent
  close,    // close the connection
};

// Handles a completed receive of `bytes` (> 0) bytes in c.receive_area.
[[nodiscard]] session_step receive_bytes(connection& c, uint32_t bytes);

// The whole of c.outgoing has left: counts a failed login if one is pending and forgets the
// reply. Returns receive or close.
[[nodiscard]] session_step reply_sent(connection& c);

}  // namespace qn::net
