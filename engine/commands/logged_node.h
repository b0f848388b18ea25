// How a command that names a list node by its handle is written to the command log: as the same
// command at the node's 1-based position. Pure functions over a container the caller holds.
//
// Handles are not reproduced by a replay (a list loaded from a snapshot, or built by another
// process, hands out other numbers), positions are. The position is taken before the command
// takes effect, while the executor's ordering lock keeps every other change off the container.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "containers/adt.h"
#include "engine/commands/families.h"

namespace qn::db::nosql {

// Appends `text` as one double-quoted token that the tokenizer decodes back to the same bytes.
void append_quoted(std::string_view text, std::string& out);

// The 1-based position of a list node, walking from it towards both ends at once. False when the
// handle names no node of the list. Requires: handle not 0.
template <class K, class V>
[[nodiscard]] bool node_position(nosql_db::adt<K, V>& c, nosql_db::node_handle handle,
                                 uint64_t& position) {
  nosql_db::node_handle back = handle, ahead = handle;
  for (uint64_t steps = 0;; ++steps) {
    if (!c.prev_node(back, back)) return false;
    if (back == 0) {
      position = steps + 1;
      return true;
    }
    if (!c.next_node(ahead, ahead)) return false;
    if (ahead == 0) {
      position = c.count() - steps;
      return true;
    }
  }
}

// With a log attached (args.logged_line set), writes the line to log instead of the received one:
// "<family> <slot> nth <position>", then `value` as a quoted token when given; for the insert
// before handle 0 (at the back), "i <slot> last <value>". False when a handle other than 0 names
// no node: the command fails without an effect and nothing is logged. True, changing nothing,
// without a log.
template <class K, class V>
[[nodiscard]] bool log_node_as_position(nosql_db::adt<K, V>& c, const command_args& args,
                                        nosql_db::node_handle handle,
                                        std::optional<std::string_view> value) {
  if (args.logged_line == nullptr) return true;
  std::string& line = *args.logged_line;
  line.assign(args.text(0).substr(0, 1));
  line += ' ';
  line += std::to_string(args.slot);
  uint64_t position = 0;
  if (handle == 0 && line[0] == 'i') {
    line += " last";
  } else if (handle != 0 && node_position(c, handle, position)) {
    line += " nth " + std::to_string(position);
  } else {
    line.clear();
    return false;
  }
  if (value) {
    line += ' ';
    append_quoted(*value, line);
  }
  return true;
}

}  // namespace qn::db::nosql
