// Image payloads of the sequence, adaptor and trie kinds: exact bytes, round trips over every key
// type, and refusal of every truncation.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <type_traits>

#include "containers/image_test_support.h"
#include "containers/ordered_test_support.h"
#include "containers/sequence_test_support.h"
#include "values/image_io.h"
#include "values/scalar.h"

namespace qn::db::nosql::nosql_db {
namespace {

using testing::contents;
using testing::make_kind;
using testing::typed;
using namespace image_testing;

std::string header(std::string_view kind, type_descriptor key) {
  return text(kind) + descriptor_bytes(key) + descriptor_bytes(u08_type);
}

// Loads a payload (everything after the descriptors) into a fresh container of the kind.
std::unique_ptr<ab_adt> loaded(std::string_view kind, type_descriptor key,
                               const std::string& payload, bool expected = true) {
  auto c = make_kind(kind, key);
  EXPECT_EQ(load_payload(*c, payload), expected) << kind;
  return c;
}

// ---- exact payloads ----

TEST(SequenceImage, PayloadsAreTheCountThenTheElementsInKindOrder) {
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
  for (const char* w : {"car", "cart", "Car"})
    ASSERT_TRUE(typed<xstring>(*trie).insert(xstring(w), 0));
  auto shell = make_kind(trie_kind, i32_type);

  const struct {
    ab_adt* c;
    std::string expected;
  } cases[] = {
      {vec.get(),
       header("vector", i32_type) + u64le(2) + std::string("\1\0\0\0\xfe\xff\xff\xff", 8)},
      {strings.get(), header("vector", string_type) + u64le(2) + text("") + text("ab")},
      {deq.get(), header("deque", u08_type) + u64le(3) + "\2\1\3"},
      {list.get(), header("list", u16_type) + u64le(2) + "\4\3\2\1"},
      {heap.get(), header("heap", i08_type) + u64le(4) + "\1\3\x8\5"},
      {trie.get(),
       header("trie", string_type) + u64le(3) + text("Car") + text("car") + text("cart")},
      {shell.get(), header("trie", i32_type) + u64le(0)},
  };
  for (const auto& c : cases) EXPECT_EQ(saved(*c.c), c.expected) << c.c->kind_name();
}

// A heap loads by pushing each element; a trie adds the words it takes and counts only those; a
// trie over another key type loads back what it saves, an empty word list, and nothing else.
TEST(SequenceImage, HeapAndTrieLoadThroughTheirInserts) {
  auto heap =
      loaded(heap_kind, i32_type, u64le(4) + std::string("\5\0\0\0\3\0\0\0\x8\0\0\0\1\0\0\0", 16));
  EXPECT_EQ(contents(typed<int32_t>(*heap)), "1 3 8 5");
  auto trie = loaded(trie_kind, string_type,
                     u64le(5) + text("b") + text("a") + text("b") + text("") + text("\xff"));
  EXPECT_EQ(trie->count(), 2u);
  EXPECT_EQ(contents(typed<xstring>(*trie)), "a b");
  auto shell = make_kind(trie_kind, i64_type);
  uint64_t left = 0;
  EXPECT_TRUE(load_payload(*shell, u64le(0) + "rest", &left));
  EXPECT_EQ(left, 4u);
  EXPECT_FALSE(load_payload(*shell, u64le(1) + text("w")));
}

TEST(SequenceImage, CountsTheFileCannotHoldAreRefusedBeforeAnything) {
  for (std::string_view kind :
       {vector_kind, deque_kind, list_kind, stack_kind, queue_kind, heap_kind, trie_kind}) {
    for (uint64_t count : {uint64_t{1} << 62, ~uint64_t{0}, uint64_t{3}}) {
      EXPECT_EQ(loaded(kind, string_type, u64le(count) + "xx", false)->count(), 0u) << kind;
      if (kind != trie_kind) {
        EXPECT_EQ(loaded(kind, i64_type, u64le(count) + "xx", false)->count(), 0u) << kind;
      }
    }
  }
}

// ---- round trips over every key type ----

template <class K>
void expect_round_trip(std::string_view kind) {
  const type_descriptor key = descriptor_of<K>();
  auto original = make_kind(kind, key);
  ASSERT_NE(original, nullptr) << kind;
  auto& typed_original = typed<K>(*original);
  std::mt19937 rng(7);
  for (int i = 0; i < 40; ++i) {
    const K v = ordered_testing::sample<K>(rng);
    if (kind == heap_kind || kind == trie_kind) {
      static_cast<void>(typed_original.insert(v, 0));  // the trie refuses some words
    } else {
      ASSERT_TRUE(typed_original.insert_last(v));
    }
  }
  const std::string bytes = saved(*original);
  const std::string head = header(kind, key);
  ASSERT_EQ(bytes.substr(0, head.size()), head);
  const std::string payload = bytes.substr(head.size());

  auto copy = loaded(kind, key, payload);
  EXPECT_EQ(copy->count(), original->count());
  out_list<K> before, after;
  ASSERT_TRUE(typed_original.all(before));
  ASSERT_TRUE(typed<K>(*copy).all(after));
  EXPECT_TRUE(ordered_testing::same_keys(before, after)) << kind << " over " << type_name(key);
  EXPECT_EQ(saved(*copy), bytes) << kind << " over " << type_name(key);

  // Every cut short of the whole payload is refused.
  for (uint64_t cut = 0; cut < payload.size(); ++cut) {
    (void)loaded(kind, key, payload.substr(0, cut), false);
  }
}

TEST(SequenceImage, RoundTripsOverEveryKeyType) {
  for (std::string_view kind :
       {vector_kind, deque_kind, list_kind, stack_kind, queue_kind, heap_kind}) {
    ordered_testing::for_every_type([&]<class K>() { expect_round_trip<K>(kind); });
  }
  expect_round_trip<xstring>(trie_kind);
}

}  // namespace
}  // namespace qn::db::nosql::nosql_db
