#include "net/listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "net/completion_port.h"

namespace qn::net {
namespace {

// How often the accept loop looks for connections past their login or send deadline.
constexpr int sweep_period_ms = 100;
// How long the accept loop leaves the listening socket alone after running out of descriptors.
constexpr int accept_pause_ms = 100;

void sleep_ms(long ms) {
  timespec t{ms / 1000, (ms % 1000) * 1000000};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

// Lets a repeated message through at most once a second. Used by one thread.
class once_a_second {
 public:
  bool is_due(int64_t now_ms) {
    if (now_ms - last_ms_ < 1000) return false;
    last_ms_ = now_ms;
    return true;
  }

 private:
  int64_t last_ms_ = INT64_MIN / 2;
};

// Closes a socket with a reset rather than an orderly end: unsent bytes are dropped at once
// instead of lingering in the kernel, and the server side keeps no TIME_WAIT.
void close_abortively(int socket) {
  const linger abort_close{1, 0};
  setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
  close(socket);
}

}  // namespace

// ---- one listener start ----

// The completion port, workers and open connections of one listener start.
class listener::run {
 public:
  run(const listener_options& options, login_throttle& throttle,
      db::nosql::container_registry& registry)
      : options_(options), port_(options.limits.worker_concurrency) {
    context_.registry = &registry;
    context_.users = options.users;
    context_.throttle = &throttle;
    context_.max_login_bytes = options.limits.max_login_bytes;
    context_.max_frame_bytes = options.limits.max_frame_bytes;
    context_.warn = options.warn;
  }

  bool is_port_valid() const { return port_.is_valid(); }
  // Starts the workers; false (after printing) when a thread cannot be created, with the threads
  // already started ended again.
  bool start_workers();
  // Ends every worker (one exit packet each) and waits for them.
  void stop_workers();
  // Closes every connection still open. Requires: no worker running.
  void close_remaining();
  // Takes one accepted socket: refuses a banned peer or one over the connection limit, else
  // creates its connection and posts the first receive.
  void take_connection(int socket, const sockaddr_in& peer);
  // Closes the connections past their login or send deadline that no worker holds.
  void sweep();

 private:
  void run_worker();
  // Carries out `step` and what follows from it until the connection waits on the port again or
  // is closed. Requires: the calling worker holds c.
  void advance(connection* c, session_step step);
  // Requires: the calling thread holds c (it came from a completion, no receive posted since).
  void close_connection(connection* c);

