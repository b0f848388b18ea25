// Faults end to end: a server killed in the middle of a large backup leaves no image or a complete
// one; a backup that fills its disk, and a create or a restore that runs out of memory, fail
// cleanly while the server goes on serving.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/e2e/server_harness.h"

namespace qn::e2e {
namespace {

// A start-up script filling slot 0, a vector of strings named "big", with `count` strings of
// 50,000 bytes: about 50 KB of image per element.
std::string big_vector_script(int count) {
  std::string script = "c vector string big\n";
  const std::string line = "i 0 last " + std::string(50000, 'x') + "\n";
  for (int i = 0; i < count; ++i) script += line;
  return script;
}

// The value of a successful one-value u64 reply (g <c> count): its last eight bytes.
uint64_t count_of(const std::string& reply) {
  uint64_t count = UINT64_MAX;
  if (is_success(reply) && reply.size() >= 8) {
    std::memcpy(&count, reply.data() + reply.size() - 8, 8);
  }
  return count;
}

// True once the backup has created any file in the directory, whatever its name.
bool has_any_file(const std::string& directory) {
  std::error_code error;
  return !std::filesystem::is_empty(directory, error);
}

// `limits` is appended to the configuration.
struct server_with_admin {
  explicit server_with_admin(const std::string& script, uint64_t address_space_limit = 0,
                             const std::string& limits = "")
      : port(find_free_port()),
        process({configuration_text(port, {{"admin", "secret"}}) + limits,
                 script,
                 {},
                 {},
                 "",
                 0,
                 address_space_limit}) {}
  bool start() { return process.start() && wait_for_connect(port, true, 60s); }
  uint16_t port;
  server_process process;
};

TEST(BackupCrash, KilledMidBackupLeavesNoImageOrACompleteOne) {
  constexpr int elements = 2000;  // about 100 MB of image
  server_with_admin server(big_vector_script(elements));
  ASSERT_TRUE(server.start());
  temp_directory target;
  const std::string image = target.path() + "/big.img";

  std::thread backup([&] {
    frame_client client(server.port);
    if (client.log_in("admin", "secret")) (void)client.command("b " + image);
  });
  // Kill as soon as a file shows that the image is being written.
  bool seen_writing = false;
  for (int i = 0; i < 20000 && !seen_writing; ++i) {
    seen_writing = has_any_file(target.path());
    if (!seen_writing) std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(server.process.send_signal(SIGKILL));
  ASSERT_TRUE(server.process.wait_exit());
  backup.join();
  EXPECT_TRUE(seen_writing) << "the backup never started writing";

  if (!std::filesystem::exists(image)) return;  // no image: the crash lost nothing it had named
  // An image under the final name must be complete: it restores with every element.
  server_with_admin check("");
  ASSERT_TRUE(check.start());
  frame_client client(check.port);
  ASSERT_TRUE(client.log_in("admin", "secret"));
  EXPECT_TRUE(is_success(client.command("r " + image)));
  EXPECT_EQ(count_of(client.command("g 0 count")), uint64_t{elements});
}

TEST(BackupCrash, FullDiskFailsTheBackupAndTheServerKeepsServing) {
  if (::geteuid() != 0) GTEST_SKIP() << "not root: the full-disk case mounts a small tmpfs";
  temp_directory target;
  const std::string small = target.path() + "/small";
  ASSERT_EQ(::mkdir(small.c_str(), 0700), 0);
  if (::mount("zor_full_disk", small.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  struct unmount_at_end {
    std::string path;
    ~unmount_at_end() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{small};

  constexpr int elements = 100;  // about 5 MB of image, five times the disk
  server_with_admin server(big_vector_script(elements));
  ASSERT_TRUE(server.start());
  frame_client client(server.port);
  ASSERT_TRUE(client.log_in("admin", "secret"));
  EXPECT_FALSE(is_success(client.command("b " + small + "/big.img")));
  EXPECT_TRUE(std::filesystem::is_empty(small)) << "the temporary file was left behind";

  // Still serving, with its data: the same backup succeeds where there is room.
  EXPECT_EQ(count_of(client.command("g 0 count")), uint64_t{elements});
  EXPECT_TRUE(is_success(client.command("b " + target.path() + "/big.img")));
}

// The sanitizers reserve terabytes of address space for their shadow memory: no limit on it fits.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool is_sanitized = true;
#elif defined(__has_feature)
constexpr bool is_sanitized = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool is_sanitized = false;
#endif

TEST(BackupCrash, OutOfMemoryFailsACreateOrARestoreAndTheServerKeepsServing) {
  if (is_sanitized) GTEST_SKIP() << "a sanitizer's shadow memory does not fit under RLIMIT_AS";
  // 2^27 slots over u64 keys: a 1 GiB slot array, more than the limited server has left (it
  // starts at about a quarter of its 1 GiB of address space).
  const std::string create_huge = "c hashmap u64 i32 134217728 huge";
  temp_directory target;
  const std::string image = target.path() + "/huge.img";
  {
    // Its configured bound on a slot array is exactly that table.
    server_with_admin maker("", 0, "\n[limits]\nmax_hash_slot_bytes = 1073741824\n");
    ASSERT_TRUE(maker.start());
    frame_client client(maker.port);
    ASSERT_TRUE(client.log_in("admin", "secret"));
    EXPECT_FALSE(is_success(client.command("c hashmap u64 i32 134217729 over")));
    ASSERT_TRUE(is_success(client.command(create_huge)));
    ASSERT_TRUE(is_success(client.command("b " + image)));
  }

  server_with_admin server(big_vector_script(1), uint64_t{1} << 30);
  ASSERT_TRUE(server.start());
  frame_client client(server.port);
  ASSERT_TRUE(client.log_in("admin", "secret"));
  EXPECT_FALSE(is_success(client.command(create_huge)));
  EXPECT_TRUE(is_success(client.command("c hashmap u64 i32 1024 huge")));  // the name stayed free
  EXPECT_EQ(count_of(client.command("g 0 count")), 1u);
  // A failed restore leaves the database empty, and the server serving.
  EXPECT_FALSE(is_success(client.command("r " + image)));
  EXPECT_FALSE(is_success(client.command("g 0 count")));
  EXPECT_TRUE(is_success(client.command("c hashmap u64 i32 1024 huge")));
}

}  // namespace
}  // namespace qn::e2e
