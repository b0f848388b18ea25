// d: the typed delete family. Removes elements through one removing operation; no reply items.
#include <cstdint>
#include <string_view>

#include "engine/commands/command_words.h"
#include "engine/commands/families.h"
#include "engine/commands/logged_node.h"
#include "engine/commands/typed_dispatch.h"

namespace qn::db::nosql {
namespace {

// One handler per key type K, since no delete command takes a value; one case per word of the
// delete table. Each operation is called through `on`, which reaches the container as its own
// adt<K, V>.
template <class K>
bool delete_typed(ab_adt& c, const command_args& args, command_word word, std::string_view a,
                  std::string_view b) {
  const auto on = [&c](auto&& op) { return with_value_type<K>(c, op); };
  K lo{}, hi{};
  uint64_t n = 0, to = 0;
  switch (word) {
    case command_word::all:
      return on([](auto& t) { return t.clear(); });
    case command_word::equal:
      return parse(a, lo) && on([&](auto& t) { return t.erase_equal(lo); });
    case command_word::first:
      return on([](auto& t) { return t.erase_first(); });
    case command_word::first_n:
      return parse(a, n) && on([&](auto& t) { return t.erase_first_n(n); });
    case command_word::gt:
      return parse(a, lo) && on([&](auto& t) { return t.erase_greater(lo); });
    case command_word::ge:
      return parse(a, lo) && on([&](auto& t) { return t.erase_greater_equal(lo); });
    case command_word::lt:
      return parse(a, lo) && on([&](auto& t) { return t.erase_less(lo); });
    case command_word::le:
      return parse(a, lo) && on([&](auto& t) { return t.erase_less_equal(lo); });
    case command_word::last:
      return on([](auto& t) { return t.erase_last(); });
    case command_word::lege:
      return parse(a, lo) && parse(b, hi) &&
             on([&](auto& t) { return t.erase_between_ge_le(lo, hi); });
    case command_word::legt:
      return parse(a, lo) && parse(b, hi) &&
             on([&](auto& t) { return t.erase_between_gt_le(lo, hi); });
    case command_word::ltge:
      return parse(a, lo) && parse(b, hi) &&
             on([&](auto& t) { return t.erase_between_ge_lt(lo, hi); });
    case command_word::ltgt:
      return parse(a, lo) && parse(b, hi) &&
             on([&](auto& t) { return t.erase_between_gt_lt(lo, hi); });
    case command_word::last_n:
      return parse(a, n) && on([&](auto& t) { return t.erase_last_n(n); });
    case command_word::max:
      return on([](auto& t) { return t.erase_max(); });
    case command_word::min:
      return on([](auto& t) { return t.erase_min(); });
    case command_word::max_n:
      return parse(a, n) && on([&](auto& t) { return t.erase_max_n(n); });
    case command_word::min_n:
      return parse(a, n) && on([&](auto& t) { return t.erase_min_n(n); });
    case command_word::nth:
      return parse(a, n) && on([&](auto& t) { return t.erase_at(n); });
    case command_word::ptr:
      return parse(a, n) && on([&](auto& t) {
               return log_node_as_position(t, args, n, std::nullopt) && t.erase_node(n);
             });
    case command_word::range:
      return parse(a, n) && parse(b, to) && on([&](auto& t) { return t.erase_range(n, to); });
    default:
      return false;
  }
}

}  // namespace

bool delete_command(const command_args& args) {
  ab_adt& c = *args.container;
  if (!is_known_kind(c.kind_name())) return false;
  const command_word word = recognise_delete_word(args.text(2));
  const std::string_view a = args.text(3), b = args.text(4);
  return with_scalar_type(c.key_type(),
                          [&]<class K>() { return delete_typed<K>(c, args, word, a, b); });
}

}  // namespace qn::db::nosql
