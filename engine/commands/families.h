// Entry points of the command families, one .cc per family, and what the executor hands them.
// Each runs under the registry lock the executor holds, in the mode of its row in the executor's
// family table (noted per family below).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/registry.h"
#include "engine/reply.h"
#include "engine/tokenizer.h"

namespace qn::db::nosql {

// One command line as a family receives it: tokenized once by the executor, the token count
// already within the family's range, and token 1 resolved for the families that address a
// container. Lives on the executor's stack for one command; handlers never see the raw line.
struct command_args {
  container_registry& registry;
  std::span<const token> tokens;  // tokens[0] is the family word; only its first byte counted
  // For a family that addresses a container, on a line that has token 1: that container (never
  // null: a token naming no occupied slot fails the command before the handler runs) and its
  // slot number. Null and 0 otherwise.
  ab_adt* container = nullptr;
  uint64_t slot = 0;
  reply_record& reply;
  // Set by the executor when a log is attached: a handler whose line would not replay to the same
  // effect writes the line to log here instead (see logged_node.h); empty: the line as received.
  std::string* logged_line = nullptr;

  // The text of token i; the empty text when the line has fewer tokens.
  std::string_view text(size_t i) const {
    return i < tokens.size() ? tokens[i].text : std::string_view();
  }
};

// True when the command was carried out; false when nothing was done.
using command_handler = bool (*)(const command_args&);

// g container word [A] [B]: typed read, at most one unlabelled item. registry lock shared.
[[nodiscard]] bool read_command(const command_args& args);
// s container word [A] [B] value: typed write, no items. registry lock shared.
[[nodiscard]] bool write_command(const command_args& args);
// k [container]: describe every container, or one. registry lock shared.
[[nodiscard]] bool describe_command(const command_args& args);
// i container [word] [A] B: typed insert, no items. registry lock shared.
[[nodiscard]] bool insert_command(const command_args& args);
// d container word [A] [B]: typed delete, no items. registry lock shared.
[[nodiscard]] bool delete_command(const command_args& args);
// e container: erase one container. registry lock exclusive.
[[nodiscard]] bool erase_command(const command_args& args);
// c kind ...: create a container (any line length but 5). registry lock exclusive.
[[nodiscard]] bool create_command(const command_args& args);
// A five-byte c line: remove every container; always true. registry lock exclusive.
[[nodiscard]] bool clear_command(const command_args& args);
// b path: write the image file of the database, no items. registry lock shared.
[[nodiscard]] bool backup_command(const command_args& args);
// r path: replace the database with an image file. registry lock exclusive.
[[nodiscard]] bool restore_command(const command_args& args);

}  // namespace qn::db::nosql
