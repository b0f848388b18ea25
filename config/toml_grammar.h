// The TOML grammar carried as text in the engine's dialect, its rule numbers, and the eleven
// hand-written recognisers that replace hot rules. Stateless; the text is a constant.
#pragma once

#include <cstdint>
#include <string_view>

#include "config/grammar_match.h"

namespace qn::config {

// Rule numbers in written order; a parse node of rule r has kind node_kind(r). `float` and
// `bool` are C++ keywords, so those two rules are named floating and boolean here.
enum class toml_rule : uint16_t {
  syntax,             // 0x00
  block,              // 0x01
  ws,                 // 0x02
  endline,            // 0x03
  line_comment,       // 0x04
  basic_char,         // 0x05
  kvp,                // 0x06
  dotted_key,         // 0x07
  key,                // 0x08
  quoted_key,         // 0x09
  bare_key,           // 0x0a
  key_char,           // 0x0b
  value,              // 0x0c
  string,             // 0x0d
  basic_string,       // 0x0e
  ml_basic_string,    // 0x0f
  literal_string,     // 0x10
  ml_literal_string,  // 0x11
  character_escape,   // 0x12
  control_escape,     // 0x13
  hex_digit,          // 0x14
  unicode_escape,     // 0x15
  digit,              // 0x16
  integer,            // 0x17
  uint_bin,           // 0x18
  uint_hex,           // 0x19
  uint_dec,           // 0x1a
  uint_oct,           // 0x1b
  floating,           // 0x1c  float
  special_float,      // 0x1d
  fraction,           // 0x1e
  exponent,           // 0x1f
  boolean,            // 0x20  bool
  offset_dt,          // 0x21
  local_date,         // 0x22
  local_time,         // 0x23
  secfrac,            // 0x24
  time_offset,        // 0x25
  local_dt,           // 0x26
  array,              // 0x27
  table,              // 0x28
  inline_table,       // 0x29
  unstr,              // 0x2a
  inline_kvp,         // 0x2b
  tab_array,          // 0x2c
  hex_escape,         // 0x2d
  mstring,            // 0x2e
  count
};

constexpr uint16_t node_kind(toml_rule r) { return parse_kind::of_rule(static_cast<size_t>(r)); }

// The grammar text, one rule per line, rule numbers in the trailing comments.
extern const std::string_view toml_grammar_text;

// The recognisers by rule number: ws, line_comment, quoted_key, bare_key, string, uint_bin,
// uint_hex, uint_dec, uint_oct, local_date and local_time.
recogniser_map toml_recognisers();

// The recognisers themselves, with the matcher's signature. Each returns a childless node of
// its rule's kind spanning what it consumed, or null after raising the furthest-failure
// position to where it started (local_date and local_time: to an out-of-range field).
parse_ptr match_ws(const grammar_node&, const char* p, uint64_t r, const resolution_table&);
parse_ptr match_line_comment(const grammar_node&, const char* p, uint64_t r,
                             const resolution_table&);
parse_ptr match_quoted_key(const grammar_node&, const char* p, uint64_t r, const resolution_table&);
parse_ptr match_bare_key(const grammar_node&, const char* p, uint64_t r, const resolution_table&);
parse_ptr match_string(const grammar_node&, const char* p, uint64_t r, const resolution_table&);
parse_ptr match_uint_bin(const grammar_node&, const char* p, uint64_t r, const resolution_table&);
parse_ptr match_uint_hex(const grammar_node&, const char* p, uint64_t r, const resolution_table&);
parse_ptr match_uint_dec(const grammar_node&, const char* p, uint64_t r, const resolution_table&);
parse_ptr match_uint_oct(const grammar_node&, const char* p, uint64_t r, const resolution_table&);
parse_ptr match_local_date(const grammar_node&, const char* p, uint64_t r, const resolution_table&);
parse_ptr match_local_time(const grammar_node&, const char* p, uint64_t r, const resolution_table&);

// Helpers shared with the document builder.
bool is_hex_digit(char c);
int hex_digit_value(char c);
bool is_leap_year(unsigned year);
unsigned days_in_month(unsigned year, unsigned month);  // 0 for a month outside 1..12

}  // namespace qn::config
