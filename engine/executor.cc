#include "engine/executor.h"

#include <mutex>
#include <shared_mutex>

#include "engine/commands/families.h"
#include "engine/tokenizer.h"
#include "persistence/image.h"

namespace qn::db::nosql {
namespace {

// g container word [A] [B]: 3 to 5 tokens.
bool run_read(Registry& registry, std::string_view line, reply_record& reply) {
  Token t[max_tokens];
  const int n = tokenize(line, t);
  if (n < 3 || n > 5) return false;
  ab_adt* c = container_of(registry, t[1]);
  if (c == nullptr) return false;
  return read_command(*c, t[2].text, n > 3 ? t[3].text : std::string_view(),
                      n > 4 ? t[4].text : std::string_view(), reply);
}

// s container word [A] [B] value: 4 to 6 tokens; the last token is always the value.
bool run_write(Registry& registry, std::string_view line) {
  Token t[max_tokens];
  const int n = tokenize(line, t);
  if (n < 4 || n > 6) return false;
  ab_adt* c = container_of(registry, t[1]);
  if (c == nullptr) return false;
  return write_command(*c, t[2].text, n > 4 ? t[3].text : std::string_view(),
                       n > 5 ? t[4].text : std::string_view(), t[n - 1].text);
}

}  // namespace

bool execute(Registry& registry, const char* line, uint64_t length, reply_record& reply) {
  if (line == nullptr || length == 0) return false;
  const std::string_view text(line, length);
  switch (text[0]) {
    case 'g': {
      std::shared_lock lock(registry.lock());
      return run_read(registry, text, reply);
    }
    case 's': {
      std::shared_lock lock(registry.lock());
      return run_write(registry, text);
    }
    case 'k': {
      std::shared_lock lock(registry.lock());
      return introspect_command(registry, text, reply);
    }
    case 'i': {
      std::shared_lock lock(registry.lock());
      return insert_command(registry, text);
    }
    case 'd': {
      std::shared_lock lock(registry.lock());
      return delete_command(registry, text);
    }
    case 'b': {
      std::shared_lock lock(registry.lock());
      return backup_command(registry, text);
    }
    case 'e': {
      std::unique_lock lock(registry.lock());
      return erase_command(registry, text, reply);
    }
    case 'r': {
      std::unique_lock lock(registry.lock());
      return restore_command(registry, text, reply);
    }
    case 'c': {
      std::unique_lock lock(registry.lock());
      if (length == 5) {
        registry.clear_all();
        return true;
      }
      return create_container(registry, text, reply);
    }
  }
  return false;
}

}  // namespace qn::db::nosql
