#include "tools/load_options.h"

#include <charconv>

#include "tools/resp.h"

namespace qn::tools {
namespace {

struct ready_made {
  std::string_view name, create, prefill;
  std::string_view command;
  std::string_view second_command = {};  // sent in turn with the first when present
  bool may_fail = false;                 // see workload::may_fail
};

// Keys are u64 so that any random key is storable; the hash map gets one slot per key.
constexpr ready_made ready_made_workloads[] = {
    {"hashmap_set", "c hashmap u64 u64 __keyspace__", "i __slot__ __rand_int__ 0",
     "s __slot__ value __rand_int__ __rand_int__"},
    {"hashmap_get", "c hashmap u64 u64 __keyspace__", "i __slot__ __rand_int__ 0",
     "g __slot__ value __rand_int__"},
    {"set_insert", "c set u64", "", "i __slot__ __rand_int__", {}, true},
    {"set_rank", "c set u64", "i __slot__ __rand_int__", "g __slot__ rank __rand_int__"},
    {"list_push", "c list u64", "", "i __slot__ last __rand_int__"},
    // Every connection alternates a push at the back with a pop at the front, so the list keeps
    // about its prefilled length and a pop never meets an empty list. A pop takes the list's
    // oldest element, which is in general another connection's push.
    {"list_pop", "c list u64", "i __slot__ last __rand_int__", "i __slot__ last __rand_int__",
     "d __slot__ first"},
    {"map_insert", "c map u64 u64", "", "i __slot__ __rand_int__ __rand_int__", {}, true},
    {"map_get", "c map u64 u64", "i __slot__ __rand_int__ 0", "g __slot__ value __rand_int__"},
};

// The same workloads for redis-server, on the nearest structure it has: its key space (a hash
// table) for the hash map, a set, a list, a sorted set whose scores are the members. Each command
// is checked against the one reply kind it answers with. "Insert last" is RPUSH, which appends
// at the same end as ours (LPUSH would prepend; both cost the same in redis-server). A set insert
// of a present key answers 0 there rather than failing, so none of these expects failures.
struct resp_ready_made {
  std::string_view name, prefill, command, second_command;
  unsigned accepts;
  std::string_view erase;  // with a key placeholder: sent once per key
};

constexpr resp_ready_made resp_workloads[] = {
    {"hashmap_set",
     "SET zb:__rand_int__ 0",
     "SET zb:__rand_int__ __rand_int__",
     {},
     resp_simple,
     "DEL zb:__rand_int__"},
    {"hashmap_get",
     "SET zb:__rand_int__ 0",
     "GET zb:__rand_int__",
     {},
     resp_bulk,
     "DEL zb:__rand_int__"},
    {"set_insert", "", "SADD zb:set __rand_int__", {}, resp_integer, "DEL zb:set"},
    {"set_rank",
     "ZADD zb:zset __rand_int__ __rand_int__",
     "ZRANK zb:zset __rand_int__",
     {},
     resp_integer,
     "DEL zb:zset"},
    {"list_push", "", "RPUSH zb:list __rand_int__", {}, resp_integer, "DEL zb:list"},
    {"list_pop", "RPUSH zb:list __rand_int__", "RPUSH zb:list __rand_int__", "LPOP zb:list",
     resp_integer | resp_bulk, "DEL zb:list"},
};

template <class T>
bool parse_number(std::string_view text, T& out) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

void replace_all(std::string& s, std::string_view what, std::string_view with) {
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + with.size())) {
    s.replace(at, what.size(), with);
  }
}

}  // namespace

bool find_workload(std::string_view name, workload& out, wire_protocol protocol) {
  if (protocol == wire_protocol::resp) {
    for (const resp_ready_made& w : resp_workloads) {
      if (w.name != name) continue;
      out = workload{std::string(w.name),      "",    std::string(w.prefill),
                     {std::string(w.command)}, false, w.accepts,
                     std::string(w.erase)};
      if (!w.second_command.empty()) out.commands.emplace_back(w.second_command);
      return true;
    }
    return false;
  }
  for (const ready_made& w : ready_made_workloads) {
    if (w.name != name) continue;
    out = workload{std::string(w.name),
                   std::string(w.create),
                   std::string(w.prefill),
                   {std::string(w.command)},
                   w.may_fail,
                   0,
                   "e __slot__"};
    if (!w.second_command.empty()) out.commands.emplace_back(w.second_command);
    return true;
  }
  return false;
}

std::vector<std::string_view> workload_names() {
  std::vector<std::string_view> names;
  for (const ready_made& w : ready_made_workloads) names.push_back(w.name);
  return names;
}

