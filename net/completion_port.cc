#include "net/completion_port.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace qn::net {

namespace {
// epoll's user data for the packet eventfd; a socket's report carries its slot and generation.
constexpr uint64_t packet_report = ~uint64_t{0};

// The ownership word: generation << 32 | state. Held (by the thread handling the socket, or by
// its creator before the first post) is the word without state bits.
constexpr uint64_t posted = 1;
constexpr uint64_t missed = 2;  // a report came while held
constexpr uint64_t state_bits = posted | missed;

uint64_t generation_of(uint64_t word) { return word >> 32; }
uint64_t report_of(uint32_t slot, uint64_t generation) { return generation << 32 | slot; }
}  // namespace

completion_port::completion_port(unsigned concurrency)
    : free_turns_(concurrency == 0 ? 1 : concurrency),
      chunks_(std::make_unique<std::atomic<ownership*>[]>(max_sockets / chunk_size)) {
  epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
  packet_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE);
  if (epoll_fd_ < 0 || packet_fd_ < 0) return;
  epoll_event ev{};
  ev.events = EPOLLIN;  // level-triggered: every waiter may try to take a packet
  ev.data.u64 = packet_report;
  if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, packet_fd_, &ev) != 0) {
    close(packet_fd_);
    packet_fd_ = -1;
  }
}

completion_port::~completion_port() {
  if (packet_fd_ >= 0) close(packet_fd_);
  if (epoll_fd_ >= 0) close(epoll_fd_);
  for (uint32_t i = 0; i < max_sockets / chunk_size; ++i) delete[] chunks_[i].load();
}

// ---- turns ----

void completion_port::take_turn() {
  std::unique_lock lock(turns_mutex_);
  turn_freed_.wait(lock, [this] { return free_turns_ > 0; });
  --free_turns_;
}

void completion_port::give_turn() {
  {
    std::lock_guard lock(turns_mutex_);
    ++free_turns_;
  }
  turn_freed_.notify_one();
}

// ---- ownership slots ----

completion_port::ownership& completion_port::slot_at(uint32_t index) {
  return chunks_[index >> chunk_bits].load(std::memory_order_acquire)[index & (chunk_size - 1)];
}

bool completion_port::allocate_slot(uint32_t& index) {
  std::lock_guard lock(slots_mutex_);
  if (!free_slots_.empty()) {
    index = free_slots_.back();
    free_slots_.pop_back();
    return true;
  }
  if (next_slot_ == max_sockets) return false;
  std::atomic<ownership*>& chunk = chunks_[next_slot_ >> chunk_bits];
  if (chunk.load(std::memory_order_relaxed) == nullptr) {
    auto* fresh = new (std::nothrow) ownership[chunk_size];
    if (fresh == nullptr) return false;
    chunk.store(fresh, std::memory_order_release);
  }
  index = next_slot_++;
  return true;
}

bool completion_port::associate(int socket, uint64_t key, io_operation& op) {
  uint32_t index = 0;
  if (!allocate_slot(index)) {
    errno = ENOMEM;
    return false;
  }
  ownership& slot = slot_at(index);
  const uint64_t generation = generation_of(slot.word.load());
  op.socket = socket;
  op.key = key;
  op.slot = index;
  op.may_have_more = false;
  op.is_watching_writable = false;
  op.send_left = 0;
  slot.op = &op;
  slot.word.store(generation << 32, std::memory_order_release);  // held by the caller
  epoll_event ev{};
  ev.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
  ev.data.u64 = report_of(index, generation);
  if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, socket, &ev) == 0) return true;
  const int error = errno;
  dissociate(op);
  errno = error;
  return false;
}

void completion_port::dissociate(io_operation& op) {
  ownership& slot = slot_at(op.slot);
  const uint64_t generation = generation_of(slot.word.load(std::memory_order_relaxed));
  // Wraps after 2^32 - 1 reuses of one slot, skipping 0.
  const uint64_t next = generation == 0xFFFFFFFFu ? 1 : generation + 1;
  slot.word.store(next << 32, std::memory_order_release);
  std::lock_guard lock(slots_mutex_);
  free_slots_.push_back(op.slot);
}

