// d: the typed delete family. Removes elements through one removing operation; no reply items.
#include <cstdint>
#include <string_view>

#include "engine/commands/families.h"
#include "engine/commands/typed_dispatch.h"
#include "engine/tokenizer.h"

namespace qn::db::nosql {
namespace {

// One handler per key type K, since no delete command takes a value; its cases follow the word
// table. Each operation is called through `on`, which reaches the container as its own
// adt<K, V>.
template <class K>
bool delete_typed(ab_adt& c, std::string_view word, std::string_view a, std::string_view b) {
  const auto on = [&c](auto&& op) { return with_value_type<K>(c, op); };
  K lo{}, hi{};
  uint64_t n = 0, to = 0;
  const size_t length = word.size();
  switch (byte_at(word, 0)) {
    case 'a':
      return on([](auto& t) { return t.clear(); });
    case 'e':
      return parse(a, lo) && on([&](auto& t) { return t.erase_equal(lo); });
    case 'f':
      if (length == 5) return on([](auto& t) { return t.erase_first(); });
      if (length == 7) return parse(a, n) && on([&](auto& t) { return t.erase_first_n(n); });
      return false;
    case 'g':
      if (word.back() == 't') {
        return parse(a, lo) && on([&](auto& t) { return t.erase_greater(lo); });
      }
      return parse(a, lo) && on([&](auto& t) { return t.erase_greater_equal(lo); });
    case 'l':
      if (length == 2 && word[1] == 't') {
        return parse(a, lo) && on([&](auto& t) { return t.erase_less(lo); });
      }
      if (length == 2) return parse(a, lo) && on([&](auto& t) { return t.erase_less_equal(lo); });
      if (length == 6) return parse(a, n) && on([&](auto& t) { return t.erase_last_n(n); });
      if (length != 4) return false;
      if (word[1] == 'a') return on([](auto& t) { return t.erase_last(); });
      if (word[1] == 'e' && word[3] == 't') {
        return parse(a, lo) && parse(b, hi) &&
               on([&](auto& t) { return t.erase_between_gt_le(lo, hi); });
      }
      if (word[1] == 'e') {
        return parse(a, lo) && parse(b, hi) &&
               on([&](auto& t) { return t.erase_between_ge_le(lo, hi); });
      }
      if (word[1] == 't' && word[3] == 't') {
        return parse(a, lo) && parse(b, hi) &&
               on([&](auto& t) { return t.erase_between_gt_lt(lo, hi); });
      }
      if (word[1] == 't') {
        return parse(a, lo) && parse(b, hi) &&
               on([&](auto& t) { return t.erase_between_ge_lt(lo, hi); });
      }
      return false;
    case 'm':
      if (length == 3 && word[2] == 'n') return on([](auto& t) { return t.erase_min(); });
      if (length == 3) return on([](auto& t) { return t.erase_max(); });
      if (length == 5 && word[2] == 'n') {
        return parse(a, n) && on([&](auto& t) { return t.erase_min_n(n); });
      }
      if (length == 5) return parse(a, n) && on([&](auto& t) { return t.erase_max_n(n); });
      return false;
    case 'n':
      return length == 3 && parse(a, n) && on([&](auto& t) { return t.erase_at(n); });
    case 'p':
      return parse(a, n) && on([&](auto& t) { return t.erase_node(n); });
    case 'r':
      return parse(a, n) && parse(b, to) && on([&](auto& t) { return t.erase_range(n, to); });
  }
  return false;
}

}  // namespace

bool delete_command(const Registry& registry, std::string_view line) {
  Token t[max_tokens];
  const int count = tokenize(line, t);
  if (count < 3 || count > 5) return false;
  ab_adt* c = container_of(registry, t[1]);
  if (c == nullptr || !is_known_kind(c->kind_name())) return false;
  const std::string_view a = count > 3 ? t[3].text : std::string_view();
  const std::string_view b = count > 4 ? t[4].text : std::string_view();
  return with_scalar_type(c->key_type(),
                          [&]<class K>() { return delete_typed<K>(*c, t[2].text, a, b); });
}

}  // namespace qn::db::nosql
