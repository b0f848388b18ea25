#include "net/listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <vector>

#include "net/completion_port.h"

namespace qn::net {
namespace {

// ---- process-wide state ----

std::atomic<bool> stop_flag{false};
std::atomic<bool> pause_flag{false};
std::atomic<int> published_socket{-1};
std::atomic<db::nosql::Registry*> registry{nullptr};
// Wakes the accept loop and the paused restart loop. Created once and never closed, so writing it
// from any thread (or a signal handler) can never hit a reused descriptor.
const int wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

void wake_listener() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(wake_fd, &one, sizeof one);
}

void drain_wake() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = read(wake_fd, &count, sizeof count);
}

// Waits up to `timeout_ms` (-1: no limit) for a wake-up; async-signal-safe sleeps elsewhere.
void wait_for_wake(int timeout_ms) {
  pollfd p{wake_fd, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) > 0) drain_wake();
}

void sleep_ms(long ms) {
  timespec t{ms / 1000, (ms % 1000) * 1000000};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

void release_registry() { delete registry.exchange(nullptr); }

// ---- one listener start ----

// The completion port, workers and open connections of one listener start.
class listener_run {
 public:
  explicit listener_run(const listener_options& options)
      : options_(options),
        throttle_(options.throttle != nullptr ? *options.throttle : process_throttle()) {}

  bool is_port_valid() const { return port_.is_valid(); }
  // Starts the workers; false (after printing) when a thread cannot be created, with the threads
  // already started ended again.
  bool start_workers();
  // Ends every worker (one exit packet each) and waits for them.
  void stop_workers();
  // Closes every connection still open. Requires: no worker running.
  void close_remaining();
  // Takes one accepted socket: refuses a banned peer, else creates its connection and posts the
  // first receive.
  void take_connection(int socket, const sockaddr_in& peer);

 private:
  void run_worker();
  // Requires: the calling worker holds c (it came from a completion, no receive posted since).
  void close_connection(connection* c);

  const listener_options& options_;
  login_throttle& throttle_;
  completion_port port_;
  std::vector<std::thread> workers_;
  std::mutex connections_mutex_;  // guards connections_
  std::unordered_set<connection*> connections_;
};

bool listener_run::start_workers() {
  workers_.reserve(worker_count);
  for (int i = 0; i < worker_count; ++i) {
    try {
      workers_.emplace_back([this] { run_worker(); });
    } catch (const std::system_error&) {
      std::printf("create thread failed\n");
      // The workers already started are ended: the restart loop creates a new set with its next
      // start.
      stop_workers();
      return false;
    }
  }
  return true;
}

void listener_run::stop_workers() {
  for (size_t i = 0; i < workers_.size(); ++i) {
    while (!port_.post(0, exit_key, nullptr)) sleep_ms(10);
  }
  for (std::thread& t : workers_) t.join();
  workers_.clear();
}

void listener_run::run_worker() {
  for (;;) {
    completion done;
    if (!port_.wait(done)) {
      sleep_ms(1);
      continue;
    }
    if (done.key == exit_key) return;
    auto* c = static_cast<connection*>(done.operation);
    // A receive that failed (reset by the peer and the like) closes the connection, like a
    // zero-byte receive from an orderly close.
    if (done.error != 0 || done.bytes == 0 || !receive_bytes(*c, done.bytes) ||
        !port_.post_receive(*c)) {
      close_connection(c);
    }
  }
}

void listener_run::close_connection(connection* c) {
  {
    std::lock_guard lock(connections_mutex_);
    connections_.erase(c);
  }
  port_.dissociate(*c);
  close(c->socket);
  delete c;
}

void listener_run::close_remaining() {
  std::lock_guard lock(connections_mutex_);
  for (connection* c : connections_) {
    // Abortive close: the server side keeps no TIME_WAIT, so a continue can bind the port again
    // even though address reuse is off.
    const linger abort_close{1, 0};
    setsockopt(c->socket, SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
    port_.dissociate(*c);
    close(c->socket);
    delete c;
  }
  connections_.clear();
}

void listener_run::take_connection(int socket, const sockaddr_in& peer) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
  if (throttle_.is_banned(text)) {
    close(socket);
    return;
  }
  // Replies leave in one send; no reason to let Nagle hold back a partial one.
  const int one = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  auto c = std::make_unique<connection>();
  c->area = c->receive_area.data();
  c->capacity = connection::receive_capacity;
  c->client_address = text;
  c->registry = registry.load();
  c->users = options_.users;
  c->throttle = &throttle_;
  c->send_timeout = options_.send_timeout;
  if (!port_.associate(socket, 0, *c)) {
    std::printf("create iocp for accept socket failed.\n");
    close(socket);
    return;
  }
  connection* raw = c.release();
  {
    std::lock_guard lock(connections_mutex_);
    connections_.insert(raw);
  }
  if (!port_.post_receive(*raw)) {
    std::printf("recv failed with code: %d", errno);
    close_connection(raw);
  }
}

// ---- listening socket ----

void set_option(int socket, int option, int value, const char* message) {
  if (setsockopt(socket, SOL_SOCKET, option, &value, sizeof value) != 0) {
    std::printf(message, std::strerror(errno));
  }
}

// Opens, configures, binds and listens; -1 (after printing) on failure, nothing left open.
int open_listening_socket(const listener_options& options) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (s < 0) {
    std::printf("create socket failed with error %s!\n", std::strerror(errno));
    return -1;
  }
  // On Linux SO_REUSEADDR only lets the bind pass over connections of an earlier listener still in
  // TIME_WAIT (which the server leaves behind whenever it closes first), so a continue after a
  // pause rebinds at once; a second live listener on the port still fails to bind (that would take
  // SO_REUSEPORT).
  set_option(s, SO_REUSEADDR, 1, "setsockopt reuseaddr with error info %s!\n");
  set_option(s, SO_RCVBUF, socket_buffer_bytes, "setsockopt rcvbuf with error info %s!\n");
  set_option(s, SO_SNDBUF, socket_buffer_bytes, "setsockopt sndbuf with error info %s!\n");
  set_option(s, SO_KEEPALIVE, 1, "setsockopt keepalive with error info %s!\n");

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(options.port);
  if (inet_pton(AF_INET, options.bind_address.c_str(), &address.sin_addr) != 1) {
    std::printf("bind err, with error is: %s\n", std::strerror(EINVAL));
    close(s);
    return -1;
  }
  if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    std::printf("bind err, with error is: %s\n", std::strerror(errno));
    close(s);
    return -1;
  }
  if (listen(s, listen_backlog) != 0) {
    std::printf("listen error %s!\n", std::strerror(errno));
    close(s);
    return -1;
  }
  return s;
}

