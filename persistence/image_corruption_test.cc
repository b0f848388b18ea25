// Damaged images: every truncation and every byte flipped in several ways must end in a clean
// refusal (empty database) or a consistent database, never a crash, a hang or a leak; the whole
// image restores every container as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "containers/factory.h"
#include "persistence/image.h"
#include "persistence/image_format.h"
#include "persistence/image_test_contents.h"
#include "persistence/image_test_support.h"

namespace qn::db::nosql {
namespace {

using namespace image_testing;
using nosql_db::make_container;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

// One small container of every kind (a few elements each, every scalar type somewhere), plus a
// shell and an empty trie over a non-string key. Hash keys are 8 and 16 bits wide, so that a
// flipped capacity asks for at most 512 KiB of slots.
container_registry& small_database(container_registry& registry) {
  struct shape {
    std::string_view kind;
    type_descriptor key, value;
  };
  const shape shapes[] = {
      {"hashmap", i16_type, string_type},  {"hashtable", u08_type, u08_type},
      {"hashmap", string_type, i32_type},  {"map", string_type, double_type},
      {"multimap", i08_type, string_type}, {"set", float_type, u08_type},
      {"multiset", date_type, u08_type},   {"vector", u32_type, u08_type},
      {"vector", string_type, u08_type},   {"deque", time_type, u08_type},
      {"list", datetime_type, u08_type},   {"stack", i64_type, u08_type},
      {"queue", u16_type, u08_type},       {"heap", double_type, u08_type},
      {"trie", string_type, u08_type},     {"trie", i32_type, u08_type},
  };
  uint64_t slot = 2;
  for (const shape& s : shapes) {
    const uint64_t capacity = s.key.width == 0 ? 256 : 16;
    std::unique_ptr<ab_adt> c = make_container(s.kind, s.key, s.value, capacity);
    if (c == nullptr) {
      ADD_FAILURE() << "cannot build " << s.kind;
      continue;
    }
    (void)with_types(*c, [&]<class K, class V>() {
      auto& typed = static_cast<adt<K, V>&>(*c);
      std::vector<K> keys = samples<K>();
      if constexpr (std::is_integral_v<K>) {
        if (s.kind == "hashmap" || s.kind == "hashtable") keys = hash_samples<K>(capacity);
      }
      keys.resize(std::min<size_t>(keys.size(), 4));
      fill(typed, keys, samples<V>());
      return true;
    });
    const std::string name = slot % 2 == 0 ? "n" + std::to_string(slot) : "";
    EXPECT_TRUE(place_at(registry, slot, name, std::move(c)));
    slot += 3;
  }
  return registry;
}

// A database a restore accepted must be one that backs up and restores to the same image again.
// `again` is scratch space, reused so that the sweep does not build a registry per case.
void expect_consistent(const container_registry& registry, container_registry& again,
                       const scratch_dir& dir, const std::string& what) {
  const std::string first = dir.file("check1.img"), second = dir.file("check2.img");
  ASSERT_TRUE(save_image(registry, first)) << what;
  EXPECT_TRUE(load_image(again, first)) << what;
  EXPECT_EQ(slots_of(again), slots_of(registry)) << what;
  ASSERT_TRUE(save_image(again, second)) << what;
  EXPECT_EQ(read_file(second), read_file(first)) << what;
  std::filesystem::remove(first);
  std::filesystem::remove(second);
}

TEST(ImageCorruption, EveryTruncationIsRefused) {
  scratch_dir dir(/*in_memory=*/true);
  container_registry original;
  small_database(original);
  ASSERT_TRUE(save_image(original, dir.file("full.img")));
  const std::string image = read_file(dir.file("full.img"));
  const std::string full = contents_of(original);

  container_registry registry;
  CaptureStdout();
  for (size_t size = 0; size <= image.size(); ++size) {
    ASSERT_TRUE(place_at(registry, 1, "marker", empty_fake_vector()) ||
                registry.container_at(1) != nullptr);
    const std::string before = slots_of(registry);
    write_file(dir.file("cut.img"), std::string_view(image).substr(0, size));
    const bool restored = load_image(registry, dir.file("cut.img"));
    if (size == image.size()) {
      EXPECT_TRUE(restored);
      EXPECT_EQ(contents_of(registry), full);
    } else if (size <= image_format::version_offset) {
      // Too short for magic and version: refused before anything changes.
      EXPECT_FALSE(restored) << size;
      EXPECT_EQ(slots_of(registry), before) << size;
    } else {
      EXPECT_FALSE(restored) << size;
      EXPECT_EQ(registry.occupied_count(), 0u) << size;
    }
  }
  GetCapturedStdout();
}

TEST(ImageCorruption, EveryFlippedByteEndsEmptyOrConsistent) {
  scratch_dir dir(/*in_memory=*/true);
  container_registry original;
  small_database(original);
  ASSERT_TRUE(save_image(original, dir.file("full.img")));
  const std::string image = read_file(dir.file("full.img"));

  struct pattern {
    const char* label;
    uint8_t xor_mask, set_to;
    bool is_set;
  };
  const pattern patterns[] = {
      {"xor 01", 0x01, 0, false},
      {"xor 80", 0x80, 0, false},
      {"xor ff", 0xff, 0, false},
      {"set 00", 0, 0x00, true},
  };
  container_registry registry, again;
  size_t accepted = 0, refused = 0;
  CaptureStdout();
  for (const pattern& p : patterns) {
    for (size_t at = 0; at < image.size(); ++at) {
      std::string damaged = image;
      const auto old = static_cast<uint8_t>(damaged[at]);
      const uint8_t now = p.is_set ? p.set_to : static_cast<uint8_t>(old ^ p.xor_mask);
      if (now == old) continue;
      damaged[at] = static_cast<char>(now);
      write_file(dir.file("flip.img"), damaged);
      const std::string before = slots_of(registry);
      const std::string what = std::string(p.label) + " at " + std::to_string(at);
      if (load_image(registry, dir.file("flip.img"))) {
        ++accepted;
        expect_consistent(registry, again, dir, what);
      } else if (at < image_format::count_offset) {
        ++refused;
        EXPECT_EQ(slots_of(registry), before) << what;  // magic or version: nothing changed
      } else {
        ++refused;
        EXPECT_EQ(registry.occupied_count(), 0u) << what;
      }
      if (::testing::Test::HasFailure()) break;
    }
  }
  GetCapturedStdout();
  std::printf("%zu-byte image: %zu damaged copies accepted, %zu refused\n", image.size(), accepted,
              refused);
  EXPECT_GT(refused, 0u);
}

}  // namespace
}  // namespace qn::db::nosql
