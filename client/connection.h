// A client session over one TCP connection: connect, log in, one command at a time.
// A connection object is used by one thread at a time; it owns its socket.
//
// The protocol allows one outstanding request per connection and carries no request ids, so a
// connection whose exchange was cut short (timeout, broken connection, reply that does not decode)
// can never be resynchronised: it is closed at once, and every later call answers not_connected.
// Every wait on the network is bounded: the connect by the connect timeout, every wait for the
// socket to become readable or writable by the I/O timeout.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "client/frame.h"

namespace qn::client {

enum class result {
  ok,                 // done; for a command, the server carried it out
  command_failed,     // the server answered status 1: the command was not carried out
  login_refused,      // wrong user name or password
  connect_failed,     // the host did not resolve or the connection could not be made
  connection_closed,  // the server closed the connection or the socket failed
  timed_out,          // a wait on the network passed its timeout
  malformed_reply,    // the reply does not decode
  request_too_long,   // the request cannot be framed (payload over 0xFFFFFFFE bytes)
  not_connected,      // no open connection (never opened, or closed after an earlier error)
};

// A short lower-case description for messages, e.g. "login refused".
std::string_view describe(result r);

struct connect_options {
  std::string host = "127.0.0.1";
  uint16_t port = 55554;
  std::chrono::milliseconds connect_timeout{5000};
  std::chrono::milliseconds io_timeout{30000};
};

class connection {
 public:
  connection() = default;
  ~connection();
  connection(const connection&) = delete;
  connection& operator=(const connection&) = delete;

  // Resolves the host (a numeric address or a name) and connects to the first address that
  // accepts within the connect timeout. Closes an open connection first.
  // Returns ok or connect_failed; `last_error()` then says why.
  [[nodiscard]] result open(const connect_options& options);

  // Sends the login request and waits for its reply. Returns ok, login_refused (the connection
  // stays open; the server may still close it after repeated refusals) or an error.
  [[nodiscard]] result log_in(std::string_view user, std::string_view password);

  // Sends one command line and decodes its reply into `reply`. Returns ok (reply.is_success),
  // command_failed (the server's failure frame; reply has no items) or an error, after which the
  // connection is closed and `reply` is unspecified.
  [[nodiscard]] result execute(std::string_view line, command_reply& reply);

  bool is_open() const { return socket_ >= 0; }
  void close();

  // What went wrong in the last failed call, for messages (system error text or a detail);
  // empty after a call that succeeded.
  const std::string& last_error() const { return last_error_; }

 private:
  // One request frame out, one reply frame in; closes the connection on any error.
  result exchange(const std::string& request, std::string& reply_frame);
  result send_all(std::string_view bytes);
  result receive_frame(std::string& frame);
  result receive_some(std::string& buffer, size_t max_bytes);
  // Waits until the socket is ready for `events` (poll flags) within the I/O timeout.
  result wait_for(short events);
  result fail(result r, std::string detail);

  int socket_ = -1;
  std::chrono::milliseconds io_timeout_{30000};
  std::string last_error_;
};

}  // namespace qn::client
