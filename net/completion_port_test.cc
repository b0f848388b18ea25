#include "net/completion_port.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace qn::net {
namespace {

struct socket_pair {
  int ours = -1;
  int theirs = -1;
  socket_pair() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
      ours = fds[0];
      theirs = fds[1];
    }
  }
  ~socket_pair() {
    if (ours >= 0) close(ours);
    if (theirs >= 0) close(theirs);
  }
};

struct receiver : io_operation {
  std::array<char, 8> buffer{};
  receiver() {
    area = buffer.data();
    capacity = static_cast<uint32_t>(buffer.size());
  }
};

TEST(CompletionPort, ReceiveCompletesWithTheBytesInTheArea) {
  completion_port port;
  socket_pair pair;
  receiver r;
  r.capacity = 5;  // smaller than what is sent: the rest waits for the next receive
  ASSERT_TRUE(port.associate(pair.ours, 42, r));
  ASSERT_TRUE(port.post_receive(r));
  ASSERT_EQ(write(pair.theirs, "abcdefgh", 8), 8);
  completion c;
  ASSERT_TRUE(port.wait(c));
  EXPECT_EQ(c.key, 42u);
  EXPECT_EQ(c.operation, &r);
  EXPECT_EQ(c.error, 0);
  EXPECT_EQ(std::string(r.buffer.data(), c.bytes), "abcde");
  // No new edge announces the rest: the post itself must queue the receive, ahead of this packet.
  ASSERT_TRUE(port.post_receive(r));
  ASSERT_TRUE(port.post(0, exit_key, nullptr));
  ASSERT_TRUE(port.wait(c));
  ASSERT_EQ(c.operation, &r);
  EXPECT_EQ(std::string(r.buffer.data(), c.bytes), "fgh");
}

TEST(CompletionPort, PeerCloseCompletesWithZeroBytes) {
  completion_port port;
  socket_pair pair;
  receiver r;
  ASSERT_TRUE(port.associate(pair.ours, 0, r));
  ASSERT_TRUE(port.post_receive(r));
  close(pair.theirs);
  pair.theirs = -1;
  completion c;
  ASSERT_TRUE(port.wait(c));
  EXPECT_EQ(c.operation, &r);
  EXPECT_EQ(c.bytes, 0u);
  EXPECT_EQ(c.error, 0);
}

TEST(CompletionPort, DisarmedSocketReportsNothing) {
  // Data (and even a hang-up) on a socket without a posted receive must not complete; the posted
  // packet queued after it is what the wait returns.
  completion_port port;
  socket_pair pair;
  receiver r;
  ASSERT_TRUE(port.associate(pair.ours, 0, r));
  ASSERT_EQ(write(pair.theirs, "x", 1), 1);
  close(pair.theirs);
  pair.theirs = -1;
  ASSERT_TRUE(port.post(3, 9, nullptr));
  completion c;
  ASSERT_TRUE(port.wait(c));
  EXPECT_EQ(c.key, 9u);
  EXPECT_EQ(c.operation, nullptr);
}

TEST(CompletionPort, BytesThatArriveWhileHeldCompleteAfterThePost) {
  // The report of "b" reaches a waiter while the first completion is still held; it must not be
  // lost, although no new edge comes after the next post.
  completion_port port;
  socket_pair pair;
  receiver r;
  ASSERT_TRUE(port.associate(pair.ours, 5, r));
  ASSERT_TRUE(port.post_receive(r));
  ASSERT_EQ(write(pair.theirs, "a", 1), 1);
  completion c;
  ASSERT_TRUE(port.wait(c));
  ASSERT_EQ(std::string(r.buffer.data(), c.bytes), "a");
  ASSERT_EQ(write(pair.theirs, "b", 1), 1);
  ASSERT_TRUE(port.post(0, 77, nullptr));  // queued behind the report of "b"
  ASSERT_TRUE(port.wait(c));
  ASSERT_EQ(c.key, 77u);
  ASSERT_TRUE(port.post_receive(r));
  ASSERT_TRUE(port.post(0, exit_key, nullptr));  // what a lost report would return instead
  ASSERT_TRUE(port.wait(c));
  EXPECT_EQ(c.operation, &r);
  EXPECT_EQ(std::string(r.buffer.data(), c.bytes), "b");
}

