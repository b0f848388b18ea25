#include "engine/commands/command_words.h"

namespace qn::db::nosql {
namespace {

using w = command_word;

// Byte i of a word, or 0 past its end.
char byte_at(std::string_view word, size_t i) { return i < word.size() ? word[i] : '\0'; }

// ---- the letter rules the read, write and delete tables share ----

// f: first (5 bytes), first_n (7).
w f_word(std::string_view word) {
  if (word.size() == 5) return w::first;
  if (word.size() == 7) return w::first_n;
  return w::unknown;
}

// g: gt when the last byte is t, ge otherwise.
w g_word(std::string_view word) { return word.back() == 't' ? w::gt : w::ge; }

// l: lt and le (2 bytes, by the second), last_n (6), and the 4-byte words: last by its second
// byte a, the range words by their second byte (e, t) and their fourth (t or any other).
w l_word(std::string_view word) {
  switch (word.size()) {
    case 2:
      return word[1] == 't' ? w::lt : w::le;
    case 6:
      return w::last_n;
    case 4:
      if (word[1] == 'a') return w::last;
      if (word[1] == 'e') return word[3] == 't' ? w::legt : w::lege;
      if (word[1] == 't') return word[3] == 't' ? w::ltgt : w::ltge;
      return w::unknown;
  }
  return w::unknown;
}

// m: min and max (3 bytes), min_n and max_n (5), told apart by the third byte n.
w m_word(std::string_view word) {
  const bool is_min = byte_at(word, 2) == 'n';
  if (word.size() == 3) return is_min ? w::min : w::max;
  if (word.size() == 5) return is_min ? w::min_n : w::max_n;
  return w::unknown;
}

w n_word(std::string_view word) { return word.size() == 3 ? w::nth : w::unknown; }

// ---- the read family's own letters ----

// c: count (5 bytes), con_type (8), contain (any other length).
w c_read_word(std::string_view word) {
  if (word.size() == 5) return w::count;
  if (word.size() == 8) return w::con_type;
  return w::contain;
}

// p: ptr (3 bytes), ptr_n and ptr_p (5, by the last byte).
w p_read_word(std::string_view word) {
  if (word.size() == 3) return w::ptr;
  if (word.size() == 5 && word[4] == 'n') return w::ptr_n;
  if (word.size() == 5 && word[4] == 'p') return w::ptr_p;
  return w::unknown;
}

// v: val_type (8 bytes ending in e), else val by a last byte l and value by a last byte e.
w v_read_word(std::string_view word) {
  if (word.size() == 8) return word[7] == 'e' ? w::val_type : w::unknown;
  if (word.back() == 'l') return w::val;
  if (word.back() == 'e') return w::value;
  return w::unknown;
}

}  // namespace

command_word recognise_read_word(std::string_view word) {
  switch (byte_at(word, 0)) {
    case 'a':
      return w::all;
    case 'c':
      return c_read_word(word);
    case 'e':
      return w::equal;
    case 'f':
      return f_word(word);
    case 'g':
      return g_word(word);
    case 'i':
      return w::index;
    case 'k':
      return w::key_type;
    case 'l':
      return l_word(word);
    case 'm':
      return m_word(word);
    case 'n':
      return n_word(word);
    case 'p':
      return p_read_word(word);
    case 'r':
      return word.size() == 4 ? w::rank : w::range;
    case 'u':
      return w::ucontain;
    case 'v':
      return v_read_word(word);
  }
  return w::unknown;
}

command_word recognise_write_word(std::string_view word) {
  switch (byte_at(word, 0)) {
    case 'a':
      return w::all;
    case 'e':
      return w::equal;
    case 'f':
      return f_word(word);
    case 'g':
      return g_word(word);
    case 'l':
      return l_word(word);
    case 'm':
      return m_word(word);
    case 'n':
      return n_word(word);
    case 'r':
      return w::range;
    case 'v':
      return word.size() < 4 ? w::val : w::value;
  }
  return w::unknown;
}

command_word recognise_delete_word(std::string_view word) {
  switch (byte_at(word, 0)) {
    case 'a':
      return w::all;
    case 'e':
      return w::equal;
    case 'f':
      return f_word(word);
    case 'g':
      return g_word(word);
    case 'l':
      return l_word(word);
    case 'm':
      return m_word(word);
    case 'n':
      return n_word(word);
    case 'p':
      return w::ptr;
    case 'r':
      return w::range;
  }
  return w::unknown;
}

command_word recognise_insert_word(std::string_view word) {
  if (word.empty()) return w::key;
  switch (word[0]) {
    case 'n':
      return w::nth;
    case 'f':
      return w::first;
    case 'l':
      return w::last;
    case 'v':
      return w::val;
  }
  return w::unknown;
}

}  // namespace qn::db::nosql
