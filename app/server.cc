#include "app/server.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "app/detach.h"
#include "app/durability.h"
#include "app/log_mini.h"
#include "app/program_path.h"
#include "app/service_notify.h"
#include "app/signals.h"
#include "config/server_config.h"
#include "config/startup_script.h"
#include "containers/hash.h"
#include "net/listener.h"

namespace qn::app {
namespace {

using namespace std::chrono_literals;

// ---- process-wide lifecycle state ----

// Requests posted by the signal thread (and the terminate handler) for the main thread.
enum request_bit : unsigned { stop_bit = 1, pause_bit = 2, continue_bit = 4 };

struct lifecycle {
  std::mutex mutex;
  std::condition_variable changed;
  unsigned requests = 0;        // guarded by mutex: bits not yet taken by the main thread
  bool is_stop_wanted = false;  // guarded by mutex: set by the first stop request, never cleared
  // Written by the server main before the signal thread starts; read-only afterwards.
  bool is_service = false;
  service_notifier notifier;
  // The listener with the database and its stop and pause state, and the login throttle it uses;
  // created by the server main once the configuration is read and kept for the whole process, so
  // that the exit and terminate handlers can always reach them. Null before.
  std::atomic<net::listener*> listener{nullptr};
};

// Never destroyed: the signal thread and the exit handler use it while static objects are being
// destroyed at process exit.
lifecycle& process_lifecycle() {
  static lifecycle* const state = new lifecycle;
  return *state;
}

void post_request(unsigned bit) {
  lifecycle& life = process_lifecycle();
  {
    std::lock_guard lock(life.mutex);
    life.requests |= bit;
    if (bit == stop_bit) life.is_stop_wanted = true;
  }
  life.changed.notify_all();
}

bool is_stop_wanted() {
  lifecycle& life = process_lifecycle();
  std::lock_guard lock(life.mutex);
  return life.is_stop_wanted;
}

// Waits up to `limit` for a request and takes every bit posted so far. A stop stays visible.
unsigned take_requests(std::chrono::milliseconds limit) {
  lifecycle& life = process_lifecycle();
  std::unique_lock lock(life.mutex);
  life.changed.wait_for(lock, limit, [&] { return life.requests != 0 || life.is_stop_wanted; });
  const unsigned taken = std::exchange(life.requests, 0u);
  return life.is_stop_wanted ? (taken | stop_bit) : taken;
}

// ---- handlers ----

// Runs on the signal thread, one signal at a time. It only logs and posts; the main thread does
// the stopping, pausing and continuing, so a repeated signal is taken at once and a second stop
// request simply finds the first one under way.
void on_signal(int signal_number) {
  switch (signal_number) {
    case SIGINT:
      log_note("want to exit by ctrl-c\n");
      post_request(stop_bit);
      break;
    case SIGTERM:
      // systemd stops a service with SIGTERM (systemctl stop, shutdown): in service mode that is
      // the ordinary stop control and is logged as a note. In the console nobody but another
      // process sends it, which the log marks as abnormal. The stop is orderly and the exit
      // code 0 either way.
      if (process_lifecycle().is_service) {
        log_note("stop by the service manager, signal: %d\n", signal_number);
      } else {
        log_warn("catch signal: %d, abnormal.\n", signal_number);
      }
      post_request(stop_bit);
      break;
    case SIGHUP:
      // The terminal went away: the console-close event. The signal number stands for the
      // control type.
      log_warn("catch by ctrl_handler %d\n", signal_number);
      post_request(stop_bit);
      break;
    case pause_signal:
      log_note("pause requested, signal: %d\n", signal_number);
      post_request(pause_bit);
      break;
    case continue_signal:
      log_note("continue requested, signal: %d\n", signal_number);
      post_request(continue_bit);
      break;
    default:
      break;
  }
}

void sleep_for(std::chrono::milliseconds span) { std::this_thread::sleep_for(span); }

// Stops the listener if there is one (see net::listener::stop_request).
void stop_listener_request() {
  net::listener* l = process_lifecycle().listener.load();
  if (l != nullptr) l->stop_request();
}

// Runs the stop request on a helper thread and waits for it at most `limit`. For the terminate
// handler, which may run on the listener thread or a worker, where the stop request would wait
// for the very thread it runs on.
void stop_within(std::chrono::milliseconds limit) {
  auto is_done = std::make_shared<std::atomic<bool>>(false);
  try {
    std::thread([is_done] {
      stop_listener_request();
      is_done->store(true);
    }).detach();
  } catch (const std::system_error&) {
    return;
  }
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!is_done->load() && std::chrono::steady_clock::now() < end) sleep_for(10ms);
}

// An uncaught exception (only std::bad_alloc can get this far). A terminate handler must not
// return, so after the stop it ends the process with abort(), as the runtime would.
[[noreturn]] void at_terminate() {
  log_warn("at_terminate!\n");
  post_request(stop_bit);
  stop_within(5000ms);
  process_lifecycle().notifier.report("STOPPING=1\nSTATUS=stopped");
  std::abort();
}

// Process exit: after the server main returned, or exit() called anywhere. The stop request
// returns at once when the listener has already gone.
void at_exit() {
  log_note("will be exit!\n");
  stop_listener_request();
  log_note("exit successful!\n");
}

// Returns false (after printing) when the signal thread cannot be started.
bool install_handlers() {
  block_process_signals();  // before any other thread exists, so that all of them inherit it
  install_fatal_signal_handlers();
  std::set_terminate(at_terminate);
  std::atexit(at_exit);
  return start_signal_thread(on_signal);
}

// ---- listener control (main thread only) ----

enum class listener_state { starting, running, pausing, paused, continuing };

// Follows the requests until a stop, reporting the listener's states. Polls the listening socket
// every 10 ms while a change is under way, else sleeps up to 100 seconds at a time; a request
// wakes it at once.
void serve_until_stop(net::listener& listener, const service_notifier& notifier) {
  listener_state state = listener_state::starting;
  for (;;) {
    const bool is_changing = state != listener_state::running && state != listener_state::paused;
    const unsigned requests = take_requests(is_changing ? 10ms : 100000ms);
    if ((requests & stop_bit) != 0) return;
    if ((requests & pause_bit) != 0) {
      if (state == listener_state::starting) {
        // Not before the first start: the registry does not exist yet, and a stop during such a
        // pause could never be told apart from a stop before the start.
        log_note("pause ignored: the listener has not started yet\n");
      } else if (state == listener_state::running || state == listener_state::continuing) {
        listener.pause();
        state = listener_state::pausing;
        notifier.report("STATUS=pause pending");
      }
    }
    if ((requests & continue_bit) != 0 &&
        (state == listener_state::pausing || state == listener_state::paused)) {
      listener.resume();
      state = listener_state::continuing;
      notifier.report("STATUS=continue pending");
    }
    const bool is_listening = listener.listening_socket() != -1;
    if (state == listener_state::starting && is_listening) {
      state = listener_state::running;
      notifier.report("READY=1\nSTATUS=running");
    } else if (state == listener_state::pausing && !is_listening) {
      state = listener_state::paused;
      notifier.report("STATUS=paused");
    } else if (state == listener_state::continuing && is_listening) {
      state = listener_state::running;
      notifier.report("STATUS=running");
    }
  }
}

// Sets the stop flag for good and waits for the listener thread to end.
void stop_listener(net::listener& listener, std::thread& thread) {
  // stop_request returns at once, without setting the stop flag, while neither a listening socket
  // nor the registry exists. The listener thread creates the registry first thing (a pause is
  // never taken before that), so the flag is set within moments.
  while (!listener.is_stop_requested()) {
    listener.stop_request();
    if (!listener.is_stop_requested()) sleep_for(10ms);
  }
  listener.stop_request();  // waits for the teardown when another thread set the flag first
  thread.join();
}

// Raises the soft descriptor limit to the hard one, so that the connection limit, not a default
// soft limit of 1024, decides how many clients are served.
void raise_descriptor_limit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
    std::printf("raising the descriptor limit failed with error %s\n", std::strerror(errno));
  }
}

