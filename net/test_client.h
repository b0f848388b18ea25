// Blocking loopback client and frame helpers for the network and end-to-end tests.
// Each client object is used by one thread; it owns its socket.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace qn::net::testing {

// Hexadecimal replies: login success, login or command failure, a command reply with no items
// (length 9, status 0, item count 0).
inline constexpr char success_reply[] = "0100000000";
inline constexpr char failure_reply[] = "0100000001";
inline constexpr char empty_reply[] = "09000000000000000000000000";

// A request frame: u32 little-endian payload length, then the payload.
std::string frame_of(std::string_view payload);
// A login payload: u32 name length, name, u32 password length, password (two frames' worth).
std::string login_payload(std::string_view name, std::string_view password);
// Lower-case hexadecimal text of bytes, for readable comparisons.
std::string to_hex(std::string_view bytes);
// The IPv4 socket address of `address` (dotted decimal) and `port`.
sockaddr_in loopback(const char* address, uint16_t port);
// A TCP port on 127.0.0.1 that nothing listens on right now.
uint16_t find_free_port();

// True for a whole reply frame (as request returns it) whose status byte is 0.
inline bool is_success(std::string_view frame) { return frame.size() > 4 && frame[4] == 0; }
// The last eight bytes of a reply frame as a little-endian u64 (a count or a handle); UINT64_MAX
// for a failure.
uint64_t last_u64(std::string_view frame);

class test_client {
 public:
  // Connects to 127.0.0.1:port from the address `source` (bound before connecting, so tests can
  // speak from 127.0.0.2 and the like). Replies are awaited at most 20 seconds
  // (sanitizer builds on a loaded machine are slow). A non-zero
  // `receive_buffer` fixes the kernel receive buffer (no autotuning) in bytes.
  explicit test_client(uint16_t port, const char* source = "127.0.0.1", int receive_buffer = 0);
  ~test_client();
  test_client(const test_client&) = delete;
  test_client& operator=(const test_client&) = delete;

  bool is_connected() const { return socket_ >= 0; }
  int fd() const { return socket_; }
  [[nodiscard]] bool send_raw(std::string_view bytes);
  [[nodiscard]] bool send_frame(std::string_view payload) { return send_raw(frame_of(payload)); }
  // One whole reply frame, prefix included; empty when the connection closed or timed out.
  std::string read_reply();
  // Sends one frame and returns its whole reply frame (empty as for read_reply).
  std::string request(std::string_view payload);
  // Sends a login frame and returns the hexadecimal reply ("0100000000" on success).
  std::string login(std::string_view name, std::string_view password);
  bool log_in(std::string_view name, std::string_view password) {
    return login(name, password) == success_reply;
  }
  // Sends a command frame and returns the hexadecimal reply.
  std::string command(std::string_view line) { return to_hex(request(line)); }
  // True when the server ends the connection (end of stream, reset or hang-up) within `limit`,
  // whether or not what it sent before has been read.
  bool is_closed_by_server(std::chrono::milliseconds limit = std::chrono::seconds(20));

 private:
  bool read_exactly(char* out, size_t n);
  int socket_ = -1;
};

}  // namespace qn::net::testing
