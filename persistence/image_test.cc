// Backup framing, the console messages and every refusal of backup and restore.
#include "persistence/image.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "persistence/image_format.h"
#include "persistence/image_test_support.h"

namespace qn::db::nosql {
namespace {

using namespace image_testing;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

constexpr uint64_t u64_max = ~uint64_t{0};

enum class console { none, exists, not_exists, not_normative, unsupported };

std::string console_line(console kind, const std::string& path) {
  switch (kind) {
    case console::none: return "";
    case console::exists: return "exists file named " + path + "\n";
    case console::not_exists: return "not exists file named " + path + "\n";
    case console::not_normative:
      return "the file '" + path + "' is not normative zor's struct database binary file!\n";
    case console::unsupported:
      return "the zor's struct database binary file '" + path + "' is unsupport verion!\n";
  }
  return "";
}

// ---- backup ----

TEST(ImageBackup, EmptyDatabaseIsThirteenBytes) {
  scratch_dir dir;
  Registry registry;
  ASSERT_TRUE(backup_to(registry, dir.file("empty.img")));
  EXPECT_EQ(read_file(dir.file("empty.img")), std::string("qmdb\0\0\0\0\0\0\0\0\0", 13));
  EXPECT_EQ(image_format::header_size, 13u);
}

TEST(ImageBackup, RecordsFollowSlotOrderWithNamesAndGaps) {
  scratch_dir dir;
  Registry registry;
  // Placed out of order, with gaps, one unnamed, one name with a zero byte.
  ASSERT_TRUE(place_at(registry, 1000, std::string_view("x\0y", 3), empty_fake_vector()));
  ASSERT_TRUE(place_at(registry, 0, "a", empty_fake_vector()));
  ASSERT_TRUE(place_at(registry, 5, "", empty_fake_vector()));
  ASSERT_TRUE(place_at(registry, Registry::capacity - 1, "last", empty_fake_vector()));
  ASSERT_TRUE(backup_to(registry, dir.file("gaps.img")));

  image_bytes expected;
  expected.header(4);
  const std::pair<std::string_view, uint64_t> records[] = {
      {"a", 0}, {"", 5}, {std::string_view("x\0y", 3), 1000}, {"last", Registry::capacity - 1}};
  for (const auto& [name, slot] : records) {
    expected.record(name, slot).kind("vector", i32_type, u08_type).u64(0);
  }
  EXPECT_EQ(read_file(dir.file("gaps.img")), expected.str());
}

// The shells over non-integer keys cannot save themselves; backup writes their kind name and
// descriptors with an empty payload.
TEST(ImageBackup, ShellsAreWrittenWithAnEmptyPayload) {
  scratch_dir dir;
  Registry registry;
  ASSERT_TRUE(place_at(registry, 2, "h",
                       std::make_unique<fake_adt>(nosql_db::hashmap_not_allowed_kind, string_type,
                                                  i32_type, "", /*saves=*/false)));
  ASSERT_TRUE(place_at(registry, 3, "",
                       std::make_unique<fake_adt>(nosql_db::hashtable_not_allowed_kind,
                                                  double_type, u08_type, "", false)));
  ASSERT_TRUE(backup_to(registry, dir.file("shells.img")));
  const std::string expected = image_bytes()
                                   .header(2)
                                   .record("h", 2)
                                   .kind("hashmap_not_allowed", string_type, i32_type)
                                   .record("", 3)
                                   .kind("hashtable_not_allowed", double_type, u08_type)
                                   .str();
  EXPECT_EQ(read_file(dir.file("shells.img")), expected);
}

TEST(ImageBackup, FailedSaveLeavesNoFile) {
  scratch_dir dir;
  Registry registry;
  ASSERT_TRUE(place_at(registry, 0, "good", empty_fake_vector()));
  ASSERT_TRUE(place_at(registry, 1, "bad",
                       std::make_unique<fake_adt>(nosql_db::vector_kind, i32_type, u08_type, "",
                                                  /*saves=*/false)));
  EXPECT_FALSE(backup_to(registry, dir.file("bad.img")));
  EXPECT_TRUE(dir.is_empty());
}

// A write that fails part way (here: the file size limit, as a full disk would) leaves no file.
TEST(ImageBackup, FailedWriteLeavesNoFile) {
  scratch_dir dir;
  Registry registry;
  const std::string payload = image_bytes().u64(1 << 20).raw(std::string(4 << 20, 'v')).str();
  ASSERT_TRUE(place_at(registry, 0, "big",
                       std::make_unique<fake_adt>(nosql_db::vector_kind, u32_type, u08_type,
                                                  payload)));
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto old_handler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 1 << 20;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = backup_to(registry, dir.file("full.img"));
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(written);
  EXPECT_TRUE(dir.is_empty());
}

TEST(ImageBackup, RefusalsLeaveFilesAndDatabaseAsTheyWere) {
  scratch_dir dir;
  Registry registry;
  ASSERT_TRUE(place_at(registry, 4, "v", empty_fake_vector()));
  const std::string before = slots_of(registry);
  write_file(dir.file("taken.img"), "precious");
  ASSERT_EQ(::mkdir(dir.file("taken_dir").c_str(), 0700), 0);
  ASSERT_EQ(::symlink(dir.file("nowhere").c_str(), dir.file("dangling").c_str()), 0);

  struct row {
    std::string line, path;  // path: the file that must be left as it was (or absent)
    console message;
    std::string file_after;  // "" when the path must not exist afterwards
  };
  const std::vector<row> rows = {
      {"b", "", console::none, ""},
      {"b " + dir.file("x.img") + " extra", dir.file("x.img"), console::none, ""},
      {"b " + dir.file("taken.img"), dir.file("taken.img"), console::exists, "precious"},
      {"b " + dir.file("taken_dir"), dir.file("taken_dir"), console::exists, "<dir>"},
      {"b " + dir.file("dangling"), dir.file("nowhere"), console::exists, ""},
      {"b " + dir.file("no_such_dir/x.img"), dir.file("no_such_dir/x.img"), console::none, ""},
      {"b \"\"", "", console::none, ""},
      {"b \"" + dir.file("zero\\x00byte") + "\"", dir.file("zero"), console::none, ""},
  };
  for (const row& r : rows) {
    CaptureStdout();
    EXPECT_FALSE(backup_command(registry, r.line)) << r.line;
    const std::string printed = GetCapturedStdout();
    const std::string shown = r.message == console::exists ? r.line.substr(2) : "";
    EXPECT_EQ(printed, console_line(r.message, shown)) << r.line;
    if (r.path.empty()) continue;
    if (r.file_after == "<dir>") {
      EXPECT_TRUE(std::filesystem::is_directory(r.path)) << r.line;
    } else if (r.file_after.empty()) {
      EXPECT_FALSE(std::filesystem::exists(r.path)) << r.line;
    } else {
      EXPECT_EQ(read_file(r.path), r.file_after) << r.line;
    }
  }
  EXPECT_EQ(slots_of(registry), before);
}

// A quoted path keeps its spaces; the message shows the path by its bytes.
TEST(ImageBackup, QuotedPathWithSpaces) {
  scratch_dir dir;
  Registry registry;
  const std::string path = dir.file("with space.img");
  ASSERT_TRUE(backup_command(registry, "b \"" + path + "\""));
  EXPECT_EQ(read_file(path).size(), 13u);
  CaptureStdout();
  EXPECT_FALSE(backup_command(registry, "b \"" + path + "\""));
  EXPECT_EQ(GetCapturedStdout(), console_line(console::exists, path));
}

// ---- restore ----

enum class after { unchanged, empty, restored };

struct restore_row {
  const char* label;
  std::string bytes;      // the image file
  console message;
  after database;
  std::string restored;   // slots_of() on success
};

std::vector<restore_row> restore_rows() {
  const std::string vec = image_bytes().kind("vector", i32_type, u08_type).u64(0).str();
  const auto one_vector = [&](std::string_view name, uint64_t slot) {
    return image_bytes().header(1).record(name, slot).raw(vec).str();
  };
  const auto hashmap = [](uint64_t capacity) {
    return image_bytes().header(1).record("h", 0).kind("hashmap", u08_type, i32_type)
        .u64(capacity).u64(0).str();
  };
  return {
      {"empty file", "", console::not_normative, after::unchanged, ""},
      {"three bytes", "qmd", console::not_normative, after::unchanged, ""},
      {"wrong magic", image_bytes().raw("qmdB").u8(0).u64(0).str(), console::not_normative,
       after::unchanged, ""},
      {"magic only", "qmdb", console::not_normative, after::unchanged, ""},
      {"version 1", image_bytes().raw("qmdb").u8(1).u64(0).str(), console::unsupported,
       after::unchanged, ""},
      {"version 255", image_bytes().raw("qmdb").u8(255).str(), console::unsupported,
       after::unchanged, ""},
      {"empty image", image_bytes().header(0).str(), console::none, after::restored, ""},
      {"count cut short", image_bytes().raw("qmdb").u8(0).raw(std::string_view("\0\0\0", 3)).str(), console::none,
       after::empty, ""},
      {"count without records", image_bytes().header(1).str(), console::none, after::empty, ""},
      {"count above the registry", image_bytes().header(Registry::capacity + 1).str(),
       console::none, after::empty, ""},
      {"count beyond the file", image_bytes().header(1000).raw(std::string(100, 'x')).str(),
       console::none, after::empty, ""},
      {"trailing byte", image_bytes().header(0).u8(0).str(), console::none, after::empty, ""},
      {"name longer than the file",
       image_bytes().header(1).u64(u64_max).raw(std::string(40, 'n')).str(), console::none,
       after::empty, ""},
      {"slot id cut short", image_bytes().header(1).text("a").raw(std::string_view("\0\0", 2)).str(),
       console::none, after::empty, ""},
      {"unknown kind",
       image_bytes().header(1).record("", 0).kind("tree", i32_type, u08_type).u64(0).str(),
       console::none, after::empty, ""},
      {"kind name too long",
       image_bytes().header(1).record("", 0).text(std::string(22, 'k')).raw(std::string(30, 0))
           .str(),
       console::none, after::empty, ""},
      {"kind name length huge",
       image_bytes().header(1).record("", 0).u64(u64_max).raw(std::string(30, 0)).str(),
       console::none, after::empty, ""},
      {"kind name cut short", image_bytes().header(1).record("", 0).u64(6).raw("vec").str(),
       console::none, after::empty, ""},
      {"one vector", one_vector("v", 7), console::none, after::restored, "7:vector:v;"},
      {"slot id at the capacity", one_vector("v", Registry::capacity), console::none,
       after::empty, ""},
      {"slot id huge", one_vector("v", u64_max), console::none, after::empty, ""},
      {"two records, one slot",
       image_bytes().header(2).record("a", 3).raw(vec).record("b", 3).raw(vec).str(),
       console::none, after::empty, ""},
      {"two records, one name",
       image_bytes().header(2).record("a", 3).raw(vec).record("a", 4).raw(vec).str(),
       console::none, after::empty, ""},
      {"two records, gapped",
       image_bytes().header(2).record("a", 9).raw(vec).record("", 2).raw(vec).str(),
       console::none, after::restored, "2:vector:;9:vector:a;"},
      {"count one short of the records",
       image_bytes().header(1).record("a", 3).raw(vec).record("b", 4).raw(vec).str(),
       console::none, after::empty, ""},
      {"descriptor of no type",
       image_bytes().header(1).record("", 0).kind("vector", {0, 0, 6}, u08_type).u64(0).str(),
       console::none, after::empty, ""},
      {"integer width 4",
       image_bytes().header(1).record("", 0).kind("vector", {4, 0, 0}, u08_type).u64(0).str(),
       console::none, after::empty, ""},
      // Decoded by class code as the reader does: any floating descriptor of width 3 is double.
      {"loose double descriptor",
       image_bytes().header(1).record("", 0).kind("vector", {3, 9, 1}, u08_type).u64(0).str(),
       console::none, after::restored, "0:vector:;"},
      {"value type of a set not u08",
       image_bytes().header(1).record("", 0).kind("set", i32_type, i32_type).u64(0).str(),
       console::none, after::empty, ""},
      {"hash map, capacity 16", hashmap(16), console::none, after::restored, "0:hashmap:h;"},
      // Only the 256 addressable slots exist, so this is a legitimate, small table.
      {"hash map over u08, capacity 2^60", hashmap(uint64_t{1} << 60), console::none,
       after::restored, "0:hashmap:h;"},
      // Creation refuses more than 2^61 slots, and so does restore.
      {"hash map, capacity 2^61 + 1", hashmap((uint64_t{1} << 61) + 1), console::none,
       after::empty, ""},
      {"hash map, capacity all ones", hashmap(u64_max), console::none, after::empty, ""},
      // 8 TiB of slots over u64 keys: beyond any machine's memory.
      {"hash map over u64, capacity 2^40",
       image_bytes().header(1).record("h", 0).kind("hashmap", u64_type, i32_type)
           .u64(uint64_t{1} << 40).u64(0).str(),
       console::none, after::empty, ""},
      {"hash map, capacity cut short",
       image_bytes().header(1).record("", 0).kind("hashmap", u08_type, i32_type).raw("\x10")
           .str(),
       console::none, after::empty, ""},
      {"hash map over string keys",
       image_bytes().header(1).record("", 0).kind("hashmap", string_type, i32_type).u64(4)
           .u64(0).str(),
       console::none, after::empty, ""},
      {"shell",
       image_bytes().header(1).record("s", 4).kind("hashmap_not_allowed", string_type, i32_type)
           .str(),
       console::none, after::restored, "4:hashmap_not_allowed:s;"},
      {"shell over an integer key",
       image_bytes().header(1).record("s", 4).kind("hashmap_not_allowed", i32_type, i32_type)
           .str(),
       console::none, after::empty, ""},
      {"trie over i32, no words",
       image_bytes().header(1).record("t", 1).kind("trie", i32_type, u08_type).u64(0).str(),
       console::none, after::restored, "1:trie:t;"},
      {"trie over i32 with a word",
       image_bytes().header(1).record("t", 1).kind("trie", i32_type, u08_type).u64(1).text("w")
           .str(),
       console::none, after::empty, ""},
      {"bytes after the last record", one_vector("v", 7) + "x", console::none, after::empty,
       ""},
      {"vector element cut short",
       image_bytes().header(1).record("", 0).kind("vector", i32_type, u08_type).u64(2)
           .raw("\1\2\3\4").str(),
       console::none, after::empty, ""},
      {"map key longer than the file",
       image_bytes().header(1).record("", 0).kind("map", string_type, i32_type).u64(1)
           .u64(1000).raw("abc").str(),
       console::none, after::empty, ""},
      {"hash table with a value type",
       image_bytes().header(1).record("", 0).kind("hashtable", u08_type, i32_type).u64(4).u64(0)
           .str(),
       console::none, after::empty, ""},
      // A key the table cannot store is skipped, as the hash kinds load it.
      {"hash map key beyond the capacity",
       image_bytes().header(1).record("h", 0).kind("hashmap", u08_type, u08_type).u64(4).u64(1)
           .u8(10).u8(1).str(),
       console::none, after::restored, "0:hashmap:h;"},
      {"vector count beyond the file",
       image_bytes().header(1).record("", 0).kind("vector", i32_type, u08_type).u64(u64_max)
           .raw(std::string(64, 0)).str(),
       console::none, after::empty, ""},
  };
}

TEST(ImageRestore, EveryRowEndsAsDescribed) {
  scratch_dir dir;
  for (const restore_row& row : restore_rows()) {
    Registry registry;
    ASSERT_TRUE(place_at(registry, 0, "keep", empty_fake_vector()));
    ASSERT_TRUE(place_at(registry, 3, "", empty_fake_vector()));
    const std::string before = slots_of(registry);
    const std::string path = dir.file("row.img");
    write_file(path, row.bytes);
    CaptureStdout();
    const bool restored = restore_from(registry, path);
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
  struct row {
    std::string line;
    console message;
    std::string shown;
  };
  const std::vector<row> rows = {
      {"r", console::none, ""},
      {"r " + dir.file("a") + " " + dir.file("b"), console::none, ""},
      {"r " + dir.file("missing.img"), console::not_exists, dir.file("missing.img")},
      {"r " + dir.file("a_dir"), console::not_exists, dir.file("a_dir")},
      // Must neither block waiting for a writer nor read from the pipe.
      {"r " + dir.file("a_fifo"), console::not_exists, dir.file("a_fifo")},
      {"r \"\"", console::not_exists, ""},
      {"r \"with space.img\"", console::not_exists, "with space.img"},
  };
  for (const row& r : rows) {
    Registry registry;
    ASSERT_TRUE(place_at(registry, 2, "keep", empty_fake_vector()));
    reply_record reply;
    CaptureStdout();
    EXPECT_FALSE(restore_command(registry, r.line, reply)) << r.line;
    EXPECT_EQ(GetCapturedStdout(), console_line(r.message, r.shown)) << r.line;
    EXPECT_EQ(slots_of(registry), "2:vector:keep;") << r.line;
    EXPECT_TRUE(reply.empty());
  }
}

// The image written by backup is the image restore reads: the 13-byte file restores to an empty
// database whatever was there.
TEST(ImageRestore, EmptyImageEmptiesTheDatabase) {
  scratch_dir dir;
  Registry empty;
  ASSERT_TRUE(backup_to(empty, dir.file("empty.img")));
  Registry registry;
  ASSERT_TRUE(place_at(registry, 9, "gone", empty_fake_vector()));
  EXPECT_TRUE(restore_from(registry, dir.file("empty.img")));
  EXPECT_EQ(registry.occupied_count(), 0u);
}

}  // namespace
}  // namespace qn::db::nosql