// The processors this process may run on: its affinity mask, so a server started under taskset
// or in a cpuset runs no more workers at once than it has processors (more only time-share them
// and lengthen the tail); the online processors when the mask cannot be read.
long usable_processors() {
  cpu_set_t mask;
  if (sched_getaffinity(0, sizeof(mask), &mask) == 0 && CPU_COUNT(&mask) > 0) {
    return CPU_COUNT(&mask);
  }
  return sysconf(_SC_NPROCESSORS_ONLN);
}

net::listener_limits listener_limits_of(const config::server_limits& limits) {
  net::listener_limits out;
  out.send_timeout = std::chrono::seconds(limits.send_timeout_s);
  out.login_timeout = std::chrono::seconds(limits.login_timeout_s);
  out.max_login_bytes = static_cast<uint32_t>(limits.max_login_bytes);
  out.max_frame_bytes = static_cast<uint32_t>(limits.max_frame_bytes);
  out.max_connections = static_cast<uint32_t>(limits.max_connections);
  out.worker_concurrency = static_cast<unsigned>(
      limits.worker_concurrency != 0 ? limits.worker_concurrency
                                     : std::clamp<long>(usable_processors(), 1, net::worker_count));
  return out;
}

// The address the listener binds: ZOR_BIND_ADDRESS when set (the end-to-end tests keep the server
// on 127.0.0.1 this way), else every interface.
std::string bind_address() {
  const char* address = std::getenv("ZOR_BIND_ADDRESS");
  return address != nullptr && address[0] != '\0' ? std::string(address) : "0.0.0.0";
}

}  // namespace

