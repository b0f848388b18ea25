// Image records of every kind: the exact bytes each saves, how each loads, what load_container
// refuses, and round trips over every key type in which every cut record is refused.
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

template <class K, class V>
adt<K, V>& as(std::unique_ptr<ab_adt>& c) {
  return static_cast<adt<K, V>&>(*c);
}

TEST(KindImage, EachKindSavesItsDocumentedRecord) {
  auto vec = make_kind(vector_kind);
  for (int32_t v : {1, -2}) ASSERT_TRUE(typed<int32_t>(*vec).insert_last(v));
  auto strings = make_kind(vector_kind, string_type);
  for (const char* v : {"", "ab"}) ASSERT_TRUE(typed<xstring>(*strings).insert_last(xstring(v)));
  auto deq = make_kind(deque_kind, u08_type);
  ASSERT_TRUE(typed<uint8_t>(*deq).insert_first(1));
  ASSERT_TRUE(typed<uint8_t>(*deq).insert_first(2));
  ASSERT_TRUE(typed<uint8_t>(*deq).insert_last(3));
  auto list = make_kind(list_kind, u16_type);
  ASSERT_TRUE(typed<uint16_t>(*list).insert_last(0x0102));
  ASSERT_TRUE(typed<uint16_t>(*list).insert_first(0x0304));
  auto heap = make_kind(heap_kind, i08_type);
  for (int8_t v : {5, 3, 8, 1}) ASSERT_TRUE(typed<int8_t>(*heap).insert(v, 0));
  auto trie = make_kind(trie_kind, string_type);
  for (const char* w : {"car", "cart", "Car"}) {
    ASSERT_TRUE(typed<xstring>(*trie).insert(xstring(w), 0));
  }
  auto set = make_kind(set_kind);
  for (int32_t e : {3, 1}) ASSERT_TRUE(typed<int32_t>(*set).insert(e, 0));
  auto words = make_kind(multiset_kind, string_type);
  for (const char* w : {"b", "", "b"}) ASSERT_TRUE(typed<xstring>(*words).insert(xstring(w), 0));
  auto map = make_container(map_kind, string_type, string_type, 0);
  ASSERT_TRUE((as<xstring, xstring>(map).insert(xstring("a"), xstring("bc"))));
  auto multimap = make_container(multimap_kind, i32_type, i08_type, 0);
  for (auto [k, v] : {std::pair{2, 1}, {1, 5}, {2, 3}}) {
    ASSERT_TRUE((as<int32_t, int8_t>(multimap).insert(k, static_cast<int8_t>(v))));
  }
  auto hashmap = make_container(hashmap_kind, u08_type, i32_type, 16);
  ASSERT_TRUE((as<uint8_t, int32_t>(hashmap).insert(3, 7)));
  auto hashtable = make_container(hashtable_kind, i16_type, u08_type, 4);
  ASSERT_TRUE(typed<int16_t>(*hashtable).insert(-32767, 0));

  const std::pair<std::unique_ptr<ab_adt>, std::string> cases[] = {
      {std::move(vec),
       head("vector", i32_type) + u64le(2) + std::string("\1\0\0\0\xfe\xff\xff\xff", 8)},
      {std::move(strings), head("vector", string_type) + u64le(2) + text("") + text("ab")},
      {std::move(deq), head("deque", u08_type) + u64le(3) + "\2\1\3"},
      {std::move(list), head("list", u16_type) + u64le(2) + "\4\3\2\1"},
      {std::move(heap), head("heap", i08_type) + u64le(4) + "\1\3\x8\5"},
      {std::move(trie),
       head("trie", string_type) + u64le(3) + text("Car") + text("car") + text("cart")},
      {make_kind(trie_kind), head("trie", i32_type) + u64le(0)},
      {std::move(set), head("set", i32_type) + u64le(2) + std::string("\1\0\0\0\3\0\0\0", 8)},
      {std::move(words),
       head("multiset", string_type) + u64le(3) + text("") + text("b") + text("b")},
      {std::move(map), head("map", string_type, string_type) + u64le(1) + text("a") + text("bc")},
      {std::move(multimap), head("multimap", i32_type, i08_type) + u64le(3) +
                                std::string("\1\0\0\0\5\2\0\0\0\1\2\0\0\0\3", 15)},
      {std::move(hashmap),
       head("hashmap", u08_type, i32_type) + u64le(16) + u64le(1) + std::string("\3\7\0\0\0", 5)},
      // A table's key comes widened to 64 bits, then at its own width.
      {std::move(hashtable), head("hashtable", i16_type) + u64le(4) + u64le(1) +
                                 std::string("\1\x80\xff\xff\xff\xff\xff\xff\1\x80", 10)},
      // A shell's record ends after the descriptors.
      {make_container(hashmap_kind, string_type, i32_type, 8),
       head("hashmap_not_allowed", string_type, i32_type)},
  };
  for (const auto& [c, expected] : cases) EXPECT_EQ(saved(*c), expected) << c->kind_name();
}

