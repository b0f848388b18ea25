// The database image file: the whole registry written to a new file, and a registry rebuilt from
// one. Requires the registry lock, shared to save and exclusive to load; the b and r commands
// (engine/commands) hold it. Console lines name the path by its length and bytes.
#pragma once

#include <string_view>

#include "engine/registry.h"

namespace qn::db::nosql {

// Writes the image of every container to a new file at `path`. Never overwrites or extends an
// existing file (prints "exists file named <path>"). True when written and synced. Crash-safe: the
// image is written and synced under a temporary name and only then moved to `path`, so `path`
// never holds a partial image; on failure nothing is left behind.
[[nodiscard]] bool save_image(const container_registry& registry, std::string_view path);

// Replaces the database with the image at `path`. A missing or unreadable file, a wrong magic or
// version prints its console line and leaves the database as it was; any later failure leaves it
// empty. True when every record was restored.
[[nodiscard]] bool load_image(container_registry& registry, std::string_view path);

}  // namespace qn::db::nosql
