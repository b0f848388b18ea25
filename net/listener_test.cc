#include "net/listener.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/digest.h"
#include "net/test_client.h"

namespace qn::net {
namespace {

using std::chrono::milliseconds;
using testing::frame_of;
using testing::login_payload;
using testing::test_client;
using testing::to_hex;

constexpr auto& success = testing::success_reply;
constexpr auto& failure = testing::failure_reply;
using testing::empty_reply;

// Polls `condition` every 5 ms for at most 10 s; true once it holds.
bool wait_until(const std::function<bool()>& condition) {
  for (int i = 0; i < 2000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return condition();
}

// Binds (and with `is_listening` listens on) 127.0.0.1:port so the listener cannot bind it.
// Returns the socket, or -1.
int occupy_port(uint16_t port, bool is_listening) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      (is_listening && listen(s, 1) != 0)) {
    close(s);
    return -1;
  }
  return s;
}

// A real listener on 127.0.0.1 and a free port, run by the restart loop on its own thread.
class ListenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    users_["alice"] = password_digest("wonderland");
    options_.port = testing::find_free_port();
    ASSERT_NE(options_.port, 0);
    options_.bind_address = "127.0.0.1";
    options_.users = &users_;
    options_.throttle = &throttle_;
    options_.limits.send_timeout = milliseconds(500);
    options_.on_first_start = [this](db::nosql::container_registry&) { first_starts_.fetch_add(1); };
  }
  void TearDown() override {
    if (listener_ == nullptr) return;
    listener_->stop_request();
    if (loop_.joinable()) loop_.join();
    EXPECT_EQ(listener_->listening_socket(), -1);
    EXPECT_FALSE(listener_->has_registry());
  }

  // Creates the listener from options_ and runs its restart loop on a thread of its own.
  void launch() {
    listener_ = std::make_unique<listener>(options_);
    loop_ = std::thread([this] { listener_->restart_loop(); });
  }
  void start() {
    launch();
    ASSERT_TRUE(wait_until([this] { return listener_->listening_socket() != -1; }));
  }
  bool is_listening() const { return listener_->listening_socket() != -1; }

  // A logged-in client from `source`.
  std::unique_ptr<test_client> logged_in(const char* source = "127.0.0.1") {
    auto c = std::make_unique<test_client>(options_.port, source);
    EXPECT_TRUE(c->is_connected());
    EXPECT_EQ(c->login("alice", "wonderland"), success);
    return c;
  }

  user_table users_;
  // Short bans, so a test can see one lifted; long enough to outlast the checks made under it.
  login_throttle throttle_{{{milliseconds(2000), milliseconds(2000), milliseconds(2000)}}};
  listener_options options_;
  std::atomic<int> first_starts_{0};
  std::unique_ptr<listener> listener_;
  std::thread loop_;
};

TEST_F(ListenerTest, LoginRightAndWrong) {
  start();
  test_client wrong(options_.port);
  EXPECT_EQ(wrong.login("alice", "wonderlant"), failure);
  EXPECT_EQ(wrong.login("mallory", "wonderland"), failure);
  test_client right(options_.port);
  EXPECT_EQ(right.login("alice", "wonderland"), success);
  EXPECT_EQ(first_starts_.load(), 1);
}

TEST_F(ListenerTest, WrongThenRightOnOneConnection) {
  start();
  test_client c(options_.port);
  EXPECT_EQ(c.login("alice", "guess"), failure);
  EXPECT_EQ(c.login("alice", "wonderland"), success);
  EXPECT_EQ(c.command("clear"), empty_reply);
}

TEST_F(ListenerTest, LoginFrameInTwoReceivesCountsOneFailure) {
  start();
  test_client c(options_.port, "127.0.0.3");
  const std::string login = frame_of(login_payload("alice", "nope"));
  ASSERT_TRUE(c.send_raw(login.substr(0, 6)));
  ASSERT_TRUE(wait_until(
      [&] { return throttle_.render_state("127.0.0.3") != "tier=0 counter=0 banned=0"; }));
  EXPECT_EQ(throttle_.render_state("127.0.0.3"), "tier=1 counter=1 banned=0");
  ASSERT_TRUE(c.send_raw(login.substr(6)));
  EXPECT_EQ(to_hex(c.read_reply()), failure);
  // The reply leaves before the failure is counted.
  EXPECT_TRUE(wait_until(
      [&] { return throttle_.render_state("127.0.0.3") == "tier=1 counter=2 banned=0"; }));
}

