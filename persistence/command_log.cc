#include "persistence/command_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "persistence/log_record.h"

namespace qn::db::nosql {
namespace {

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

int create_segment(const std::string& directory, uint64_t segment) {
  return ::open(segment_path(directory, segment).c_str(),
                O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
}

// The image a restore read, as it is on disk now (the restore holds the registry exclusively).
// Empty when it cannot be read: the replayed restore then fails as the original did.
std::string read_image(std::string_view path) {
  std::string bytes;
  std::FILE* file = std::fopen(std::string(path).c_str(), "rb");
  if (file == nullptr) return bytes;
  char buffer[1 << 16];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  std::fclose(file);
  return bytes;
}

}  // namespace

std::string segment_path(const std::string& directory, uint64_t segment) {
  char name[48];
  std::snprintf(name, sizeof name, "/log-%020" PRIu64 ".zlog", segment);
  return directory + name;
}

std::unique_ptr<command_log> command_log::open(const std::string& directory, uint64_t segment,
                                               fsync_policy policy, std::string& error) {
  const int fd = create_segment(directory, segment);
  if (fd < 0) {
    error = "cannot create " + segment_path(directory, segment) + ": " + std::strerror(errno);
    return nullptr;
  }
  std::unique_ptr<command_log> log(new command_log(directory, segment, fd, policy));
  log->thread_ = std::thread([raw = log.get()] { raw->run(); });
  return log;
}

command_log::command_log(std::string directory, uint64_t segment, int fd, fsync_policy policy)
    : directory_(std::move(directory)), policy_(policy), fd_(fd), segment_(segment) {}

command_log::~command_log() { close(); }

uint64_t command_log::append(const logged_change& change) {
  const std::string image = change.family == 'r' ? read_image(change.image_path) : std::string();
  std::string record;
  log_record::encode(change.family, change.slot, change.line, image, record);
  segment_bytes_.fetch_add(record.size());
  uint64_t ticket = 0;
  {
    std::lock_guard hold(mutex_);
    pending_.append(record);
    ticket = ++appended_;
  }
  if (policy_ == fsync_policy::always) wake_.notify_one();
  return ticket;
}

void command_log::wait_durable(uint64_t ticket) {
  if (policy_ != fsync_policy::always) return;
  std::unique_lock hold(mutex_);
  durable_.wait(hold, [&] { return synced_ >= ticket; });
}

bool command_log::rotate(uint64_t& next_segment) {
  std::lock_guard file_hold(file_mutex_);
  std::string bytes;
  {
    std::lock_guard hold(mutex_);
    bytes.swap(pending_);
  }
  // The records are written to the segment they were appended to; the log thread syncs it.
  if (!write_all(fd_, bytes)) report_failure();
  const int next = create_segment(directory_, segment_ + 1);
  if (next < 0) return false;  // keep appending to this segment
  {
    std::lock_guard hold(mutex_);
    retired_.push_back(fd_);
    is_directory_dirty_ = true;
  }
  fd_ = next;
  ++segment_;
  segment_bytes_.store(0);
  next_segment = segment_;
  return true;
}

void command_log::report_failure() {
  const int error = errno;
  if (policy_ == fsync_policy::always) {
    // The changes took effect and their clients wait for a durable record: no reply may leave.
    std::fprintf(stderr,
                 "persistence: writing or syncing the log failed: %s; stopping, since under "
                 "fsync = \"always\" no reply leaves before its record is on disk\n",
                 std::strerror(error));
    std::_Exit(EXIT_FAILURE);
  }
  if (!has_reported_failure_.exchange(true)) {
    std::fprintf(stderr, "persistence: writing or syncing the log failed: %s\n",
                 std::strerror(error));
  }
}

void command_log::flush(bool sync) {
  std::unique_lock file_hold(file_mutex_);
  std::string bytes;
  std::vector<int> retired;
  uint64_t end = 0;
  bool is_directory_dirty = false;
  {
    std::lock_guard hold(mutex_);
    bytes.swap(pending_);
    retired.swap(retired_);
    end = appended_;
    is_directory_dirty = std::exchange(is_directory_dirty_, false);
  }
  bool ok = write_all(fd_, bytes);
  const int fd = fd_;  // only this thread closes descriptors, so it stays open after the unlock
  file_hold.unlock();
  for (const int old : retired) {
    if (sync) ok = ::fsync(old) == 0 && ok;
    ::close(old);
  }
  if (sync) {
    ok = ::fdatasync(fd) == 0 && ok;
    if (is_directory_dirty) {
      const int dir = ::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
      }
    }
  }
  if (!ok) report_failure();
  {
    std::lock_guard hold(mutex_);
    synced_ = end;
  }
  durable_.notify_all();
}

// "always": wakes on every append and syncs what has gathered meanwhile (the group). "everysec"
// and "no": once a second, with and without the sync.
void command_log::run() {
  using namespace std::chrono_literals;
  for (;;) {
    {
      std::unique_lock hold(mutex_);
      if (policy_ == fsync_policy::always) {
        // Tickets not yet synced, not pending bytes: rotate() may have written them already.
        wake_.wait(hold, [&] { return is_stopping_ || synced_ < appended_; });
      } else {
        wake_.wait_for(hold, 1s, [&] { return is_stopping_; });
      }
      if (is_stopping_) return;
    }
    flush(policy_ != fsync_policy::no);
  }
}

void command_log::close() {
  {
    std::lock_guard hold(mutex_);
    if (is_stopping_ && !thread_.joinable()) return;
    is_stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  flush(true);
  std::lock_guard file_hold(file_mutex_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace qn::db::nosql
