// Signals of the server process: the ones turned into stop, pause and continue requests, which a
// dedicated thread takes with sigwaitinfo, and the fatal ones, whose handler only writes a line.
// Call block_process_signals on the main thread before any other thread exists, so that every
// thread inherits the mask and only the signal thread ever takes those signals.
//
// Signals and what the server makes of them (the decisions live in app/server.cc):
//   SIGINT   stop ("want to exit by ctrl-c")
//   SIGTERM  stop (the normal stop of systemd; an abnormal end in the console)
//   SIGHUP   stop (the terminal went away: the console-close case)
//   SIGUSR1  pause: the listening socket closes, the database stays
//   SIGUSR2  continue: a new listener on the same database
//   SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT  fatal: one log line, then the default action
#pragma once

#include <csignal>
#include <functional>

namespace qn::app {

inline constexpr int pause_signal = SIGUSR1;
inline constexpr int continue_signal = SIGUSR2;

// The signals taken by the signal thread.
sigset_t handled_signals();

// Blocks handled_signals() in the calling thread and ignores SIGPIPE (replies are sent with
// MSG_NOSIGNAL already; a closed standard output must not end the server either).
void block_process_signals();

// Starts the detached signal thread, which calls `on_signal(signal_number)` for every handled
// signal, one at a time, on a normal thread where locks, logging and waiting are allowed.
// Returns false (after printing) when the thread cannot be created.
[[nodiscard]] bool start_signal_thread(std::function<void(int)> on_signal);

// Installs the handler of the fatal signals. It runs on whichever thread faulted, in a process
// that may be corrupted, so it does only async-signal-safe work: it writes the warning line
// "catch signal: <n>, abnormal." with write(2) and raises the signal again with the default
// action, so the process ends with the signal's own status (and core dump). It does not run the
// stop request: that takes locks and waits for threads that may be the very ones broken, and the
// kernel closes the listening socket and every connection when the process ends anyway.
// The main thread gets an alternate stack, so a stack overflow there still writes its line.
void install_fatal_signal_handlers();

}  // namespace qn::app
