// Image records of every kind: the exact bytes each saves, how each loads, and what load_container
// refuses. Round trips of every kind, and every cut of them, are persistence's image_test.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <utility>

#include "containers/kind_test_support.h"

namespace qn::db::nosql::nosql_db {
namespace {

using namespace testing;

// Records load_container reads and what the container it builds saves: each kind's documented
// payload in its own order, which a load reaches through the kind's insert.
TEST(KindImage, EachKindLoadsThroughItsInsertAndSavesItsDocumentedRecord) {
  const struct {
    std::string record, saved;  // saved: "" for the record itself
  } rows[] = {
      {head("vector", i32_type) + u64le(2) + std::string("\1\0\0\0\xfe\xff\xff\xff", 8), ""},
      {head("vector", string_type) + u64le(2) + text("") + text("ab"), ""},
      {head("list", u16_type) + u64le(2) + "\4\3\2\1", ""},
      {head("queue", u08_type) + u64le(3) + "\2\1\3", ""},
      {head("stack", u08_type) + u64le(3) + "\2\1\3", ""},
      // A heap pushes each element and saves its array.
      {head("heap", i32_type) + u64le(4) + std::string("\5\0\0\0\3\0\0\0\x8\0\0\0\1\0\0\0", 16),
       head("heap", i32_type) + u64le(4) + std::string("\1\0\0\0\3\0\0\0\x8\0\0\0\5\0\0\0", 16)},
      // A trie adds the words it takes and counts only those, in its enumeration order; over
      // another key type it holds no words.
      {head("trie", string_type) + u64le(6) + text("b") + text("a") + text("B") + text("b") +
           text("") + text("\xff"),
       head("trie", string_type) + u64le(3) + text("B") + text("a") + text("b")},
      {head("trie", i32_type) + u64le(0), ""},
      // A set keeps one of repeated elements; a multiset all, ascending.
      {head("set", i32_type) + u64le(3) + std::string("\2\0\0\0\1\0\0\0\2\0\0\0", 12),
       head("set", i32_type) + u64le(2) + std::string("\1\0\0\0\2\0\0\0", 8)},
      {head("multiset", string_type) + u64le(3) + text("b") + text("") + text("b"),
       head("multiset", string_type) + u64le(3) + text("") + text("b") + text("b")},
      // A map keeps the first value of a repeated key, a multimap all in stored order.
      {head("map", string_type, string_type) + u64le(1) + text("a") + text("bc"), ""},
      {head("map", u08_type, u08_type) + u64le(3) + "\7\x0A\7\x14\1\x1E",
       head("map", u08_type, u08_type) + u64le(2) + "\1\x1E\7\x0A"},
      {head("multimap", u08_type, u08_type) + u64le(3) + "\7\x0A\7\x14\1\x1E",
       head("multimap", u08_type, u08_type) + u64le(3) + "\1\x1E\7\x0A\7\x14"},
      // Capacity, count, then each key at its width with its value (persistence's image_test has
      // the documented example); a hash map skips keys beyond its capacity.
      {head("hashmap", i16_type, u08_type) + u64le(4) + u64le(2) +
           std::string("\4\x80\2\0\x80\1", 6),
       head("hashmap", i16_type, u08_type) + u64le(4) + u64le(1) + std::string("\0\x80\1", 3)},
      // A table's key comes widened to 64 bits, then at its own width.
      {head("hashtable", i16_type) + u64le(4) + u64le(1) +
           std::string("\1\x80\xff\xff\xff\xff\xff\xff\1\x80", 10),
       ""},
      // A shell's record ends after the descriptors.
      {head("hashmap_not_allowed", string_type, i32_type), ""},
  };
  for (const auto& row : rows) {
    auto c = loaded(row.record);
    ASSERT_NE(c, nullptr) << row.record;
    EXPECT_EQ(saved(*c), row.saved.empty() ? row.record : row.saved) << row.record;
  }
  // A deque saves front to back, its front side included.
  auto deq = make_kind(deque_kind, u08_type);
  for (uint8_t v : {1, 2}) ASSERT_TRUE(typed<uint8_t>(*deq).insert_first(v));
  ASSERT_TRUE(typed<uint8_t>(*deq).insert_last(3));
  EXPECT_EQ(saved(*deq), head("deque", u08_type) + u64le(3) + "\2\1\3");
}

TEST(KindImage, LoadContainerRefusesWhatNoKindBuilds) {
  const std::string refused[] = {
      head("tree", i32_type) + u64le(0),
      text(std::string(22, 'k')) + std::string(30, '\0'),  // longer than any kind name
      head("vector", {0, 0, 6}) + u64le(0),                // a descriptor of no type
      head("set", i32_type, i32_type) + u64le(0),          // the value-less kinds take u08
      head("hashtable", u08_type, i32_type) + u64le(4) + u64le(0),
      // Not what the key type builds: a hash map over strings is a shell, and the reverse.
      head("hashmap", string_type, i32_type) + u64le(4) + u64le(0),
      head("hashmap_not_allowed", i32_type, i32_type),
      head("trie", i32_type) + u64le(1) + text("w"),  // a trie over i32 holds no words
      // A length the rest of the record cannot hold.
      head("hashmap", i16_type, string_type) + u64le(4) + u64le(1) + "\1\x80" + u64le(~0ull),
  };
  for (const std::string& record : refused) EXPECT_EQ(loaded(record), nullptr) << record;
  // Counts no record of this size can hold are refused before anything is sized by them.
  for (std::string_view kind :
       {vector_kind, deque_kind, list_kind, stack_kind, queue_kind, heap_kind, trie_kind, set_kind,
        multiset_kind, map_kind, multimap_kind, hashmap_kind, hashtable_kind}) {
    const bool is_hash = kind == hashmap_kind || kind == hashtable_kind;
    const bool is_pair = kind == map_kind || kind == multimap_kind || kind == hashmap_kind;
    const std::string start =
        head(kind, is_hash ? i64_type : string_type, is_pair ? i64_type : u08_type) +
        (is_hash ? u64le(16) : "");
    for (uint64_t count : {uint64_t{1} << 62, ~uint64_t{0}, uint64_t{3}}) {
      EXPECT_EQ(loaded(start + u64le(count) + "xx"), nullptr) << kind << " " << count;
    }
  }
  // Any floating descriptor of width 3 is double; a u08 table of capacity 2^60 is 256 slots.
  auto loose = loaded(head("vector", {3, 9, 1}) + u64le(0));
  ASSERT_NE(loose, nullptr);
  EXPECT_EQ(loose->key_type(), double_type);
  EXPECT_NE(loaded(head("hashmap", u08_type, i32_type) + u64le(1ull << 60) + u64le(0)), nullptr);
  // A capacity creation refuses throws as creation does.
  EXPECT_THROW(loaded(head("hashmap", u64_type, i32_type) + u64le(1ull << 40) + u64le(0)),
               std::bad_alloc);
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