std::string load_usage() {
  std::string workloads = "  -t <a,b,...>      ready-made workloads:";
  for (std::string_view n : workload_names()) workloads += " " + std::string(n);
  return "usage: zor_nosql_benchmark [options]\n"
         "  -h <host>         server address (default 127.0.0.1)\n"
         "  -p <port>         server port (default 55554)\n"
         "  -u <user>         user name (default admin); the password comes from ZOR_PASSWORD\n"
         "  -c <n>            connections (default 50), one outstanding request each\n"
         "  -n <n>            requests per workload (default 100000)\n"
         "  -d <seconds>      run each workload for a duration instead of a request count\n"
         "  -w <seconds>      warm-up before measuring (default 1)\n"
         "  -r <n>            keyspace: random keys are 0..n-1 (default 100000)\n" +
         workloads +
         "\n"
         "  --command <line>  a command template (repeatable); __rand_int__ becomes a random\n"
         "                    key. __slot__ is refused there: the tool makes no container for\n"
         "                    templates, so name or number one that exists\n"
         "  --protocol <p>    zor (default) or resp, to drive redis-server: no login, a PING\n"
         "                    first, each template's words sent as one array of bulk strings.\n"
         "                    The workloads use the keys zb:<n>, zb:set, zb:zset and zb:list\n"
         "                    and delete them afterwards; map_insert and map_get have no form\n"
         "  --json            one JSON object per workload\n"
         "  --version         print the version and exit\n"
         "Each workload reports its failed replies (status 1; in RESP, an error or a reply of\n"
         "another kind than the command answers with). Only set_insert and map_insert expect\n"
         "some (a random key that is already there is refused); any other failed reply is\n"
         "reported on standard error, counted as \"unexpected_failures\" in the JSON, and\n"
         "makes the exit status 1. Each workload also reports the tool's own CPU time; above\n"
         "90 % of its one core the run is marked client-bound: it measured the tool.\n"
         "Exit status 2: bad options, or no connection or login.\n";
}

bool parse_load_options(const std::vector<std::string_view>& args, load_options& out,
                        std::string& error) {
  std::vector<std::string> templates;
  std::vector<std::string_view> names;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (a == "--json") {
      out.json = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      error = "missing value after " + std::string(a);
      return false;
    }
    const std::string_view v = args[++i];
    bool ok = true;
    if (a == "-h") {
      out.host = v;
    } else if (a == "-p") {
      ok = parse_number(v, out.port) && out.port != 0;
    } else if (a == "-u") {
      out.user = v;
    } else if (a == "-c") {
      ok = parse_number(v, out.connections) && out.connections > 0 && out.connections <= 10000;
    } else if (a == "-n") {
      ok = parse_number(v, out.requests) && out.requests > 0;
    } else if (a == "-d") {
      ok = parse_number(v, out.duration_seconds) && out.duration_seconds > 0;
    } else if (a == "-w") {
      ok = parse_number(v, out.warmup_seconds) && out.warmup_seconds >= 0;
    } else if (a == "-r") {
      ok = parse_number(v, out.keyspace) && out.keyspace > 0;
    } else if (a == "-t") {
      for (size_t start = 0; start <= v.size();) {
        const size_t comma = std::min(v.find(',', start), v.size());
        names.push_back(v.substr(start, comma - start));
        start = comma + 1;
      }
    } else if (a == "--protocol") {
      ok = v == "zor" || v == "resp";
      out.protocol = v == "resp" ? wire_protocol::resp : wire_protocol::zor;
    } else if (a == "--command") {
      if (v.find(slot_placeholder) != std::string_view::npos) {
        error =
            "__slot__ in a --command template names no container: write the container's "
            "name or slot";
        return false;
      }
      templates.emplace_back(v);
    } else {
      error = "unknown option " + std::string(a);
      return false;
    }
    if (!ok) {
      error = "bad value for " + std::string(a) + ": " + std::string(v);
      return false;
    }
  }
  if (names.empty() && templates.empty()) names = {"hashmap_set", "hashmap_get"};
  for (std::string_view name : names) {
    workload w;
    if (!find_workload(name, w, out.protocol)) {
      error = (find_workload(name, w) ? "no RESP form of workload " : "unknown workload ") +
              std::string(name);
      return false;
    }
    out.workloads.push_back(std::move(w));
  }
  if (!templates.empty()) {
    out.workloads.push_back(workload{"custom", "", "", templates, false, resp_any_success, ""});
  }
  for (workload& w : out.workloads) {
    replace_all(w.create, "__keyspace__", std::to_string(out.keyspace));
  }
  return true;
}

void expand_template(std::string_view text, uint64_t slot, uint64_t key, std::string& out) {
  out.clear();
  while (!text.empty()) {
    const size_t at = text.find("__");
    out.append(text.substr(0, at));
    if (at == std::string_view::npos) break;
    text.remove_prefix(at);
    char digits[24];
    if (text.starts_with(slot_placeholder) || text.starts_with(key_placeholder)) {
      const bool is_slot = text.starts_with(slot_placeholder);
      out.append(digits, std::to_chars(digits, digits + sizeof digits, is_slot ? slot : key).ptr);
      text.remove_prefix(is_slot ? slot_placeholder.size() : key_placeholder.size());
    } else {
      out.append(text.substr(0, 1));
      text.remove_prefix(1);
    }
  }
}

std::string expand_template(std::string_view text, uint64_t slot, uint64_t key) {
  std::string s;
  expand_template(text, slot, key, s);
  return s;
}

}  // namespace qn::tools