io_operation* completion_port::claim(uint64_t report) {
  const auto index = static_cast<uint32_t>(report);
  const uint64_t generation = generation_of(report);
  ownership& slot = slot_at(index);
  uint64_t word = slot.word.load(std::memory_order_acquire);
  for (;;) {
    if (generation_of(word) != generation) return nullptr;  // dissociated since
    if ((word & posted) != 0) {
      if (slot.word.compare_exchange_weak(word, generation << 32, std::memory_order_acq_rel)) {
        return slot.op;
      }
      continue;
    }
    if ((word & missed) != 0) return nullptr;
    if (slot.word.compare_exchange_weak(word, word | missed, std::memory_order_acq_rel)) {
      return nullptr;
    }
  }
}

// ---- posting ----

bool completion_port::post_receive(io_operation& op) { return repost(op); }

bool completion_port::repost(io_operation& op) {
  ownership& slot = slot_at(op.slot);
  uint64_t word = slot.word.load(std::memory_order_relaxed);
  const uint64_t held = word & ~state_bits;
  for (;;) {
    if ((word & missed) != 0 || op.may_have_more) {
      // Bytes (or room) may be waiting that no new edge will report: the operation is tried by
      // whichever thread takes the retry, still held.
      slot.word.store(held, std::memory_order_relaxed);
      op.may_have_more = false;
      completion retry{0, op.key, &op, 0, false};
      return queue(packet{retry, true});
    }
    if (slot.word.compare_exchange_weak(word, held | posted, std::memory_order_acq_rel)) {
      return true;
    }
  }
}

send_state completion_port::start_send(io_operation& op, const char* bytes, size_t size) {
  op.send_bytes = bytes;
  op.send_left = size;
  int error = send_some(op);
  if (error == EAGAIN) {
    if (watch_writable(op) && repost(op)) return send_state::pending;
    error = errno;
  }
  if (error == 0) return send_state::done;
  op.send_left = 0;
  errno = error;
  return send_state::failed;
}

