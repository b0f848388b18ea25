// The listener: restart loop, accept loop and sixteen completion-port workers per start, with its
// stop flag, pause flag, published listening socket and the database registry it serves.
// The embedder (the server program, a test) owns the listener object and with it that state;
// nothing here is process-wide. The flags and published values are atomics, safe from any thread;
// one restart loop runs at a time per listener.
//
// Teardown order (stop or pause): close the listening socket, post one exit packet per worker and
// join the workers, then close the connections still open, then (stop only) release the registry,
// and last publish the listening socket as -1. No command can be running when the registry goes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/registry.h"
#include "net/login_throttle.h"
#include "net/session.h"

namespace qn::net {

inline constexpr int worker_count = 16;
inline constexpr int listen_backlog = 1024;
inline constexpr int socket_buffer_bytes = 524288;

// Bounds that keep misbehaving clients from taking the server down; none of them changes anything
// for a client that logs in promptly, reads its replies and sends frames of a sane size.
struct listener_limits {
  // Longest a whole reply frame may take to leave before the connection is closed.
  std::chrono::milliseconds send_timeout{std::chrono::seconds(60)};
  // Longest a connection may stay open without a successful login.
  std::chrono::milliseconds login_timeout{std::chrono::seconds(10)};
  uint32_t max_login_bytes = 4096;       // see session_context
  uint32_t max_frame_bytes = 64u << 20;  // see session_context; at most 0xFFFFFFFE
  // Connections open at once; further ones are accepted and closed at once.
  uint32_t max_connections = 10000;
  // Workers that run at once (1..worker_count); the others wait on the port for a turn.
  unsigned worker_concurrency = worker_count;
};

struct listener_options {
  uint16_t port = 0;
  std::string bind_address = "0.0.0.0";  // IPv4 dotted-decimal; tests use 127.0.0.1
  const user_table* users = nullptr;     // must outlive the restart loop; null: no login succeeds
  // Runs once, on the first start, after the registry is created and before any socket is opened
  // (the server passes the start-up script runner here).
  std::function<void(db::nosql::container_registry&)> on_first_start;
  // Runs once, just before the registry is destroyed at the stop, when no command runs any more
  // (the server takes its last snapshot and syncs its command log there). The stop waits for it.
  std::function<void(db::nosql::container_registry&)> on_release;
  // Must outlive the listener; it outlives restarts too. Null: the listener keeps one of its own
  // with the production settings.
  login_throttle* throttle = nullptr;
  listener_limits limits;
  // Writes one warning line (refused frames and connections); standard output when empty.
  std::function<void(const std::string&)> warn;
};

class listener {
 public:
  explicit listener(listener_options options);
  // Releases a registry left over. Requires: no restart loop or listener start running.
  ~listener();
  listener(const listener&) = delete;
  listener& operator=(const listener&) = delete;

  // One listener start: creates the registry on the first start, opens the socket, starts the
  // workers and accepts until a stop or pause. Returns 0 after a stop or pause; -1 when the
  // socket, binding, listening, the completion port or a worker thread could not be set up (after
  // printing the message). Never returns 1: there is no socket library to start on this platform.
  int run_once();

  // Body of the listener thread: runs the listener again after a failure (200 ms later) or a pause
  // (idling while paused) until the stop flag is set. When it ends on the stop flag with the
  // registry still there (stopped while paused, or while binding kept failing) it releases the
  // registry itself, so that a waiting stop_request returns.
  void restart_loop();

  // Sets the stop flag and wakes the accept loop, then waits (10 ms polls) until the listening
  // socket is -1 and the registry is released. Returns at once when neither a listener nor a
  // registry exists. Requires: not called from a worker or the listener thread.
  void stop_request();
  // Sets the pause flag and wakes the accept loop; the listener tears down, keeping the registry.
  void pause();
  // Clears the pause flag; the restart loop starts a new listener on the same registry.
  void resume();

  // The published listening socket, or -1 while no listener accepts.
  int listening_socket() const { return published_socket_.load(); }
  bool is_stop_requested() const { return stop_flag_.load(); }
  bool is_paused() const { return pause_flag_.load(); }
  // True while the registry exists (from the first start until a stop).
  bool has_registry() const { return registry_.load() != nullptr; }

 private:
  class run;
  void wake() const;
  void drain_wake() const;
  void wait_for_wake(int timeout_ms) const;
  void release_registry();
  void accept_connections(int listening, run& r);

  const listener_options options_;
  std::unique_ptr<login_throttle> own_throttle_;  // when the options name none
  login_throttle& throttle_;
  std::atomic<bool> stop_flag_{false};
  std::atomic<bool> pause_flag_{false};
  std::atomic<int> published_socket_{-1};
  std::atomic<db::nosql::container_registry*> registry_{nullptr};
  // Wakes the accept loop and the paused restart loop; open for the object's whole life, so a
  // wake from any thread never hits a reused descriptor.
  const int wake_fd_;
};

}  // namespace qn::net
