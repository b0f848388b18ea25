// Byte-exact records of the real kinds, and round trips of every kind over every key type.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "containers/factory.h"
#include "persistence/image.h"
#include "persistence/image_test_contents.h"
#include "persistence/image_test_support.h"
#include "values/text_forms.h"

namespace qn::db::nosql {
namespace {

using namespace image_testing;
using nosql_db::ab_adt;
using nosql_db::adt;
using nosql_db::make_container;

// ---- byte-exact records ----

// Parses text forms into typed values, to fill containers from a table.
template <class T>
std::vector<T> parse_all(const std::vector<std::string>& tokens) {
  std::vector<T> out;
  for (const std::string& t : tokens) {
    T v{};
    EXPECT_TRUE(parse_value(t, v)) << t;
    out.push_back(v);
  }
  return out;
}

struct exact_row {
  std::string_view kind;
  type_descriptor key, value;
  uint64_t capacity;
  std::vector<std::string> keys, values;
  std::string payload;  // everything after the descriptors
};

std::vector<exact_row> exact_rows() {
  return {
      {"hashmap", u08_type, i32_type, 16, {"3"}, {"7"},
       image_bytes().u64(16).u64(1).u8(3).raw(std::string_view("\7\0\0\0", 4)).str()},
      {"hashtable", i16_type, u08_type, 4, {"-32767"}, {},
       image_bytes().u64(4).u64(1).raw("\x01\x80\xff\xff\xff\xff\xff\xff").raw("\x01\x80").str()},
      {"hashtable", u08_type, u08_type, 256, {"200", "1"}, {},
       image_bytes().u64(256).u64(2).u64(1).u8(1).u64(200).u8(200).str()},
      {"hashmap", i08_type, string_type, 300, {"-127", "-128"}, {"x", ""},
       image_bytes().u64(300).u64(2).u8(0x80).u64(0).u8(0x81).text("x").str()},
      {"map", string_type, string_type, 0, {"a"}, {"bc"},
       image_bytes().u64(1).text("a").text("bc").str()},
      {"multimap", i32_type, u08_type, 0, {"5", "-1", "5"}, {"1", "2", "3"},
       image_bytes().u64(3).raw("\xff\xff\xff\xff").u8(2).raw(std::string_view("\5\0\0\0", 4))
           .u8(1).raw(std::string_view("\5\0\0\0", 4)).u8(3).str()},
      {"vector", string_type, u08_type, 0, {""}, {}, image_bytes().u64(1).u64(0).str()},
      {"vector", u16_type, u08_type, 0, {"1", "515"}, {},
       image_bytes().u64(2).raw(std::string_view("\1\0\3\2", 4)).str()},
      {"set", date_type, u08_type, 0, {"2021-03-04", "2020-10-16"}, {},
       image_bytes().u64(2).raw("\xe4\x07\x0a\x10").raw("\xe5\x07\x03\x04").str()},
      {"stack", time_type, u08_type, 0, {"01:02:03", "23:59:59"}, {},
       image_bytes().u64(2).raw(std::string_view("\1\2\3\0\0\0\0", 7))
           .raw(std::string_view("\x17\x3b\x3b\0\0\0\0", 7)).str()},
      // The empty word is never stored.
      {"trie", string_type, u08_type, 0, {"b", "ab", "", "a"}, {},
       image_bytes().u64(3).text("a").text("ab").text("b").str()},
  };
}

TEST(ImageBytes, EveryKindWritesItsDocumentedPayload) {
  scratch_dir dir;
  for (const exact_row& row : exact_rows()) {
    std::unique_ptr<ab_adt> c = make_container(row.kind, row.key, row.value, row.capacity);
    ASSERT_NE(c, nullptr) << row.kind;
    (void)with_types(*c, [&]<class K, class V>() {
      fill(static_cast<adt<K, V>&>(*c), parse_all<K>(row.keys), parse_all<V>(row.values));
      return true;
    });
    container_registry registry;
    ASSERT_TRUE(place_at(registry, 0, "m", std::move(c)));
    const std::string path = dir.file("exact.img");
    ASSERT_TRUE(save_image(registry, path)) << row.kind;
    const std::string expected = image_bytes()
                                     .header(1)
                                     .record("m", 0)
                                     .kind(row.kind, row.key, row.value)
                                     .raw(row.payload)
                                     .str();
    EXPECT_EQ(read_file(path), expected) << row.kind << " " << type_name(row.key);
    // And back: the restored container writes the same bytes again.
    container_registry restored;
    ASSERT_TRUE(load_image(restored, path)) << row.kind;
    std::filesystem::remove(path);
    ASSERT_TRUE(save_image(restored, path));
    EXPECT_EQ(read_file(path), expected) << row.kind << " after a round trip";
    std::filesystem::remove(path);
  }
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
      'q', 'm', 'd', 'b', 0, 1, 0, 0, 0, 0, 0, 0, 0,  // magic, version, count 1
      1, 0, 0, 0, 0, 0, 0, 0, 'm',                     // name
      0, 0, 0, 0, 0, 0, 0, 0,                          // slot id
      7, 0, 0, 0, 0, 0, 0, 0, 'h', 'a', 's', 'h', 'm', 'a', 'p',
      0, 1, 0, 2, 0, 0,                                // u08, i32
      16, 0, 0, 0, 0, 0, 0, 0,                         // capacity
      1, 0, 0, 0, 0, 0, 0, 0,                          // count
      3, 7, 0, 0, 0};
  EXPECT_EQ(read_file(dir.file("m.img")),
            std::string(reinterpret_cast<const char*>(expected), sizeof(expected)));
}

// ---- round trips ----

struct built {
  uint64_t slot;
  std::string name;
  std::string rendered;
};

// Every kind over every key type (pair kinds over two value types each, so all fourteen value
// types occur), in gapped slots, most of them named.
std::vector<built> fill_database(container_registry& registry) {
  std::vector<built> out;
  uint64_t i = 0;
  for (const std::string_view kind : all_kinds) {
    for (size_t k = 0; k < std::size(all_types); ++k) {
      const type_descriptor key = all_types[k];
      std::vector<type_descriptor> values = {u08_type};
      if (is_pair_kind(kind)) values = {all_types[(k + 3) % 14], all_types[(k + 9) % 14]};
      for (const type_descriptor value : values) {
        const uint64_t capacity = hash_capacity(key);
        std::unique_ptr<ab_adt> c = make_container(kind, key, value, capacity);
        if (c == nullptr) {
          ADD_FAILURE() << "cannot build " << kind << " " << type_name(key);
          continue;
        }
        (void)with_types(*c, [&]<class K, class V>() {
          auto& typed = static_cast<adt<K, V>&>(*c);
          if constexpr (std::is_integral_v<K>) {
            if (kind == "hashmap" || kind == "hashtable") {
              fill(typed, hash_samples<K>(capacity), samples<V>());
              return true;
            }
          }
          fill(typed, samples<K>(), samples<V>());
          return true;
        });
        ++i;
        const uint64_t slot = 3 + i * 37;
        std::string name = i % 3 == 0 ? "" : "c" + std::to_string(i);
        if (i == 5) name = std::string("zero\0byte", 9);
        if (i == 7) name = "\xff\x80";
        if (!place_at(registry, slot, name, std::move(c))) {
          ADD_FAILURE() << "cannot place " << kind;
          continue;
        }
        out.push_back({slot, name, render(*registry.container_at(slot))});
      }
    }
  }
  return out;
}

TEST(ImageRoundTrip, EveryKindOverEveryTypeComesBackAsItWas) {
  scratch_dir dir;
  container_registry original;
  const std::vector<built> containers = fill_database(original);
  ASSERT_FALSE(containers.empty());
  std::printf("round trip over %zu containers\n", containers.size());
  ASSERT_TRUE(save_image(original, dir.file("all.img")));

  // Restore replaces: what the target held before is gone, nothing is merged.
  container_registry restored;
  ASSERT_TRUE(place_at(restored, 1, "old", empty_fake_vector()));
  ASSERT_TRUE(place_at(restored, 3 + 37, "also old", empty_fake_vector()));
  ASSERT_TRUE(load_image(restored, dir.file("all.img")));
  EXPECT_EQ(restored.occupied_count(), containers.size());
  EXPECT_EQ(slots_of(restored), slots_of(original));
  for (const built& b : containers) {
    ab_adt* c = restored.container_at(b.slot);
    ASSERT_NE(c, nullptr) << b.rendered;
    EXPECT_EQ(render(*c), b.rendered);
    uint64_t found = 0;
    if (!b.name.empty()) {
      EXPECT_TRUE(restored.find_by_name(b.name, found) && found == b.slot) << b.rendered;
    }
  }
  // The free list is rebuilt too: the next creation takes the lowest free slot.
  uint64_t next = 0;
  ASSERT_TRUE(restored.place_new(empty_fake_vector(), "", next));
  EXPECT_EQ(next, 0u);
  ASSERT_TRUE(restored.release(next));

  // The restored database writes the very same image.
  ASSERT_TRUE(save_image(restored, dir.file("again.img")));
  EXPECT_EQ(read_file(dir.file("again.img")), read_file(dir.file("all.img")));
}

// Shells and tries over non-string keys hold nothing but still take their slot and name.
TEST(ImageRoundTrip, ContainersThatHoldNothingKeepTheirSlotsAndNames) {
  scratch_dir dir;
  struct row {
    std::string_view kind;
    type_descriptor key, value;
    std::string_view kind_after;
  };
  const row rows[] = {
      {"hashmap", string_type, i32_type, "hashmap_not_allowed"},
      {"hashmap", datetime_type, string_type, "hashmap_not_allowed"},
      {"hashtable", double_type, u08_type, "hashtable_not_allowed"},
      {"trie", i32_type, u08_type, "trie"},
      {"trie", date_type, u08_type, "trie"},
  };
  for (const row& r : rows) {
    std::unique_ptr<ab_adt> c = make_container(r.kind, r.key, r.value, 10);
    ASSERT_NE(c, nullptr) << r.kind;
    container_registry registry;
    ASSERT_TRUE(place_at(registry, 11, "kept", std::move(c)));
    ASSERT_TRUE(save_image(registry, dir.file("hollow.img")));
    container_registry restored;
    EXPECT_TRUE(load_image(restored, dir.file("hollow.img"))) << r.kind_after;
    EXPECT_EQ(slots_of(restored), "11:" + std::string(r.kind_after) + ":kept;");
    ab_adt* back = restored.container_at(11);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->key_type(), r.key);
    EXPECT_EQ(back->value_type(), r.value);
    std::filesystem::remove(dir.file("hollow.img"));
  }
}

}  // namespace
}  // namespace qn::db::nosql