TEST_F(ListenerTest, CommandsAreAnsweredByteForByte) {
  start();
  auto c = logged_in();
  struct {
    std::string line;
    std::string reply;
  } cases[] = {
      {"clear", empty_reply},
      {"", failure},
      {"x 1 2", failure},
      {"g 0 count", failure},  // slot 0 is free after the clear
  };
  for (const auto& t : cases) EXPECT_EQ(c->command(t.line), t.reply) << t.line;
}

// The reply frame of a successful command: status 0, item count, then the items as given.
std::string reply_of(int items, const std::string& item_hex) {
  std::string body =
      "00" + to_hex(std::string(1, static_cast<char>(items))) + "00000000000000" + item_hex;
  const size_t length = body.size() / 2;
  std::string prefix;
  for (int i = 0; i < 4; ++i)
    prefix += to_hex(std::string(1, static_cast<char>(length >> (8 * i))));
  return prefix + body;
}

// One reply item: u16 label length, label, descriptor, u64 value count, values (all hex).
std::string item_of(const std::string& label, const std::string& descriptor, int count,
                    const std::string& values) {
  return to_hex(std::string(1, static_cast<char>(label.size()))) + "00" + to_hex(label) +
         descriptor + to_hex(std::string(1, static_cast<char>(count))) + "00000000000000" + values;
}

TEST_F(ListenerTest, TypedItemsAreAnsweredByteForByte) {
  start();
  auto c = logged_in();
  const std::string u64 = "030100";
  struct {
    std::string line;
    std::string reply;
  } cases[] = {
      {"c vector i32", reply_of(2, item_of("vkey", u64, 1, "0000000000000000") +
                                       item_of("vkey(hex)", "040202", 1, "0300" + to_hex("0x0")))},
      {"i 0 last 7", empty_reply},
      {"i 0 last -3", empty_reply},
      {"g 0 count", reply_of(1, item_of("", u64, 1, "0200000000000000"))},
      {"g 0 all", reply_of(1, item_of("", "020000", 2, "07000000fdffffff"))},
      {"g 0 con_type", reply_of(1, item_of("", "040202", 1, "0600" + to_hex("vector")))},
      {"c vector string",
       reply_of(2, item_of("vkey", u64, 1, "0100000000000000") +
                       item_of("vkey(hex)", "040202", 1, "0300" + to_hex("0x1")))},
      {"i 1 last abc", empty_reply},
      {"i 1 last \"\"", empty_reply},
      {"g 1 all", reply_of(1, item_of("", "040202", 2, "0300" + to_hex("abc") + "0000"))},
      {"g 1 nth 5", empty_reply},  // found nothing: success without items
      {"g 1 max", empty_reply},    // not a vector operation: also success without items
      {"g 1 nth x1", failure},     // an argument that does not parse
  };
  for (const auto& t : cases) EXPECT_EQ(c->command(t.line), t.reply) << t.line;

  // Every element type: a fresh vector in slot 0, two elements, and the item that reads them back
  // (descriptor, then the values in their wire encoding).
  const std::string created =
      reply_of(2, item_of("vkey", u64, 1, "0000000000000000") +
                      item_of("vkey(hex)", "040202", 1, "0300" + to_hex("0x0")));
  struct {
    std::string type;
    std::string first;
    std::string second;
    std::string descriptor;
    std::string values;
  } types[] = {
      {"i08", "-128", "0x7f", "000000", "807f"},
      {"i16", "-2", "0x1234", "010000", "feff3412"},
      {"i32", "-3", "2147483647", "020000", "fdffffffffffff7f"},
      {"i64", "-9223372036854775808", "1", "030000", "00000000000000800100000000000000"},
      {"u08", "255", "0b1", "000100", "ff01"},
      {"u16", "65535", "0400", "010100", "ffff0001"},
      {"u32", "4294967295", "+5", "020100", "ffffffff05000000"},
      {"u64", "18446744073709551615", "0x0102030405060708", "030100",
       "ffffffffffffffff0807060504030201"},
      {"float", "1.5", "-0.25", "020201", "0000c03f000080be"},
      {"double", "-2.5", "1e300", "030201", "00000000000004c09c7500883ce4377e"},
      {"date", "2024-02-29", "1999-12-31", "050203", "e807021dcf070c1f"},
      // Hour, minute, second, then the nanoseconds as u32; a datetime is the date, then the time.
      {"time", "23:59:58.123456789", "00:00:01.5", "050204", "173b3a15cd5b070000010065cd1d"},
      {"datetime", "2024-01-31T08:00:00.25", "\"2000-02-29 23:59:59\"", "050205",
       "e807011f08000080b2e60ed007021d173b3b00000000"},
      {"string", "abc", "\"\"", "040202", "03006162630000"},
  };
  for (const auto& t : types) {
    EXPECT_EQ(c->command("clear"), empty_reply) << t.type;
    EXPECT_EQ(c->command("c vector " + t.type), created) << t.type;
    EXPECT_EQ(c->command("i 0 last " + t.first), empty_reply) << t.type;
    EXPECT_EQ(c->command("i 0 last " + t.second), empty_reply) << t.type;
    EXPECT_EQ(c->command("g 0 all"), reply_of(1, item_of("", t.descriptor, 2, t.values))) << t.type;
  }
}

