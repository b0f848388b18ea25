#include "config/startup_script.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>

#include "config/file_text.h"
#include "config/line_split.h"
#include "engine/executor.h"
#include "engine/reply.h"

namespace qn::config {

namespace {
constexpr std::string_view script_file = "init.nos";
}  // namespace

void run_startup_script(qn::db::nosql::container_registry& registry) {
  std::string text;
  bool too_large = false;
  if (!read_file_text(script_file.data(), std::numeric_limits<size_t>::max(), text, too_large)) {
    std::printf("unable to open file %.*s\n", static_cast<int>(script_file.size()),
                script_file.data());
    std::printf("load init.nos failed\n");
    return;
  }
  qn::db::nosql::reply_record reply;
  const std::vector<std::string_view> lines = split_lines(text, "\n", true);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    reply.clear();  // the script's replies are discarded; only the effects count
    if (!qn::db::nosql::execute(registry, line.data(), line.size(), reply)) {
      std::printf("exec failed with:\"%.*s\" at line %d\n", static_cast<int>(line.size()),
                  line.data(), static_cast<int>(i));
      return;
    }
  }
}

}  // namespace qn::config
