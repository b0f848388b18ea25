// b and r: the database to and from an image file, named by the second token (quoted when it
// holds spaces). The file work is persistence's; these commands only hand over the path.
#include "engine/commands/families.h"
#include "persistence/image.h"

namespace qn::db::nosql {

bool backup_command(const command_args& args) { return save_image(args.registry, args.text(1)); }

bool restore_command(const command_args& args) { return load_image(args.registry, args.text(1)); }

}  // namespace qn::db::nosql
