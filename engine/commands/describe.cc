// k and e: the commands that deal with containers as wholes. k describes one container or every
// container as seven labelled items; e destroys one container and frees its slot.
#include <cstdint>
#include <string_view>

#include "engine/commands/families.h"
#include "engine/commands/typed_dispatch.h"

namespace qn::db::nosql {
namespace {

// The seven items of the describe reply, one value per listed container.
void start_table(reply_record& reply) {
  reply.clear();
  reply.resize(7);
  reply[0].set_header("skey", string_type);
  reply[1].set_header("vkey", u64_type);
  reply[2].set_header("vkey(hex)", string_type);
  reply[3].set_header("count", u64_type);
  reply[4].set_header("ctype", string_type);
  reply[5].set_header("ktype", string_type);
  reply[6].set_header("vtype", string_type);
}

// Appends one row. The count goes through the container's own `count`, under its lock.
void append_row(const container_registry& registry, uint64_t slot, ab_adt& c, reply_record& reply) {
  reply[0].append_text(registry.find_by_id(slot));
  reply[1].append(slot);
  reply[2].append_text(slot_hex_text(slot));
  reply[3].append(c.count());
  reply[4].append_text(c.kind_name());
  reply[5].append_text(type_name(c.key_type()));
  reply[6].append_text(type_name(c.value_type()));
}

// Every container in ascending slot order. The walk stops once the rows listed and the free
// slots together account for the whole table, so it never visits the slots past the last
// occupied one. An empty registry answers no items at all.
void list_all(const container_registry& registry, reply_record& reply) {
  if (registry.occupied_count() == 0) return;
  start_table(reply);
  uint64_t rows = 0;
  for (uint64_t slot = 0; rows + registry.free_count() < container_registry::capacity; ++slot) {
    if (ab_adt* c = registry.container_at(slot)) {
      append_row(registry, slot, *c, reply);
      ++rows;
    }
  }
}

}  // namespace

// k: one token lists every container; two describe the one the token names.
bool describe_command(const command_args& args) {
  if (args.container == nullptr) {
    list_all(args.registry, args.reply);
    return true;
  }
  start_table(args.reply);
  append_row(args.registry, args.slot, *args.container, args.reply);
  return true;
}

// e <container>: the slot number goes back to the head of the free list.
bool erase_command(const command_args& args) {
  const uint64_t slot = args.slot;
  if (!args.registry.release(slot)) return false;
  reply_record& reply = args.reply;
  reply.clear();
  reply.resize(1);
  reply[0].set_header("erase vkey", u64_type);
  reply[0].append(slot);
  return true;
}

}  // namespace qn::db::nosql
