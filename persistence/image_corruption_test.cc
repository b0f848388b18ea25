// Cut images: every truncation of an image holding every kind ends in a clean refusal, the
// database untouched when magic or version is cut and empty after that; the whole image restores
// to a database that backs up to the very same bytes. Damaged bytes are fuzz_image's: it checks
// the same two outcomes, and every CI run replays its committed corpus.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "containers/factory.h"
#include "containers/kind_test_support.h"
#include "persistence/image.h"
#include "persistence/image_format.h"
#include "persistence/image_test_support.h"

namespace qn::db::nosql {
namespace {

using namespace image_testing;

// A few elements in a container of every kind (every scalar type somewhere), a shell and a trie
// over a non-string key.
void fill_every_kind(container_registry& registry) {
  const struct {
    std::string_view kind;
    type_descriptor key, value;
  } shapes[] = {
      {"hashmap", i16_type, string_type},  {"hashtable", u08_type, u08_type},
      {"hashmap", string_type, i32_type},  {"map", string_type, double_type},
      {"multimap", i08_type, string_type}, {"set", float_type, u08_type},
      {"multiset", date_type, u08_type},   {"vector", u32_type, u08_type},
      {"vector", string_type, u08_type},   {"deque", time_type, u08_type},
      {"list", datetime_type, u08_type},   {"stack", i64_type, u08_type},
      {"queue", u16_type, u08_type},       {"heap", double_type, u08_type},
      {"trie", string_type, u08_type},     {"trie", i32_type, u08_type},
  };
  std::mt19937 rng(5);
  uint64_t slot = 2;
  for (const auto& s : shapes) {
    std::unique_ptr<ab_adt> c = nosql_db::make_container(s.kind, s.key, s.value, 64);
    ASSERT_NE(c, nullptr) << s.kind;
    nosql_db::testing::fill(*c, rng, 4);
    const std::string name = slot % 2 == 0 ? "n" + std::to_string(slot) : "";
    ASSERT_TRUE(place_at(registry, slot, name, std::move(c)));
    slot += 3;
  }
}

TEST(ImageCorruption, EveryTruncationIsRefused) {
  temp_directory dir;
  container_registry original, registry;
  fill_every_kind(original);
  ASSERT_TRUE(save_image(original, dir.file("full.img")));
  const std::string image = read_file(dir.file("full.img"));
  ::testing::internal::CaptureStdout();
  for (size_t size = 0; size <= image.size(); ++size) {
    if (registry.container_at(1) == nullptr) {
      ASSERT_TRUE(place_at(registry, 1, "marker", empty_vector()));
    }
    const std::string before = slots_of(registry);
    dir.write("cut.img", std::string_view(image).substr(0, size));
    const bool restored = load_image(registry, dir.file("cut.img"));
    EXPECT_EQ(restored, size == image.size()) << size;
    if (size < image.size()) {
      const bool header_cut = size <= image_format::version_offset;
      EXPECT_EQ(slots_of(registry), header_cut ? before : "") << size;
    }
  }
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(slots_of(registry), slots_of(original));
  ASSERT_TRUE(save_image(registry, dir.file("again.img")));
  EXPECT_EQ(read_file(dir.file("again.img")), image);
}

}  // namespace
}  // namespace qn::db::nosql