TEST(CompletionPort, SendTheSocketCannotTakeCompletesOnTheWaitingThread) {
  // Far more than the socket buffers hold: start_send returns at once with the rest pending, a
  // reader drains the peer, and the send completes on the waiting thread. A byte the peer sent
  // meanwhile is then received although its edge came during the send.
  completion_port port;
  socket_pair pair;
  receiver r;
  ASSERT_TRUE(port.associate(pair.ours, 3, r));
  std::string bytes(8 << 20, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 4096);
  ASSERT_EQ(port.start_send(r, bytes.data(), bytes.size()), send_state::pending);
  ASSERT_EQ(write(pair.theirs, "q", 1), 1);
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
  ASSERT_TRUE(port.post_receive(r));
  ASSERT_TRUE(port.wait(c));
  EXPECT_FALSE(c.is_send);
  EXPECT_EQ(std::string(r.buffer.data(), c.bytes), "q");
}

TEST(CompletionPort, NoMoreThreadsThanTheConcurrencyHoldTurns) {
  // Four threads on a port of concurrency 2: two hold turns and take exit packets; each one that
  // ends lets a waiting thread in, so all four end on their four packets.
  completion_port port(2);
  std::atomic<int> holders{0};
  std::atomic<int> most{0};
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

TEST(CompletionPort, DissociatedSocketNeverCompletesAgain) {
  // The first socket is dissociated with a report pending and keeps receiving bytes (its
  // registration lives until it is closed); its slot goes to a second socket. Nothing completes
  // for the old operation, and the slot's new socket works as any other.
  completion_port port;
  socket_pair first;
  socket_pair second;
  receiver old_op;
  receiver new_op;
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
  EXPECT_EQ(std::string(new_op.buffer.data(), c.bytes), "y");
}

TEST(CompletionPort, EveryByteOfManyWritersArrivesOnceWithOneHolderAtATime) {
  // Sixteen waiters and sixty-four sockets, written to in bursts while their previous bytes are
  // still being handled: each byte completes exactly once, and no socket is ever held by two
  // waiters at once.
  completion_port port;
  constexpr int sockets = 64;
  constexpr int waiters = 16;
  constexpr int writes_per_socket = 300;
  std::vector<socket_pair> pairs(sockets);
  std::vector<receiver> ops(sockets);
  for (int i = 0; i < sockets; ++i) {
    ASSERT_TRUE(port.associate(pairs[i].ours, static_cast<uint64_t>(i), ops[i]));
    ASSERT_TRUE(port.post_receive(ops[i]));
  }
  std::vector<std::atomic<int>> received(sockets);
  std::vector<std::atomic<int>> holders(sockets);
  std::atomic<bool> overlapped{false};
  std::vector<std::thread> threads;
  for (int w = 0; w < waiters; ++w) {
    threads.emplace_back([&] {
      for (;;) {
        completion c;
        if (!port.wait(c)) continue;
        if (c.key == exit_key) return;
        if (holders[c.key].fetch_add(1) != 0) overlapped = true;
        received[c.key].fetch_add(static_cast<int>(c.bytes));
        std::this_thread::yield();  // widen the window in which new bytes find the socket held
        holders[c.key].fetch_sub(1);
        if (!port.post_receive(*c.operation)) overlapped = true;
      }
    });
  }
  for (int round = 0; round < writes_per_socket; ++round) {
    for (int i = 0; i < sockets; ++i) ASSERT_EQ(write(pairs[i].theirs, "m", 1), 1);
  }
  const auto all_arrived = [&] {
    for (auto& r : received) {
      if (r.load() != writes_per_socket) return false;
    }
    return true;
  };
  for (int spin = 0; spin < 2000 && !all_arrived(); ++spin) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  for (int w = 0; w < waiters; ++w) ASSERT_TRUE(port.post(0, exit_key, nullptr));
  for (auto& t : threads) t.join();
  EXPECT_FALSE(overlapped.load());
  for (int i = 0; i < sockets; ++i) EXPECT_EQ(received[i].load(), writes_per_socket) << i;
}

}  // namespace
}  // namespace qn::net