TEST_F(ListenerTest, PeersThatStopReadingDoNotHoldTheWorkers) {
  // Replies of about 2 MB to clients with a small receive buffer that never read: each send stalls
  // until the send timeout closes the connection. More such clients than workers: without the
  // timeout every worker would be stuck and the steady client never answered.
  start();
  auto steady = logged_in();
  ASSERT_EQ(steady->command("c vector string").substr(0, 10), "3d00000000");
  const std::string line = "i 0 last " + std::string(50000, 's');
  for (int i = 0; i < 40; ++i) ASSERT_EQ(steady->command(line), empty_reply);
  std::vector<std::unique_ptr<test_client>> stalled;
  for (int i = 0; i < worker_count + 4; ++i) {
    stalled.push_back(std::make_unique<test_client>(options_.port, "127.0.0.1", 65536));
    ASSERT_EQ(stalled.back()->login("alice", "wonderland"), success);
    ASSERT_TRUE(stalled.back()->send_frame("g 0 all"));
  }
  EXPECT_EQ(steady->command("g 0 count"),
            reply_of(1, item_of("", "030100", 1, "2800000000000000")));
}

TEST_F(ListenerTest, SlowReaderIsCutOffWhenTheWholeReplyTakesTooLong) {
  // A reply of about 4 MB to a client with a tiny receive buffer that keeps taking a few kilobytes
  // at a time, at most about 1 MB a second: every wait for room ends with progress, so only a
  // deadline for the whole frame (500 ms here) ends the send before the reply is complete. The
  // server then closes; what it had already queued still arrives, then the end of the stream.
  start();
  auto steady = logged_in();
  ASSERT_EQ(steady->command("c vector string").substr(0, 10), "3d00000000");
  constexpr size_t strings = 80;
  constexpr size_t length = 50000;
  const std::string line = "i 0 last " + std::string(length, 's');
  for (size_t i = 0; i < strings; ++i) ASSERT_EQ(steady->command(line), empty_reply);
  const size_t reply_size = 4 + 1 + 8 + (2 + 3 + 8) + strings * (2 + length);

  test_client slow(options_.port, "127.0.0.1", 4096);
  ASSERT_EQ(slow.login("alice", "wonderland"), success);
  ASSERT_TRUE(slow.send_frame("g 0 all"));
  const auto begin = std::chrono::steady_clock::now();
  size_t received = 0;
  bool is_ended = false;
  char buffer[4096];
  while (received < reply_size && !is_ended) {
    const ssize_t n = recv(slow.fd(), buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    is_ended = n == 0 || (n < 0 && errno == ECONNRESET);
    if (n < 0 && !is_ended) break;  // the client's own 20 s receive limit: the server never closed
    if (n > 0) received += static_cast<size_t>(n);
    std::this_thread::sleep_until(begin + std::chrono::microseconds(received));
  }
  EXPECT_TRUE(is_ended);
  EXPECT_LT(received, reply_size);
  // The worker is free again.
  EXPECT_EQ(steady->command("g 0 count"),
            reply_of(1, item_of("", "030100", 1, "5000000000000000")));
}

TEST_F(ListenerTest, RequestsLargerThanTheReceiveAreaAreGathered) {
  start();
  auto c = logged_in();
  for (size_t size : {32768u, 32769u, 300000u}) {
    EXPECT_EQ(c->command(std::string(size, 'x')), failure) << size;
    EXPECT_EQ(c->command("clear"), empty_reply) << size;
  }
}

// A directory of its own under /tmp, removed with everything in it at the end of the scope.
class scratch_directory {
 public:
  scratch_directory() {
    char pattern[] = "/tmp/zor_net_test_XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~scratch_directory() {
    if (!path_.empty()) std::filesystem::remove_all(path_);
  }
  scratch_directory(const scratch_directory&) = delete;
  scratch_directory& operator=(const scratch_directory&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The whole content of a file; empty when it cannot be read.
std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(ListenerTest, BackupAndRestoreOverTheWire) {
  start();
  const scratch_directory directory;
  ASSERT_FALSE(directory.path().empty());
  const std::string image = directory.path() + "/image";
  auto c = logged_in();
  const std::string numbers = reply_of(1, item_of("", "020000", 2, "07000000fdffffff"));
  const std::string words = reply_of(1, item_of("", "040202", 2, "0300" + to_hex("abc") + "0000"));
  const std::string replaced = reply_of(1, item_of("", "000100", 1, "09"));
  struct {
    std::string line;
    std::string reply;
  } steps[] = {
      {"c vector i32 nums", ""},  // slot 0, named
      {"i 0 last 7", empty_reply},
      {"i 0 last -3", empty_reply},
      {"c vector string", ""},  // slot 1
      {"i 1 last abc", empty_reply},
      {"i 1 last \"\"", empty_reply},
      {"b " + image, empty_reply},
      // Replace everything: slot 0 now holds a vector of another type, slot 1 is free.
      {"clear", empty_reply},
      {"c vector u08", ""},
      {"i 0 last 9", empty_reply},
      {"g 0 all", replaced},
      {"g 1 all", failure},
      {"r " + directory.path() + "/missing", failure},  // the database stays as it is
      {"g 0 all", replaced},
      {"r " + image, empty_reply},  // replaces, never merges
      {"g 0 all", numbers},
      {"g \"nums\" all", numbers},
      {"g 1 all", words},
      {"g 2 all", failure},
      {"b " + image, failure},  // the image exists already
      {"g 0 all", numbers},
  };
  std::string saved;
  for (const auto& t : steps) {
    const std::string reply = c->command(t.line);
    if (t.reply.empty()) {
      EXPECT_EQ(reply.substr(0, 10), "3d00000000") << t.line;  // a create: the slot follows
    } else {
      EXPECT_EQ(reply, t.reply) << t.line;
    }
    if (t.line[0] == 'b' && saved.empty()) saved = read_file(image);
  }
  // Magic, version, and the two containers; the refused second backup left the file as it was.
  EXPECT_EQ(to_hex(saved.substr(0, 13)), to_hex("qmdb") + "000200000000000000");
  EXPECT_EQ(read_file(image), saved);
}

TEST_F(ListenerTest, CloseMarkerClosesTheConnection) {
  start();
  test_client before_login(options_.port);
  ASSERT_TRUE(before_login.send_raw("\xff\xff\xff\xff"));
  EXPECT_TRUE(before_login.is_closed_by_server());
  auto after_login = logged_in();
  ASSERT_TRUE(after_login->send_raw("\xff\xff\xff\xff"));
  EXPECT_TRUE(after_login->is_closed_by_server());
}

TEST_F(ListenerTest, ThrottleBansAtTheThirtiethFailureAndRefusesAtAccept) {
  start();
  const char* source = "127.0.0.2";  // keeps the ban away from the other tests' address
  test_client c(options_.port, source);
  for (int i = 1; i < 30; ++i) ASSERT_EQ(c.login("alice", "wrong"), failure) << i;
  EXPECT_EQ(c.login("alice", "wrong"), failure);
  EXPECT_TRUE(c.is_closed_by_server());
  EXPECT_TRUE(throttle_.is_banned(source));

  test_client refused(options_.port, source);
  ASSERT_TRUE(refused.is_connected());  // the kernel accepts; the listener closes at once
  EXPECT_TRUE(refused.is_closed_by_server());

  auto other = logged_in();  // other addresses are served as before
  EXPECT_EQ(other->command("clear"), empty_reply);

  ASSERT_TRUE(wait_until([&] { return !throttle_.is_banned(source); }));
  auto again = logged_in(source);
  EXPECT_EQ(again->command("clear"), empty_reply);
}

TEST_F(ListenerTest, PauseAndContinueKeepTheData) {
  start();
  auto before = logged_in();
  ASSERT_EQ(before->command("c vector i32").substr(0, 10), "3d00000000");
  ASSERT_EQ(before->command("i 0 last 11"), empty_reply);
  listener_->pause();
  ASSERT_TRUE(wait_until([this] { return !is_listening(); }));
  EXPECT_TRUE(listener_->has_registry());
  EXPECT_TRUE(before->is_closed_by_server());  // open connections are closed at a pause
  test_client during(options_.port);
  EXPECT_FALSE(during.is_connected());

  listener_->resume();
  ASSERT_TRUE(wait_until([this] { return is_listening(); }));
  auto after = logged_in();
  EXPECT_EQ(after->command("g 0 all"), reply_of(1, item_of("", "020000", 1, "0b000000")));
  EXPECT_EQ(first_starts_.load(), 1);  // no second registry, no second start-up script
}

TEST_F(ListenerTest, StopClosesOpenConnectionsAndReleasesTheRegistry) {
  start();
  auto idle = logged_in();
  test_client mid_frame(options_.port);
  ASSERT_TRUE(mid_frame.send_raw(frame_of(login_payload("alice", "wonderland")).substr(0, 9)));
  listener_->stop_request();
  EXPECT_EQ(listener_->listening_socket(), -1);
  EXPECT_FALSE(listener_->has_registry());
  EXPECT_TRUE(listener_->is_stop_requested());
  EXPECT_TRUE(idle->is_closed_by_server());
  EXPECT_TRUE(mid_frame.is_closed_by_server());
  loop_.join();
  listener_->stop_request();  // a second request finds nothing running and returns at once
}

TEST_F(ListenerTest, StopWhilePausedReleasesTheRegistry) {
  start();
  listener_->pause();
  ASSERT_TRUE(wait_until([this] { return !is_listening(); }));
  listener_->stop_request();
  EXPECT_FALSE(listener_->has_registry());
  loop_.join();
}

TEST_F(ListenerTest, BusyPortIsRetriedAndTheStartUpCallbackRunsOnce) {
  const int blocker = occupy_port(options_.port, true);
  ASSERT_GE(blocker, 0);
  launch();
  ASSERT_TRUE(wait_until([this] { return first_starts_.load() == 1; }));
  std::this_thread::sleep_for(milliseconds(500));  // a few bind attempts
  EXPECT_EQ(listener_->listening_socket(), -1);
  close(blocker);
  ASSERT_TRUE(wait_until([this] { return is_listening(); }));
  EXPECT_EQ(first_starts_.load(), 1);
  auto c = logged_in();
  EXPECT_EQ(c->command("clear"), empty_reply);
}

TEST_F(ListenerTest, StopWhileTheBindKeepsFailingEnds) {
  const int blocker = occupy_port(options_.port, false);
  ASSERT_GE(blocker, 0);
  launch();
  ASSERT_TRUE(wait_until([this] { return listener_->has_registry(); }));
  listener_->stop_request();  // must not wait for a listener that never comes
  EXPECT_FALSE(listener_->has_registry());
  loop_.join();
  close(blocker);
}

TEST_F(ListenerTest, ManyClientsAreServedAtOnce) {
  start();
  constexpr int clients = 50;
  std::mutex mutex;
  std::vector<std::string> problems;
  std::vector<std::thread> threads;
  for (int i = 0; i < clients; ++i) {
    threads.emplace_back([&, i] {
      test_client c(options_.port);
      std::string problem;
      const std::string login = c.login("alice", "wonderland");
      if (login != success) problem = "login: " + login;
      for (int k = 0; k < 20 && problem.empty(); ++k) {
        // A few clears (each rebuilds the whole slot table under the exclusive lock).
        const bool is_clear = i % 10 == 0 && k == i % 20;
        const std::string reply = c.command(is_clear ? "clear" : "x");
        if (reply != (is_clear ? empty_reply : failure)) {
          problem = "command " + std::to_string(k) + ": " + reply;
        }
      }
      if (problem.empty()) return;
      std::lock_guard lock(mutex);
      problems.push_back("client " + std::to_string(i) + " " + problem);
    });
  }
  for (auto& t : threads) t.join();
  for (const auto& p : problems) ADD_FAILURE() << p;
}

TEST_F(ListenerTest, VanishingPeersDoNotDisturbTheOthers) {
  start();
  auto steady = logged_in();
  for (int i = 0; i < 20; ++i) {
    test_client c(options_.port);
    ASSERT_TRUE(c.is_connected());
    if (i % 2 == 0) {
      // Logged in, then half of a large frame, then a reset.
      ASSERT_EQ(c.login("alice", "wonderland"), success);
      ASSERT_TRUE(c.send_raw(frame_of(std::string(100000, 'x')).substr(0, 50000)));
      const linger reset{1, 0};
      ASSERT_EQ(setsockopt(c.fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset), 0);
    } else {
      ASSERT_TRUE(c.send_raw(frame_of(login_payload("alice", "wonderland")).substr(0, 5)));
    }
    c.disconnect();
    EXPECT_EQ(steady->command("clear"), empty_reply) << i;
  }
}

}  // namespace
}  // namespace qn::net
