// The persistence directory: numbered log segments and snapshots, found and checked at start,
// replayed into a registry, and new snapshots written by a forked child. Snapshot N is the image
// of the database as it was when segment N began, so it covers every segment below N.
// Start-up runs on one thread before anyone is served; snapshots take the registry lock
// exclusively only around fork().
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/registry.h"
#include "persistence/command_log.h"
#include "persistence/log_record.h"

namespace qn::db::nosql {

// What the directory holds, from the newest snapshot on.
struct stored_state {
  bool has_snapshot = false;
  uint64_t snapshot = 0;           // its number, when there is one
  std::vector<uint64_t> segments;  // ascending; the ones the snapshot does not cover
  uint64_t next_segment = 0;       // the first number no file uses

  bool is_empty() const { return !has_snapshot && segments.empty(); }
};

// "snapshot-<20-digit number>.img" in `directory`.
std::string snapshot_path(const std::string& directory, uint64_t snapshot);

// Creates the directory when missing and lists it; removes unfinished snapshots (*.img.tmp*) left
// by a crash and empty log segments. False, with `error` set, when it cannot be created or read.
bool find_stored_state(const std::string& directory, stored_state& state, std::string& error);

// Reads every record of the segments to replay. A bad record in the last segment with no good
// record after it (a torn write, or zeros a power cut left) is cut off, the file truncated, and
// described in `note`; any other bad record fails with `error` naming the file and offset.
bool check_log(const std::string& directory, const stored_state& state, std::string& note,
               std::string& error);

// Loads the snapshot (if any) into the registry and calls `replay` for every record after it, in
// order; `replayed` counts the records. The log must have passed check_log. Requires: the
// registry serves nobody yet.
bool load_stored_state(const std::string& directory, const stored_state& state,
                       container_registry& registry,
                       const std::function<void(const log_record::record&)>& replay,
                       uint64_t& replayed, std::string& error);

// A snapshot being written by a child process.
struct snapshot_job {
  pid_t child = -1;
  uint64_t number = 0;
  std::chrono::microseconds pause{0};  // how long the registry was held for the fork
};

// Holds the registry exclusively while it rotates the log (when there is one) and forks a child
// that writes the image to a temporary file and syncs it. False when the fork failed.
bool start_snapshot(container_registry& registry, command_log* log, const std::string& directory,
                    uint64_t number, snapshot_job& job);
// Waits for the child; on success renames the image into place, syncs the directory and deletes
// the segments and the older snapshots it covers. False when the child failed.
bool finish_snapshot(const std::string& directory, const snapshot_job& job);

}  // namespace qn::db::nosql
