#include "app/log_mini.h"

#include <fcntl.h>
#include <sched.h>
#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>

namespace qn::app {
namespace {

// ---- state ----

std::atomic<bool> is_enabled_flag{false};
std::atomic<int> lowest_level{log_level_note};
std::atomic<bool> is_counted_flag{false};
std::atomic<bool> has_cpu_flag{false};
// Running line number, shared by the spdlog lines and the signal-safe line (lock-free on x86-64,
// so the signal handler may bump it).
std::atomic<unsigned long long> line_count{0};
static_assert(std::atomic<unsigned long long>::is_always_lock_free);
// A second descriptor on the log file for log_fatal_signal; -1 when there is none.
std::atomic<int> raw_fd{-1};

std::mutex logger_mutex;  // guards logger
std::shared_ptr<spdlog::logger> logger;

std::shared_ptr<spdlog::logger> current_logger() {
  std::lock_guard lock(logger_mutex);
  return logger;
}

// ---- line prefix ----

// Renders "[note] [#7] [cpu 3]" for the %* flag of the pattern.
class line_prefix_flag final : public spdlog::custom_flag_formatter {
 public:
  void format(const spdlog::details::log_msg& msg, const std::tm&,
              spdlog::memory_buf_t& dest) override {
    char text[64];
    int n = std::snprintf(text, sizeof text, "[%s]",
                          msg.level >= spdlog::level::warn   ? "warn"
                          : msg.level >= spdlog::level::info ? "note"
                                                             : "debug");
    if (is_counted_flag.load()) {
      n += std::snprintf(text + n, sizeof text - n, " [#%llu]", line_count.fetch_add(1) + 1);
    }
    if (has_cpu_flag.load()) {
      n += std::snprintf(text + n, sizeof text - n, " [cpu %d]", sched_getcpu());
    }
    dest.append(text, text + n);
  }
  std::unique_ptr<spdlog::custom_flag_formatter> clone() const override {
    return std::make_unique<line_prefix_flag>();
  }
};

spdlog::level::level_enum spdlog_level_of(int level) {
  switch (level) {
    case log_level_debug:
      return spdlog::level::debug;
    case log_level_note:
      return spdlog::level::info;
    case log_level_warn:
      return spdlog::level::warn;
    default:
      return spdlog::level::off;
  }
}

void write_line(spdlog::level::level_enum level, const char* format, va_list arguments) {
  if (!is_enabled_flag.load() || level < spdlog_level_of(lowest_level.load())) return;
  const std::shared_ptr<spdlog::logger> target = current_logger();
  if (target == nullptr) return;
  char text[1024];
  va_list copy;
  va_copy(copy, arguments);
  const int n = std::vsnprintf(text, sizeof text, format, copy);
  va_end(copy);
  if (n < 0) return;
  std::string message;
  if (static_cast<size_t>(n) < sizeof text) {
    message.assign(text, static_cast<size_t>(n));
  } else {
    message.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(message.data(), message.size(), format, arguments);
    message.resize(static_cast<size_t>(n));
  }
  if (!message.empty() && message.back() == '\n') message.pop_back();
  target->log(level, "{}", message);
}

// ---- signal-safe pieces ----

// Appends the decimal digits of `value` at `out`; returns the count. Async-signal-safe.
size_t put_decimal(unsigned long long value, char* out) {
  char digits[24];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  return n;
}

void put_two(int value, char* out) {
  out[0] = static_cast<char>('0' + value / 10 % 10);
  out[1] = static_cast<char>('0' + value % 10);
}

size_t put_text(const char* text, char* out) {
  size_t n = 0;
  while (text[n] != '\0') {
    out[n] = text[n];
    ++n;
  }
  return n;
}

}  // namespace

// ---- configuration ----

void set_enable(bool is_enabled) { is_enabled_flag.store(is_enabled); }

void set_log2file(const char* path, size_t length) {
  const std::string file(path, length);
  std::shared_ptr<spdlog::logger> opened;
  try {
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(file);
    auto formatter = std::make_unique<spdlog::pattern_formatter>(spdlog::pattern_time_type::utc);
    formatter->add_flag<line_prefix_flag>('*').set_pattern("[%Y-%m-%d %H:%M:%S.%e] %* %v");
    sink->set_formatter(std::move(formatter));
    opened = std::make_shared<spdlog::logger>("zor_mdb_s", std::move(sink));
    opened->set_level(spdlog::level::trace);  // filtering happens before formatting, above
    opened->flush_on(spdlog::level::trace);
    // A full disk or a removed directory later on must not spill messages onto standard error.
    opened->set_error_handler([](const std::string&) {});
  } catch (const spdlog::spdlog_ex&) {
    opened = nullptr;  // directory missing or not writable: the lines go nowhere
  }
  const int fd = opened == nullptr ? -1 : open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  const int old_fd = raw_fd.exchange(fd);
  if (old_fd >= 0) close(old_fd);
  std::lock_guard lock(logger_mutex);
  logger = std::move(opened);
}

void set_mini_level(int level) { lowest_level.store(level); }
void set_count(bool is_counted) { is_counted_flag.store(is_counted); }
void set_cpu(bool has_cpu) { has_cpu_flag.store(has_cpu); }

// ---- lines ----

void log_note(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  write_line(spdlog::level::info, format, arguments);
  va_end(arguments);
}

void log_warn(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  write_line(spdlog::level::warn, format, arguments);
  va_end(arguments);
}

size_t format_utc_time(long long seconds, int milliseconds, char* out) {
  // Civil date from days since 1970-01-01 (proleptic Gregorian), in 400-year eras.
  long long days = seconds / 86400;
  long long rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long day_of_era = days - era * 146097;
  const long long year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const long long day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const long long month_index = (5 * day_of_year + 2) / 153;
  const int day = static_cast<int>(day_of_year - (153 * month_index + 2) / 5 + 1);
  const int month = static_cast<int>(month_index < 10 ? month_index + 3 : month_index - 9);
  const long long year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);

