#include "app/durability.h"

#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "app/log_mini.h"
#include "engine/executor.h"
#include "persistence/image.h"

namespace qn::app {
namespace {

using namespace std::chrono_literals;
namespace persist = db::nosql;

persist::fsync_policy policy_of(const std::string& text) {
  if (text == "always") return persist::fsync_policy::always;
  if (text == "no") return persist::fsync_policy::no;
  return persist::fsync_policy::everysec;
}

// Says a line on the console and in the log.
void announce(const std::string& line) {
  std::printf("persistence: %s\n", line.c_str());
  log_note("persistence: %s\n", line.c_str());
}

// A logged restore carries the image it read; it is replayed from a scratch copy of those bytes.
// An empty image changed nothing when it was logged.
void replay_restore(persist::container_registry& registry, const std::string& directory,
                    const std::string& image) {
  if (image.empty()) return;
  const std::string path = directory + "/replay-restore.img.tmp";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(image.data(), static_cast<std::streamsize>(image.size()));
  }
  {
    std::unique_lock hold(registry.lock());
    (void)persist::load_image(registry, path);
  }
  ::unlink(path.c_str());
}

}  // namespace

durability::~durability() {
  stop_snapshots();
  close();
}

bool durability::prepare(const config::persistence_settings& settings) {
  settings_ = settings;
  if (settings.directory.empty()) return true;
  std::string error, note;
  if (!persist::find_stored_state(settings.directory, state_, error) ||
      !persist::check_log(settings.directory, state_, note, error)) {
    std::printf("persistence: %s\n", error.c_str());
    log_warn("persistence: %s\n", error.c_str());
    return false;
  }
  if (!note.empty()) announce(note);
  next_snapshot_ = state_.next_segment;
  if (settings.append_log) {
    log_ = persist::command_log::open(settings.directory, state_.next_segment,
                                      policy_of(settings.fsync), error);
    if (log_ == nullptr) {
      std::printf("persistence: %s\n", error.c_str());
      return false;
    }
  }
  is_enabled_ = true;
  return true;
}

void durability::restore(persist::container_registry& registry) {
  const auto begin = std::chrono::steady_clock::now();
  uint64_t replayed = 0;
  std::string error;
  const std::string& directory = settings_.directory;
  const bool loaded = persist::load_stored_state(
      directory, state_, registry,
      [&](const persist::log_record::record& r) {
        if (r.family == 'r') {
          replay_restore(registry, directory, r.image);
          return;
        }
        persist::reply_record ignored;
        (void)persist::execute_at_slot(registry, r.slot, r.line, ignored);
      },
      replayed, error);
  if (!loaded) {
    // The log was checked before the listener started, so this is a snapshot that does not load
    // (or a file gone meanwhile). Serving part of the database, and logging on top of it, would
    // make the loss permanent: the process ends here, on the listener thread, before any client.
    std::printf("persistence: %s; not starting\n", error.c_str());
    log_warn("persistence: %s; not starting\n", error.c_str());
    std::fflush(stdout);
    std::_Exit(EXIT_FAILURE);
  }
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - begin);
  const std::string snapshot =
      state_.has_snapshot ? persist::snapshot_path(directory, state_.snapshot) : "none";
  announce("loaded snapshot " + snapshot + ", replayed " + std::to_string(replayed) +
           " log records in " + std::to_string(took.count()) + " ms; init.nos skipped");
}

void durability::load(persist::container_registry& registry,
                      const std::function<void(persist::container_registry&)>& run_script) {
  if (!is_enabled_) {
    run_script(registry);
    return;
  }
  if (state_.is_empty()) {
    registry.set_log(log_.get());  // what init.nos creates is logged like any other change
    run_script(registry);
  } else {
    restore(registry);
    registry.set_log(log_.get());
  }
  // A stop may already be under way on the main thread: then no snapshot thread is started.
  std::lock_guard hold(mutex_);
  registry_ = &registry;
  if (!is_stopping_) snapshot_thread_ = std::thread([this] { snapshot_loop(); });
}

void durability::take_snapshot() {
  persist::snapshot_job job;
  const uint64_t number = next_snapshot_++;
  if (!persist::start_snapshot(*registry_, log_.get(), settings_.directory, number, job)) {
    log_warn("persistence: a snapshot could not be started\n");
    return;
  }
  if (persist::finish_snapshot(settings_.directory, job)) {
    log_note("persistence: snapshot %" PRIu64 " written; writes paused %lld us for the fork\n",
             job.number, static_cast<long long>(job.pause.count()));
  } else {
    log_warn("persistence: writing snapshot %" PRIu64 " failed\n", job.number);
  }
  next_snapshot_ = job.number + 1;
}

// Checks once a second whether a snapshot is due: every snapshot_every_s, and as soon as the
// current log segment has grown past snapshot_log_bytes. An idle log takes none.
void durability::snapshot_loop() {
  auto last = std::chrono::steady_clock::now();
  for (;;) {
    {
      std::unique_lock hold(mutex_);
      if (wake_.wait_for(hold, 1s, [&] { return is_stopping_; })) return;
    }
    const bool has_changes = log_ == nullptr || log_->segment_bytes() != 0;
    const bool is_time =
        settings_.snapshot_every_s > 0 &&
        std::chrono::steady_clock::now() - last >= std::chrono::seconds(settings_.snapshot_every_s);
    const bool is_large =
        log_ != nullptr &&
        log_->segment_bytes() >= static_cast<uint64_t>(settings_.snapshot_log_bytes);
    if (has_changes && (is_time || is_large)) {
      take_snapshot();
      last = std::chrono::steady_clock::now();
    }
  }
}

void durability::stop_snapshots() {
  std::thread thread;
  {
    std::lock_guard hold(mutex_);
    is_stopping_ = true;
    thread.swap(snapshot_thread_);
  }
  wake_.notify_all();
  if (thread.joinable()) thread.join();
}

void durability::release(persist::container_registry& registry) {
  stop_snapshots();
  if (is_enabled_ && log_ == nullptr && registry_ == &registry) take_snapshot();
  close();
}

void durability::close() {
  if (log_ != nullptr) log_->close();
}

}  // namespace qn::app
