// Persistence end to end: the server restarted on its own directory comes back with what it
// served, after an orderly stop and after SIGKILL, from a log, a snapshot or both; a torn last
// record is cut off and a corrupt one in the middle stops the start.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/server_harness.h"

namespace qn::e2e {
namespace {

namespace fs = std::filesystem;

// A server whose [persistence] table keeps its data in `data`, which outlives the server.
server_options persistent(const std::string& data, const std::string& settings) {
  return {.settings = "[persistence]\ndirectory = \"" + data + "\"\n" + settings,
          .startup_script = "c vector i32 from_script\n"};
}

const char* const creations[] = {
    "c vector i32",    "c deque i32",        "c list i32",           "c stack i32",
    "c queue i32",     "c heap i32",         "c set i32 \"a set\"",  "c multiset i32",
    "c map i32 i32 m", "c multimap i32 i32", "c hashmap i32 i32 64", "c hashtable i32 64",
    "c trie"};

const char* const changes[] = {"i %d last %d",  "i %d first %d", "i %d %d %d",       "i %d %d",
                               "s %d first %d", "s %d last %d",  "s %d value %d %d", "d %d first",
                               "d %d last",     "d %d equal %d", "d %d min"};

// Finds a node of the list in slot 2 by its element, then writes, inserts or deletes at its handle.
// Handles are not what a replay reproduces, so these must reach the log in another form.
void change_at_node(test_client& c, std::mt19937& random) {
  const std::string found = c.request("g 2 ptr " + std::to_string(random() % 40));
  if (found.size() <= 13) return;  // no item: no node holds that element
  const std::string handle = std::to_string(last_u64(found));
  const std::string element = std::to_string(random() % 40);
  const std::string forms[] = {"s 2 val " + handle + " " + element,
                               "i 2 val " + handle + " " + element, "d 2 ptr " + handle};
  ASSERT_TRUE(is_success(c.request(forms[random() % std::size(forms)])));
}

// Creates every kind (with `creates`), then a seeded run of inserts, writes and deletes over them,
// with writes at list node handles, an erase and re-creation, a clear, and a backup restored later
// in the run.
void run_random_writes(test_client& c, const std::string& image, unsigned seed, bool creates) {
  std::mt19937 random(seed);
  if (creates) {
    for (const char* line : creations) ASSERT_TRUE(is_success(c.request(line))) << line;
    ASSERT_TRUE(is_success(c.request("c    ")));  // the five-byte line: remove everything
    for (const char* line : creations) ASSERT_TRUE(is_success(c.request(line))) << line;
  }
  char line[96];
  for (int i = 0; i < 3000; ++i) {
    const int slot = static_cast<int>(random() % std::size(creations));
    std::snprintf(line, sizeof line, changes[random() % std::size(changes)], slot,
                  static_cast<int>(random() % 40), static_cast<int>(random() % 40));
    (void)c.request(line);
    if (i % 4 == 0) change_at_node(c, random);
    if (i == 1000) {
      ASSERT_TRUE(is_success(c.request("b \"" + image + "\"")));
    }
    if (i == 1500) {
      ASSERT_TRUE(is_success(c.request("e 4")));
      ASSERT_TRUE(is_success(c.request("c queue i32 again" + std::to_string(seed))));
    }
    if (i == 2000) {
      ASSERT_TRUE(is_success(c.request("r \"" + image + "\"")));
    }
  }
}

// The whole visible state: the listing and every slot's contents (a failure for a free one).
std::string state_of(test_client& c) {
  std::string state = c.request("k");
  for (int slot = 0; slot < 30; ++slot) state += c.request("g " + std::to_string(slot) + " all");
  return state;
}

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

// Log only, log and snapshots (every second, fsync "everysec" by default; the log-size trigger is
// WritesAreServedWhileASnapshotIsWritten's), snapshots only; with `waits_for_snapshot`, a second
// run of writes after the first snapshot is in place.
TEST(Persistence, RestartComesBackWithTheSameState) {
  for (const auto& [settings, waits_for_snapshot] :
       {std::pair{"fsync = \"no\"\nsnapshot_every_s = 0\n", false},
        {"snapshot_every_s = 1\n", true},
        {"append_log = false\nsnapshot_every_s = 0\n", false}}) {
    SCOPED_TRACE(settings);
    temp_directory data;
    const std::string directory = data.file("data");
    std::string before;
    {
      server_process server(persistent(directory, settings));
      ASSERT_TRUE(server.start_serving());
      auto c = server.client();
      run_random_writes(*c, data.file("backup.img"), 7, true);
      if (waits_for_snapshot) {
        for (int i = 0; i < 100 && snapshot_file(directory, true).empty(); ++i) {
          std::this_thread::sleep_for(100ms);
        }
        ASSERT_FALSE(snapshot_file(directory, true).empty());
        run_random_writes(*c, data.file("backup2.img"), 8, false);
      }
      before = state_of(*c);
      ASSERT_TRUE(server.stop());
    }
    server_process again(persistent(directory, settings));
    ASSERT_TRUE(again.start_serving());
    EXPECT_EQ(state_of(*again.client()), before);
    EXPECT_NE(again.output().find("init.nos skipped"), std::string::npos);
  }
}

TEST(Persistence, TornLastRecordIsCutAndCorruptMiddleRecordStopsTheStart) {
  const std::string settings = "fsync = \"always\"\nsnapshot_every_s = 0\n";
  temp_directory data;
  const std::string directory = data.file("data");
  std::string before;
  {
    server_process server(persistent(directory, settings));
    ASSERT_TRUE(server.start_serving());
    auto c = server.client();
    ASSERT_TRUE(is_success(c->request("c map i32 i32 m")));
    for (int i = 0; i < 20; ++i) (void)c->request("i 1 " + std::to_string(i) + " 5");
    before = state_of(*c);
    ASSERT_TRUE(server.stop());
  }
  std::string segment;  // the newest log segment
  for (const fs::directory_entry& e : fs::directory_iterator(directory)) {
    const std::string name = e.path().string();
    if (name.ends_with(".zlog") && e.file_size() > 0) segment = std::max(segment, name);
  }
  ASSERT_FALSE(segment.empty());
  std::ofstream(segment, std::ios::binary | std::ios::app).write("\x40\0\0\0\0\0\0\0\x01\x02", 10);
  {
    server_process server(persistent(directory, settings));  // a header cut short
    ASSERT_TRUE(server.start_serving());
    EXPECT_EQ(state_of(*server.client()), before);
    EXPECT_NE(server.output().find("cut a torn last record"), std::string::npos);
    ASSERT_TRUE(server.stop());
  }
  {
    std::fstream corrupt(segment, std::ios::binary | std::ios::in | std::ios::out);
    corrupt.seekp(30);
    corrupt.put('#');
  }
  server_process server(persistent(directory, settings));
  ASSERT_TRUE(server.start());
  const std::optional<int> status = server.wait_exit();
  EXPECT_TRUE(status.has_value() && !is_clean_exit(status));
  EXPECT_NE(server.output().find("is corrupt at offset"), std::string::npos);
}

// Four connections append to their own vectors until SIGKILL; after the restart each vector holds
// every acknowledged element and at most the one that was in flight.
TEST(Persistence, SigkillUnderAlwaysKeepsEveryAcknowledgedWrite) {
  const std::string settings = "fsync = \"always\"\nsnapshot_log_bytes = 20000\n";
  temp_directory data;
  constexpr int writers = 4;
  std::vector<std::atomic<uint64_t>> acknowledged(writers);
  {
    server_process server(persistent(data.file("data"), settings));
    ASSERT_TRUE(server.start_serving());
    for (int w = 0; w < writers; ++w)
      ASSERT_TRUE(is_success(server.client()->request("c vector i32")));
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
      threads.emplace_back([&, w] {
        test_client c(server.port());
        if (!c.log_in("admin", "secret")) return;
        const std::string line = "i " + std::to_string(w + 1) + " last ";
        for (uint64_t n = 0; is_success(c.request(line + std::to_string(n))); ++n) {
          acknowledged[w] = n + 1;
        }
      });
    }
    // Every writer has had a write answered, then a random moment.
    const auto all_going = [&] {
      return std::all_of(acknowledged.begin(), acknowledged.end(), [](auto& n) { return n > 0; });
    };
    for (int i = 0; i < 1000 && !all_going(); ++i) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::random_device()() % 500));
    ASSERT_TRUE(server.send_signal(SIGKILL));
    for (std::thread& t : threads) t.join();
    ASSERT_TRUE(server.wait_exit().has_value());
  }
  server_process again(persistent(data.file("data"), settings));
  ASSERT_TRUE(again.start_serving());
  auto c = again.client();
  for (int w = 0; w < writers; ++w) {
    const uint64_t count = last_u64(c->request("g " + std::to_string(w + 1) + " count"));
    const uint64_t answered = acknowledged[w].load();
    EXPECT_GE(count, answered) << w;
    EXPECT_LE(count, answered + 1) << w;
    EXPECT_GT(answered, 0u) << w;
  }
}

