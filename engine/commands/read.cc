// g: the typed read family. Recognises the word, parses its arguments, calls one reading
// operation and answers with at most one unlabelled item.
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/commands/families.h"
#include "engine/commands/typed_dispatch.h"

namespace qn::db::nosql {
namespace {

// The answers of a read, each instantiated per result type only (not per (K, V)) and kept out of
// line so that the 196 handlers stay small. Each answers true: an operation that answered false
// is a read that found nothing, which succeeds with no item. The reply is touched only when the
// operation found something.
template <class T>
[[gnu::noinline]] bool answer_list(bool found, const std::vector<T>& list, reply_record& reply) {
  if (found) reply.single(descriptor_of<T>()).assign(list);
  return true;
}
// One value under a descriptor: a K, a u64 count or handle, or a u08 truth value.
template <class T>
[[gnu::noinline]] bool answer_one(bool found, const T& value, type_descriptor type,
                                  reply_record& reply) {
  if (found) reply.single(type).append(value);
  return true;
}
// Kind names and type names, which need no operation.
[[gnu::noinline]] bool answer_name(std::string_view text, reply_record& reply) {
  reply.single(string_type).append_text(text);
  return true;
}

// The out values the reading operations write and the answers they become.
template <class K, class V>
struct read_result {
  reply_record& reply;
  std::vector<K> keys{};
  std::vector<V> values{};
  K key{};
  uint64_t number = 0;
  bool flag = false;

  bool found_keys(bool found) { return answer_list(found, keys, reply); }
  bool found_values(bool found) { return answer_list(found, values, reply); }
  bool found_key(bool found) { return answer_one(found, key, descriptor_of<K>(), reply); }
  bool found_number(bool found) { return answer_one(found, number, u64_type, reply); }
  // Truth values are u08 1 or 0.
  bool found_truth(bool found) { return answer_one(found, uint8_t{flag}, u08_type, reply); }
  bool name(std::string_view text) { return answer_name(text, reply); }
};

// One handler for every (K, V); its cases follow the word table: first byte, then length and at
// most one further byte. An unknown word succeeds with no item; an argument that does not parse
// fails.
template <class K, class V>
bool read_typed(adt<K, V>& c, std::string_view word, std::string_view a, std::string_view b,
                reply_record& reply) {
  read_result<K, V> r{reply};
  K lo{}, hi{};
  uint64_t n = 0, to = 0;
  const size_t length = word.size();
  switch (byte_at(word, 0)) {
    case 'a':
      return r.found_keys(c.all(r.keys));
    case 'c':
      if (length == 5) return r.found_number(c.count_into(r.number));
      if (length == 8) return r.name(c.kind_name());
      return parse(a, lo) && r.found_truth(c.has_word(lo, r.flag));
    case 'e':
      return parse(a, lo) && r.found_keys(c.equal(lo, r.keys));
    case 'f':
      if (length == 5) return r.found_key(c.first(r.key));
      if (length == 7) return parse(a, n) && r.found_keys(c.first_n(n, r.keys));
      return true;
    case 'g':
      if (word.back() == 't') return parse(a, lo) && r.found_keys(c.greater(lo, r.keys));
      return parse(a, lo) && r.found_keys(c.greater_equal(lo, r.keys));
    case 'i':
      return parse(a, lo) && r.found_number(c.index_of(lo, r.number));
    case 'k':
      return r.name(type_name(c.key_type()));
    case 'l':
      if (length == 2 && word[1] == 't') return parse(a, lo) && r.found_keys(c.less(lo, r.keys));
      if (length == 2) return parse(a, lo) && r.found_keys(c.less_equal(lo, r.keys));
      if (length == 6) return parse(a, n) && r.found_keys(c.last_n(n, r.keys));
      if (length != 4) return true;
      if (word[1] == 'a') return r.found_key(c.last(r.key));
      if (word[1] == 'e' && word[3] == 't') {
        return parse(a, lo) && parse(b, hi) && r.found_keys(c.between_gt_le(lo, hi, r.keys));
      }
      if (word[1] == 'e') {
        return parse(a, lo) && parse(b, hi) && r.found_keys(c.between_ge_le(lo, hi, r.keys));
      }
      if (word[1] == 't' && word[3] == 't') {
        return parse(a, lo) && parse(b, hi) && r.found_keys(c.between_gt_lt(lo, hi, r.keys));
      }
      if (word[1] == 't') {
        return parse(a, lo) && parse(b, hi) && r.found_keys(c.between_ge_lt(lo, hi, r.keys));
      }
      return true;
    case 'm':
      if (length == 3 && word[2] == 'n') return r.found_key(c.min(r.key));
      if (length == 3) return r.found_key(c.max(r.key));
      if (length == 5 && word[2] == 'n') return parse(a, n) && r.found_keys(c.min_n(n, r.keys));
      if (length == 5) return parse(a, n) && r.found_keys(c.max_n(n, r.keys));
      return true;
    case 'n':
      if (length == 3) return parse(a, n) && r.found_key(c.at(n, r.key));
      return true;
    case 'p':
      if (length == 3) return parse(a, lo) && r.found_number(c.find_node(lo, r.number));
      if (length == 5 && word[4] == 'n') {
        return parse(a, n) && r.found_number(c.next_node(n, r.number));
      }
      if (length == 5 && word[4] == 'p') {
        return parse(a, n) && r.found_number(c.prev_node(n, r.number));
      }
      return true;
    case 'r':
      if (length == 4) return parse(a, lo) && r.found_number(c.rank_of(lo, r.number));
      return parse(a, n) && parse(b, to) && r.found_keys(c.range(n, to, r.keys));
    case 'u':
      return parse(a, lo) && r.found_truth(c.has_word_any_case(lo, r.flag));
    case 'v':
      if (length == 8 && word[7] == 'e') return r.name(type_name(c.value_type()));
      if (length == 8) return true;
      if (word.back() == 'l') return parse(a, n) && r.found_key(c.value_at_node(n, r.key));
      if (word.back() == 'e') return parse(a, lo) && r.found_values(c.values_of(lo, r.values));
      return true;
  }
  return true;
}

}  // namespace

bool read_command(ab_adt& container, std::string_view word, std::string_view a, std::string_view b,
                  reply_record& reply) {
  if (!is_known_kind(container.kind_name())) return false;
  return with_typed(container, [&](auto& typed) { return read_typed(typed, word, a, b, reply); });
}

}  // namespace qn::db::nosql
