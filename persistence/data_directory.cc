#include "persistence/data_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <system_error>

#include "persistence/image.h"

namespace qn::db::nosql {
namespace {

namespace fs = std::filesystem;

// The number in "<prefix><digits><suffix>"; false for any other name.
bool number_in(const std::string& name, std::string_view prefix, std::string_view suffix,
               uint64_t& number) {
  if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) ||
      !name.ends_with(suffix)) {
    return false;
  }
  const std::string digits =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  number = std::stoull(digits);
  return true;
}

std::string temporary_snapshot_path(const std::string& directory, uint64_t number) {
  return snapshot_path(directory, number) + ".tmp";
}

bool read_whole(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

void sync_directory(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::string snapshot_path(const std::string& directory, uint64_t snapshot) {
  char name[48];
  std::snprintf(name, sizeof name, "/snapshot-%020" PRIu64 ".img", snapshot);
  return directory + name;
}

bool find_stored_state(const std::string& directory, stored_state& state, std::string& error) {
  state = stored_state{};
  std::error_code code;
  fs::create_directories(directory, code);
  std::vector<uint64_t> segments, snapshots;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory, code)) {
    const std::string name = entry.path().filename().string();
    uint64_t number = 0;
    if (name.find(".img.tmp") != std::string::npos) {
      fs::remove(entry.path(), code);  // also the image writer's own ".<name>.partial-*" file
    } else if (number_in(name, "log-", ".zlog", number)) {
      // An empty segment (a run that changed nothing) holds no state: it goes.
      std::error_code size_code;
      if (entry.file_size(size_code) == 0 && !size_code) {
        fs::remove(entry.path(), size_code);
      } else {
        segments.push_back(number);
      }
    } else if (number_in(name, "snapshot-", ".img", number)) {
      snapshots.push_back(number);
    }
  }
  if (code) {
    error = "cannot read the persistence directory " + directory + ": " + code.message();
    return false;
  }
  std::sort(segments.begin(), segments.end());
  if (!snapshots.empty()) {
    state.has_snapshot = true;
    state.snapshot = *std::max_element(snapshots.begin(), snapshots.end());
    state.next_segment = state.snapshot + 1;
  }
  for (const uint64_t segment : segments) {
    if (!state.has_snapshot || segment >= state.snapshot) state.segments.push_back(segment);
    state.next_segment = std::max(state.next_segment, segment + 1);
  }
  return true;
}

bool check_log(const std::string& directory, const stored_state& state, std::string& note,
               std::string& error) {
  for (size_t i = 0; i < state.segments.size(); ++i) {
    const std::string path = segment_path(directory, state.segments[i]);
    std::string bytes;
    if (!read_whole(path, bytes)) {
      error = "cannot read " + path;
      return false;
    }
    uint64_t at = 0;
    log_record::record record;
    log_record::outcome result;
    while ((result = log_record::decode(bytes, at, record)) == log_record::outcome::ok) {
    }
    if (result == log_record::outcome::end) continue;
    const bool is_last = i + 1 == state.segments.size();
    if (is_last && !log_record::has_record_after(bytes, at)) {
      if (::truncate(path.c_str(), static_cast<off_t>(at)) != 0) {
        error = "cannot cut the torn end off " + path;
        return false;
      }
      note = "cut a torn last record (" + std::to_string(bytes.size() - at) + " bytes) off " +
             path + " at offset " + std::to_string(at);
      continue;
    }
    error = "the command log " + path + " is corrupt at offset " + std::to_string(at) +
            " (checksum or length wrong); refusing to start rather than lose what follows";
    return false;
  }
  return true;
}

bool load_stored_state(const std::string& directory, const stored_state& state,
                       container_registry& registry,
                       const std::function<void(const log_record::record&)>& replay,
                       uint64_t& replayed, std::string& error) {
  replayed = 0;
  if (state.has_snapshot) {
    std::unique_lock hold(registry.lock());
    if (!load_image(registry, snapshot_path(directory, state.snapshot))) {
      error = "cannot load the snapshot " + snapshot_path(directory, state.snapshot);
      return false;
    }
  }
  for (const uint64_t segment : state.segments) {
    std::string bytes;
    if (!read_whole(segment_path(directory, segment), bytes)) {
      error = "cannot read " + segment_path(directory, segment);
      return false;
    }
    uint64_t at = 0;
    log_record::record record;
    while (log_record::decode(bytes, at, record) == log_record::outcome::ok) {
      replay(record);
      ++replayed;
    }
  }
  return true;
}

// The child writes from its copy-on-write view of the registry as it was at the fork; it runs
// only save_image and leaves with _exit, so no handler or destructor of the parent runs in it.
bool start_snapshot(container_registry& registry, command_log* log, const std::string& directory,
                    uint64_t number, snapshot_job& job) {
  std::unique_lock hold(registry.lock());
  const auto begin = std::chrono::steady_clock::now();
  if (log != nullptr && !log->rotate(number)) return false;
  const std::string temporary = temporary_snapshot_path(directory, number);
  ::unlink(temporary.c_str());
  const pid_t child = ::fork();
  if (child == 0) {
    // Drops the parent's sockets and files, so that a child outliving a killed server holds
    // neither its port nor its clients' connections.
    ::close_range(3, ~0u, 0);
    ::_exit(save_image(registry, temporary) ? 0 : 1);
  }
  hold.unlock();
  job.child = child;
  job.number = number;
  job.pause = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - begin);
  return child > 0;
}

bool finish_snapshot(const std::string& directory, const snapshot_job& job) {
  int status = 0;
  while (::waitpid(job.child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  if (::rename(temporary_snapshot_path(directory, job.number).c_str(),
               snapshot_path(directory, job.number).c_str()) != 0) {
    return false;
  }
  sync_directory(directory);
  std::error_code code;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory, code)) {
    const std::string name = entry.path().filename().string();
    uint64_t number = 0;
    if ((number_in(name, "log-", ".zlog", number) ||
         number_in(name, "snapshot-", ".img", number)) &&
        number < job.number) {
      fs::remove(entry.path(), code);
    }
  }
  return true;
}

}  // namespace qn::db::nosql
