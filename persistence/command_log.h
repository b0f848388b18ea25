// The append-only command log: records appended under the registry's locks, written and synced
// by one log thread in batches (group commit), in numbered segment files of one directory.
// mutex_ guards the pending bytes and counters; file_mutex_ (taken before mutex_) the current
// segment's descriptor and the order of writes to it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/change_log.h"

namespace qn::db::nosql {

enum class fsync_policy { always, everysec, no };

// "log-<20-digit segment number>.zlog" in `directory`.
std::string segment_path(const std::string& directory, uint64_t segment);

class command_log final : public change_log {
 public:
  // Creates segment `segment` (which must not exist) and starts the log thread. Null, with
  // `error` set, when the file cannot be created.
  static std::unique_ptr<command_log> open(const std::string& directory, uint64_t segment,
                                           fsync_policy policy, std::string& error);
  ~command_log() override;

  uint64_t append(const logged_change& change) override;
  // Under "always", waits until the log thread has synced the record; else returns at once.
  void wait_durable(uint64_t ticket) override;

  // Ends the current segment and starts the next, whose number it writes: every record appended
  // before is in an older segment. False, changing nothing, when the next segment cannot be
  // created. Requires: no append running (the registry lock held exclusively).
  [[nodiscard]] bool rotate(uint64_t& next_segment);
  // Bytes appended to the current segment.
  uint64_t segment_bytes() const { return segment_bytes_.load(); }
  // Writes and syncs everything appended and stops the log thread. Idempotent.
  void close();

 private:
  command_log(std::string directory, uint64_t segment, int fd, fsync_policy policy);
  void run();
  // Writes the pending bytes to the current segment; with `sync`, syncs them and what earlier
  // segments still hold unsynced. Log thread and close() only.
  void flush(bool sync);
  // A write or sync failed: under "always" the process ends (no reply may leave without its
  // record on disk); else says so once on standard error.
  void report_failure();

  const std::string directory_;
  const fsync_policy policy_;

  std::mutex file_mutex_;
  int fd_;            // guarded by file_mutex_
  uint64_t segment_;  // guarded by file_mutex_

  std::mutex mutex_;
  std::condition_variable wake_;     // the log thread: pending bytes under "always", or stop
  std::condition_variable durable_;  // waiters of wait_durable
  std::string pending_;              // guarded by mutex_
  std::vector<int> retired_;         // guarded by mutex_: ended segments to sync and close
  bool is_directory_dirty_ = true;   // guarded by mutex_: a segment was created since the sync
  uint64_t appended_ = 0;            // guarded by mutex_: tickets handed out
  uint64_t synced_ = 0;              // guarded by mutex_: tickets written (and synced, by policy)
  bool is_stopping_ = false;         // guarded by mutex_
  std::atomic<bool> has_reported_failure_{false};
  std::atomic<uint64_t> segment_bytes_{0};
  std::thread thread_;
};

}  // namespace qn::db::nosql
