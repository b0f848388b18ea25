// A completion port over epoll: posted receives and sends complete on whichever thread waits next.
// Thread-safe; one receive or send may be outstanding per associated socket. The port does not
// own the sockets or the operations; an operation must stay alive until it is dissociated.
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
//
// One epoll_wait takes up to `reports_per_wait` readiness reports. The waiting thread handles the
// first; the others go to a queue shared by every thread that serves the port, which takes from
// it before it asks epoll again, so a report never waits for one particular thread (a thread
// asleep in epoll_wait is woken for them). With one running thread this drops the epoll_wait of
// most requests under load.
//
// A send is tried at once by the thread that holds the operation; only what the socket does not
// take is left to the port: the socket's registration gains writability, the operation is posted
// like a receive, and whichever thread claims it on a report sends more, until the last byte has
// left and the send completes. Reports claimed during a send may have been read-readiness, so the
// receive posted after such a send is always tried once without waiting for an edge.
//
// Concurrency: a thread that serves the port takes a turn first and keeps it until it stops
// serving; at most `concurrency` threads hold turns, the others wait for one. So however many
// threads are started, no more than that many take completions and run at once, and the same
// ones keep running while there is work, as on a completion port with a concurrency value.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

struct epoll_event;

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
  bool is_watching_writable = false;  // the registration includes writability
  // The part of a send the socket has not taken yet (none while no send is outstanding).
  const char* send_bytes = nullptr;
  size_t send_left = 0;
};

struct completion {
  uint32_t bytes = 0;  // bytes received; 0 means the peer closed the connection
  uint64_t key = 0;
  io_operation* operation = nullptr;  // null for posted packets that carry none
  int error = 0;                      // errno of a failed receive or send, 0 otherwise
  bool is_send = false;  // a send finished: every byte of it left (unless error is set)
};

// How a send started by start_send went on.
enum class send_state {
  done,     // every byte left; the caller still holds the operation
  pending,  // the port sends the rest and completes the send later; the caller let go
  failed,   // the socket refused (errno set); the caller still holds the operation
};

class completion_port {
 public:
  // The most sockets associated at once.
  static constexpr uint32_t max_sockets = 1u << 20;

  // At most `concurrency` (at least 1) threads hold turns at once.
  explicit completion_port(unsigned concurrency = max_sockets);
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
  // Posts one receive of at most op.capacity bytes into op.area (or, while a send is outstanding,
  // the rest of that send). Returns false (errno set) when it cannot be queued. Requires: the
  // caller holds the operation. The caller must not touch `op` afterwards until its completion has
  // been taken.
  [[nodiscard]] bool post_receive(io_operation& op);
  // Sends `size` bytes from `bytes`, which must stay unchanged until the send completes. Sends
  // what the socket takes now; the rest is posted (see send_state). Never blocks, never raises
  // SIGPIPE. Requires: the caller holds the operation and no send is outstanding.
  [[nodiscard]] send_state start_send(io_operation& op, const char* bytes, size_t size);
  // Takes a posted operation away from the port without a completion, as if it had come from
  // one: true when it was posted (the caller now holds it), false when a thread holds it or a
  // retry of it is queued. post_receive gives it back (continuing a send that is outstanding).
  // Requires: op is associated and stays alive during the call.
  [[nodiscard]] bool try_hold(io_operation& op);
  // Queues a completion packet that the next waiting thread takes (FIFO among posted packets).
  // Returns false when the packet could not be signalled.
  [[nodiscard]] bool post(uint32_t bytes, uint64_t key, io_operation* op);
  // Waits until the calling thread may serve the port. Call once before the first wait.
  void take_turn();
  // Lets the next thread that waits for a turn serve the port; call when the thread stops serving.
  void give_turn();
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
    bool needs_io = false;   // a retry: perform the receive or send of done.operation
    bool is_wakeup = false;  // no completion: wakes a thread for the shared reports
  };
  // Readiness reports one epoll_wait takes (measured against 1 and 64: the shorter tail of the
  // two that gain throughput).
  static constexpr int reports_per_wait = 16;
  static constexpr uint32_t chunk_bits = 12;
  static constexpr uint32_t chunk_size = 1u << chunk_bits;

  [[nodiscard]] bool queue(const packet& p);
  [[nodiscard]] bool take_posted(completion& out);
  // Takes the oldest shared report; false when there is none.
  [[nodiscard]] bool take_shared(uint64_t& report);
  // Waits in epoll for reports (unless shared ones came meanwhile); returns the first in `report`
  // and shares the others. False when epoll_wait failed.
  [[nodiscard]] bool wait_for_reports(uint64_t& report);
  // Queues reports for whichever thread serving the port asks next; wakes one asleep in epoll.
  void share(const epoll_event* events, int count);
  // Handles one report (a socket's or the packet queue's); true with a completion in `out`.
  [[nodiscard]] bool handle(uint64_t report, completion& out);
  ownership& slot_at(uint32_t index);
  // Allocates a slot (free list first, then the next fresh one); false when all are taken.
  [[nodiscard]] bool allocate_slot(uint32_t& index);
  // Claims the operation a readiness report names; null when it is stale, or held (then the
  // report is remembered as missed).
  io_operation* claim(uint64_t report);
  // Marks a held operation posted, or queues its retry when a report came while it was held or
  // bytes may be waiting. False when the retry could not be queued.
  [[nodiscard]] bool repost(io_operation& op);
  // Performs the receive or the rest of the send of a claimed operation. False when the socket
  // was not ready after all (the operation has been posted again).
  [[nodiscard]] bool complete_io(io_operation& op, completion& out);
  [[nodiscard]] bool complete_receive(io_operation& op, completion& out);
  [[nodiscard]] bool complete_send(io_operation& op, completion& out);
  // Sends as much of op's pending bytes as the socket takes now. 0 when all left, EAGAIN when the
  // socket is full, else the errno of the failure.
  static int send_some(io_operation& op);
  // Adds writability to the socket's registration (once per socket). False (errno set) on failure.
  [[nodiscard]] bool watch_writable(io_operation& op);

  std::mutex turns_mutex_;  // guards free_turns_
  std::condition_variable turn_freed_;
  unsigned free_turns_;

  int epoll_fd_ = -1;
  int packet_fd_ = -1;  // eventfd in semaphore mode: one count per queued packet
  std::mutex mutex_;    // guards packets_ and shared_reports_
  std::deque<packet> packets_;
  std::deque<uint64_t> shared_reports_;
  // Read without the mutex to skip it when nothing is shared. sleepers_ counts the threads in
  // epoll_wait; it and shared_count_ are seq_cst so that a thread going to sleep sees the reports
  // shared before, or the sharing thread sees the sleeper and wakes it.
  std::atomic<size_t> shared_count_{0};
  std::atomic<int> sleepers_{0};
  std::atomic<bool> is_wakeup_queued_{false};
  // Slots live in chunks that are never freed before the port, so a late report can always read
  // the generation of the slot it names.
  std::unique_ptr<std::atomic<ownership*>[]> chunks_;
  std::mutex slots_mutex_;  // guards free_slots_, next_slot_ and chunk creation
  std::vector<uint32_t> free_slots_;
  uint32_t next_slot_ = 0;
};

}  // namespace qn::net
