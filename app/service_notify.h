// The systemd notify protocol, written by hand: one datagram per state report to the unix socket
// named by NOTIFY_SOCKET. Stateless; callable from any thread (not from signal handlers).
//
// Reports used by the server (see packaging/zor_nosql_server.service):
//   "STATUS=start pending"                while the listener has not published its socket
//   "READY=1\nSTATUS=running"             once the listening socket exists
//   "STATUS=pause pending" / "STATUS=paused"
//   "STATUS=continue pending" / "STATUS=running"
//   "STOPPING=1\nSTATUS=stop pending", then "STATUS=stopped"
// RELOADING=1 is not used for pause and continue: systemd reads it as a configuration reload and
// would show the unit as "reloading" for the whole pause.
#pragma once

#include <string>
#include <string_view>

namespace qn::app {

// Sends `message` as one datagram to `socket_address`: an absolute path, or a name starting with
// '@' for the abstract namespace. Returns false when the address is empty, of another form (such
// as "vsock:"), too long, or the send fails.
[[nodiscard]] bool send_notify(std::string_view socket_address, std::string_view message);

// The service's channel to systemd: the NOTIFY_SOCKET address taken once, at construction.
// Without one (started by hand) every report is dropped.
class service_notifier {
 public:
  service_notifier() = default;
  explicit service_notifier(std::string socket_address) : address_(std::move(socket_address)) {}
  // Reads NOTIFY_SOCKET; empty when it is not set.
  static service_notifier from_environment();

  bool is_active() const { return !address_.empty(); }
  // Returns false when inactive or the send failed; the server goes on either way.
  bool report(std::string_view message) const {
    return is_active() && send_notify(address_, message);
  }

 private:
  std::string address_;
};

}  // namespace qn::app