// ---- server main ----

int run_server(bool is_service) {
  // The locale is usually not installed on Linux; setlocale then fails and the "C" locale stays,
  // which changes nothing here: texts are handled as bytes, and both write numbers alike.
  std::setlocale(LC_ALL, "zh_CN.UTF-8");

  lifecycle& life = process_lifecycle();
  life.is_service = is_service;
  if (is_service) life.notifier = service_notifier::from_environment();
  if (!install_handlers()) return -1;

  std::printf("zor_sql_s(nos) version: %s by %s, mail: %s. code : %s.\n", version_text, author_text,
              contact_text, release_name);

  raise_descriptor_limit();
  // The users, the throttle and the listener live for the whole process (see lifecycle).
  auto* users = new user_table;
  config::server_limits limits;
  config::persistence_settings persistence;
  net::listener_options options;
  options.port = config::read_configuration(*users, limits, persistence);
  // Before anything is created or restored.
  db::nosql::nosql_db::set_largest_slot_array_bytes(
      static_cast<uint64_t>(limits.max_hash_slot_bytes));
  // Lives for the whole process, like the listener whose first start it loads.
  auto* stored = new durability;
  if (!stored->prepare(persistence)) return -1;
  options.bind_address = bind_address();
  options.users = users;
  options.on_first_start = [stored](db::nosql::container_registry& registry) {
    stored->load(registry, [](db::nosql::container_registry& r) { config::run_startup_script(r); });
  };
  options.on_release = [stored](db::nosql::container_registry& registry) {
    stored->release(registry);
  };
  net::throttle_settings throttle_settings;
  throttle_settings.max_tracked_addresses = static_cast<size_t>(limits.max_tracked_addresses);
  options.throttle = new net::login_throttle(throttle_settings);
  options.limits = listener_limits_of(limits);
  options.warn = [](const std::string& line) { log_warn("%s\n", line.c_str()); };
  auto* listener = new net::listener(std::move(options));
  life.listener.store(listener);

  life.notifier.report("STATUS=start pending");
  if (!is_stop_wanted()) {
    std::thread listener_thread;
    try {
      listener_thread = std::thread([listener] { listener->restart_loop(); });
    } catch (const std::system_error&) {
      std::printf("create thread failed\n");
      return -1;
    }
    serve_until_stop(*listener, life.notifier);
    life.notifier.report("STOPPING=1\nSTATUS=stop pending");
    stop_listener(*listener, listener_thread);
    stored->close();
  } else {
    life.notifier.report("STOPPING=1\nSTATUS=stop pending");
  }
  life.notifier.report("STATUS=stopped");
  return 0;
}

// ---- entry ----

int run_program(int argc, const char* const* argv) {
  // Messages leave line by line even when standard output is a file or a pipe (journald, --hide).
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  const std::string path = program_path(argc > 0 ? argv[0] : nullptr);
  const std::string directory = directory_of(path);
  const std::string log_path = log_file_path(directory);
  set_enable(true);
  set_log2file(log_path.data(), log_path.size());
  set_mini_level(log_level_note);
  set_count(true);
  set_cpu(true);

  switch (parse_command_line(argc, argv)) {
    case run_mode::usage:
      std::fwrite(usage_text.data(), 1, usage_text.size(), stdout);
      return 0;
    case run_mode::version:
      std::printf("zor_nosql_server %s\n", version_text);
      return 0;
    case run_mode::hidden: {
      // Standard output of the background server goes to a file beside the program, so that the
      // banner and the configuration and script messages can still be read.
      const int child = detach_from_terminal(directory + "/zor_nosql_server.out");
      if (child > 0) {
        std::printf("zor_nosql_server runs in the background, process id %d\n", child);
        return 0;
      }
      return run_server(false);  // the child, or the same process when fork failed
    }
    case run_mode::service:
      // Only the service manager starts a service: without its notify socket (say, "--as_service"
      // typed in a console) there is nobody to report to, and the start fails.
      if (std::getenv("NOTIFY_SOCKET") == nullptr) {
        std::printf("dispatch failed with err: %d\n", ENOTCONN);
        return -1;
      }
      // zor_ndb.toml and init.nos are found beside the program, whatever systemd's directory.
      if (chdir(directory.c_str()) != 0) {
        std::printf("change directory to %s failed with error %s\n", directory.c_str(),
                    std::strerror(errno));
        return -1;
      }
      return run_server(true);
    case run_mode::console:
      break;
  }
  return run_server(false);
}

}  // namespace qn::app
