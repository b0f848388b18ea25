// Block digest and the salted password digest that the user list of the configuration stores.
// Pure functions over their arguments; no shared state, callable from any thread.
//
// The block digest D extends its input to whole 64-byte blocks with bytes drawn from MT19937,
// expands every 32-bit word of a block through eight chained MT19937-64 draws, folds each word's
// draws into one 32-bit result, and chains blocks through the first result of the previous block.
// Several blocks digest their 16-byte outputs again until one block is left, which is written as
// 32 upper-case hexadecimal characters.
#pragma once

#include <string>
#include <string_view>

namespace qn::net {

// ---- password digest constants ----
// The four salts of password_digest. Every configured user password is the digest made with
// exactly these values: changing any of them invalidates every stored password (and the golden
// digests pinned in digest_test.cc).
struct digest_salts {
  // Prefix P and suffix Q put around the plain password.
  static constexpr char prefix = '{';
  static constexpr char suffix = '}';
  // Key K (16 characters) between the first digest and the wrapped password.
  static constexpr std::string_view key = "zor.N0SQL/key:16";
  // Separator S (6 characters) before the second digest.
  static constexpr std::string_view separator = "q7:Mn!";
};
static_assert(digest_salts::key.size() == 16 && digest_salts::separator.size() == 6);

// Returns D(bytes): the empty text for empty input, otherwise 32 upper-case hexadecimal characters.
std::string block_digest(std::string_view bytes);

// One round of D over non-empty bytes: the 16 output bytes of each 64-byte block of the extended
// input, concatenated. D(m) is the hexadecimal text of this for one block, else D of it.
std::string digest_round(std::string_view bytes);

// Returns the 32-character digest of a plain password, as stored in the configuration:
// D(B64(D(s1 + S + D(s1)))) with s0 = P + password + Q and s1 = D(s0) + K + s0.
std::string password_digest(std::string_view password);

}  // namespace qn::net
