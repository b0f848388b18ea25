// Soak: 50 connections at once against one server. Each owns a vector, a set and a map and checks
// every reply about them against a model of its own (the standard containers); all of them also
// hammer two shared containers, where only invariants can be checked. Backups run in between,
// each restored into a second, private server and read back there against the model.
//
// Bounded: each connection sends ZOR_SOAK_REQUESTS requests (default 300), or runs for
// ZOR_SOAK_SECONDS seconds when that is set (scripts/soak.sh).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "client/connection.h"
#include "client/frame.h"
#include "tests/e2e/server_harness.h"

namespace qn::e2e {
namespace {

using client::command_reply;
using client::result;

constexpr int connection_count = 50;
constexpr int must_fail = 0, must_succeed = 1, may_fail = 2;

// Reads a positive number from the environment, or `fallback`.
long long from_environment(const char* name, long long fallback) {
  const char* text = std::getenv(name);
  const long long value = text != nullptr ? std::atoll(text) : 0;
  return value > 0 ? value : fallback;
}

// The values of a one-item reply as 32-bit integers; empty for a reply without items.
std::vector<int32_t> i32_values(const command_reply& reply) {
  std::vector<int32_t> out;
  if (reply.items.empty()) return out;
  for (const client::value& v : reply.items[0].values) {
    if (const auto* i = std::get_if<int32_t>(&v)) out.push_back(*i);
  }
  return out;
}

bool open_logged_in(client::connection& conn, uint16_t port) {
  client::connect_options options;
  options.port = port;
  return conn.open(options) == result::ok && conn.log_in("admin", "secret") == result::ok;
}

// One connection to the server and one to the private server that backups are restored into. A
// restore replaces that server's whole database, so one connection at a time restores and reads
// back, under `copies_lock`.
class soak_client {
 public:
  soak_client(int id, uint16_t port, uint16_t copies_port, std::string backups, std::mutex& lock)
      : id_(id), random_(id * 7919u + 1), backups_(std::move(backups)), copies_lock_(lock) {
    connected_ = open_logged_in(conn_, port) && open_logged_in(copy_conn_, copies_port);
  }

  // Runs until the request budget or the deadline is spent; false (with `failure` set) at the
  // first mismatch.
  bool run(long long requests, std::chrono::steady_clock::time_point deadline) {
    if (!connected_) return fail("cannot connect and log in");
    const std::string p = "p" + std::to_string(id_);
    vector_ = "\"" + p + "v\"", set_ = "\"" + p + "s\"", map_ = "\"" + p + "m\"";
    if (!send("c vector i32 " + p + "v", must_succeed) ||
        !send("c set i32 " + p + "s", must_succeed) ||
        !send("c map i32 string " + p + "m", must_succeed)) {
      return false;
    }
    for (long long n = 0; n < requests && std::chrono::steady_clock::now() < deadline; ++n) {
      if (!step()) return false;
    }
    return check_all();
  }

  const std::string& failure() const { return failure_; }
  long long sent() const { return sent_; }

 private:
  // One random request and its check. The shared containers see every connection's writes, so
  // only invariants hold there: the set reads back strictly ascending, every reply well formed.
  bool step() {
    const int32_t k = static_cast<int32_t>(random_() % 64) - 16;
    const std::string key = std::to_string(k);
    command_reply reply;
    switch (random_() % 10) {
      case 0:
        model_vector_.push_back(k);
        return send("i " + vector_ + " last " + key, must_succeed);
      case 1: {
        const bool done = !model_vector_.empty();
        if (done) model_vector_.erase(model_vector_.begin());
        return send("d " + vector_ + " first", done);
      }
      case 2:
        return send("i " + set_ + " " + key, model_set_.insert(k).second);
      case 3:
        // Deleting a selection from a set succeeds even when nothing was selected.
        model_set_.erase(model_set_.begin(), model_set_.upper_bound(k / 4));
        return send("d " + set_ + " le " + std::to_string(k / 4), must_succeed);
      case 4:
        return send("i " + map_ + " " + key + " t" + key, model_map_.emplace(k, "t" + key).second);
      case 5:
        return send("d " + map_ + " equal " + key, model_map_.erase(k) != 0);
      case 6:
        return check_all();
      case 7:
        return send("i \"shared_v\" last " + key, must_succeed) &&
               send("d \"shared_v\" first", may_fail) && send("i \"shared_s\" " + key, may_fail) &&
               send("d \"shared_s\" lt " + std::to_string(k - 40), must_succeed);
      case 8: {
        if (!send("g \"shared_s\" all", must_succeed, &reply)) return false;
        const std::vector<int32_t> v = i32_values(reply);
        return std::adjacent_find(v.begin(), v.end(), std::greater_equal<>()) == v.end() ||
               fail("shared set not strictly ascending");
      }
      default: {
        // A backup of the whole database to a fresh file, restored into the private server,
        // where this connection's containers must read back as the model still holds them (only
        // this connection changes them). The file is removed again so long runs stay small.
        if (random_() % 8 != 0) return true;
        const std::string path =
            backups_ + "/c" + std::to_string(id_) + "_" + std::to_string(backup_count_++) + ".img";
        bool ok = send("b " + path, must_succeed);
        if (ok) {
          std::lock_guard hold(copies_lock_);
          ok = send("r " + path, must_succeed, nullptr, &copy_conn_) && check_all(&copy_conn_);
        }
        std::remove(path.c_str());
        return ok;
      }
    }
  }

