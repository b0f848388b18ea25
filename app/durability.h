// Persistence as the server runs it: the stored state checked before the listener starts, loaded
// (or init.nos run) on the listener's first start, the command log attached to the registry,
// snapshots taken on a thread of their own, and the log synced at the stop.
// Main thread: prepare, close. Listener thread: load and release, once each. Snapshot thread: its
// own loop, which uses the registry only between load and release.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "config/server_config.h"
#include "engine/registry.h"
#include "persistence/data_directory.h"

namespace qn::app {

class durability {
 public:
  durability() = default;
  ~durability();
  durability(const durability&) = delete;
  durability& operator=(const durability&) = delete;

  // Lists and checks the directory and opens a new log segment. Without a directory does nothing
  // and returns true; false (after printing why) when the server must not start.
  [[nodiscard]] bool prepare(const config::persistence_settings& settings);
  // Restores what the directory holds, or runs `run_script` when it holds nothing; then attaches
  // the log and starts the snapshot thread. Without a directory just runs `run_script`.
  void load(db::nosql::container_registry& registry,
            const std::function<void(db::nosql::container_registry&)>& run_script);
  // Ends the snapshot thread, takes a last snapshot when nothing is logged, and writes and syncs
  // the log. Call when no command runs any more, before the registry goes.
  void release(db::nosql::container_registry& registry);
  // Writes and syncs the log. Call once no command can run any more. Idempotent.
  void close();

 private:
  void restore(db::nosql::container_registry& registry);
  void stop_snapshots();
  void snapshot_loop();
  void take_snapshot();

  config::persistence_settings settings_;
  bool is_enabled_ = false;
  db::nosql::stored_state state_;
  std::unique_ptr<db::nosql::command_log> log_;
  db::nosql::container_registry* registry_ = nullptr;  // set by load, under mutex_
  uint64_t next_snapshot_ = 0;  // snapshot thread: the number of a snapshot without a log

  std::mutex mutex_;
  std::condition_variable wake_;
  bool is_stopping_ = false;     // guarded by mutex_
  std::thread snapshot_thread_;  // guarded by mutex_
};

}  // namespace qn::app
