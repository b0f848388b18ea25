#include "config/server_config.h"

#include <cstdio>
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

}  // namespace

uint16_t read_configuration(user_table& users) {
  users.clear();
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
  return port;
}

}  // namespace qn::config
