#include "app/signals.h"

#include <pthread.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <thread>

#include "app/log_mini.h"

namespace qn::app {
namespace {

constexpr int fatal_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

extern "C" void on_fatal_signal(int signal_number) {
  const int saved_errno = errno;
  log_fatal_signal(signal_number);
  // SA_RESETHAND has put the default action back; the signal stays blocked until this handler
  // returns, so it is delivered (and ends the process) right after.
  raise(signal_number);
  errno = saved_errno;
}

void wait_for_signals(std::function<void(int)> on_signal) {
  const sigset_t set = handled_signals();
  for (;;) {
    siginfo_t info{};
    const int signal_number = sigwaitinfo(&set, &info);
    if (signal_number < 0) continue;  // EINTR from a signal outside the set
    on_signal(signal_number);
  }
}

}  // namespace

sigset_t handled_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGTERM, SIGHUP, pause_signal, continue_signal}) sigaddset(&set, s);
  return set;
}

void block_process_signals() {
  const sigset_t set = handled_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

bool start_signal_thread(std::function<void(int)> on_signal) {
  try {
    std::thread(wait_for_signals, std::move(on_signal)).detach();
  } catch (const std::system_error&) {
    std::printf("create thread failed\n");
    return false;
  }
  return true;
}

void install_fatal_signal_handlers() {
  // Enough for the handler's few hundred bytes of frame and the line buffer.
  static char alternate_stack[64 * 1024];
  stack_t stack{};
  stack.ss_sp = alternate_stack;
  stack.ss_size = sizeof alternate_stack;
  sigaltstack(&stack, nullptr);

  struct sigaction action {};
  action.sa_handler = on_fatal_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_ONSTACK;
  for (int s : fatal_signals) sigaction(s, &action, nullptr);
}

}  // namespace qn::app