int completion_port::send_some(io_operation& op) {
  while (op.send_left > 0) {
    const ssize_t n = send(op.socket, op.send_bytes, op.send_left, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      op.send_bytes += n;
      op.send_left -= static_cast<size_t>(n);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      return EAGAIN;
    } else if (errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

bool completion_port::watch_writable(io_operation& op) {
  if (op.is_watching_writable) return true;
  // Modifying the registration reports the socket at once if it is writable by now, so room that
  // came since the refused send is not missed.
  epoll_event ev{};
  ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
  ev.data.u64 = report_of(op.slot, generation_of(slot_at(op.slot).word.load()));
  if (epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, op.socket, &ev) != 0) return false;
  op.is_watching_writable = true;
  return true;
}

bool completion_port::try_hold(io_operation& op) {
  ownership& slot = slot_at(op.slot);
  uint64_t word = slot.word.load(std::memory_order_acquire);
  return (word & posted) != 0 &&
         slot.word.compare_exchange_strong(word, word & ~state_bits, std::memory_order_acq_rel);
}

bool completion_port::post(uint32_t bytes, uint64_t key, io_operation* op) {
  return queue(packet{completion{bytes, key, op, 0, false}, false});
}

bool completion_port::queue(const packet& p) {
  // Pushing and counting under one hold keeps the packet last until its count is written, so a
  // failed write (the counter cannot really overflow) can take it back before anyone sees it.
  std::lock_guard lock(mutex_);
  packets_.push_back(p);
  const uint64_t one = 1;
  if (write(packet_fd_, &one, sizeof one) == static_cast<ssize_t>(sizeof one)) return true;
  packets_.pop_back();
  return false;
}

// ---- waiting ----

bool completion_port::wait(completion& out) {
  for (;;) {
    uint64_t report = 0;
    if (!take_shared(report) && !wait_for_reports(report)) return false;
    if (handle(report, out)) return true;
  }
}

bool completion_port::take_shared(uint64_t& report) {
  if (shared_count_.load() == 0) return false;
  std::lock_guard lock(mutex_);
  if (shared_reports_.empty()) return false;
  report = shared_reports_.front();
  shared_reports_.pop_front();
  shared_count_.store(shared_reports_.size());
  return true;
}

bool completion_port::wait_for_reports(uint64_t& report) {
  epoll_event events[reports_per_wait];
  int n = 0;
  do {
    sleepers_.fetch_add(1);
    // Reports shared after this thread last looked, by a thread that did not see it asleep yet.
    if (take_shared(report)) {
      sleepers_.fetch_sub(1);
      return true;
    }
    n = epoll_wait(epoll_fd_, events, reports_per_wait, -1);
    sleepers_.fetch_sub(1);
  } while (n == 0 || (n < 0 && errno == EINTR));
  if (n < 0) return false;
  // The packet queue's report goes last, so that the socket reports of the same wait come first.
  std::partition(events, events + n,
                 [](const epoll_event& e) { return e.data.u64 != packet_report; });
  report = events[0].data.u64;
  if (n > 1) share(events + 1, n - 1);
  return true;
}

void completion_port::share(const epoll_event* events, int count) {
  {
    std::lock_guard lock(mutex_);
    for (int i = 0; i < count; ++i) shared_reports_.push_back(events[i].data.u64);
    shared_count_.store(shared_reports_.size());
  }
  if (sleepers_.load() > 0 && !is_wakeup_queued_.exchange(true)) {
    packet wakeup;
    wakeup.is_wakeup = true;
    if (!queue(wakeup)) is_wakeup_queued_.store(false);
  }
}

bool completion_port::handle(uint64_t report, completion& out) {
  if (report == packet_report) return take_posted(out);
  io_operation* op = claim(report);
  return op != nullptr && complete_io(*op, out);
}

bool completion_port::take_posted(completion& out) {
  uint64_t count = 0;
  // Another waiter may have taken the last count first; then there is nothing for this one.
  if (read(packet_fd_, &count, sizeof count) != static_cast<ssize_t>(sizeof count)) return false;
  packet p;
  {
    std::lock_guard lock(mutex_);
    p = packets_.front();
    packets_.pop_front();
  }
  if (p.is_wakeup) {
    is_wakeup_queued_.store(false);
    return false;
  }
  if (!p.needs_io) {
    out = p.done;
    return true;
  }
  return complete_io(*p.done.operation, out);
}

bool completion_port::complete_io(io_operation& op, completion& out) {
  return op.send_left > 0 ? complete_send(op, out) : complete_receive(op, out);
}

bool completion_port::complete_send(io_operation& op, completion& out) {
  int error = send_some(op);
  if (error == 0) {
    // The reports claimed while sending may have announced bytes to read: try the next receive
    // without waiting for an edge.
    op.may_have_more = true;
    out = completion{0, op.key, &op, 0, true};
    return true;
  }
  if (error == EAGAIN) {
    if (repost(op)) return false;
    error = errno;
  }
  op.send_left = 0;
  out = completion{0, op.key, &op, error, true};
  return true;
}

bool completion_port::complete_receive(io_operation& op, completion& out) {
  for (;;) {
    const ssize_t n = recv(op.socket, op.area, op.capacity, MSG_DONTWAIT);
    if (n >= 0) {
      op.may_have_more = n == static_cast<ssize_t>(op.capacity);
      out = completion{static_cast<uint32_t>(n), op.key, &op, 0, false};
      return true;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (post_receive(op)) return false;
    }
    out = completion{0, op.key, &op, errno, false};
    return true;
  }
}

}  // namespace qn::net
