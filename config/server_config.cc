#include "config/server_config.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "config/file_text.h"
#include "config/toml_document.h"
#include "config/toml_reader.h"

namespace qn::config {

namespace {

constexpr const char* configuration_file = "zor_ndb.toml";

const value* lookup_in(const value* table_value, std::string_view key) {
  if (table_value == nullptr || !table_value->is_table()) return nullptr;
  return table_value->as_table().lookup(key);
}

// A document without an integer server.port is not an error: the default port is assumed and
// said once.
uint16_t port_of(const table& document) {
  const value* port = lookup_in(document.lookup("server"), "port");
  if (port == nullptr || port->type() != value_type::integer) {
    std::printf("no integer server.port in %s, using port %d\n", configuration_file, default_port);
    return default_port;
  }
  return static_cast<uint16_t>(static_cast<uint64_t>(port->as_integer()) & 0xFFFF);
}

// users.users_list may be an array of tables ([[users.users_list]]) or an array of inline
// tables; any other shape means no users, said once. An element without a string name and a
// string password is skipped, said once per element.
void read_users(const table& document, user_table& users) {
  const value* list = lookup_in(document.lookup("users"), "users_list");
  if (list == nullptr ||
      (list->type() != value_type::table_array && list->type() != value_type::array)) {
    std::printf("no users.users_list array of tables in %s, no user can log in\n",
                configuration_file);
    return;
  }
  const value_list& entries = list->as_array();
  for (size_t i = 0; i < entries.size(); ++i) {
    const value* name = lookup_in(entries[i].get(), "name");
    const value* password = lookup_in(entries[i].get(), "password");
    if (name == nullptr || password == nullptr || name->type() != value_type::string ||
        password->type() != value_type::string) {
      std::printf("users.users_list entry %zu has no string name and password, skipped\n", i);
      continue;
    }
    users.emplace(name->as_string(), password->as_string());  // the first entry of a name wins
  }
}

struct limit_key {
  const char* name;
  int64_t server_limits::*field;
  int64_t min;
  int64_t max;
};

// The smallest login payload is two empty lengths; a frame length is at most 0xFFFFFFFE.
constexpr limit_key limit_keys[] = {
    {"send_timeout_s", &server_limits::send_timeout_s, 1, 86400},
    {"login_timeout_s", &server_limits::login_timeout_s, 1, 86400},
    {"max_login_bytes", &server_limits::max_login_bytes, 8, 0xFFFFFFFE},
    {"max_frame_bytes", &server_limits::max_frame_bytes, 1, 0xFFFFFFFE},
    {"max_connections", &server_limits::max_connections, 1, 1000000},
    {"max_tracked_addresses", &server_limits::max_tracked_addresses, 1, 100000000},
    {"worker_concurrency", &server_limits::worker_concurrency, 1, 16},
    {"max_hash_slot_bytes", &server_limits::max_hash_slot_bytes, 1, int64_t{1} << 62},
};

void read_limits(const table& document, server_limits& limits) {
  const value* section = document.lookup("limits");
  if (section == nullptr) return;
  for (const limit_key& key : limit_keys) {
    const value* v = lookup_in(section, key.name);
    if (v == nullptr) continue;
    int64_t& field = limits.*key.field;
    if (v->type() != value_type::integer) {
      std::printf("limits.%s in %s is not an integer, using %lld\n", key.name, configuration_file,
                  static_cast<long long>(field));
    } else if (v->as_integer() < key.min || v->as_integer() > key.max) {
      std::printf("limits.%s in %s is outside %lld..%lld, using %lld\n", key.name,
                  configuration_file, static_cast<long long>(key.min),
                  static_cast<long long>(key.max), static_cast<long long>(field));
    } else {
      field = v->as_integer();
    }
  }
}

// Prints the one line of a [persistence] key that keeps its default.
void say_kept(const char* key, const char* wanted, const std::string& kept) {
  std::printf("persistence.%s in %s is not %s, using %s\n", key, configuration_file, wanted,
              kept.c_str());
}

void read_persistence_text(const value* section, const char* key, std::string& field) {
  const value* v = lookup_in(section, key);
  if (v == nullptr) return;
  if (v->type() != value_type::string || v->as_string().empty()) {
    say_kept(key, "a non-empty string", field.empty() ? "none" : field);
  } else {
    field = v->as_string();
  }
}

void read_persistence_integer(const value* section, const char* key, int64_t& field) {
  const value* v = lookup_in(section, key);
  if (v == nullptr) return;
  if (v->type() != value_type::integer || v->as_integer() < 0) {
    say_kept(key, "an integer of at least 0", std::to_string(field));
  } else {
    field = v->as_integer();
  }
}

void read_persistence(const table& document, persistence_settings& settings) {
  const value* section = document.lookup("persistence");
  if (section == nullptr || !section->is_table()) return;
  read_persistence_text(section, "directory", settings.directory);
  const value* append_log = lookup_in(section, "append_log");
  if (append_log != nullptr) {
    if (append_log->type() != value_type::boolean) {
      say_kept("append_log", "a boolean", settings.append_log ? "true" : "false");
    } else {
      settings.append_log = append_log->as_boolean();
    }
  }
  std::string fsync = settings.fsync;
  read_persistence_text(section, "fsync", fsync);
  if (fsync == "always" || fsync == "everysec" || fsync == "no") {
    settings.fsync = fsync;
  } else {
    say_kept("fsync", "\"always\", \"everysec\" or \"no\"", settings.fsync);
  }
  read_persistence_integer(section, "snapshot_every_s", settings.snapshot_every_s);
  read_persistence_integer(section, "snapshot_log_bytes", settings.snapshot_log_bytes);
}

}  // namespace

uint16_t read_configuration(user_table& users, server_limits& limits) {
  persistence_settings ignored;
  return read_configuration(users, limits, ignored);
}

uint16_t read_configuration(user_table& users, server_limits& limits,
                            persistence_settings& persistence) {
  users.clear();
  limits = server_limits{};
  persistence = persistence_settings{};
  std::string text;
  bool too_large = false;
  (void)read_file_text(configuration_file, max_configuration_size, text, too_large);
  if (too_large) {
    std::printf("%s is larger than %zu bytes, not read\n", configuration_file,
                max_configuration_size);
  }
  const std::unique_ptr<toml_reader> reader = toml_reader::create();
  if (reader == nullptr) return default_port;
  const parse_ptr tree = reader->parse(text);
  if (tree == nullptr) {
    std::printf("error at position: %d\n", static_cast<int>(toml_reader::failure_offset(text)));
    return default_port;
  }
  const std::unique_ptr<table> document = reader->build_document(*tree);
  if (document == nullptr) return default_port;
  const uint16_t port = port_of(*document);
  read_users(*document, users);
  read_limits(*document, limits);
  read_persistence(*document, persistence);
  return port;
}

}  // namespace qn::config
