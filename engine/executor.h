// execute: the single entry of every command line, from sessions and from the start-up script.
// Takes the registry lock in the mode the command family needs, for the whole command.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/registry.h"
#include "engine/reply.h"

namespace qn::db::nosql {

// Chooses the family by the first byte of the line (case-sensitive), takes the registry lock
// shared (g s k i d b) or exclusive (c e r) and runs the family's handler, which fills `reply`.
// Returns the handler's result; false at once for a null or empty line and for an unknown byte.
// Safe to call from many threads at once.
[[nodiscard]] bool execute(container_registry& registry, const char* line, uint64_t length,
                           reply_record& reply);

// When the registry has a log, a command that changed the database is appended to it before its
// locks are released, naming its container by slot, and execute returns only once the log says
// the change is durable enough to be answered.

// Replays a logged line: as execute, but the container token of s i d e stands for `slot`, and a
// creation takes `slot`. Used to rebuild a registry from its log before it serves anyone.
[[nodiscard]] bool execute_at_slot(container_registry& registry, uint64_t slot, std::string_view line,
                                   reply_record& reply);

}  // namespace qn::db::nosql
