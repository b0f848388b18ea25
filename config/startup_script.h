// Start-up script: runs init.nos from the current directory through the executor, once, when
// the listener has just created the registry and before any client connects. The executor
// takes the registry lock for each line; nothing else runs against the registry meanwhile.
#pragma once

#include "engine/registry.h"

namespace qn::config {

// Runs each non-empty line of init.nos (split at line feeds; a carriage return stays part of
// its line) through execute with one reply record for all lines. Stops at the first rejected
// line, printing it with its index among the non-empty lines counted from 0; the lines before
// it stay in effect. A missing file prints "unable to open file init.nos" and
// "load init.nos failed" and runs nothing.
void run_startup_script(qn::db::nosql::container_registry& registry);

}  // namespace qn::config
