// Command line of the load tool and its ready-made workloads: what to send, over how many
// connections, for how long. Pure parsing; no I/O.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qn::tools {

// The placeholder a command template carries where a random key goes.
inline constexpr std::string_view key_placeholder = "__rand_int__";
// Where the slot number of the workload's own container goes in its templates (ready-made
// workloads only: a --command template that holds it is refused, as no container is made for it).
inline constexpr std::string_view slot_placeholder = "__slot__";

// What the tool speaks: the frames of zor_nosql_server (with a login), or RESP (redis-server; no
// login, a PING first).
enum class wire_protocol { zor, resp };

struct workload {
  std::string name;
  // Creates the container the commands use (a `c` line); empty for user templates and RESP.
  std::string create;
  // Run once per key 0..keyspace-1 before measuring, e.g. to make every key present; empty: none.
  std::string prefill;
  // One or more command templates, sent in turn.
  std::vector<std::string> commands;
  // True when some failed replies are part of the workload: inserts of random keys meet keys
  // that are already there. Failed replies of any other workload are reported as unexpected.
  bool may_fail = false;
  // RESP: the reply kinds (resp_kind bits) that count as success; any other reply is a failure.
  unsigned resp_accepts = 0;
  // Run after measuring to remove what the workload made: once, or once per key 0..keyspace-1
  // when it holds the key placeholder; empty: nothing to remove.
  std::string erase;
};

struct load_options {
  std::string host = "127.0.0.1";
  uint16_t port = 55554;
  std::string user = "admin";
  std::string password;  // from ZOR_PASSWORD, never from an argument
  int connections = 50;
  uint64_t requests = 100000;  // per workload; ignored when duration_seconds > 0
  double duration_seconds = 0;
  double warmup_seconds = 1;
  uint64_t keyspace = 100000;
  bool json = false;
  wire_protocol protocol = wire_protocol::zor;
  std::vector<workload> workloads;
};

// The ready-made workloads by name: hashmap_set, hashmap_get, set_insert, set_rank, list_push,
// list_pop, map_insert, map_get; in RESP all but the last two (redis-server has no ordered map).
// Returns false for an unknown name, or one that has no form in `protocol`.
[[nodiscard]] bool find_workload(std::string_view name, workload& out,
                                 wire_protocol protocol = wire_protocol::zor);
std::vector<std::string_view> workload_names();

// Parses the arguments (without the program name). On failure returns false and sets `error` to a
// one-line message. With no -t and no --command, runs hashmap_set and hashmap_get.
[[nodiscard]] bool parse_load_options(const std::vector<std::string_view>& args, load_options& out,
                                      std::string& error);

// The usage text.
std::string load_usage();

// Replaces every placeholder: the slot number for __slot__, `key` for __rand_int__. The second
// form writes into `out`, reusing its buffer.
std::string expand_template(std::string_view text, uint64_t slot, uint64_t key);
void expand_template(std::string_view text, uint64_t slot, uint64_t key, std::string& out);

}  // namespace qn::tools
