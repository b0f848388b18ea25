// The lifecycle log: a small printf-style adapter over spdlog writing note and warning lines to
// one file. Configure (set_*) before other threads start; log_* may then be called from any thread.
//
// Line format: "[2024-05-01 12:00:00.123] [note] [#7] [cpu 3] want to exit by ctrl-c" with the
// time in UTC, the level ("note" or "warn"), the running line number over the whole process
// (with set_count) and the processor the writing thread ran on (with set_cpu, sched_getcpu). One
// trailing line feed of the message is dropped, since every line ends with one anyway. Each line is
// flushed at once, so it survives a crash that follows it.
//
// A log file that cannot be opened never stops the program: the lines then go nowhere.
#pragma once

#include <cstddef>
#include <string>

namespace qn::app {

// Lowest levels for set_mini_level.
inline constexpr int log_level_debug = 0;
inline constexpr int log_level_note = 1;
inline constexpr int log_level_warn = 2;
inline constexpr int log_level_off = 3;

// Switches logging on or off as a whole (off at program start).
void set_enable(bool is_enabled);
// Sends later lines to the file at `path` (the first `length` bytes), appending to it. Returns
// nothing: when the file cannot be opened, later lines are dropped.
void set_log2file(const char* path, size_t length);
// Lines below `level` (log_level_*) are not written.
void set_mini_level(int level);
// With true, each line carries its running number.
void set_count(bool is_counted);
// With true, each line carries the processor number of the writing thread.
void set_cpu(bool has_cpu);

// Writes one note or warning line; printf-style format and arguments.
void log_note(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_warn(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Async-signal-safe: writes the warning line "catch signal: <n>, abnormal." with the time and line
// number but without the processor (sched_getcpu is not async-signal-safe), in one write(2) on a
// descriptor opened by set_log2file. For the handler of fatal signals, which may not take locks.
void log_fatal_signal(int signal_number);

// Formats seconds since the epoch and milliseconds as "2024-05-01 12:00:00.123" (UTC) into `out`,
// which must hold 24 bytes; returns the 23 characters written (no terminating zero).
// Async-signal-safe: pure arithmetic.
size_t format_utc_time(long long seconds, int milliseconds, char* out);

}  // namespace qn::app
