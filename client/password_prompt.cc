#include "client/password_prompt.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace qn::client {

namespace {

// The terminal state to restore if a signal ends the prompt. Written before the handlers are
// installed and read only by them.
int saved_fd = -1;
termios saved_mode{};

constexpr int restored_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Async-signal-safe: puts echo back, then lets the signal take its default course.
extern "C" void restore_terminal_and_reraise(int signal_number) {
  if (saved_fd >= 0) ::tcsetattr(saved_fd, TCSANOW, &saved_mode);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void write_text(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n <= 0) return;
    text.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace

bool read_password_from_terminal(std::string_view prompt, std::string& out) {
  const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  termios mode{};
  if (::tcgetattr(fd, &mode) != 0) {
    ::close(fd);
    return false;
  }
  saved_mode = mode;
  saved_fd = fd;
  struct sigaction quiet_exit {};
  quiet_exit.sa_handler = restore_terminal_and_reraise;
  sigemptyset(&quiet_exit.sa_mask);
  struct sigaction previous[std::size(restored_signals)];
  for (size_t i = 0; i < std::size(restored_signals); ++i) {
    ::sigaction(restored_signals[i], &quiet_exit, &previous[i]);
  }

  termios silent = mode;
  silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  silent.c_lflag |= ICANON;
  write_text(fd, prompt);
  ::tcsetattr(fd, TCSAFLUSH, &silent);
  std::string password;
  char c = 0;
  for (;;) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n == 1 && c != '\n') {
      password.push_back(c);
    } else if (n == 1 || n == 0 || errno != EINTR) {
      break;
    }
  }
  ::tcsetattr(fd, TCSAFLUSH, &saved_mode);
  write_text(fd, "\n");

  for (size_t i = 0; i < std::size(restored_signals); ++i) {
    ::sigaction(restored_signals[i], &previous[i], nullptr);
  }
  saved_fd = -1;
  ::close(fd);
  out = std::move(password);
  return true;
}

}  // namespace qn::client
