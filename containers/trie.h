// Trie kind: trie_adt, a set of words in a word_trie, exact and letter-case-insensitive lookups.
// Every operation takes this container's lock itself, shared to read and exclusive to change.
//
// Only string keys hold words. For the other key types trie_adt is an empty shell with count
// (always 0), save (an empty word list), load (an empty word list only) and clear.
#pragma once

#include <cstdint>
#include <mutex>
#include <shared_mutex>

#include "containers/adt.h"
#include "containers/word_trie.h"
#include "values/binary_io.h"
#include "values/scalar.h"

namespace qn::db::nosql::nosql_db {

template <class K, class V>
class trie_adt final : public adt<K, V> {
 public:
  trie_adt() : adt<K, V>(trie_kind, descriptor_of<K>(), descriptor_of<V>()) {}

  uint64_t count() override { return 0; }
  [[nodiscard]] bool save(image_writer& out) override {
    std::shared_lock hold(this->lock_);
    this->save_header(out);
    out.put_u64(0);
    return out.ok();
  }
  // Such a trie can hold no word: it loads back what it saves, an empty word list, and refuses
  // a record with any word in it.
  [[nodiscard]] bool load(image_reader& in) override {
    uint64_t words = 0;
    return in.get_u64(words) && words == 0;
  }
  [[nodiscard]] bool clear() override { return true; }
};

template <class V>
class trie_adt<xstring, V> final : public adt<xstring, V> {
 public:
  using keys = out_list<xstring>;

  trie_adt() : adt<xstring, V>(trie_kind, string_type, descriptor_of<V>()) {}

  uint64_t count() override {
    std::shared_lock hold(this->lock_);
    return words_.size();
  }
  // u64 word count, then each word as a string, in enumeration order.
  [[nodiscard]] bool save(image_writer& out) override {
    std::shared_lock hold(this->lock_);
    this->save_header(out);
    out.put_u64(words_.size());
    words_.for_each_word([&](std::string_view word) { out.put_text(word); });
    return out.ok();
  }
  // Inserts each saved word; repeated and refused words are skipped, as insert would.
  [[nodiscard]] bool load(image_reader& in) override {
    std::unique_lock hold(this->lock_);
    uint64_t n = 0;
    if (!in.get_u64(n) || !in.can_hold(n, encoded_size<xstring>())) return in.fail();
    xstring word;
    for (; n != 0; --n) {
      if (!in.get_text(word)) return false;
      (void)words_.insert(word.view());
    }
    return true;
  }
  // Every word in ascending unsigned byte order, a word before its extensions.
  [[nodiscard]] bool all(keys& out) override {
    std::shared_lock hold(this->lock_);
    out.clear();
    out.reserve(words_.size());
    words_.for_each_word([&](std::string_view word) { out.emplace_back(word); });
    return true;
  }
  [[nodiscard]] bool clear() override {
    std::unique_lock hold(this->lock_);
    words_.clear();
    return true;
  }
  // False for the empty word, a word with a byte of 128 or more, and a stored word.
  [[nodiscard]] bool insert(const xstring& word, const V&) override {
    std::unique_lock hold(this->lock_);
    return words_.insert(word.view());
  }
  [[nodiscard]] bool has_word(const xstring& word, bool& out) override {
    std::shared_lock hold(this->lock_);
    out = words_.contains(word.view());
    return true;
  }
  [[nodiscard]] bool has_word_any_case(const xstring& word, bool& out) override {
    std::shared_lock hold(this->lock_);
    out = words_.contains_any_case(word.view());
    return true;
  }

 private:
  word_trie words_;  // guarded by lock_
};

}  // namespace qn::db::nosql::nosql_db
