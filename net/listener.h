// The listener: restart loop, accept loop and sixteen completion-port workers per start, with the
// process-wide stop flag, pause flag, published listening socket and database registry.
// The flags and published values are atomics, safe from any thread; stop_request, pause_listener
// and continue_listener only store atomics, write an eventfd and sleep, so a signal handler may
// call them. One restart loop runs at a time.
//
// Teardown order (stop or pause): close the listening socket, post one exit packet per worker and
// join the workers, then close the connections still open, then (stop only) release the registry,
// and last publish the listening socket as -1. No command can be running when the registry goes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/registry.h"
#include "net/login_throttle.h"
#include "net/session.h"

namespace qn::net {

inline constexpr int worker_count = 16;
inline constexpr int listen_backlog = 1024;
inline constexpr int socket_buffer_bytes = 524288;

struct listener_options {
  uint16_t port = 0;
  std::string bind_address = "0.0.0.0";  // IPv4 dotted-decimal; tests use 127.0.0.1
  const user_table* users = nullptr;     // must outlive the restart loop; null: no login succeeds
  // Runs once, on the first start, after the registry is created and before any socket is opened
  // (the server passes the start-up script runner here).
  std::function<void(db::nosql::Registry&)> on_first_start;
  login_throttle* throttle = nullptr;  // null: process_throttle()
  // Longest a whole reply frame may take to leave before the connection is closed, so a peer that
  // reads slowly or not at all cannot hold a worker for ever.
  std::chrono::milliseconds send_timeout = default_send_timeout;
};

// One listener start: creates the registry on the first start, opens the socket, starts the
// workers and accepts until a stop or pause. Returns 0 after a stop or pause; -1 when the socket,
// binding, listening, the completion port or a worker thread could not be set up (after printing
// the message). Never returns 1: there is no socket library to start on this platform.
int run_listener(const listener_options& options);

// Body of the listener thread: runs the listener again after a failure (200 ms later) or a pause
// (idling while paused) until the stop flag is set. When it ends on the stop flag with the registry
// still there (stopped while paused, or while binding kept failing) it releases the registry
// itself, so that a waiting stop_request returns.
void restart_loop(const listener_options& options);

// Sets the stop flag and wakes the accept loop, then waits (10 ms polls) until the listening socket
// is -1 and the registry is released. Returns at once when neither a listener nor a registry
// exists. Requires: not called from a worker or the listener thread.
void stop_request();

// Sets the pause flag and wakes the accept loop; the listener tears down, keeping the registry.
void pause_listener();
// Clears the pause flag; the restart loop starts a new listener on the same registry.
void continue_listener();

// The published listening socket, or -1 while no listener accepts.
int listening_socket();
bool is_stop_requested();
bool is_paused();
// True while the registry exists (from the first start until a stop).
bool has_registry();

// Clears the stop and pause flags and releases a registry left over, so that a new restart loop
// can start from scratch. Requires: no restart loop or listener running. For tests and embedders.
void reset_listener_state();

}  // namespace qn::net
