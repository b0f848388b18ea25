// Helpers shared by the fuzz targets: the standard database the command and session targets
// start from, and silencing the console lines that commands print.
// Each target is single-threaded; the helpers keep no state of their own.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "containers/hash.h"
#include "engine/executor.h"
#include "engine/registry.h"
#include "engine/reply.h"

namespace qn::fuzz {

// Commands print console lines (backup and restore messages); a fuzzer run would drown in them.
inline void silence_stdout() { (void)std::freopen("/dev/null", "w", stdout); }

// Lowers the bound on one hash slot array (the machine's memory by default) to 256 MiB, which
// creation and restore then enforce as they do the default: the sanitizer's allocator writes all
// it hands out, so a table of gigabytes would take longer than an input may, and -malloc_limit_mb
// counts it as an excessive allocation.
inline void bound_hash_tables() { db::nosql::nosql_db::set_largest_slot_array_bytes(256u << 20); }

inline bool run_line(db::nosql::container_registry& registry, std::string_view line) {
  db::nosql::reply_record reply;
  return db::nosql::execute(registry, line.data(), line.size(), reply);
}

// The creation lines of the standard database: one container of every kind over several key and
// value types, in slot order from 0, each named "n<slot>" (but the trie, which takes no name),
// and two elements in each (but the unusable hash shells). The layout
// is listed in docs/testing.md so that corpus lines can address the slots.
inline std::vector<std::string> standard_lines() {
  const char* const single_kinds[] = {"vector", "deque", "list", "stack",
                                      "queue",  "heap",  "set",  "multiset"};
  const char* const single_types[] = {"i32", "u08", "double", "float", "string", "datetime"};
  const char* const first[] = {"-5", "7", "2.5", "-0.25", "\"a b\"", "2024-02-29T08:30:00"};
  const char* const second[] = {"9", "255", "-1e300", "3", "zz", "1999-12-31T23:59:59.5"};
  struct pair_kind {
    const char* key;
    const char* value;
    const char* k1;
    const char* v1;
    const char* k2;
    const char* v2;
  };
  const pair_kind pairs[] = {
      {"i32", "string", "1", "one", "-2", "\"minus two\""},
      {"string", "double", "k", "1.5", "\"\\x00z\"", "nan"},
      {"double", "double", "0.5", "1", "-inf", "2"},
      {"u64", "date", "18446744073709551615", "2024-01-31", "0", "1970-01-01"},
      {"time", "float", "08:00:00", "1", "23:59:59.999999999", "2"},
  };
  std::vector<std::string> lines;
  int slot = 0;
  auto add = [&](std::string create, std::vector<std::string> inserts) {
    lines.push_back(create + " n" + std::to_string(slot));
    for (std::string& i : inserts) lines.push_back("i " + std::to_string(slot) + " " + i);
    ++slot;
  };
  for (const char* kind : single_kinds) {
    for (size_t t = 0; t < std::size(single_types); ++t) {
      // Sequences insert at the back; heaps and sets by value.
      const std::string_view k = kind;
      const std::string word = k == "heap" || k == "set" || k == "multiset" ? "" : "last ";
      add(std::string("c ") + kind + " " + single_types[t], {word + first[t], word + second[t]});
    }
  }
  for (const char* kind : {"map", "multimap"}) {
    for (const pair_kind& p : pairs) {
      add(std::string("c ") + kind + " " + p.key + " " + p.value,
          {std::string(p.k1) + " " + p.v1, std::string(p.k2) + " " + p.v2});
    }
  }
  add("c hashmap u08 string 16", {"3 three", "15 fifteen"});
  add("c hashmap i32 double 100", {"-2147483648 1", "-2147483600 2"});
  add("c hashtable u16 64", {"1", "63"});
  add("c hashtable i64 10", {"-9223372036854775808", "-9223372036854775800"});
  add("c hashmap string i32 8", {});
  add("c hashtable double 8", {});
  lines.push_back("c trie");  // a trie takes no name
  for (const char* w : {"Word", "\"two words\""}) {
    lines.push_back("i " + std::to_string(slot) + " " + w);
  }
  return lines;
}

// Fills an empty registry with the standard database; false if any line failed.
inline bool build_standard(db::nosql::container_registry& registry) {
  bool ok = true;
  for (const std::string& line : standard_lines()) ok = run_line(registry, line) && ok;
  return ok;
}

}  // namespace qn::fuzz
