// c: the create family. Builds an empty container of one of the thirteen kinds and places it in
// the slot at the head of the free list, optionally under a unique name; a five-byte c line
// removes every container instead.
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string_view>

#include "containers/factory.h"
#include "engine/commands/families.h"
#include "engine/commands/typed_dispatch.h"

namespace qn::db::nosql {
namespace {

using nosql_db::hashmap_kind;
using nosql_db::hashtable_kind;
using nosql_db::map_kind;
using nosql_db::multimap_kind;
using nosql_db::trie_kind;

// What a create line names, once its form is known.
struct create_form {
  std::string_view kind;
  std::string_view key_word;
  // The kinds that keep no value get u08; a value word written in the line must name a type
  // (an empty quoted word names none).
  std::string_view value_word = "u08";
  std::string_view capacity;
  std::string_view name;  // empty: unnamed (also when written as "")
};

// The kinds that take one type word (the element type) and may take a name.
bool is_single_kind(std::string_view kind) {
  for (std::string_view k :
       {"vector", "list", "queue", "trie", "heap", "deque", "multiset", "set", "stack"}) {
    if (kind == k) return true;
  }
  return false;
}

bool is_pair_kind(std::string_view kind) { return kind == map_kind || kind == multimap_kind; }

// Sorts the tokens into a form by their count and the kind word; false for a form not in the
// table of forms below.
//   2  c trie
//   3  c <single kind> type
//   4  c <single kind but trie> type name | c <map|multimap> ktype vtype | c hashtable ktype cap
//   5  c hashmap ktype vtype cap | c hashtable ktype cap name | c <map|multimap> ktype vtype name
//   6  c hashmap ktype vtype cap name
bool read_form(std::span<const token> t, create_form& f) {
  if (t.size() < 2) return false;
  f.kind = t[1].text;
  const bool single = is_single_kind(f.kind), pair = is_pair_kind(f.kind);
  const bool table = f.kind == hashtable_kind, hash_map = f.kind == hashmap_kind;
  switch (t.size()) {
    case 2:
      if (f.kind != trie_kind) return false;
      f.key_word = "string";
      return true;
    case 3:
      if (!single) return false;
      f.key_word = t[2].text;
      return true;
    case 4:
      f.key_word = t[2].text;
      if (single && f.kind != trie_kind) {
        f.name = t[3].text;
      } else if (pair) {
        f.value_word = t[3].text;
      } else if (table) {
        f.capacity = t[3].text;
      } else {
        return false;
      }
      return true;
    case 5:
      f.key_word = t[2].text;
      if (hash_map) {
        f.value_word = t[3].text;
        f.capacity = t[4].text;
      } else if (table) {
        f.capacity = t[3].text;
        f.name = t[4].text;
      } else if (pair) {
        f.value_word = t[3].text;
        f.name = t[4].text;
      } else {
        return false;
      }
      return true;
    case 6:
      if (!hash_map) return false;
      f.key_word = t[2].text;
      f.value_word = t[3].text;
      f.capacity = t[4].text;
      f.name = t[5].text;
      return true;
  }
  return false;
}

}  // namespace

// Every failure comes before the registry changes: a failed create leaves the free list, the
// slots, the names and the reply as they were.
bool create_command(const command_args& args) {
  create_form form;
  if (!read_form(args.tokens, form)) return false;
  type_descriptor key{}, value{};
  if (!recognise_type_word(form.key_word, key)) return false;
  if (!recognise_type_word(form.value_word, value)) return false;
  // A capacity token that is not entirely a number gives capacity 0.
  uint64_t capacity = 0;
  if (!parse_unbounded_u64(form.capacity, capacity)) capacity = 0;
  container_registry& registry = args.registry;
  if (!registry.can_place(form.name)) return false;

  std::unique_ptr<ab_adt> made;
  try {
    made = nosql_db::make_container(form.kind, key, value, capacity);
  } catch (const std::bad_alloc&) {
    return false;  // a slot array larger than the machine can give
  }
  uint64_t slot = 0;
  if (!registry.place_new(std::move(made), form.name, slot)) return false;

  reply_record& reply = args.reply;
  reply.clear();
  reply.resize(2);
  reply[0].set_header("vkey", u64_type);
  reply[0].append(slot);
  reply[1].set_header("vkey(hex)", string_type);
  reply[1].append_text(slot_hex_text(slot));
  return true;
}

bool clear_command(const command_args& args) {
  args.registry.clear_all();
  return true;
}

}  // namespace qn::db::nosql
