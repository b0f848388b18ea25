// The command-line tokenizer (at most six tokens, quoted tokens with escapes) and the rule that
// turns a container token into a slot number. Tokens live on the caller's stack for one command.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/registry.h"

namespace qn::db::nosql {

// One token: a view of its bytes. Unquoted tokens view the command line itself (no allocation);
// quoted tokens are decoded into `owned` and view it, so a token must not be moved once filled.
struct token {
  std::string_view text;
  std::string owned;
  bool quoted = false;

  // Written in double quotes and decoded to at least one byte: such a container token is a name.
  bool is_name() const { return quoted && !owned.empty(); }
};

inline constexpr int max_tokens = 6;

// Splits a line at spaces into at most six tokens. Returns the number stored (1..6), or 0 when
// the line is not well formed: a seventh token, an unterminated quote, a quote inside a word or at
// the start of the line. Tokens 0..count-1 are valid afterwards.
[[nodiscard]] int tokenize(std::string_view line, token (&tokens)[max_tokens]);

// Turns a container token into a slot number: a name (quoted) through the name index, otherwise a
// slot number in decimal, or in hexadecimal when the second byte is x or X. Digits wrap modulo
// 2^64; the whole token must be consumed. Does not check that the slot is below the capacity or
// occupied; callers do.
[[nodiscard]] bool resolve_container(const container_registry& registry, std::string_view text, bool quoted,
                                     uint64_t& slot);

// Resolves a token and fetches its container, whose slot number goes to `slot`; null when it names
// no occupied slot.
ab_adt* container_of(const container_registry& registry, const token& token, uint64_t& slot);

}  // namespace qn::db::nosql
