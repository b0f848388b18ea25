#include "net/completion_port.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace qn::net {

namespace {
// Tags in epoll's user data; operations are never at these addresses. The packet eventfd carries
// packet_tag. An associated socket carries dormant_tag until its first receive is posted: epoll
// always reports hang-ups and errors of a registered descriptor, and such a report must not hand
// the connection to a worker while nobody has posted a receive on it.
char packet_tag;
char dormant_tag;
}  // namespace

completion_port::completion_port() {
  epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
  packet_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE);
  if (epoll_fd_ < 0 || packet_fd_ < 0) return;
  epoll_event ev{};
  ev.events = EPOLLIN;  // level-triggered: every waiter may try to take a packet
  ev.data.ptr = &packet_tag;
  if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, packet_fd_, &ev) != 0) {
    close(packet_fd_);
    packet_fd_ = -1;
  }
}

completion_port::~completion_port() {
  if (packet_fd_ >= 0) close(packet_fd_);
  if (epoll_fd_ >= 0) close(epoll_fd_);
}

bool completion_port::associate(int socket, uint64_t key, io_operation& op) {
  op.socket = socket;
  op.key = key;
  epoll_event ev{};
  ev.events = EPOLLONESHOT;
  ev.data.ptr = &dormant_tag;
  return epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, socket, &ev) == 0;
}

bool completion_port::post_receive(io_operation& op) {
  epoll_event ev{};
  ev.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
  ev.data.ptr = &op;
  op.is_arming.store(true);
  const bool is_armed = epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, op.socket, &ev) == 0;
  const int error = errno;
  op.is_arming.store(false, std::memory_order_release);
  errno = error;
  return is_armed;
}

bool completion_port::post(uint32_t bytes, uint64_t key, io_operation* op) {
  {
    std::lock_guard lock(mutex_);
    packets_.push_back(completion{bytes, key, op, 0});
  }
  const uint64_t one = 1;
  return write(packet_fd_, &one, sizeof one) == static_cast<ssize_t>(sizeof one);
}

bool completion_port::wait(completion& out) {
  for (;;) {
    epoll_event ev{};
    const int n = epoll_wait(epoll_fd_, &ev, 1, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) continue;
    if (ev.data.ptr == &packet_tag) {
      if (take_posted(out)) return true;
      continue;
    }
    if (ev.data.ptr == &dormant_tag) continue;  // one-shot: now disarmed until a receive
    if (complete_receive(*static_cast<io_operation*>(ev.data.ptr), out)) return true;
  }
}

bool completion_port::take_posted(completion& out) {
  uint64_t count = 0;
  // Another waiter may have taken the last count first; then there is nothing for this one.
  if (read(packet_fd_, &count, sizeof count) != static_cast<ssize_t>(sizeof count)) return false;
  std::lock_guard lock(mutex_);
  out = packets_.front();
  packets_.pop_front();
  return true;
}

bool completion_port::complete_receive(io_operation& op, completion& out) {
  // The poster may still be returning from epoll_ctl; it is a matter of instructions.
  while (op.is_arming.load(std::memory_order_acquire)) std::this_thread::yield();
  for (;;) {
    const ssize_t n = recv(op.socket, op.area, op.capacity, MSG_DONTWAIT);
    if (n >= 0) {
      out = completion{static_cast<uint32_t>(n), op.key, &op, 0};
      return true;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (post_receive(op)) return false;
    }
    out = completion{0, op.key, &op, errno};
    return true;
  }
}

}  // namespace qn::net
