// g: the typed read family. Recognises the word, parses its arguments, calls one reading
// operation and answers with at most one unlabelled item.
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/commands/command_words.h"
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

// One handler for every (K, V), one case per word of the read table. An unknown word succeeds
// with no item; an argument that does not parse fails.
template <class K, class V>
bool read_typed(adt<K, V>& c, command_word word, std::string_view a, std::string_view b,
                reply_record& reply) {
  read_result<K, V> r{reply};
  K lo{}, hi{};
  uint64_t n = 0, to = 0;
  switch (word) {
    case command_word::all:
      return r.found_keys(c.all(r.keys));
    case command_word::count:
      return r.found_number(c.count_into(r.number));
    case command_word::con_type:
      return r.name(c.kind_name());
    case command_word::contain:
      return parse(a, lo) && r.found_truth(c.has_word(lo, r.flag));
    case command_word::equal:
      return parse(a, lo) && r.found_keys(c.equal(lo, r.keys));
    case command_word::first:
      return r.found_key(c.first(r.key));
    case command_word::first_n:
      return parse(a, n) && r.found_keys(c.first_n(n, r.keys));
    case command_word::gt:
      return parse(a, lo) && r.found_keys(c.greater(lo, r.keys));
    case command_word::ge:
      return parse(a, lo) && r.found_keys(c.greater_equal(lo, r.keys));
    case command_word::index:
      return parse(a, lo) && r.found_number(c.index_of(lo, r.number));
    case command_word::key_type:
      return r.name(type_name(c.key_type()));
    case command_word::lt:
      return parse(a, lo) && r.found_keys(c.less(lo, r.keys));
    case command_word::le:
      return parse(a, lo) && r.found_keys(c.less_equal(lo, r.keys));
    case command_word::last:
      return r.found_key(c.last(r.key));
    case command_word::lege:
      return parse(a, lo) && parse(b, hi) && r.found_keys(c.between_ge_le(lo, hi, r.keys));
    case command_word::legt:
      return parse(a, lo) && parse(b, hi) && r.found_keys(c.between_gt_le(lo, hi, r.keys));
    case command_word::ltge:
      return parse(a, lo) && parse(b, hi) && r.found_keys(c.between_ge_lt(lo, hi, r.keys));
    case command_word::ltgt:
      return parse(a, lo) && parse(b, hi) && r.found_keys(c.between_gt_lt(lo, hi, r.keys));
    case command_word::last_n:
      return parse(a, n) && r.found_keys(c.last_n(n, r.keys));
    case command_word::max:
      return r.found_key(c.max(r.key));
    case command_word::min:
      return r.found_key(c.min(r.key));
    case command_word::max_n:
      return parse(a, n) && r.found_keys(c.max_n(n, r.keys));
    case command_word::min_n:
      return parse(a, n) && r.found_keys(c.min_n(n, r.keys));
    case command_word::nth:
      return parse(a, n) && r.found_key(c.at(n, r.key));
    case command_word::ptr:
      return parse(a, lo) && r.found_number(c.find_node(lo, r.number));
    case command_word::ptr_n:
      return parse(a, n) && r.found_number(c.next_node(n, r.number));
    case command_word::ptr_p:
      return parse(a, n) && r.found_number(c.prev_node(n, r.number));
    case command_word::rank:
      return parse(a, lo) && r.found_number(c.rank_of(lo, r.number));
    case command_word::range:
      return parse(a, n) && parse(b, to) && r.found_keys(c.range(n, to, r.keys));
    case command_word::ucontain:
      return parse(a, lo) && r.found_truth(c.has_word_any_case(lo, r.flag));
    case command_word::val:
      return parse(a, n) && r.found_key(c.value_at_node(n, r.key));
    case command_word::value:
      return parse(a, lo) && r.found_values(c.values_of(lo, r.values));
    case command_word::val_type:
      return r.name(type_name(c.value_type()));
    default:
      return true;
  }
}

}  // namespace

bool read_command(const command_args& args) {
  if (!is_known_kind(args.container->kind_name())) return false;
  const command_word word = recognise_read_word(args.text(2));
  const std::string_view a = args.text(3), b = args.text(4);
  return with_typed(*args.container,
                    [&](auto& typed) { return read_typed(typed, word, a, b, args.reply); });
}

}  // namespace qn::db::nosql
