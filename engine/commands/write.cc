// s: the typed write family. Overwrites or replaces stored elements through one changing
// operation; produces no reply items.
#include <cstdint>
#include <string_view>

#include "engine/commands/command_words.h"
#include "engine/commands/families.h"
#include "engine/commands/logged_node.h"
#include "engine/commands/typed_dispatch.h"

namespace qn::db::nosql {
namespace {

// One handler for every (K, V), one case per word of the write table. The value token is parsed
// as K before the word is acted on (a bad value fails even an unknown word), except for val and
// value, which parse it themselves: val as K, then A as a handle; value A as K, then the value
// token as V.
template <class K, class V>
bool write_typed(adt<K, V>& c, const command_args& args, command_word word, std::string_view a,
                 std::string_view b, std::string_view value_token) {
  K v{}, lo{}, hi{};
  uint64_t n = 0, to = 0;
  const bool parses_value = word == command_word::val || word == command_word::value;
  if (!parses_value && !parse(value_token, v)) return false;
  switch (word) {
    case command_word::all:
      return c.assign_all(v);
    case command_word::equal:
      return parse(a, lo) && c.replace_equal(lo, v);
    case command_word::first:
      return c.assign_first(v);
    case command_word::first_n:
      return parse(a, n) && c.assign_first_n(n, v);
    case command_word::gt:
      return parse(a, lo) && c.replace_greater(lo, v);
    case command_word::ge:
      return parse(a, lo) && c.replace_greater_equal(lo, v);
    case command_word::lt:
      return parse(a, lo) && c.replace_less(lo, v);
    case command_word::le:
      return parse(a, lo) && c.replace_less_equal(lo, v);
    case command_word::last:
      return c.assign_last(v);
    case command_word::lege:
      return parse(a, lo) && parse(b, hi) && c.replace_between_ge_le(lo, hi, v);
    case command_word::legt:
      return parse(a, lo) && parse(b, hi) && c.replace_between_gt_le(lo, hi, v);
    case command_word::ltge:
      return parse(a, lo) && parse(b, hi) && c.replace_between_ge_lt(lo, hi, v);
    case command_word::ltgt:
      return parse(a, lo) && parse(b, hi) && c.replace_between_gt_lt(lo, hi, v);
    case command_word::last_n:
      return parse(a, n) && c.assign_last_n(n, v);
    case command_word::max:
      return c.replace_max(v);
    case command_word::min:
      return c.replace_min(v);
    case command_word::max_n:
      return parse(a, n) && c.replace_max_n(n, v);
    case command_word::min_n:
      return parse(a, n) && c.replace_min_n(n, v);
    case command_word::nth:
      return parse(a, n) && c.assign_at(n, v);
    case command_word::range:
      return parse(a, n) && parse(b, to) && c.assign_range(n, to, v);
    case command_word::val:
      return parse(value_token, v) && parse(a, n) &&
             log_node_as_position(c, args, n, value_token) && c.assign_node(n, v);
    case command_word::value: {
      V mapped{};
      return parse(a, lo) && parse(value_token, mapped) && c.assign_value(lo, mapped);
    }
    default:
      return false;
  }
}

}  // namespace

// The last token is always the value; A and B come before it when the line has them.
bool write_command(const command_args& args) {
  if (!is_known_kind(args.container->kind_name())) return false;
  const size_t count = args.tokens.size();
  const command_word word = recognise_write_word(args.text(2));
  const std::string_view a = count > 4 ? args.text(3) : std::string_view();
  const std::string_view b = count > 5 ? args.text(4) : std::string_view();
  const std::string_view value = args.text(count - 1);
  return with_typed(*args.container,
                    [&](auto& typed) { return write_typed(typed, args, word, a, b, value); });
}

}  // namespace qn::db::nosql
