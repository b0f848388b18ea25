// Entry points of the command families that execute dispatches to, one .cc per family.
// Each runs under the registry lock the executor holds (mode noted per family).
#pragma once

#include <string_view>

#include "engine/registry.h"
#include "engine/reply.h"

namespace qn::db::nosql {

// g: typed read. The executor has resolved the container; word, a and b are tokens 2..4 (empty
// when absent). Registry lock shared.
[[nodiscard]] bool read_command(ab_adt& container, std::string_view word, std::string_view a,
                                std::string_view b, reply_record& reply);
// s: typed write; `value` is the last token. Registry lock shared. Produces no reply items.
[[nodiscard]] bool write_command(ab_adt& container, std::string_view word, std::string_view a,
                                 std::string_view b, std::string_view value);
// k: describe one container or all. Registry lock shared.
[[nodiscard]] bool introspect_command(const Registry& registry, std::string_view line,
                                      reply_record& reply);
// i: typed insert. Registry lock shared. No reply items.
[[nodiscard]] bool insert_command(const Registry& registry, std::string_view line);
// d: typed delete. Registry lock shared. No reply items.
[[nodiscard]] bool delete_command(const Registry& registry, std::string_view line);
// e: erase one container. Registry lock exclusive.
[[nodiscard]] bool erase_command(Registry& registry, std::string_view line, reply_record& reply);
// c (any length but 5): create a container. Registry lock exclusive.
[[nodiscard]] bool create_container(Registry& registry, std::string_view line, reply_record& reply);

}  // namespace qn::db::nosql
