// A completion port over epoll: posted receives complete on whichever thread waits next.
// Thread-safe; one receive may be outstanding per associated socket. The port does not own the
// sockets or the operations; a socket's operation must outlive its association.
//
// A receive is posted by arming the socket one-shot (EPOLLONESHOT). The waiting thread that is
// woken performs the recv into the operation's area and returns it as a completion, so at most one
// thread ever handles a given socket at a time; a spurious wake-up re-arms and waits again.
// Packets posted by hand (exit packets) travel through a FIFO queue and a semaphore eventfd.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

namespace qn::net {

// Completion key of the exit packet that ends a worker.
inline constexpr uint64_t exit_key = ~uint64_t{0};

// Per-socket operation header; put it first in the caller's connection object, so that a
// completion's operation pointer leads back to the connection.
struct io_operation {
  int socket = -1;
  uint64_t key = 0;  // completion key given at association
  char* area = nullptr;
  uint32_t capacity = 0;  // bytes a receive may place in `area`
  // True while post_receive is still inside its epoll_ctl call. The thread woken for the receive
  // waits until it is false, so everything the poster did (the call included) is ordered before
  // the completion is handled, and a socket is never closed under a poster still arming it.
  std::atomic<bool> is_arming{false};
};

struct completion {
  uint32_t bytes = 0;  // bytes received; 0 means the peer closed the connection
  uint64_t key = 0;
  io_operation* operation = nullptr;  // null for posted packets that carry none
  int error = 0;  // errno of a failed receive, 0 otherwise
};

class completion_port {
 public:
  completion_port();
  ~completion_port();
  completion_port(const completion_port&) = delete;
  completion_port& operator=(const completion_port&) = delete;

  // False when the epoll or eventfd descriptor could not be created.
  bool is_valid() const { return epoll_fd_ >= 0 && packet_fd_ >= 0; }

  // Ties `socket` to the port, disarmed (not even a hang-up completes before the first receive),
  // with completion key `key`; fills op.socket and op.key.
  // Returns false (errno set) when epoll refuses the socket.
  [[nodiscard]] bool associate(int socket, uint64_t key, io_operation& op);
  // Posts one receive of at most op.capacity bytes into op.area. Returns false (errno set) when
  // the socket cannot be armed. Requires: no receive outstanding on this socket. The caller must
  // not touch `op` afterwards until its completion has been taken.
  [[nodiscard]] bool post_receive(io_operation& op);
  // Queues a completion packet that the next waiting thread takes (FIFO among posted packets).
  // Returns false when the packet could not be signalled.
  [[nodiscard]] bool post(uint32_t bytes, uint64_t key, io_operation* op);
  // Waits without time limit for one completion. Returns false when the wait itself failed (no
  // completion taken; the caller waits again).
  [[nodiscard]] bool wait(completion& out);

 private:
  [[nodiscard]] bool take_posted(completion& out);
  // Performs the receive of an armed operation that epoll reported ready. False on a spurious
  // wake-up (nothing to read yet; the operation has been armed again).
  [[nodiscard]] bool complete_receive(io_operation& op, completion& out);

  int epoll_fd_ = -1;
  int packet_fd_ = -1;  // eventfd in semaphore mode: one count per queued packet
  std::mutex mutex_;    // guards packets_
  std::deque<completion> packets_;
};

}  // namespace qn::net
