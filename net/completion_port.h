// A completion port over epoll: posted receives complete on whichever thread waits next.
// Thread-safe; one receive may be outstanding per associated socket. The port does not own the
// sockets or the operations; an operation must stay alive until it is dissociated.
//
// Sockets are registered once, edge-triggered, and each has an ownership word in a slot of the
// port: a receive is posted by marking the word "posted", which costs no system call. The waiting
// thread that epoll wakes for a socket claims the word (posted -> held) and only then performs
// the recv into the operation's area and returns it as a completion, so at most one thread ever
// handles a given socket at a time. A readiness report that finds the word held is remembered in
// it ("missed"); the holder's next post then turns into a queued retry instead of a wait for an
// edge that already passed. Reports carry the slot's generation, so a report that is still on its
// way when its socket is dissociated (and the slot perhaps reused) is recognised and dropped.
// Packets posted by hand (exit packets) and the retries travel through a FIFO queue and a
// semaphore eventfd.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

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
  uint32_t slot = 0;      // the port's ownership slot, set by associate
  // Set by a receive that filled the whole area: more bytes may already wait in the socket, and
  // no new edge will announce them. Touched only by the thread that holds the operation.
  bool may_have_more = false;
};

struct completion {
  uint32_t bytes = 0;  // bytes received; 0 means the peer closed the connection
  uint64_t key = 0;
  io_operation* operation = nullptr;  // null for posted packets that carry none
  int error = 0;  // errno of a failed receive, 0 otherwise
};

class completion_port {
 public:
  // The most sockets associated at once.
  static constexpr uint32_t max_sockets = 1u << 20;

  completion_port();
  ~completion_port();
  completion_port(const completion_port&) = delete;
  completion_port& operator=(const completion_port&) = delete;

  // False when the epoll or eventfd descriptor could not be created.
  bool is_valid() const { return epoll_fd_ >= 0 && packet_fd_ >= 0; }

  // Ties `socket` to the port with completion key `key`, held by the caller: nothing completes
  // (not even a hang-up) before the first receive is posted. Fills op.socket, op.key and op.slot.
  // Returns false (errno set) when epoll refuses the socket or max_sockets are associated.
  [[nodiscard]] bool associate(int socket, uint64_t key, io_operation& op);
  // Unties the operation from the port; reports of its socket still on their way are dropped.
  // Requires: the caller holds the operation (it came from a completion and no receive is
  // posted since, or it was never posted). Call before closing the socket and freeing `op`.
  void dissociate(io_operation& op);
  // Posts one receive of at most op.capacity bytes into op.area. Returns false (errno set) when
  // the receive cannot be queued. Requires: the caller holds the operation. The caller must not
  // touch `op` afterwards until its completion has been taken.
  [[nodiscard]] bool post_receive(io_operation& op);
  // Queues a completion packet that the next waiting thread takes (FIFO among posted packets).
  // Returns false when the packet could not be signalled.
  [[nodiscard]] bool post(uint32_t bytes, uint64_t key, io_operation* op);
  // Waits without time limit for one completion. Returns false when the wait itself failed (no
  // completion taken; the caller waits again).
  [[nodiscard]] bool wait(completion& out);

 private:
  struct ownership {
    // Generation in the high 32 bits, never 0; the state bits below (held when neither is set).
    std::atomic<uint64_t> word{uint64_t{1} << 32};
    io_operation* op = nullptr;  // written by associate, read by whoever claims the word
  };
  struct packet {
    completion done;
    bool needs_receive = false;  // a retry: perform the receive of done.operation
  };
  static constexpr uint32_t chunk_bits = 12;
  static constexpr uint32_t chunk_size = 1u << chunk_bits;

  [[nodiscard]] bool queue(const packet& p);
  [[nodiscard]] bool take_posted(completion& out);
  ownership& slot_at(uint32_t index);
  // Allocates a slot (free list first, then the next fresh one); false when all are taken.
  [[nodiscard]] bool allocate_slot(uint32_t& index);
  // Claims the operation a readiness report names; null when it is stale, or held (then the
  // report is remembered as missed).
  io_operation* claim(uint64_t report);
  // Performs the receive of a claimed operation. False when there was nothing to read yet (the
  // operation has been posted again).
  [[nodiscard]] bool complete_receive(io_operation& op, completion& out);

  int epoll_fd_ = -1;
  int packet_fd_ = -1;  // eventfd in semaphore mode: one count per queued packet
  std::mutex mutex_;    // guards packets_
  std::deque<packet> packets_;
  // Slots live in chunks that are never freed before the port, so a late report can always read
  // the generation of the slot it names.
  std::unique_ptr<std::atomic<ownership*>[]> chunks_;
  std::mutex slots_mutex_;  // guards free_slots_, next_slot_ and chunk creation
  std::vector<uint32_t> free_slots_;
  uint32_t next_slot_ = 0;
};

}  // namespace qn::net
