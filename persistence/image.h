// The backup (b) and restore (r) commands: the whole database to and from an image file.
// Backup runs under the registry lock shared, restore under it exclusive (held by the executor).
#pragma once

#include <string>
#include <string_view>

#include "engine/registry.h"
#include "engine/reply.h"

namespace qn::db::nosql {

// How writing an image file ended.
enum class image_write_result { written, exists, failed };

// Writes the image of the database to a new file at `path`, crash-safely: the image goes to a
// temporary file in the same directory, is synced, and only then takes the name `path`, which
// must still be free (a file that appeared meanwhile is never replaced); the directory is synced
// after. `exists` when `path` names anything already, `failed` on any other error (disk full
// included); in both cases the temporary file is gone and nothing was created at `path`. A crash
// at any point leaves either no file at `path` or a complete, synced image; at worst a temporary
// file whose name starts with "." and the final name remains beside it.
// Requires: the registry lock held at least shared for the whole call.
[[nodiscard]] image_write_result write_image_file(const Registry& registry,
                                                  const std::string& path);

// b <path>: writes the image; never overwrites or extends an existing file. True when written.
[[nodiscard]] bool backup_command(const Registry& registry, std::string_view line);
// r <path>: replaces the database with the image. True when every record was restored; a failure
// after the database was cleared leaves it empty.
[[nodiscard]] bool restore_command(Registry& registry, std::string_view line, reply_record& reply);

}  // namespace qn::db::nosql
