// s: the typed write family. Overwrites or replaces stored elements through one changing
// operation; produces no reply items.
#include <cstdint>
#include <string_view>

#include "engine/commands/families.h"
#include "engine/commands/typed_dispatch.h"

namespace qn::db::nosql {
namespace {

// One handler for every (K, V); its cases follow the word table. The value token is parsed as K
// before the word is looked at (a bad value fails even an unknown word), except for the words
// beginning with v, which parse it themselves: val as K, then A as a handle; value A as K, then
// the value token as V.
template <class K, class V>
bool write_typed(adt<K, V>& c, std::string_view word, std::string_view a, std::string_view b,
                 std::string_view value_token) {
  const char first = byte_at(word, 0);
  K v{}, lo{}, hi{};
  uint64_t n = 0, to = 0;
  if (first != 'v' && !parse(value_token, v)) return false;
  const size_t length = word.size();
  switch (first) {
    case 'a':
      return c.assign_all(v);
    case 'e':
      return parse(a, lo) && c.replace_equal(lo, v);
    case 'f':
      if (length == 5) return c.assign_first(v);
      if (length == 7) return parse(a, n) && c.assign_first_n(n, v);
      return false;
    case 'g':
      if (word.back() == 't') return parse(a, lo) && c.replace_greater(lo, v);
      return parse(a, lo) && c.replace_greater_equal(lo, v);
    case 'l':
      if (length == 2 && word[1] == 't') return parse(a, lo) && c.replace_less(lo, v);
      if (length == 2) return parse(a, lo) && c.replace_less_equal(lo, v);
      if (length == 6) return parse(a, n) && c.assign_last_n(n, v);
      if (length != 4) return false;
      if (word[1] == 'a') return c.assign_last(v);
      if (word[1] == 'e' && word[3] == 't') {
        return parse(a, lo) && parse(b, hi) && c.replace_between_gt_le(lo, hi, v);
      }
      if (word[1] == 'e') return parse(a, lo) && parse(b, hi) && c.replace_between_ge_le(lo, hi, v);
      if (word[1] == 't' && word[3] == 't') {
        return parse(a, lo) && parse(b, hi) && c.replace_between_gt_lt(lo, hi, v);
      }
      if (word[1] == 't') return parse(a, lo) && parse(b, hi) && c.replace_between_ge_lt(lo, hi, v);
      return false;
    case 'm':
      if (length == 3 && word[2] == 'n') return c.replace_min(v);
      if (length == 3) return c.replace_max(v);
      if (length == 5 && word[2] == 'n') return parse(a, n) && c.replace_min_n(n, v);
      if (length == 5) return parse(a, n) && c.replace_max_n(n, v);
      return false;
    case 'n':
      return length == 3 && parse(a, n) && c.assign_at(n, v);
    case 'r':
      return parse(a, n) && parse(b, to) && c.assign_range(n, to, v);
    case 'v': {
      if (length < 4) return parse(value_token, v) && parse(a, n) && c.assign_node(n, v);
      V mapped{};
      return parse(a, lo) && parse(value_token, mapped) && c.assign_value(lo, mapped);
    }
  }
  return false;
}

}  // namespace

bool write_command(ab_adt& container, std::string_view word, std::string_view a, std::string_view b,
                   std::string_view value) {
  if (!is_known_kind(container.kind_name())) return false;
  return with_typed(container, [&](auto& typed) { return write_typed(typed, word, a, b, value); });
}

}  // namespace qn::db::nosql