  // The vector, the set and the map keys read back as their models hold them, on `on` (the
  // connection to the private server) or on this connection's own server.
  bool check_all(client::connection* on = nullptr) {
    std::vector<int32_t> keys;
    for (const auto& [key, value] : model_map_) keys.push_back(key);
    const std::pair<const std::string*, std::vector<int32_t>> checks[] = {
        {&vector_, model_vector_}, {&set_, {model_set_.begin(), model_set_.end()}}, {&map_, keys}};
    for (const auto& [name, model] : checks) {
      command_reply reply;
      if (!send("g " + *name + " all", must_succeed, &reply, on)) return false;
      if (i32_values(reply) != model) {
        return fail(*name + " differs from the model" + (on != nullptr ? " in the copy" : ""));
      }
    }
    return true;
  }

  // Sends a line and checks its outcome (must_fail, must_succeed or may_fail); a reply that does
  // not decode or a broken connection is always a mismatch, reported with the line.
  bool send(const std::string& line, int outcome, command_reply* reply = nullptr,
            client::connection* on = nullptr) {
    command_reply ignored;
    const result r =
        (on != nullptr ? *on : conn_).execute(line, reply != nullptr ? *reply : ignored);
    ++sent_;
    if (r != result::ok && r != result::command_failed) return fail(line + ": transport error");
    return outcome == may_fail || (r == result::ok) == (outcome == must_succeed) ||
           fail(line + (outcome == must_succeed ? ": expected success" : ": expected failure"));
  }
  bool fail(const std::string& what) {
    failure_ = "connection " + std::to_string(id_) + ": " + what;
    return false;
  }

  int id_;
  std::mt19937 random_;
  std::string backups_;
  std::mutex& copies_lock_;
  client::connection conn_;
  client::connection copy_conn_;
  bool connected_ = false;
  std::string vector_, set_, map_;
  std::vector<int32_t> model_vector_;
  std::set<int32_t> model_set_;
  std::map<int32_t, std::string> model_map_;
  int backup_count_ = 0;
  long long sent_ = 0;
  std::string failure_;
};

TEST(Soak, FiftyConnectionsAgreeWithTheirModels) {
  const long long seconds = from_environment("ZOR_SOAK_SECONDS", 0);
  const long long requests = seconds > 0 ? (1LL << 40) : from_environment("ZOR_SOAK_REQUESTS", 300);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(seconds > 0 ? seconds : 600);
  server_process server({.startup_script = "c vector i32 shared_v\nc set i32 shared_s\n"});
  server_process copy_server;
  ASSERT_TRUE(server.start_serving() && copy_server.start_serving());
  std::mutex copies_lock;
  temp_directory backups;

  std::vector<std::unique_ptr<soak_client>> clients;
  std::vector<std::thread> threads;
  for (int i = 0; i < connection_count; ++i) {
    clients.push_back(std::make_unique<soak_client>(i, server.port(), copy_server.port(),
                                                    backups.path(), copies_lock));
    threads.emplace_back([&, c = clients.back().get()] {
      if (!c->run(requests, deadline)) ADD_FAILURE() << c->failure();
    });
  }
  long long sent = 0;
  for (int i = 0; i < connection_count; ++i) {
    threads[i].join();
    sent += clients[i]->sent();
  }
  std::printf("soak: %lld requests checked\n", sent);
}

}  // namespace
}  // namespace qn::e2e
