// Persistence end to end: the server restarted on its own directory comes back with what it
// served, after an orderly stop and after SIGKILL, from a log, a snapshot or both; a torn last
// record is cut off and a corrupt one in the middle stops the start.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/server_harness.h"

namespace qn::e2e {
namespace {

namespace fs = std::filesystem;

// A server whose [persistence] table keeps its data in `data`, which outlives the server.
struct persistent_server {
  persistent_server(const std::string& data, const std::string& settings)
      : port(find_free_port()),
        process({configuration_text(port, {{"admin", "secret"}}) + "\n[persistence]\n" +
                     "directory = \"" + data + "\"\n" + settings,
                 std::string("c vector i32 from_script\n"),
                 {},
                 {},
                 "",
                 0}) {}
  bool start() { return process.start() && wait_for_connect(port, true); }
  std::unique_ptr<frame_client> client() {
    auto c = std::make_unique<frame_client>(port);
    EXPECT_TRUE(c->log_in("admin", "secret"));
    return c;
  }
  // SIGTERM, and true when the process ended on its own with status 0.
  bool stop() {
    if (!process.send_signal(SIGTERM)) return false;
    const std::optional<int> status = process.wait_exit();
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
  }

  uint16_t port;
  server_process process;
};

const char* const creations[] = {
    "c vector i32",    "c deque i32",        "c list i32",           "c stack i32",
    "c queue i32",     "c heap i32",         "c set i32 \"a set\"",  "c multiset i32",
    "c map i32 i32 m", "c multimap i32 i32", "c hashmap i32 i32 64", "c hashtable i32 64",
    "c trie"};

const char* const changes[] = {"i %d last %d",  "i %d first %d", "i %d %d %d",       "i %d %d",
                               "s %d first %d", "s %d last %d",  "s %d value %d %d", "d %d first",
                               "d %d last",     "d %d equal %d", "d %d min"};

// The u64 of a reply whose one item is a u64 (a count or a handle).
uint64_t count_in(const std::string& reply) {
  uint64_t n = 0;
  for (size_t i = 0; i < 8 && reply.size() >= 8; ++i) {
    n |= uint64_t{static_cast<uint8_t>(reply[reply.size() - 8 + i])} << (8 * i);
  }
  return n;
}

// Finds a node of the list in slot 2 by its element, then writes, inserts or deletes at its handle.
// Handles are not what a replay reproduces, so these must reach the log in another form.
void change_at_node(frame_client& c, std::mt19937& random) {
  const std::string found = c.command("g 2 ptr " + std::to_string(random() % 40));
  if (found.size() <= 9) return;  // no item: no node holds that element
  const std::string handle = std::to_string(count_in(found));
  const std::string element = std::to_string(random() % 40);
  const std::string forms[] = {"s 2 val " + handle + " " + element,
                               "i 2 val " + handle + " " + element, "d 2 ptr " + handle};
  ASSERT_TRUE(is_success(c.command(forms[random() % std::size(forms)])));
}

// Creates every kind (with `creates`), then a seeded run of inserts, writes and deletes over them,
// with writes at list node handles, an erase and re-creation, a clear, and a backup restored later
// in the run.
void run_random_writes(frame_client& c, const std::string& image, unsigned seed, bool creates) {
  std::mt19937 random(seed);
  auto create_all = [&] {
    for (const char* line : creations) ASSERT_TRUE(is_success(c.command(line))) << line;
  };
  if (creates) {
    create_all();
    ASSERT_TRUE(is_success(c.command("c    ")));  // the five-byte line: remove everything
    create_all();
  }
  char line[96];
  for (int i = 0; i < 3000; ++i) {
    const int slot = static_cast<int>(random() % std::size(creations));
    std::snprintf(line, sizeof line, changes[random() % std::size(changes)], slot,
                  static_cast<int>(random() % 40), static_cast<int>(random() % 40));
    (void)c.command(line);
    if (i % 4 == 0) change_at_node(c, random);
    if (i == 1000) {
      ASSERT_TRUE(is_success(c.command("b \"" + image + "\"")));
    }
    if (i == 1500) {
      ASSERT_TRUE(is_success(c.command("e 4")));
      ASSERT_TRUE(is_success(c.command("c queue i32 again" + std::to_string(seed))));
    }
    if (i == 2000) {
      ASSERT_TRUE(is_success(c.command("r \"" + image + "\"")));
    }
  }
}

// The whole visible state: the listing and every slot's contents (a failure for a free one).
std::string state_of(frame_client& c) {
  std::string state = c.command("k");
  for (int slot = 0; slot < 30; ++slot) state += c.command("g " + std::to_string(slot) + " all");
  return state;
}

struct restart_case {
  const char* name;
  const char* settings;
  bool waits_for_snapshot;  // a second run of writes after the first snapshot is in place
};

bool has_snapshot(const std::string& directory) {
  for (const fs::directory_entry& e : fs::directory_iterator(directory)) {
    if (e.path().string().ends_with(".img")) return true;
  }
  return false;
}

// Log only, log and snapshots (every few kilobytes of log, or every second), snapshots only.
TEST(Persistence, RestartComesBackWithTheSameState) {
  const restart_case cases[] = {
      {"log", "fsync = \"no\"\nsnapshot_every_s = 0\n", false},
      {"log and snapshots", "fsync = \"everysec\"\nsnapshot_log_bytes = 4000\n", true},
      {"log and a snapshot a second", "snapshot_every_s = 1\n", true},
      {"snapshot only", "append_log = false\nsnapshot_every_s = 0\n", false},
  };
  for (const restart_case& one : cases) {
    SCOPED_TRACE(one.name);
    temp_directory data;
    std::string before;
    {
      persistent_server server(data.path() + "/data", one.settings);
      ASSERT_TRUE(server.start());
      auto c = server.client();
      run_random_writes(*c, data.path() + "/backup.img", 7, true);
      if (one.waits_for_snapshot) {
        for (int i = 0; i < 100 && !has_snapshot(data.path() + "/data"); ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ASSERT_TRUE(has_snapshot(data.path() + "/data"));
        run_random_writes(*c, data.path() + "/backup2.img", 8, false);
      }
      before = state_of(*c);
      ASSERT_TRUE(server.stop());
    }
    persistent_server again(data.path() + "/data", one.settings);
    ASSERT_TRUE(again.start());
    auto c = again.client();
    EXPECT_EQ(state_of(*c), before);
    EXPECT_NE(again.process.output().find("init.nos skipped"), std::string::npos);
  }
}

// The newest log segment in the directory.
std::string newest_segment(const std::string& directory) {
  std::string newest;
  for (const fs::directory_entry& e : fs::directory_iterator(directory)) {
    const std::string name = e.path().string();
    if (name.ends_with(".zlog") && fs::file_size(e.path()) > 0 && name > newest) newest = name;
  }
  return newest;
}

TEST(Persistence, TornLastRecordIsCutAndCorruptMiddleRecordStopsTheStart) {
  const std::string settings = "fsync = \"always\"\nsnapshot_every_s = 0\n";
  temp_directory data;
  const std::string directory = data.path() + "/data";
  std::string before;
  {
    persistent_server server(directory, settings);
    ASSERT_TRUE(server.start());
    auto c = server.client();
    ASSERT_TRUE(is_success(c->command("c map i32 i32 m")));
    for (int i = 0; i < 20; ++i) (void)c->command("i 1 " + std::to_string(i) + " 5");
    before = state_of(*c);
    ASSERT_TRUE(server.stop());
  }
  const std::string segment = newest_segment(directory);
  ASSERT_FALSE(segment.empty());
  {
    std::ofstream torn(segment, std::ios::binary | std::ios::app);
    torn.write("\x40\0\0\0\0\0\0\0\x01\x02", 10);  // a header cut short
  }
  {
    persistent_server server(directory, settings);
    ASSERT_TRUE(server.start());
    EXPECT_EQ(state_of(*server.client()), before);
    EXPECT_NE(server.process.output().find("cut a torn last record"), std::string::npos);
    ASSERT_TRUE(server.stop());
  }
  {
    std::fstream corrupt(segment, std::ios::binary | std::ios::in | std::ios::out);
    corrupt.seekp(30);
    corrupt.put('#');
  }
  persistent_server server(directory, settings);
  ASSERT_TRUE(server.process.start());
  const std::optional<int> status = server.process.wait_exit();
  ASSERT_TRUE(status.has_value());
  EXPECT_FALSE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  EXPECT_NE(server.process.output().find("is corrupt at offset"), std::string::npos);
}

// Four connections append to their own vectors until SIGKILL; after the restart each vector holds
// every acknowledged element and at most the one that was in flight.
TEST(Persistence, SigkillUnderAlwaysKeepsEveryAcknowledgedWrite) {
  const std::string settings = "fsync = \"always\"\nsnapshot_log_bytes = 20000\n";
  temp_directory data;
  constexpr int writers = 4;
  std::vector<std::atomic<uint64_t>> acknowledged(writers);
  {
    persistent_server server(data.path() + "/data", settings);
    ASSERT_TRUE(server.start());
    {
      auto c = server.client();
      for (int w = 0; w < writers; ++w) ASSERT_TRUE(is_success(c->command("c vector i32")));
    }
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
      threads.emplace_back([&, w] {
        frame_client c(server.port);
        if (!c.log_in("admin", "secret")) return;
        for (uint64_t n = 0;; ++n) {
          if (!is_success(c.command("i " + std::to_string(w + 1) + " last " + std::to_string(n)))) {
            return;
          }
          acknowledged[w] = n + 1;
        }
      });
    }
    // Every writer has had a write answered, then a random moment.
    for (int i = 0; i < 1000; ++i) {
      bool all_going = true;
      for (const auto& n : acknowledged) all_going = all_going && n.load() > 0;
      if (all_going) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(std::random_device()() % 500));
    ASSERT_TRUE(server.process.send_signal(SIGKILL));
    for (std::thread& t : threads) t.join();
    ASSERT_TRUE(server.process.wait_exit().has_value());
  }
  persistent_server again(data.path() + "/data", settings);
  ASSERT_TRUE(again.start());
  auto c = again.client();
  for (int w = 0; w < writers; ++w) {
    const uint64_t count = count_in(c->command("g " + std::to_string(w + 1) + " count"));
    const uint64_t answered = acknowledged[w].load();
    EXPECT_GE(count, answered) << w;
    EXPECT_LE(count, answered + 1) << w;
    EXPECT_GT(answered, 0u) << w;
  }
}

}  // namespace
}  // namespace qn::e2e