  const int y = static_cast<int>(year % 10000 + 10000) % 10000;
  put_two(y / 100, out);
  put_two(y % 100, out + 2);
  out[4] = '-';
  put_two(month, out + 5);
  out[7] = '-';
  put_two(day, out + 8);
  out[10] = ' ';
  put_two(static_cast<int>(rest / 3600), out + 11);
  out[13] = ':';
  put_two(static_cast<int>(rest / 60 % 60), out + 14);
  out[16] = ':';
  put_two(static_cast<int>(rest % 60), out + 17);
  out[19] = '.';
  out[20] = static_cast<char>('0' + milliseconds / 100 % 10);
  put_two(milliseconds % 100, out + 21);
  return 23;
}

void log_fatal_signal(int signal_number) {
  const int fd = raw_fd.load();
  if (!is_enabled_flag.load() || fd < 0 || lowest_level.load() > log_level_warn) return;
  char line[160];
  size_t n = 0;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  line[n++] = '[';
  n += format_utc_time(now.tv_sec, static_cast<int>(now.tv_nsec / 1000000), line + n);
  n += put_text("] [warn]", line + n);
  if (is_counted_flag.load()) {
    n += put_text(" [#", line + n);
    n += put_decimal(line_count.fetch_add(1) + 1, line + n);
    line[n++] = ']';
  }
  n += put_text(" catch signal: ", line + n);
  if (signal_number < 0) {
    line[n++] = '-';
    n += put_decimal(0ULL - static_cast<unsigned long long>(signal_number), line + n);
  } else {
    n += put_decimal(static_cast<unsigned long long>(signal_number), line + n);
  }
  n += put_text(", abnormal.\n", line + n);
  [[maybe_unused]] const ssize_t written = write(fd, line, n);
}

}  // namespace qn::app
