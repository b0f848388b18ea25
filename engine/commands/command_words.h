// The command words of the typed families and one recogniser per family, which names a word by
// that family's letter rules: its first byte, then its length and at most one further byte.
// Pure functions; no state.
//
// A recogniser looks only at the letters its family's word table lists, so any word that agrees
// in those letters is named alike ("fxxxx" is `first`); a word that matches no row is `unknown`.
#pragma once

#include <cstdint>
#include <string_view>

namespace qn::db::nosql {

// Named after the documented spelling of each word. In the four-letter range words the second
// byte bounds the upper end (e: x <= hi, t: x < hi) and the fourth the lower end (t: x > lo,
// any other: x >= lo), so `legt` selects lo < x <= hi.
enum class command_word : uint8_t {
  unknown,
  // read, write and delete
  all,
  equal,
  first,
  first_n,
  gt,
  ge,
  lt,
  le,
  last,
  lege,
  legt,
  ltge,
  ltgt,
  last_n,
  max,
  min,
  max_n,
  min_n,
  nth,
  range,
  // read only, but for ptr (delete too) and val and value (write too)
  count,
  con_type,
  contain,
  index,
  key_type,
  ptr,
  ptr_n,
  ptr_p,
  rank,
  ucontain,
  val,
  value,
  val_type,
  // insert without a word: insert a key (and value)
  key,
};

// g: every word of the read table; a word of no row is `unknown`, which the read answers with
// success and no item.
command_word recognise_read_word(std::string_view word);
// s: v words are `val` below four bytes and `value` from four on.
command_word recognise_write_word(std::string_view word);
// d: p is `ptr` and r is `range` whatever follows.
command_word recognise_delete_word(std::string_view word);
// i: by the first byte alone (n, f, l, v); the empty word is `key`.
command_word recognise_insert_word(std::string_view word);

}  // namespace qn::db::nosql
