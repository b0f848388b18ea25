// i: the typed insert family. Picks the word and the two arguments from the token count, then
// adds through one inserting operation; produces no reply items.
#include <cstdint>
#include <span>
#include <string_view>

#include "engine/commands/command_words.h"
#include "engine/commands/families.h"
#include "engine/commands/logged_node.h"
#include "engine/commands/typed_dispatch.h"

namespace qn::db::nosql {
namespace {

// The shape of an insert line once the tokens are sorted out.
struct insert_args {
  std::string_view word;  // empty: insert a key
  std::string_view a;
  std::string_view b;
};

// 3 tokens: B alone. 4 tokens: an unquoted X beginning with f or l is the word, otherwise X is A.
// 5 tokens: word, A, B. Any other count fails.
bool sort_tokens(std::span<const token> t, insert_args& out) {
  switch (t.size()) {
    case 3:
      out.b = t[2].text;
      return true;
    case 4:
      if (!t[2].quoted && (t[2].text[0] == 'f' || t[2].text[0] == 'l')) {
        out.word = t[2].text;
      } else {
        out.a = t[2].text;
      }
      out.b = t[3].text;
      return true;
    case 5:
      out.word = t[2].text;
      out.a = t[3].text;
      out.b = t[4].text;
      return true;
  }
  return false;
}

// One handler for every (K, V). Without a word it inserts a key: (A as K, B as V), or, when A is
// empty, (B as K, the zero value of V). An empty A is empty however it was written, so
// `i 0 "" 5` inserts the key 5 like `i 0 5`. B is parsed before A.
template <class K, class V>
bool insert_typed(adt<K, V>& c, const command_args& command, command_word word,
                  const insert_args& args) {
  K key{};
  uint64_t n = 0;
  switch (word) {
    case command_word::key: {
      if (args.a.empty()) return parse(args.b, key) && c.insert(key, zero_value<V>());
      V value{};
      return parse(args.b, value) && parse(args.a, key) && c.insert(key, value);
    }
    case command_word::nth:
      return parse(args.b, key) && parse(args.a, n) && c.insert_at(n, key);
    case command_word::first:
      return parse(args.b, key) && c.insert_first(key);
    case command_word::last:
      return parse(args.b, key) && c.insert_last(key);
    case command_word::val:
      return parse(args.b, key) && parse(args.a, n) &&
             log_node_as_position(c, command, n, args.b) && c.insert_at_node(n, key);
    default:
      return false;
  }
}

}  // namespace

bool insert_command(const command_args& args) {
  insert_args sorted;
  if (!sort_tokens(args.tokens, sorted) || !is_known_kind(args.container->kind_name())) {
    return false;
  }
  const command_word word = recognise_insert_word(sorted.word);
  return with_typed(*args.container,
                    [&](auto& typed) { return insert_typed(typed, args, word, sorted); });
}

}  // namespace qn::db::nosql