// Accepts until the stop or pause flag is set. The flags are looked at after every accept and
// every wake-up.
void accept_connections(int listening, listener_run& run) {
  for (;;) {
    if (stop_flag.load() || pause_flag.load()) return;
    pollfd p[2] = {{listening, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    if (poll(p, 2, -1) < 0) continue;
    if ((p[1].revents & POLLIN) != 0) {
      drain_wake();
      continue;
    }
    if ((p[0].revents & POLLIN) == 0) continue;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int s = accept4(listening, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (stop_flag.load() || pause_flag.load()) {
      if (s >= 0) close(s);
      return;
    }
    if (s < 0) {
      // Out of descriptors or memory: back off instead of spinning on a pending connection.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) sleep_ms(10);
      continue;
    }
    run.take_connection(s, peer);
  }
}

}  // namespace

// ---- listener ----

int run_listener(const listener_options& options) {
  if (registry.load() == nullptr) {
    auto* created = new db::nosql::Registry;
    registry.store(created);
    if (options.on_first_start) options.on_first_start(*created);
  }
  const int listening = open_listening_socket(options);
  if (listening < 0) return -1;
  listener_run run(options);
  if (!run.is_port_valid()) {
    std::printf("create completion port failed with error %s!\n", std::strerror(errno));
    close(listening);
    return -1;
  }
  if (!run.start_workers()) {
    close(listening);
    return -1;
  }
  published_socket.store(listening);

  accept_connections(listening, run);

  // Teardown. The registry goes only after every worker has ended, so no command runs against it.
  close(listening);
  run.stop_workers();
  // Connections still open are closed here rather than left bound to a port nobody waits on.
  run.close_remaining();
  if (stop_flag.load()) release_registry();
  published_socket.store(-1);
  return 0;
}

void restart_loop(const listener_options& options) {
  while (!stop_flag.load()) {
    if (pause_flag.load()) {
      wait_for_wake(1000);
      continue;
    }
    if (run_listener(options) == -1) sleep_ms(200);
  }
  // Stopped while paused or while the listener could not start: nobody else would release it.
  release_registry();
}

void stop_request() {
  if (published_socket.load() == -1 && registry.load() == nullptr) return;
  stop_flag.store(true);
  wake_listener();
  while (published_socket.load() != -1 || registry.load() != nullptr) sleep_ms(10);
}

void pause_listener() {
  pause_flag.store(true);
  wake_listener();
}

void continue_listener() {
  pause_flag.store(false);
  wake_listener();
}

int listening_socket() { return published_socket.load(); }
bool is_stop_requested() { return stop_flag.load(); }
bool is_paused() { return pause_flag.load(); }
bool has_registry() { return registry.load() != nullptr; }

void reset_listener_state() {
  release_registry();
  stop_flag.store(false);
  pause_flag.store(false);
  drain_wake();
}

}  // namespace qn::net
