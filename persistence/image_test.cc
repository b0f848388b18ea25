// Backup framing, the console messages and every refusal of backup and restore; cut images: every
// truncation of an image holding every kind ends in a clean refusal, the database untouched when
// magic or version is cut and empty after that, and the whole image restores to a database that
// backs up to the very same bytes. Damaged bytes are fuzz_image's: it checks the same two
// outcomes, and every CI run replays its committed corpus.
#include "persistence/image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <string>
#include <vector>

#include "containers/factory.h"
#include "persistence/image_format.h"
#include "persistence/image_test_support.h"

namespace qn::db::nosql {
namespace {

using namespace image_testing;
using nosql_db::adt;
using nosql_db::make_container;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

enum class console { none, exists, not_exists, not_normative, unsupported };

std::string console_line(console kind, const std::string& path) {
  const std::string lines[] = {
      "", "exists file named " + path + "\n", "not exists file named " + path + "\n",
      "the file '" + path + "' is not normative zor's struct database binary file!\n",
      "the zor's struct database binary file '" + path + "' is unsupport verion!\n"};
  return lines[static_cast<int>(kind)];
}

// ---- backup ----

TEST(ImageBackup, RecordsFollowSlotOrderWithNamesAndGaps) {
  temp_directory dir;
  container_registry registry;
  // Placed out of order, with gaps, one unnamed, one name with a zero byte.
  ASSERT_TRUE(place_at(registry, 1000, std::string_view("x\0y", 3), empty_vector()));
  ASSERT_TRUE(place_at(registry, 0, "a", empty_vector()));
  ASSERT_TRUE(place_at(registry, 5, "", empty_vector()));
  ASSERT_TRUE(place_at(registry, container_registry::capacity - 1, "last", empty_vector()));
  ASSERT_TRUE(save_image(registry, dir.file("gaps.img")));

  const uint64_t last = container_registry::capacity - 1;
  EXPECT_EQ(read_file(dir.file("gaps.img")),
            header(4) + record("a", 0) + empty_vector_record + record("", 5) + empty_vector_record +
                record(std::string_view("x\0y", 3), 1000) + empty_vector_record +
                record("last", last) + empty_vector_record);
}

TEST(ImageBackup, RefusalsLeaveFilesAndDatabaseAsTheyWere) {
  temp_directory dir;
  container_registry registry;
  ASSERT_TRUE(place_at(registry, 4, "v", empty_vector()));
  const std::string before = slots_of(registry);
  dir.write("taken.img", "precious");
  ASSERT_EQ(::mkdir(dir.file("taken_dir").c_str(), 0700), 0);
  ASSERT_EQ(::symlink(dir.file("nowhere").c_str(), dir.file("dangling").c_str()), 0);

  struct row {
    std::string target;  // the path given to save_image
    std::string path;    // the file that must be left as it was, or absent
    console message;
    std::string after;
  };
  const std::vector<row> rows = {
      {dir.file("taken.img"), dir.file("taken.img"), console::exists, "precious"},
      {dir.file("taken_dir"), dir.file("taken_dir"), console::exists, "<dir>"},
      {dir.file("dangling"), dir.file("nowhere"), console::exists, "<none>"},
      {dir.file("no_such_dir/x.img"), dir.file("no_such_dir/x.img"), console::none, "<none>"},
      {"", "", console::none, "<none>"},
      // A zero byte would cut the path short at the system call: "zero" must not be made.
      {dir.file(std::string("zero\0byte", 9)), dir.file("zero"), console::none, "<none>"},
  };
  // What a path holds: its bytes, "<dir>" or "<none>".
  const auto state = [](const std::string& path) {
    if (std::filesystem::is_directory(path)) return std::string("<dir>");
    return std::filesystem::exists(path) ? read_file(path) : "<none>";
  };
  for (const row& r : rows) {
    CaptureStdout();
    EXPECT_FALSE(save_image(registry, r.target)) << r.target;
    EXPECT_EQ(GetCapturedStdout(), console_line(r.message, r.target)) << r.target;
    EXPECT_EQ(state(r.path), r.after) << r.target;
  }
  EXPECT_EQ(slots_of(registry), before);
}

// The example of the format document, byte for byte: the whole file of one hash map.
TEST(ImageBytes, HashMapExampleFile) {
  temp_directory dir;
  container_registry registry;
  std::unique_ptr<ab_adt> c = make_container("hashmap", u08_type, i32_type, 16);
  ASSERT_NE(c, nullptr);
  auto& map = static_cast<adt<uint8_t, int32_t>&>(*c);
  ASSERT_TRUE(map.insert(3, 7));
  ASSERT_TRUE(place_at(registry, 0, "m", std::move(c)));
  ASSERT_TRUE(save_image(registry, dir.file("m.img")));
  EXPECT_EQ(read_file(dir.file("m.img")), header(1) + record("m", 0) +
                                              head("hashmap", u08_type, i32_type) + u64le(16) +
                                              u64le(1) + std::string("\3\7\0\0\0", 5));
}

// ---- restore ----

struct restore_row {
  const char* label;
  std::string bytes;  // the image file
  console message;
  bool restored;
  std::string slots;  // slots_of() afterwards; "=" for the database as it was
};

// Each header check with its console line, the bounds on counts, slot ids and names, and one
// record of each outcome of the container layer's reader: refused, and a capacity that throws.
// What each kind's reader refuses is containers/kind_image_test's; every cut field is
// the truncation sweep's, below.
std::vector<restore_row> restore_rows() {
  const std::string vec = empty_vector_record;
  const auto one_record = [](std::string_view kind, type_descriptor key, type_descriptor value) {
    return header(1) + record("", 0) + head(kind, key, value);
  };
  const uint64_t capacity = container_registry::capacity;
  return {
      {"three bytes", "qmd", console::not_normative, false, "="},
      {"wrong magic", std::string("qmdB\0", 5) + u64le(0), console::not_normative, false, "="},
      {"version 1", "qmdb\1" + u64le(0), console::unsupported, false, "="},
      {"empty image", header(0), console::none, true, ""},
      {"count above the registry", header(capacity + 1), console::none, false, ""},
      {"trailing byte", header(0) + std::string(1, '\0'), console::none, false, ""},
      {"one vector", header(1) + record("v", 7) + vec, console::none, true, "7:vector:v;"},
      {"slot id at the capacity", header(1) + record("v", capacity) + vec, console::none, false,
       ""},
      {"two records, one slot", header(2) + record("a", 3) + vec + record("b", 3) + vec,
       console::none, false, ""},
      {"two records, one name", header(2) + record("a", 3) + vec + record("a", 4) + vec,
       console::none, false, ""},
      {"two records, gapped", header(2) + record("a", 9) + vec + record("", 2) + vec, console::none,
       true, "2:vector:;9:vector:a;"},
      {"unknown kind", one_record("tree", i32_type, u08_type) + u64le(0), console::none, false, ""},
      {"hash map, capacity 2^61 + 1",
       one_record("hashmap", u08_type, i32_type) + u64le((uint64_t{1} << 61) + 1) + u64le(0),
       console::none, false, ""},
  };
}

TEST(ImageRestore, EveryRowEndsAsDescribed) {
  temp_directory dir;
  for (const restore_row& row : restore_rows()) {
    container_registry registry;
    ASSERT_TRUE(place_at(registry, 0, "keep", empty_vector()));
    ASSERT_TRUE(place_at(registry, 3, "", empty_vector()));
    const std::string before = slots_of(registry);
    const std::string path = dir.file("row.img");
    dir.write("row.img", row.bytes);
    CaptureStdout();
    const bool restored = load_image(registry, path);
    EXPECT_EQ(GetCapturedStdout(), console_line(row.message, path)) << row.label;
    EXPECT_EQ(restored, row.restored) << row.label;
    EXPECT_EQ(slots_of(registry), row.slots == "=" ? before : row.slots) << row.label;
    // Whatever happened, the free list must still hand out slots from the lowest free one.
    uint64_t slot = 0;
    ASSERT_TRUE(registry.place_new(empty_vector(), "", slot)) << row.label;
    if (!row.restored && row.slots.empty()) {
      EXPECT_EQ(slot, 0u) << row.label;
    }
  }
}

TEST(ImageRestore, PathsThatNameNoImageFile) {
  temp_directory dir;
  ASSERT_EQ(::mkdir(dir.file("a_dir").c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo(dir.file("a_fifo").c_str(), 0600), 0);
  const std::string paths[] = {dir.file("missing.img"), dir.file("a_dir"),
                               // Must neither block waiting for a writer nor read from the pipe.
                               dir.file("a_fifo"), "", "with space.img"};
  container_registry registry;
  ASSERT_TRUE(place_at(registry, 2, "keep", empty_vector()));
  for (const std::string& path : paths) {
    CaptureStdout();
    EXPECT_FALSE(load_image(registry, path)) << path;
    EXPECT_EQ(GetCapturedStdout(), console_line(console::not_exists, path)) << path;
    EXPECT_EQ(slots_of(registry), "2:vector:keep;") << path;
  }
}

// ---- cut images ----

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
