// Test helper: runs command lines in-process through execute and renders the reply as one line.
// Each command_runner owns its own container_registry; use one runner per test (not thread-safe).
//
// Rendering, compact and unambiguous:
//   false                        the command failed (whatever the reply holds is not shown)
//   ok                           success with no reply item
//   ok [u64: 0]                  one unlabelled item: type word, colon, the values
//   ok [vkey u64: 0] [vkey(hex) string: "0x0"]
//                                labelled items: label, space, type word (the last word before
//                                the colon; labels may contain spaces, type words never do)
//   ok [i32:]                    an item without values
// Values are separated by one space. Integers in decimal; float and double in their shortest
// round-trip form (to_chars); date 2024-02-29; time 08:00:00 with ".nnnnnnnnn" only when the
// nanoseconds are not 0; datetime as date "T" time; strings in double quotes with \" \\ and \xNN
// for bytes outside 0x20..0x7e. An item without a type (category 6) shows the type word
// "untyped".
#pragma once

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#include "engine/commands/logged_node.h"
#include "engine/executor.h"
#include "engine/registry.h"
#include "engine/reply.h"

namespace qn::db::nosql::testing {

template <class T>
void render_value(const T& v, std::string& out) {
  char buf[48];
  if constexpr (std::is_same_v<T, date>) {
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", unsigned{v.year}, unsigned{v.month},
                  unsigned{v.day});
  } else if constexpr (std::is_same_v<T, time>) {
    const int n = std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", unsigned{v.hour},
                                unsigned{v.minute}, unsigned{v.second});
    if (v.nanosecond != 0) std::snprintf(buf + n, sizeof buf - n, ".%09u", unsigned{v.nanosecond});
  } else if constexpr (std::is_same_v<T, date_time>) {
    render_value(v.date_part, out);
    out += 'T';
    return render_value(v.time_part, out);
  } else {
    *std::to_chars(buf, buf + sizeof buf - 1, +v).ptr = '\0';
  }
  out += buf;
}

// One value of an item, decoded by the item's descriptor.
inline void render_cell(type_descriptor type, const value_cell& cell, std::string& out) {
  const bool known = with_scalar_type(type, [&]<class T>() {
    if constexpr (std::is_same_v<T, xstring>) {
      append_quoted(cell.text, out);
    } else {
      T v;
      std::memcpy(&v, cell.inline_bytes.data() + inline_offset<T>(), sizeof(T));
      render_value(v, out);
    }
    return true;
  });
  if (!known) out += '?';
}

// The whole reply as described at the top of this file ("ok" plus the items).
inline std::string render_reply(const reply_record& reply) {
  std::string out = "ok";
  for (size_t i = 0; i < reply.size(); ++i) {
    const reply_item& item = reply[i];
    out += " [";
    if (!item.label.empty()) out += item.label + ' ';
    const std::string_view word = type_name(item.type);
    out += word.empty() ? std::string_view("untyped") : word;
    out += ':';
    for (const value_cell& cell : item.values) {
      out += ' ';
      render_cell(item.type, cell, out);
    }
    out += ']';
  }
  return out;
}

class command_runner {
 public:
  // Runs one line through execute with a fresh reply record; "false" or the rendered reply.
  std::string run(std::string_view line) {
    reply_record reply;
    if (!execute(registry_, line.data(), line.size(), reply)) return "false";
    return render_reply(reply);
  }

  container_registry& registry() { return registry_; }

 private:
  container_registry registry_;
};

// The reply of a create that took slot n.
inline std::string created(uint64_t n) {
  char hex[24];
  std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(n));
  return "ok [vkey u64: " + std::to_string(n) + "] [vkey(hex) string: \"0x" + hex + "\"]";
}

}  // namespace qn::db::nosql::testing