// A snapshot of about 50 MB is written by a child while another client's writes are answered.
TEST(Persistence, WritesAreServedWhileASnapshotIsWritten) {
  temp_directory data;
  const std::string directory = data.file("data");
  server_process server(
      persistent(directory, "fsync = \"no\"\nsnapshot_every_s = 0\nsnapshot_log_bytes = 1000\n"));
  ASSERT_TRUE(server.start_serving());
  auto bulk = server.client();
  ASSERT_TRUE(is_success(bulk->request("c vector string")));
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(is_success(bulk->request("i 1 last " + std::string(12u << 20, 'a' + i))));
  }
  auto c = server.client();
  ASSERT_TRUE(is_success(c->request("c map i32 i32")));
  // The writes below grow the log past the limit, so the next snapshot follows within a second.
  const std::string first = snapshot_file(directory, true);
  int served_during = 0;
  for (int i = 0; i < 200000 && snapshot_file(directory, true) == first; ++i) {
    const bool is_writing = !snapshot_file(directory, false).empty();
    ASSERT_TRUE(is_success(c->request("i 2 " + std::to_string(i) + " 1")));
    // Sent and answered while the image was being written.
    if (is_writing && !snapshot_file(directory, false).empty()) ++served_during;
  }
  EXPECT_NE(snapshot_file(directory, true), first);
  EXPECT_GT(served_during, 0);
}

}  // namespace
}  // namespace qn::e2e
