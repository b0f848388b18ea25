// The backup (b) and restore (r) commands: the whole database to and from an image file.
// Backup runs under the registry lock shared, restore under it exclusive (held by the executor).
#pragma once

#include <string_view>

#include "engine/registry.h"
#include "engine/reply.h"

namespace qn::db::nosql {

// b <path>: writes the image; never overwrites or extends an existing file. True when written.
[[nodiscard]] bool backup_command(const Registry& registry, std::string_view line);
// r <path>: replaces the database with the image. True when every record was restored; a failure
// after the database was cleared leaves it empty.
[[nodiscard]] bool restore_command(Registry& registry, std::string_view line, reply_record& reply);

}  // namespace qn::db::nosql
