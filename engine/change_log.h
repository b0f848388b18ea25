// The seam through which the executor reports each change to the database as it takes effect;
// the durability layer above the engine implements it. No state here.
// append() runs while the command still holds the lock that ordered its effect; wait_durable()
// runs after every lock is released and before the reply leaves.
#pragma once

#include <cstdint>
#include <string_view>

namespace qn::db::nosql {

// One command that changed the database, as the executor saw it take effect.
struct logged_change {
  // The line's first byte: s i d e r c; a five-byte c line is the clear command.
  char family = 0;
  // The container the command changed (s i d e) or created (c); 0 for clear and restore.
  uint64_t slot = 0;
  std::string_view line;        // the command line as received
  std::string_view image_path;  // r only: the image file the command read
};

class change_log {
 public:
  virtual ~change_log() = default;
  // Records one change. Called under the lock that ordered it; must not take the registry lock.
  // Returns a ticket for wait_durable (0: nothing to wait for).
  virtual uint64_t append(const logged_change& change) = 0;
  // Returns once the change with this ticket is as durable as the log promises its replies.
  virtual void wait_durable(uint64_t ticket) = 0;
};

}  // namespace qn::db::nosql
