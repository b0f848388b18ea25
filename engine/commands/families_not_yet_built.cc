// Families whose handlers have not landed yet answer false, as for an unknown command.
// Each family removes its entry from here when it lands.
#include "engine/commands/families.h"

namespace qn::db::nosql {

bool read_command(ab_adt&, std::string_view, std::string_view, std::string_view, reply_record&) {
  return false;
}
bool write_command(ab_adt&, std::string_view, std::string_view, std::string_view,
                   std::string_view) {
  return false;
}
bool introspect_command(const Registry&, std::string_view, reply_record&) { return false; }
bool insert_command(const Registry&, std::string_view) { return false; }
bool delete_command(const Registry&, std::string_view) { return false; }
bool erase_command(Registry&, std::string_view, reply_record&) { return false; }
bool create_command(Registry&, std::string_view, reply_record&) { return false; }

}  // namespace qn::db::nosql