namespace qn::e2e {
namespace {

// The name of a finished snapshot in the directory, or of one the child is still writing (the
// image writer's hidden temporary file); empty for none.
std::string snapshot_file(const std::string& directory, bool is_finished) {
  std::error_code ignored;  // a file may go while the directory is read
  for (const fs::directory_entry& e : fs::directory_iterator(directory, ignored)) {
    const std::string name = e.path().filename().string();
    if (is_finished ? name.ends_with(".img") : name.find(".img.tmp.partial") != std::string::npos) {
      return name;
    }
  }
  return "";
}

// A snapshot of about 50 MB is written by a child while another client's writes are answered.
TEST(Persistence, WritesAreServedWhileASnapshotIsWritten) {
  temp_directory data;
  const std::string directory = data.path() + "/data";
  persistent_server server(directory,
                           "fsync = \"no\"\nsnapshot_every_s = 0\n"
                           "snapshot_log_bytes = 1000\n");
  ASSERT_TRUE(server.start());
  auto bulk = server.client();
  ASSERT_TRUE(is_success(bulk->command("c vector string")));
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(is_success(bulk->command("i 1 last " + std::string(12u << 20, 'a' + i))));
  }
  auto c = server.client();
  ASSERT_TRUE(is_success(c->command("c map i32 i32")));
  // The writes below grow the log past the limit, so the next snapshot follows within a second.
  const std::string first = snapshot_file(directory, true);
  int served_during = 0;
  for (int i = 0; i < 200000 && snapshot_file(directory, true) == first; ++i) {
    const bool is_writing = !snapshot_file(directory, false).empty();
    ASSERT_TRUE(is_success(c->command("i 2 " + std::to_string(i) + " 1")));
    // Sent and answered while the image was being written.
    if (is_writing && !snapshot_file(directory, false).empty()) ++served_during;
  }
  EXPECT_NE(snapshot_file(directory, true), first);
  EXPECT_GT(served_during, 0);
}

}  // namespace
}  // namespace qn::e2e