  const listener_options& options_;
  session_context context_;
  completion_port port_;
  std::vector<std::thread> workers_;
  std::mutex connections_mutex_;  // guards connections_
  std::unordered_set<connection*> connections_;
  once_a_second refusal_note_;  // accept thread only
};

bool listener::run::start_workers() {
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

void listener::run::stop_workers() {
  for (size_t i = 0; i < workers_.size(); ++i) {
    while (!port_.post(0, exit_key, nullptr)) sleep_ms(10);
  }
  for (std::thread& t : workers_) t.join();
  workers_.clear();
}

void listener::run::run_worker() {
  port_.take_turn();
  for (;;) {
    completion done;
    if (!port_.wait(done)) {
      sleep_ms(1);
      continue;
    }
    if (done.key == exit_key) {
      port_.give_turn();  // a worker still waiting for a turn takes the next exit packet
      return;
    }
    auto* c = static_cast<connection*>(done.operation);
    // A receive or send that failed (reset by the peer and the like) closes the connection, like
    // a zero-byte receive from an orderly close.
    if (done.error != 0 || (!done.is_send && done.bytes == 0)) {
      close_connection(c);
    } else if (done.is_send) {
      c->send_deadline.store(0, std::memory_order_relaxed);
      advance(c, reply_sent(*c));
    } else {
      advance(c, receive_bytes(*c, done.bytes));
    }
  }
}

void listener::run::advance(connection* c, session_step step) {
  while (step == session_step::send) {
    // The deadline is set before the port may take the send over: from then on the connection
    // belongs to whichever thread claims it next.
    c->send_deadline.store(steady_now_ms() + options_.limits.send_timeout.count(),
                           std::memory_order_relaxed);
    switch (port_.start_send(*c, c->outgoing.data(), c->outgoing.size())) {
      case send_state::pending:
        return;
      case send_state::failed:
        step = session_step::close;
        break;
      case send_state::done:
        c->send_deadline.store(0, std::memory_order_relaxed);
        step = reply_sent(*c);
        break;
    }
  }
  if (step == session_step::close || !port_.post_receive(*c)) close_connection(c);
}

void listener::run::close_connection(connection* c) {
  {
    std::lock_guard lock(connections_mutex_);
    connections_.erase(c);
  }
  port_.dissociate(*c);
  close(c->socket);
  delete c;
}

void listener::run::close_remaining() {
  std::lock_guard lock(connections_mutex_);
  for (connection* c : connections_) {
    // Abortive, so a continue can bind the port again at once.
    port_.dissociate(*c);
    close_abortively(c->socket);
    delete c;
  }
  connections_.clear();
}

void listener::run::sweep() {
  const int64_t now = steady_now_ms();
  const auto is_expired = [now](const connection& c) {
    const int64_t login = c.login_deadline.load(std::memory_order_relaxed);
    const int64_t send = c.send_deadline.load(std::memory_order_relaxed);
    return (login != 0 && now >= login) || (send != 0 && now >= send);
  };
  std::vector<connection*> expired;
  std::vector<connection*> given_back;
  {
    std::lock_guard lock(connections_mutex_);
    for (connection* c : connections_) {
      // A connection a worker holds is left for the next sweep. Once held here, the deadlines are
      // read again: the first look may have seen a value its worker had already cleared.
      if (!is_expired(*c) || !port_.try_hold(*c)) continue;
      (is_expired(*c) ? expired : given_back).push_back(c);
    }
    for (connection* c : expired) connections_.erase(c);
  }
  for (connection* c : given_back) {
    if (!port_.post_receive(*c)) close_connection(c);
  }
  for (connection* c : expired) {
    port_.dissociate(*c);
    close_abortively(c->socket);
    delete c;
  }
}

void listener::run::take_connection(int socket, const sockaddr_in& peer) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
  if (context_.throttle->is_banned(text)) {
    close(socket);
    return;
  }
  bool is_full = false;
  {
    std::lock_guard lock(connections_mutex_);
    is_full = connections_.size() >= options_.limits.max_connections;
  }
  if (is_full) {
    // Said before the close, so the line is there by the time the peer sees the end.
    if (refusal_note_.is_due(steady_now_ms())) {
      options_.warn("connection from " + std::string(text) + " refused: max_connections (" +
                    std::to_string(options_.limits.max_connections) + ") are open");
    }
    close_abortively(socket);
    return;
  }
  // Replies leave in one send where the socket takes them; no reason to let Nagle hold back a
  // partial one.
  const int one = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  auto c = std::make_unique<connection>();
  c->area = c->receive_area.data();
  c->capacity = connection::receive_capacity;
  c->client_address = text;
  c->context = &context_;
  c->login_deadline.store(steady_now_ms() + options_.limits.login_timeout.count(),
                          std::memory_order_relaxed);
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

namespace {

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
  // Address reuse is on: on Linux SO_REUSEADDR only lets the bind pass over connections of an
  // earlier listener still in TIME_WAIT (which the server leaves behind whenever it closes first),
  // so a continue after a pause rebinds at once; a second live listener on the port still fails
  // to bind (that would take SO_REUSEPORT).
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

listener_options with_defaults(listener_options options) {
  if (!options.warn) {
    options.warn = [](const std::string& line) { std::printf("%s\n", line.c_str()); };
  }
  return options;
}

bool is_resource_shortage(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

}  // namespace

// ---- listener ----

listener::listener(listener_options options)
    : options_(with_defaults(std::move(options))),
      own_throttle_(options_.throttle == nullptr ? std::make_unique<login_throttle>() : nullptr),
      throttle_(options_.throttle != nullptr ? *options_.throttle : *own_throttle_),
      wake_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

listener::~listener() {
  release_registry();
  if (wake_fd_ >= 0) close(wake_fd_);
}

void listener::wake() const {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(wake_fd_, &one, sizeof one);
}

void listener::drain_wake() const {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = read(wake_fd_, &count, sizeof count);
}

void listener::wait_for_wake(int timeout_ms) const {
  pollfd p{wake_fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) > 0) drain_wake();
}

// The registry stays published until on_release has run, so a waiting stop_request waits for it.
void listener::release_registry() {
  db::nosql::container_registry* registry = registry_.load();
  if (registry == nullptr) return;
  if (options_.on_release) options_.on_release(*registry);
  delete registry_.exchange(nullptr);
}

// Accepts until the stop or pause flag is set, and sweeps the connections every sweep period.
// The flags are looked at after every accept and every wake-up. After running out of
// descriptors (or memory) the listening socket is left alone for a while: the pending connection
// stays in the backlog until a descriptor is free, instead of waking the loop again at once.
void listener::accept_connections(int listening, run& r) {
  once_a_second shortage_note;
  int64_t next_sweep = steady_now_ms() + sweep_period_ms;
  int64_t accept_again = 0;
  for (;;) {
    if (stop_flag_.load() || pause_flag_.load()) return;
    int64_t now = steady_now_ms();
    if (now >= next_sweep) {
      r.sweep();
      next_sweep = now + sweep_period_ms;
    }
    const bool is_accepting = now >= accept_again;
    const int64_t wait = std::min(next_sweep, is_accepting ? next_sweep : accept_again) - now;
    pollfd p[2] = {{wake_fd_, POLLIN, 0}, {listening, POLLIN, 0}};
    if (poll(p, is_accepting ? 2 : 1, static_cast<int>(std::max<int64_t>(wait, 0))) <= 0) continue;
    if ((p[0].revents & POLLIN) != 0) {
      drain_wake();
      continue;
    }
    if (!is_accepting || (p[1].revents & POLLIN) == 0) continue;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int s = accept4(listening, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (stop_flag_.load() || pause_flag_.load()) {
      if (s >= 0) close(s);
      return;
    }
    if (s >= 0) {
      r.take_connection(s, peer);
      continue;
    }
    if (!is_resource_shortage(errno)) continue;
    const int error = errno;
    now = steady_now_ms();
    accept_again = now + accept_pause_ms;
    // On standard output like the other listener messages: the log may need a descriptor.
    if (shortage_note.is_due(now)) std::printf("accept paused: %s\n", std::strerror(error));
  }
}

int listener::run_once() {
  if (registry_.load() == nullptr) {
    auto* created = new db::nosql::container_registry;
    registry_.store(created);
    if (options_.on_first_start) options_.on_first_start(*created);
  }
  const int listening = open_listening_socket(options_);
  if (listening < 0) return -1;
  run r(options_, throttle_, *registry_.load());
  if (!r.is_port_valid()) {
    std::printf("create completion port failed with error %s!\n", std::strerror(errno));
    close(listening);
    return -1;
  }
  if (!r.start_workers()) {
    close(listening);
    return -1;
  }
  published_socket_.store(listening);

  accept_connections(listening, r);

  // Teardown. The registry goes only after every worker has ended, so no command runs against it.
  close(listening);
  r.stop_workers();
  // Connections still open are closed here rather than left bound to a port nobody waits on.
  r.close_remaining();
  if (stop_flag_.load()) release_registry();
  published_socket_.store(-1);
  return 0;
}

void listener::restart_loop() {
  while (!stop_flag_.load()) {
    if (pause_flag_.load()) {
      wait_for_wake(1000);
      continue;
    }
    if (run_once() == -1) sleep_ms(200);
  }
  // Stopped while paused or while the listener could not start: nobody else would release it.
  release_registry();
}

void listener::stop_request() {
  if (published_socket_.load() == -1 && registry_.load() == nullptr) return;
  stop_flag_.store(true);
  wake();
  while (published_socket_.load() != -1 || registry_.load() != nullptr) sleep_ms(10);
}

void listener::pause() {
  pause_flag_.store(true);
  wake();
}

void listener::resume() {
  pause_flag_.store(false);
  wake();
}

}  // namespace qn::net
