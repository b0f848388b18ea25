#include "engine/executor.h"

#include <mutex>
#include <shared_mutex>
#include <span>
#include <string>
#include <string_view>

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
    {'k', 0, lock_mode::shared, 1, 2, true, describe_command},
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

// Whether a true result of the family changed the database (b, g, k only read it).
bool changes_data(const family_row& row) {
  return row.handler != read_command && row.handler != describe_command &&
         row.handler != backup_command;
}

// With a log attached, changes to one container made under the shared registry lock are ordered
// by the container's lock inside the handler, which is gone by the time the log is told. A stripe
// of these, held around the handler and the append, makes the log's order that of the effects.
std::mutex& order_stripe(uint64_t slot) {
  static std::mutex stripes[64];
  return stripes[slot % 64];
}

// Tells the log about a change that just took effect. Requires: the lock that ordered it held.
uint64_t append_change(const family_row& row, const command_args& args, std::string_view line) {
  if (!args.logged_line->empty()) line = *args.logged_line;
  logged_change change{.family = row.first_byte, .slot = args.slot, .line = line, .image_path = {}};
  if (row.handler == restore_command) change.image_path = args.text(1);
  return args.registry.log()->append(change);
}

// Resolves the container token where the family needs it and runs the handler. Requires: the
// registry lock held in the row's mode. `pinned` (replay only) is the slot the line's container
// token stands for, or the slot a creation must take; null for a line from a client.
//
// The handler's result is the command's outcome, returned from here alone: a true result of a
// family that changes data (s, i, d, e, r, c) is the point at which a command took effect, and
// where it is appended to the registry's log, if any; `ticket` gets the log's ticket.
bool run_family(const family_row& row, container_registry& registry, std::span<const token> tokens,
                std::string_view line, const uint64_t* pinned, reply_record& reply,
                uint64_t& ticket) {
  command_args args{.registry = registry, .tokens = tokens, .reply = reply};
  if (row.addresses_container && tokens.size() > 1) {
    if (pinned != nullptr) {
      args.slot = *pinned;
      args.container = registry.container_at(*pinned);
    } else {
      args.container = container_of(registry, tokens[1], args.slot);
    }
    if (args.container == nullptr) return false;
  }
  const bool is_logged = registry.log() != nullptr && changes_data(row);
  std::string logged_line;
  if (is_logged) args.logged_line = &logged_line;
  if (row.handler == create_command) {
    if (pinned != nullptr) registry.reserve_front(*pinned);
    // Creation takes the head of the free list, read here under the exclusive lock.
    if (is_logged && !registry.peek_free(args.slot)) return false;
  }
  std::unique_lock<std::mutex> order;
  if (is_logged && row.lock == lock_mode::shared) order = std::unique_lock(order_stripe(args.slot));
  const bool done = row.handler(args);
  // A restore that fails after reading the header has emptied the database: logged either way.
  if (is_logged && (done || row.handler == restore_command)) {
    ticket = append_change(row, args, line);
  }
  return done;
}

// Tokenizes a line and runs it under the registry lock; waits for the log after the lock is gone.
bool dispatch(container_registry& registry, const char* line, uint64_t length,
              const uint64_t* pinned, reply_record& reply) {
  if (line == nullptr || length == 0) return false;
  const std::string_view text(line, length);
  const family_row* row = find_family(text);
  if (row == nullptr) return false;
  token tokens[max_tokens];
  int count = 0;
  if (row->max_tokens != 0) {
    count = tokenize(text, tokens);
    if (count < row->min_tokens || count > row->max_tokens) return false;
  }
  const std::span<const token> given(tokens, static_cast<size_t>(count));
  uint64_t ticket = 0;
  bool done = false;
  if (row->lock == lock_mode::exclusive) {
    std::unique_lock hold(registry.lock());
    done = run_family(*row, registry, given, text, pinned, reply, ticket);
  } else {
    std::shared_lock hold(registry.lock());
    done = run_family(*row, registry, given, text, pinned, reply, ticket);
  }
  if (ticket != 0) registry.log()->wait_durable(ticket);
  return done;
}

}  // namespace

// The line is tokenized before the lock is taken: tokens depend on the line alone, and only the
// container token's resolution reads the registry.
bool execute(container_registry& registry, const char* line, uint64_t length, reply_record& reply) {
  return dispatch(registry, line, length, nullptr, reply);
}

bool execute_at_slot(container_registry& registry, uint64_t slot, std::string_view line,
                     reply_record& reply) {
  return dispatch(registry, line.data(), line.size(), &slot, reply);
}

}  // namespace qn::db::nosql
