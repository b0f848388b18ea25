// Printing replies for people and for scripts: value texts, the introspection table, JSON lines.
// Pure functions; no state.
//
// Human strings are written in double quotes with the escapes of the command language (\n, \t,
// \", \\, \xHH ...), so a printed string can be pasted back into a command. Bytes that form valid
// UTF-8 characters from U+00A0 up are printed as they are; every other byte outside printable
// ASCII is escaped.
#pragma once

#include <string>
#include <string_view>

#include "client/connection.h"
#include "client/frame.h"

namespace qn::client {

// YYYY-MM-DD.
std::string format_date(const date& d);
// HH:MM:SS, followed by a fraction of up to nine digits (trailing zeros dropped) when the
// nanoseconds are not zero: 12:00:00.25.
std::string format_time(const time& t);
// The date and the time joined by T: 2024-01-31T08:00:00.
std::string format_date_time(const date_time& dt);

// The bytes in double quotes, escaped as described above.
std::string quote_bytes(std::string_view bytes);

// One value for people: integers in decimal, floating point in the shortest text that reads back
// as the same value (nan, inf, -inf), dates and times as above, strings quoted.
std::string format_value(const value& v);

// The type word of a descriptor ("i32", "datetime" ...), or "untyped" for a descriptor that names
// no type.
std::string_view type_word(type_descriptor d);

// True for the reply of the introspection command: the seven items skey, vkey, vkey(hex), count,
// ctype, ktype, vtype, in this order, each with one value per container.
bool is_introspection_reply(const command_reply& reply);

// The introspection reply as a table: a header line of the seven labels, then one line per
// container; columns separated by two spaces, numbers right-aligned, text left-aligned, no
// trailing spaces. Names are printed bare when they hold no space, quote, backslash or
// unprintable byte, else quoted. Requires: is_introspection_reply(reply).
std::string format_table(const command_reply& reply);

// A successful reply for people, every line ending in a line feed: "(empty)" without items, the
// table for the introspection reply, else each item as "label: value" (or the bare value for an
// unlabelled item); an item with several values prints one value per line, indented under its
// "label:" line when it has a label; an item without values prints "(empty)".
std::string format_reply(const command_reply& reply);

// The text to print on standard output for one command and its outcome, ending in a line feed:
// the reply for ok, "failed" for command_failed, and nothing for the other results (the caller
// reports those on standard error).
std::string format_outcome(result r, const command_reply& reply);

// One JSON object on one line, ending in a line feed:
//   {"command":"g 0 all","status":"ok","items":[{"label":"","type":"i32","values":[1,2]}]}
// status is "ok", "failed" (the server did not carry the command out) or "error" (with an
// "error" member holding `error_text`). Integers are JSON numbers; floating point values are
// numbers, or the strings "nan", "inf" and "-inf"; dates and times are strings in the forms
// above; text that is valid UTF-8 is a JSON string, any other text an object {"hex":"..."} of
// its bytes, so that nothing is lost.
std::string format_json(std::string_view command, result r, const command_reply& reply,
                        std::string_view error_text);

}  // namespace qn::client
