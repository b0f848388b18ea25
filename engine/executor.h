// execute: the single entry of every command line, from sessions and from the start-up script.
// Takes the registry lock in the mode the command family needs, for the whole command.
#pragma once

#include <cstdint>

#include "engine/registry.h"
#include "engine/reply.h"

namespace qn::db::nosql {

// Chooses the family by the first byte of the line (case-sensitive), takes the registry lock
// shared (g s k i d b) or exclusive (c e r) and runs the family's handler, which fills `reply`.
// Returns the handler's result; false at once for a null or empty line and for an unknown byte.
// Safe to call from many threads at once.
[[nodiscard]] bool execute(Registry& registry, const char* line, uint64_t length,
                           reply_record& reply);

}  // namespace qn::db::nosql
