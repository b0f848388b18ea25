// Loopback benchmark of the network service: requests per second and p50/p99 latency of one
// request frame and its reply, with 1 and with 50 connections, each client waiting for every reply.
// Starts the listener in-process on 127.0.0.1; the clients are plain blocking sockets.
//
//   net_bench [seconds per run, default 3]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/executor.h"
#include "net/digest.h"
#include "net/listener.h"
#include "net/test_client.h"

namespace {

using qn::net::testing::test_client;
using steady = std::chrono::steady_clock;

constexpr uint64_t key_count = 100000;
constexpr char success[] = "0100000000";

bool run_line(qn::db::nosql::container_registry& registry, const std::string& line) {
  qn::db::nosql::reply_record reply;
  return qn::db::nosql::execute(registry, line.data(), line.size(), reply);
}

// Fills slot 0 with a hash map of key_count keys; false when the command families cannot yet.
bool fill(qn::db::nosql::container_registry& registry) {
  if (!run_line(registry, "c hashmap u64 u64 262144")) return false;
  for (uint64_t k = 0; k < key_count; ++k) {
    if (!run_line(registry, "i 0 " + std::to_string(k) + " " + std::to_string(k * 3))) return false;
  }
  return true;
}

struct result {
  double requests_per_second = 0;
  double p50_us = 0;
  double p99_us = 0;
  uint64_t failures = 0;
};

result measure(uint16_t port, int connections, double seconds, bool is_read) {
  std::vector<std::vector<uint32_t>> latencies(connections);  // nanoseconds
  std::atomic<uint64_t> failures{0};
  std::atomic<bool> go{false};
  std::atomic<int> ready{0};
  const auto run_for = std::chrono::duration<double>(seconds);
  std::vector<std::thread> threads;
  for (int t = 0; t < connections; ++t) {
    threads.emplace_back([&, t] {
      test_client c(port);
      const bool is_logged_in = c.login("alice", "wonderland") == success;
      std::mt19937_64 random(t + 1);
      ready.fetch_add(1);
      while (!go.load()) std::this_thread::yield();
      if (!is_logged_in) {
        failures.fetch_add(1);
        return;
      }
      auto& mine = latencies[t];
      mine.reserve(1 << 20);
      const auto end = steady::now() + run_for;
      for (auto now = steady::now(); now < end;) {
        const std::string line =
            is_read ? "g 0 value " + std::to_string(random() % key_count) : std::string("c.clr");
        if (!c.send_frame(line)) break;
        const std::string reply = c.read_reply();
        const auto after = steady::now();
        if (reply.size() < 5 || reply[4] != 0) failures.fetch_add(1);
        mine.push_back(static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(after - now).count()));
        now = after;
      }
    });
  }
  while (ready.load() < connections) std::this_thread::yield();
  const auto start = steady::now();
  go.store(true);
  for (auto& th : threads) th.join();
  const double elapsed = std::chrono::duration<double>(steady::now() - start).count();
  std::vector<uint32_t> all;
  for (auto& v : latencies) all.insert(all.end(), v.begin(), v.end());
  std::sort(all.begin(), all.end());
  result r;
  r.failures = failures.load();
  if (all.empty()) return r;
  r.requests_per_second = static_cast<double>(all.size()) / elapsed;
  r.p50_us = all[all.size() / 2] / 1000.0;
  r.p99_us = all[all.size() * 99 / 100] / 1000.0;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
  qn::user_table users{{"alice", qn::net::password_digest("wonderland")}};
  qn::net::login_throttle throttle;
  std::atomic<bool> is_filled{false};
  qn::net::listener_options options;
  options.port = qn::net::testing::find_free_port();
  options.bind_address = "127.0.0.1";
  options.users = &users;
  options.throttle = &throttle;
  options.on_first_start = [&](qn::db::nosql::container_registry& r) { is_filled.store(fill(r)); };
  qn::net::listener server(options);
  std::thread loop([&] { server.restart_loop(); });
  while (server.listening_socket() == -1) std::this_thread::sleep_for(std::chrono::milliseconds(5));

  const bool is_read = is_filled.load();
  std::printf("request: %s\n", is_read ? "g 0 value <random key of 100000> on a u64->u64 hashmap"
                                       : "c.clr (5-byte remove-all; read family not available)");
  std::printf("%-12s %14s %10s %10s %9s\n", "connections", "requests/s", "p50 us", "p99 us",
              "failures");
  for (int connections : {1, 50}) {
    const result r = measure(options.port, connections, seconds, is_read);
    std::printf("%-12d %14.0f %10.1f %10.1f %9llu\n", connections, r.requests_per_second, r.p50_us,
                r.p99_us, static_cast<unsigned long long>(r.failures));
  }
  server.stop_request();
  loop.join();
  return 0;
}
