#include "app/detach.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qn::app {
namespace {

void redirect(int fd, const char* path, int flags) {
  const int opened = open(path, flags | O_CLOEXEC, 0644);
  if (opened < 0) return;
  dup2(opened, fd);  // dup2 clears close-on-exec on the copy
  close(opened);
}

}  // namespace

int detach_from_terminal(const std::string& output_path) {
  // Nothing buffered may be written twice, once by each process.
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    std::printf("fork failed with error %s\n", std::strerror(errno));
    return -1;
  }
  if (child > 0) return static_cast<int>(child);

  setsid();
  redirect(STDIN_FILENO, "/dev/null", O_RDONLY);
  const int out = open(output_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (out >= 0) {
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    close(out);
  } else {
    redirect(STDOUT_FILENO, "/dev/null", O_WRONLY);
    redirect(STDERR_FILENO, "/dev/null", O_WRONLY);
  }
  return 0;
}

}  // namespace qn::app
