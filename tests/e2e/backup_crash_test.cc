// Faults end to end: a server killed in the middle of a large backup leaves no image or a complete
// one; a backup that fills its disk, and a create that runs out of memory, fail cleanly while the
// server goes on serving.
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

TEST(BackupCrash, KilledMidBackupLeavesNoImageOrACompleteOne) {
  constexpr int elements = 2000;  // about 100 MB of image
  server_process server({.startup_script = big_vector_script(elements)});
  ASSERT_TRUE(server.start_serving());
  temp_directory target;
  const std::string image = target.file("big.img");
  std::thread backup([&] {
    test_client client(server.port());
    if (client.log_in("admin", "secret")) (void)client.request("b " + image);
  });
  // Kill as soon as any file shows that the image is being written.
  std::error_code error;
  bool seen_writing = false;
  for (int i = 0; i < 20000 && !seen_writing; ++i) {
    seen_writing = !std::filesystem::is_empty(target.path(), error);
    if (!seen_writing) std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(server.send_signal(SIGKILL));
  ASSERT_TRUE(server.wait_exit());
  backup.join();
  EXPECT_TRUE(seen_writing) << "the backup never started writing";

  if (!std::filesystem::exists(image)) return;  // no image: the crash lost nothing it had named
  // An image under the final name must be complete: it restores with every element.
  server_process check;
  ASSERT_TRUE(check.start_serving());
  auto client = check.client();
  EXPECT_TRUE(is_success(client->request("r " + image)));
  EXPECT_EQ(last_u64(client->request("g 0 count")), uint64_t{elements});
}

TEST(BackupCrash, FullDiskFailsTheBackupAndTheServerKeepsServing) {
  if (::geteuid() != 0) GTEST_SKIP() << "not root: the full-disk case mounts a small tmpfs";
  temp_directory target;
  const std::string small = target.file("small");
  ASSERT_EQ(::mkdir(small.c_str(), 0700), 0);
  if (::mount("zor_full_disk", small.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  struct unmount_at_end {
    std::string path;
    ~unmount_at_end() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{small};

  constexpr int elements = 100;  // about 5 MB of image, five times the disk
  server_process server({.startup_script = big_vector_script(elements)});
  ASSERT_TRUE(server.start_serving());
  auto client = server.client();
  EXPECT_FALSE(is_success(client->request("b " + small + "/big.img")));
  EXPECT_TRUE(std::filesystem::is_empty(small)) << "the temporary file was left behind";

  // Still serving, with its data: the same backup succeeds where there is room.
  EXPECT_EQ(last_u64(client->request("g 0 count")), uint64_t{elements});
  EXPECT_TRUE(is_success(client->request("b " + target.file("big.img"))));
}

// The sanitizers reserve terabytes of address space for their shadow memory: no limit on it fits.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool is_sanitized = true;
#elif defined(__has_feature)
constexpr bool is_sanitized = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool is_sanitized = false;
#endif

// A restore whose container cannot be allocated is image_test's (a hash map of 2^61 + 1 slots).
TEST(BackupCrash, OutOfMemoryFailsACreateAndTheServerKeepsServing) {
  if (is_sanitized) GTEST_SKIP() << "a sanitizer's shadow memory does not fit under RLIMIT_AS";
  // 2^27 slots over u64 keys: a 1 GiB slot array, exactly the configured bound and more than the
  // limited server has left (it starts at about a quarter of its 1 GiB of address space).
  server_process server({.settings = "[limits]\nmax_hash_slot_bytes = 1073741824\n",
                         .startup_script = big_vector_script(1),
                         .address_space_limit = uint64_t{1} << 30});
  ASSERT_TRUE(server.start_serving());
  auto client = server.client();
  EXPECT_FALSE(is_success(client->request("c hashmap u64 i32 134217728 huge")));
  EXPECT_TRUE(is_success(client->request("c hashmap u64 i32 1024 huge")));  // the name stayed free
  EXPECT_EQ(last_u64(client->request("g 0 count")), 1u);
}

}  // namespace
}  // namespace qn::e2e
