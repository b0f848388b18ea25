#include "net/completion_port.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qn::net {
namespace {

// A connected pair of stream sockets: the port's end and the peer's.
struct socket_pair {
  int fds[2] = {-1, -1};
  int& ours = fds[0];
  int& theirs = fds[1];
  socket_pair() { (void)socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds); }
  ~socket_pair() {
    for (const int fd : fds) {
      if (fd >= 0) close(fd);
    }
  }
};

struct receiver : io_operation {
  std::array<char, 8> buffer{};
  receiver() {
    area = buffer.data();
    capacity = static_cast<uint32_t>(buffer.size());
  }
};

// The text a completion of `r` carries.
std::string text_of(const receiver& r, const completion& c) {
  return std::string(r.buffer.data(), c.bytes);
}

// Far more than the socket buffers hold: start_send returns at once with the rest pending, a
// reader drains the peer, and the send completes on the waiting thread. What the peer sent
// meanwhile is then received although its edge came during the send; a receive that fills the
// area queues the next one itself (no new edge announces the rest), ahead of a later packet, also
// for bytes that came after the send (no report of the send stands in for the edge); the peer's
// close completes a receive with zero bytes.
TEST(CompletionPort, SendTheSocketCannotTakeCompletesOnTheWaitingThread) {
  completion_port port;
  socket_pair pair;
  receiver r;
  ASSERT_TRUE(port.associate(pair.ours, 3, r));
  std::string bytes(8 << 20, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 4096);
  ASSERT_EQ(port.start_send(r, bytes.data(), bytes.size()), send_state::pending);
  ASSERT_EQ(write(pair.theirs, "abcdefghij", 10), 10);
  std::string received;
  std::thread reader([&] {
    char buffer[65536];
    while (received.size() < bytes.size()) {
      const ssize_t n = read(pair.theirs, buffer, sizeof buffer);
      if (n <= 0) return;
      received.append(buffer, static_cast<size_t>(n));
    }
  });
  completion c;
  ASSERT_TRUE(port.wait(c));
  reader.join();
  EXPECT_TRUE(c.is_send);
  EXPECT_EQ(c.operation, &r);
  EXPECT_EQ(c.error, 0);
  EXPECT_TRUE(received == bytes) << received.size();
  for (const std::string_view expected : {"abcdefgh", "ij", "klmnopqr", "st", ""}) {
    const bool is_rest = expected.size() == 2;  // announced by no new edge
    if (expected == "klmnopqr") {
      ASSERT_EQ(write(pair.theirs, "klmnopqrst", 10), 10);
    }
    if (expected.empty()) close(std::exchange(pair.theirs, -1));
    ASSERT_TRUE(port.post_receive(r));
    if (is_rest) {
      ASSERT_TRUE(port.post(0, exit_key, nullptr));  // what a lost receive would return
    }
    ASSERT_TRUE(port.wait(c));
    ASSERT_EQ(c.operation, &r) << expected;  // not the packet: the receive would never come
    EXPECT_FALSE(c.is_send);
    EXPECT_EQ(c.error, 0);
    EXPECT_EQ(text_of(r, c), expected);
    if (is_rest) {
      ASSERT_TRUE(port.wait(c) && c.key == exit_key);
    }
  }
}

TEST(CompletionPort, NoMoreThreadsThanTheConcurrencyHoldTurns) {
  // Four threads on a port of concurrency 2: two hold turns and take exit packets; each one that
  // ends lets a waiting thread in, so all four end on their four packets.
  completion_port port(2);
  std::atomic<int> holders{0}, most{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      port.take_turn();
      const int now = holders.fetch_add(1) + 1;
      int seen = most.load();
      while (now > seen && !most.compare_exchange_weak(seen, now)) {
      }
      completion c;
      while (!port.wait(c)) {
      }
      holders.fetch_sub(1);
      port.give_turn();
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // room for every thread to try
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(port.post(0, exit_key, nullptr));
  for (std::thread& t : threads) t.join();
  EXPECT_LE(most.load(), 2);
}

TEST(CompletionPort, ReportsOfOneWaitAllCompleteBeforeAPacket) {
  // Both sockets and the packet queue are ready before the first wait, so one epoll_wait takes
  // all three reports: the socket reports come first, the one not handled at once is kept for the
  // next wait (epoll will not report that edge again), and the packet comes last.
  completion_port port;
  socket_pair first, second;
  receiver a, b;
  ASSERT_TRUE(port.associate(first.ours, 1, a));
  ASSERT_TRUE(port.associate(second.ours, 2, b));
  ASSERT_TRUE(port.post_receive(a) && port.post_receive(b));
  ASSERT_TRUE(port.post(0, 9, nullptr));  // ready first, handled last
  ASSERT_EQ(write(first.theirs, "a", 1), 1);
  ASSERT_EQ(write(second.theirs, "b", 1), 1);
  std::string texts;
  completion c;
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(port.wait(c));
    ASSERT_NE(c.operation, nullptr);
    texts += text_of(*static_cast<receiver*>(c.operation), c);
  }
  EXPECT_TRUE(texts == "ab" || texts == "ba") << texts;
  ASSERT_TRUE(port.wait(c));
  EXPECT_EQ(c.key, 9u);
}

TEST(CompletionPort, DissociatedSocketNeverCompletesAgain) {
  // The first socket is dissociated with a report pending and keeps receiving bytes (its
  // registration lives until it is closed); its slot goes to a second socket. Nothing completes
  // for the old operation, and the slot's new socket works as any other.
  completion_port port;
  socket_pair first, second;
  receiver old_op, new_op;
  ASSERT_TRUE(port.associate(first.ours, 1, old_op));
  ASSERT_TRUE(port.post_receive(old_op));
  ASSERT_EQ(write(first.theirs, "x", 1), 1);
  port.dissociate(old_op);
  ASSERT_TRUE(port.associate(second.ours, 2, new_op));
  ASSERT_EQ(new_op.slot, old_op.slot);
  ASSERT_TRUE(port.post_receive(new_op));
  ASSERT_EQ(write(first.theirs, "z", 1), 1);
  ASSERT_TRUE(port.post(0, 9, nullptr));
  completion c;
  ASSERT_TRUE(port.wait(c));
  EXPECT_EQ(c.key, 9u);
  EXPECT_EQ(c.operation, nullptr);
  ASSERT_EQ(write(second.theirs, "y", 1), 1);
  ASSERT_TRUE(port.wait(c));
  EXPECT_EQ(c.operation, &new_op);
  EXPECT_EQ(text_of(new_op, c), "y");
}

}  // namespace
}  // namespace qn::net
