#include "engine/executor.h"

#include <mutex>
#include <shared_mutex>
#include <span>

#include "engine/commands/families.h"
#include "engine/tokenizer.h"

namespace qn::db::nosql {
namespace {

enum class lock_mode : uint8_t { shared, exclusive };

// One row per family. The first matching row (by first byte, and by the exact line length where
// the row names one) is the family; a line no row matches fails.
struct family_row {
  char first_byte;
  uint64_t line_length;  // 0: any length
  lock_mode lock;
  // The token counts the family accepts; 0, 0: the line is not tokenized at all.
  int min_tokens, max_tokens;
  // Token 1, when the line has it, names a container that must be in an occupied slot.
  bool addresses_container;
  command_handler handler;
};

constexpr family_row family_table[] = {
    {'g', 0, lock_mode::shared, 3, 5, true, read_command},
    {'s', 0, lock_mode::shared, 4, 6, true, write_command},
    {'k', 0, lock_mode::shared, 1, 2, true, introspect_command},
    {'i', 0, lock_mode::shared, 3, 5, true, insert_command},
    {'d', 0, lock_mode::shared, 3, 5, true, delete_command},
    {'b', 0, lock_mode::shared, 2, 2, false, backup_command},
    {'e', 0, lock_mode::exclusive, 2, 2, true, erase_command},
    {'r', 0, lock_mode::exclusive, 2, 2, false, restore_command},
    // Five bytes, whatever they are, and even when they do not tokenize: remove everything.
    {'c', 5, lock_mode::exclusive, 0, 0, false, clear_command},
    {'c', 0, lock_mode::exclusive, 2, 6, false, create_command},
};

const family_row* find_family(std::string_view line) {
  for (const family_row& row : family_table) {
    if (row.first_byte == line[0] && (row.line_length == 0 || row.line_length == line.size())) {
      return &row;
    }
  }
  return nullptr;
}

// Resolves the container token where the family needs it and runs the handler. Requires: the
// registry lock held in the row's mode.
//
// The handler's result is the command's outcome, returned from here alone: a true result of a
// family that changes data (s, i, d, e, r, c) is the point at which a command took effect.
bool run_family(const family_row& row, Registry& registry, std::span<const Token> tokens,
                reply_record& reply) {
  command_args args{.registry = registry, .tokens = tokens, .reply = reply};
  if (row.addresses_container && tokens.size() > 1) {
    args.container = container_of(registry, tokens[1], args.slot);
    if (args.container == nullptr) return false;
  }
  return row.handler(args);
}

}  // namespace

// The line is tokenized before the lock is taken: tokens depend on the line alone, and only the
// container token's resolution reads the registry.
bool execute(Registry& registry, const char* line, uint64_t length, reply_record& reply) {
  if (line == nullptr || length == 0) return false;
  const std::string_view text(line, length);
  const family_row* row = find_family(text);
  if (row == nullptr) return false;
  Token tokens[max_tokens];
  int count = 0;
  if (row->max_tokens != 0) {
    count = tokenize(text, tokens);
    if (count < row->min_tokens || count > row->max_tokens) return false;
  }
  const std::span<const Token> given(tokens, static_cast<size_t>(count));
  if (row->lock == lock_mode::exclusive) {
    std::unique_lock hold(registry.lock());
    return run_family(*row, registry, given, reply);
  }
  std::shared_lock hold(registry.lock());
  return run_family(*row, registry, given, reply);
}

}  // namespace qn::db::nosql
