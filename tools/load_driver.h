// The load tool's driver: N connections (logged in, or greeted with a PING in RESP) on one epoll
// thread, each with exactly one request outstanding. Owns its sockets; used by one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/latency_histogram.h"
#include "tools/load_options.h"

namespace qn::tools {

struct phase_result {
  uint64_t requests = 0;  // replies received
  uint64_t failures = 0;  // replies with status 1; in RESP, replies of a kind not accepted
  double seconds = 0;
  double cpu_seconds = 0;  // this process's user and system time over the phase
  latency_histogram latency;
};

class load_driver {
 public:
  ~load_driver();

  // Connects and logs in `options.connections` connections, one after the other. Every wait is
  // bounded (the connect by 5 s, each wait for a reply by 10 s). On failure returns false with a
  // one-line message in `error`; the connections made so far are closed by the destructor.
  [[nodiscard]] bool open(const load_options& options, std::string& error);

  // Sends one command on the first connection and waits for its whole reply (bytes included).
  // Used for setup (create, erase). False on a broken connection, a reply that is not of the
  // protocol, or a server that does not answer in time; last_error() then says which.
  [[nodiscard]] bool run_one(const std::string& line, std::string& reply);

  // Sends commands from `next` (called with the connection index; returns false when there is
  // nothing more to send) on every connection until `next` is exhausted or `seconds` have passed
  // (0: no time limit), recording each reply's latency. In RESP, a reply whose kind is not in
  // `resp_accepts` counts as failed. False on a broken connection, a reply that is not of the
  // protocol, or a server that answers nothing in time; last_error() then says which.
  [[nodiscard]] bool run_phase(const std::function<bool(int, std::string&)>& next, double seconds,
                               unsigned resp_accepts, phase_result& out);

  // Why the last run_one or run_phase failed, as a one-line message.
  const std::string& last_error() const { return error_; }

 private:
  struct conn {
    int fd = -1;
    std::string in;
    bool waiting = false;
    uint64_t sent_at = 0;
  };
  bool send_request(conn& c, const std::string& line);
  // Keeps `message` for last_error() and returns false.
  bool fail(std::string message);

  std::vector<conn> conns_;
  wire_protocol protocol_ = wire_protocol::zor;
  std::string out_;  // the request being sent, reused
  int epoll_fd_ = -1;
  std::string error_;
};

}  // namespace qn::tools