// A heap pushes each element; a trie adds the words it takes and counts only those, and over
// another key type takes its empty word list and nothing else; a set keeps one of repeated
// elements, a map the first value of a repeated key, a multimap all of them; a hash map skips
// keys beyond its capacity and gives a key it holds the loaded value.
TEST(KindImage, EachKindLoadsThroughItsInsert) {
  auto heap = make_kind(heap_kind);
  ASSERT_TRUE(load_payload(*heap, u64le(4) + std::string("\5\0\0\0\3\0\0\0\x8\0\0\0\1\0\0\0", 16)));
  EXPECT_EQ(contents(typed<int32_t>(*heap)), "1 3 8 5");
  auto trie = make_kind(trie_kind, string_type);
  ASSERT_TRUE(
      load_payload(*trie, u64le(5) + text("b") + text("a") + text("b") + text("") + text("\xff")));
  EXPECT_EQ(trie->count(), 2u);
  EXPECT_EQ(contents(typed<xstring>(*trie)), "a b");
  auto shell = make_kind(trie_kind, i64_type);
  uint64_t left = 0;
  EXPECT_TRUE(load_payload(*shell, u64le(0) + "rest", &left));
  EXPECT_EQ(left, 4u);
  EXPECT_FALSE(load_payload(*shell, u64le(1) + text("w")));
  auto set = make_kind(set_kind);
  ASSERT_TRUE(load_payload(*set, u64le(3) + std::string("\1\0\0\0\1\0\0\0\2\0\0\0", 12)));
  EXPECT_EQ(contents(typed<int32_t>(*set)), "1 2");
  for (auto [kind, values] : {std::pair{map_kind, "10"}, {multimap_kind, "10 20"}}) {
    auto c = make_container(kind, u08_type, u08_type, 0);
    ASSERT_TRUE(load_payload(*c, u64le(3) + "\x07\x0A\x07\x14\x01\x1E"));
    std::vector<uint8_t> got;
    EXPECT_TRUE((as<uint8_t, uint8_t>(c).values_of(7, got)));
    EXPECT_EQ(join(got), values) << kind;
  }
  auto hash = make_container(hashmap_kind, i16_type, u08_type, 4);
  ASSERT_TRUE((as<int16_t, uint8_t>(hash).insert(-32768, 9)));
  ASSERT_TRUE(load_payload(*hash, u64le(2) + std::string("\0\x80\1\4\x80\2", 6)));
  std::vector<uint8_t> got;
  EXPECT_TRUE((as<int16_t, uint8_t>(hash).values_of(-32768, got)));
  EXPECT_EQ(join(got), "1");
  EXPECT_EQ(contents(as<int16_t, uint8_t>(hash)), "-32768");
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

// A record load_container builds back into a container of the same count and elements, which
// saves the same bytes; every cut of the record is refused.
template <class K, class V>
void expect_round_trip(std::string_view kind, uint32_t seed, bool cuts) {
  auto c = make_container(kind, descriptor_of<K>(), descriptor_of<V>(), 64);
  ASSERT_NE(c, nullptr) << kind;
  std::mt19937 rng(seed);
  fill(as<K, V>(c), rng, 12);
  const std::string bytes = saved(*c);
  auto copy = loaded(bytes);
  ASSERT_NE(copy, nullptr) << kind;
  EXPECT_EQ(copy->count(), c->count()) << kind;
  out_list<K> before, after;
  if (as<K, V>(c).all(before)) {
    ASSERT_TRUE((as<K, V>(copy).all(after)));
    EXPECT_TRUE(same_keys(before, after)) << kind;
  }
  EXPECT_EQ(saved(*copy), bytes) << kind;
  for (size_t cut = 0; cuts && cut < bytes.size(); ++cut) {
    EXPECT_EQ(loaded(bytes.substr(0, cut)), nullptr) << kind << " cut at " << cut;
  }
}

TEST(KindImage, EveryKindRoundTripsOverEveryKeyType) {
  uint32_t seed = 1;
  for (std::string_view kind :
       {vector_kind, deque_kind, list_kind, stack_kind, queue_kind, heap_kind, trie_kind, set_kind,
        multiset_kind, map_kind, multimap_kind, hashmap_kind, hashtable_kind}) {
    for_every_type([&]<class K>() { expect_round_trip<K, uint8_t>(kind, ++seed, true); });
  }
  for (std::string_view kind : {map_kind, multimap_kind}) {
    for_every_type([&]<class K>() {
      for_every_type([&]<class V>() { expect_round_trip<K, V>(kind, ++seed, false); });
    });
  }
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
