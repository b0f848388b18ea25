// Backup framing, the console messages and every refusal of backup and restore.
#include "persistence/image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "containers/factory.h"
#include "persistence/image_test_support.h"

namespace qn::db::nosql {
namespace {

using namespace image_testing;
using nosql_db::adt;
using nosql_db::make_container;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

constexpr uint64_t u64_max = ~uint64_t{0};

enum class console { none, exists, not_exists, not_normative, unsupported };

std::string console_line(console kind, const std::string& path) {
  switch (kind) {
    case console::none:
      return "";
    case console::exists:
      return "exists file named " + path + "\n";
    case console::not_exists:
      return "not exists file named " + path + "\n";
    case console::not_normative:
      return "the file '" + path + "' is not normative zor's struct database binary file!\n";
    case console::unsupported:
      return "the zor's struct database binary file '" + path + "' is unsupport verion!\n";
  }
  return "";
}

// ---- backup ----

TEST(ImageBackup, RecordsFollowSlotOrderWithNamesAndGaps) {
  scratch_dir dir;
  container_registry registry;
  // Placed out of order, with gaps, one unnamed, one name with a zero byte.
  ASSERT_TRUE(place_at(registry, 1000, std::string_view("x\0y", 3), empty_fake_vector()));
  ASSERT_TRUE(place_at(registry, 0, "a", empty_fake_vector()));
  ASSERT_TRUE(place_at(registry, 5, "", empty_fake_vector()));
  ASSERT_TRUE(place_at(registry, container_registry::capacity - 1, "last", empty_fake_vector()));
  ASSERT_TRUE(save_image(registry, dir.file("gaps.img")));

  image_bytes expected;
  expected.header(4);
  const std::pair<std::string_view, uint64_t> records[] = {
      {"a", 0},
      {"", 5},
      {std::string_view("x\0y", 3), 1000},
      {"last", container_registry::capacity - 1}};
  for (const auto& [name, slot] : records) {
    expected.record(name, slot).kind("vector", i32_type, u08_type).u64(0);
  }
  EXPECT_EQ(read_file(dir.file("gaps.img")), expected.str());
}

TEST(ImageBackup, FailedSaveLeavesNoFile) {
  scratch_dir dir;
  container_registry registry;
  ASSERT_TRUE(place_at(registry, 0, "good", empty_fake_vector()));
  ASSERT_TRUE(place_at(registry, 1, "bad",
                       std::make_unique<fake_adt>(nosql_db::vector_kind, i32_type, u08_type, "",
                                                  /*saves=*/false)));
  EXPECT_FALSE(save_image(registry, dir.file("bad.img")));
  EXPECT_TRUE(dir.is_empty());
}

TEST(ImageBackup, RefusalsLeaveFilesAndDatabaseAsTheyWere) {
  scratch_dir dir;
  container_registry registry;
  ASSERT_TRUE(place_at(registry, 4, "v", empty_fake_vector()));
  const std::string before = slots_of(registry);
  write_file(dir.file("taken.img"), "precious");
  ASSERT_EQ(::mkdir(dir.file("taken_dir").c_str(), 0700), 0);
  ASSERT_EQ(::symlink(dir.file("nowhere").c_str(), dir.file("dangling").c_str()), 0);

  struct row {
    std::string target;  // the path given to save_image
    std::string path;    // the file that must be left as it was (or absent)
    console message;
    std::string file_after;  // "" when the path must not exist afterwards
  };
  const std::vector<row> rows = {
      {dir.file("taken.img"), dir.file("taken.img"), console::exists, "precious"},
      {dir.file("taken_dir"), dir.file("taken_dir"), console::exists, "<dir>"},
      {dir.file("dangling"), dir.file("nowhere"), console::exists, ""},
      {dir.file("no_such_dir/x.img"), dir.file("no_such_dir/x.img"), console::none, ""},
      {"", "", console::none, ""},
      // A zero byte would cut the path short at the system call: "zero" must not be made.
      {dir.file(std::string("zero\0byte", 9)), dir.file("zero"), console::none, ""},
  };
  for (const row& r : rows) {
    CaptureStdout();
    EXPECT_FALSE(save_image(registry, r.target)) << r.target;
    const std::string printed = GetCapturedStdout();
    const std::string shown = r.message == console::exists ? r.target : "";
    EXPECT_EQ(printed, console_line(r.message, shown)) << r.target;
    if (r.path.empty()) continue;
    if (r.file_after == "<dir>") {
      EXPECT_TRUE(std::filesystem::is_directory(r.path)) << r.target;
    } else if (r.file_after.empty()) {
      EXPECT_FALSE(std::filesystem::exists(r.path)) << r.target;
    } else {
      EXPECT_EQ(read_file(r.path), r.file_after) << r.target;
    }
  }
  EXPECT_EQ(slots_of(registry), before);
}

// The example of the format document, byte for byte: the whole file of one hash map.
TEST(ImageBytes, HashMapExampleFile) {
  scratch_dir dir;
  container_registry registry;
  std::unique_ptr<ab_adt> c = make_container("hashmap", u08_type, i32_type, 16);
  ASSERT_NE(c, nullptr);
  auto& map = static_cast<adt<uint8_t, int32_t>&>(*c);
  ASSERT_TRUE(map.insert(3, 7));
  ASSERT_TRUE(place_at(registry, 0, "m", std::move(c)));
  ASSERT_TRUE(save_image(registry, dir.file("m.img")));
  const unsigned char expected[] = {
      'q', 'm', 'd', 'b', 0, 1, 0, 0, 0,   0,   0,   0,   0,  // magic, version, count 1
      1,   0,   0,   0,   0, 0, 0, 0, 'm',                    // name
      0,   0,   0,   0,   0, 0, 0, 0,                         // slot id
      7,   0,   0,   0,   0, 0, 0, 0, 'h', 'a', 's', 'h', 'm',
      'a', 'p', 0,   1,   0, 2, 0, 0,  // u08, i32
      16,  0,   0,   0,   0, 0, 0, 0,  // capacity
      1,   0,   0,   0,   0, 0, 0, 0,  // count
      3,   7,   0,   0,   0};
  EXPECT_EQ(read_file(dir.file("m.img")),
            std::string(reinterpret_cast<const char*>(expected), sizeof(expected)));
}

// ---- restore ----

enum class after { unchanged, empty, restored };

struct restore_row {
  const char* label;
  std::string bytes;  // the image file
  console message;
  after database;
  std::string restored;  // slots_of() on success
};

// The refusals and acceptances a damage sweep would not single out: each header check with its
// console line, bounds on counts, ids, names and capacities, and the records that read well but
// must not be restored. Every cut-short field is image_corruption_test's truncation sweep.
std::vector<restore_row> restore_rows() {
  const std::string vec = image_bytes().kind("vector", i32_type, u08_type).u64(0).str();
  const auto one_vector = [&](std::string_view name, uint64_t slot) {
    return image_bytes().header(1).record(name, slot).raw(vec).str();
  };
  const auto hashmap = [](uint64_t capacity) {
    return image_bytes()
        .header(1)
        .record("h", 0)
        .kind("hashmap", u08_type, i32_type)
        .u64(capacity)
        .u64(0)
        .str();
  };
  return {
      {"three bytes", "qmd", console::not_normative, after::unchanged, ""},
      {"wrong magic", image_bytes().raw("qmdB").u8(0).u64(0).str(), console::not_normative,
       after::unchanged, ""},
      {"version 1", image_bytes().raw("qmdb").u8(1).u64(0).str(), console::unsupported,
       after::unchanged, ""},
      {"empty image", image_bytes().header(0).str(), console::none, after::restored, ""},
      {"count above the registry", image_bytes().header(container_registry::capacity + 1).str(),
       console::none, after::empty, ""},
      {"trailing byte", image_bytes().header(0).u8(0).str(), console::none, after::empty, ""},
      {"unknown kind",
       image_bytes().header(1).record("", 0).kind("tree", i32_type, u08_type).u64(0).str(),
       console::none, after::empty, ""},
      {"kind name too long",
       image_bytes()
           .header(1)
           .record("", 0)
           .text(std::string(22, 'k'))
           .raw(std::string(30, 0))
           .str(),
       console::none, after::empty, ""},
      {"one vector", one_vector("v", 7), console::none, after::restored, "7:vector:v;"},
      {"slot id at the capacity", one_vector("v", container_registry::capacity), console::none,
       after::empty, ""},
      {"two records, one slot",
       image_bytes().header(2).record("a", 3).raw(vec).record("b", 3).raw(vec).str(), console::none,
       after::empty, ""},
      {"two records, one name",
       image_bytes().header(2).record("a", 3).raw(vec).record("a", 4).raw(vec).str(), console::none,
       after::empty, ""},
      {"two records, gapped",
       image_bytes().header(2).record("a", 9).raw(vec).record("", 2).raw(vec).str(), console::none,
       after::restored, "2:vector:;9:vector:a;"},
      {"descriptor of no type",
       image_bytes().header(1).record("", 0).kind("vector", {0, 0, 6}, u08_type).u64(0).str(),
       console::none, after::empty, ""},
      // Decoded by class code as the reader does: any floating descriptor of width 3 is double.
      {"loose double descriptor",
       image_bytes().header(1).record("", 0).kind("vector", {3, 9, 1}, u08_type).u64(0).str(),
       console::none, after::restored, "0:vector:;"},
      {"value type of a set not u08",
       image_bytes().header(1).record("", 0).kind("set", i32_type, i32_type).u64(0).str(),
       console::none, after::empty, ""},
      // Only the 256 addressable slots exist, so this is a legitimate, small table.
      {"hash map over u08, capacity 2^60", hashmap(uint64_t{1} << 60), console::none,
       after::restored, "0:hashmap:h;"},
      // Creation refuses more than 2^61 slots, and so does restore.
      {"hash map, capacity 2^61 + 1", hashmap((uint64_t{1} << 61) + 1), console::none, after::empty,
       ""},
      // 8 TiB of slots over u64 keys: beyond any machine's memory.
      {"hash map over u64, capacity 2^40",
       image_bytes()
           .header(1)
           .record("h", 0)
           .kind("hashmap", u64_type, i32_type)
           .u64(uint64_t{1} << 40)
           .u64(0)
           .str(),
       console::none, after::empty, ""},
      {"hash map over string keys",
       image_bytes()
           .header(1)
           .record("", 0)
           .kind("hashmap", string_type, i32_type)
           .u64(4)
           .u64(0)
           .str(),
       console::none, after::empty, ""},
      {"shell over an integer key",
       image_bytes().header(1).record("s", 4).kind("hashmap_not_allowed", i32_type, i32_type).str(),
       console::none, after::empty, ""},
      {"trie over i32 with a word",
       image_bytes()
           .header(1)
           .record("t", 1)
           .kind("trie", i32_type, u08_type)
           .u64(1)
           .text("w")
           .str(),
       console::none, after::empty, ""},
      {"hash table with a value type",
       image_bytes()
           .header(1)
           .record("", 0)
           .kind("hashtable", u08_type, i32_type)
           .u64(4)
           .u64(0)
           .str(),
       console::none, after::empty, ""},
      // A key the table cannot store is skipped, as the hash kinds load it.
      {"hash map key beyond the capacity",
       image_bytes()
           .header(1)
           .record("h", 0)
           .kind("hashmap", u08_type, u08_type)
           .u64(4)
           .u64(1)
           .u8(10)
           .u8(1)
           .str(),
       console::none, after::restored, "0:hashmap:h;"},
  };
}

TEST(ImageRestore, EveryRowEndsAsDescribed) {
  scratch_dir dir;
  for (const restore_row& row : restore_rows()) {
    container_registry registry;
    ASSERT_TRUE(place_at(registry, 0, "keep", empty_fake_vector()));
    ASSERT_TRUE(place_at(registry, 3, "", empty_fake_vector()));
    const std::string before = slots_of(registry);
    const std::string path = dir.file("row.img");
    write_file(path, row.bytes);
    CaptureStdout();
    const bool restored = load_image(registry, path);
    EXPECT_EQ(GetCapturedStdout(), console_line(row.message, path)) << row.label;
    EXPECT_EQ(restored, row.database == after::restored) << row.label;
    const std::string expected = row.database == after::unchanged ? before
                                 : row.database == after::empty   ? ""
                                                                  : row.restored;
    EXPECT_EQ(slots_of(registry), expected) << row.label;
    // Whatever happened, the free list must still hand out slots from the lowest free one.
    uint64_t slot = 0;
    ASSERT_TRUE(registry.place_new(empty_fake_vector(), "", slot)) << row.label;
    if (row.database == after::empty) {
      EXPECT_EQ(slot, 0u) << row.label;
    }
    std::filesystem::remove(path);
  }
}

TEST(ImageRestore, PathsThatNameNoImageFile) {
  scratch_dir dir;
  ASSERT_EQ(::mkdir(dir.file("a_dir").c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo(dir.file("a_fifo").c_str(), 0600), 0);
  const std::string paths[] = {dir.file("missing.img"), dir.file("a_dir"),
                               // Must neither block waiting for a writer nor read from the pipe.
                               dir.file("a_fifo"), "", "with space.img"};
  container_registry registry;
  ASSERT_TRUE(place_at(registry, 2, "keep", empty_fake_vector()));
  for (const std::string& path : paths) {
    CaptureStdout();
    EXPECT_FALSE(load_image(registry, path)) << path;
    EXPECT_EQ(GetCapturedStdout(), console_line(console::not_exists, path)) << path;
    EXPECT_EQ(slots_of(registry), "2:vector:keep;") << path;
  }
}

}  // namespace
}  // namespace qn::db::nosql
