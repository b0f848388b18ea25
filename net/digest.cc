#include "net/digest.h"

#include <array>
#include <cstdint>
#include <random>

#include "net/base64.h"
#include "values/little_endian.h"

namespace qn::net {
namespace {

constexpr size_t block_size = 64;

// A byte taken as a signed char and widened to 32 bits, the generator seed of the extension.
uint32_t widen(char byte) {
  return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(byte)));
}

// Extends m (non-empty) to the next multiple of 64 bytes. Each appended byte mixes a drawn value
// with a byte of the original text; the generator is seeded again from the growing string.
std::string extend_to_blocks(std::string_view m) {
  std::string s(m);
  const size_t length = m.size();
  if (length % block_size == 0) return s;
  const size_t target = (length / block_size + 1) * block_size;
  std::mt19937 generator(widen(s[0]));
  for (size_t k = 0; s.size() < target; ++k) {
    const uint32_t x1 = generator();
    const uint32_t x2 = generator();
    s.push_back(static_cast<char>((x2 >> 24) ^ static_cast<uint8_t>(m[x1 % length])));
    generator.seed(widen(s[k + 1]));
  }
  return s;
}

// One word's expansion: eight MT19937-64 draws, each seeding the next, split into 16 halves.
std::array<uint32_t, 16> expand_word(uint32_t seed) {
  std::array<uint32_t, 16> w{};
  std::mt19937_64 generator(seed);
  for (size_t k = 0; k < 8; ++k) {
    const uint64_t v = generator();
    w[2 * k] = static_cast<uint32_t>(v);
    w[2 * k + 1] = static_cast<uint32_t>(v >> 32);
    generator.seed(v);
  }
  return w;
}

uint32_t fold_word(const std::array<uint32_t, 16>& w) {
  const auto x = [&w](int a, int b, int c) { return w[a] ^ w[b] ^ w[c]; };
  const uint32_t g1 =
      (x(5, 10, 15) & x(6, 11, 13) & x(7, 9, 14)) | x(7, 10, 13) | x(5, 11, 14) | x(6, 15, 9);
  const uint32_t g2 =
      (x(4, 10, 15) & x(7, 8, 14) & x(6, 11, 12)) | x(4, 11, 14) | x(7, 10, 12) | x(6, 15, 8);
  const uint32_t g3 =
      (x(4, 9, 15) & x(7, 8, 13) & x(5, 11, 12)) | x(5, 15, 8) | x(4, 11, 13) | x(7, 9, 12);
  const uint32_t g4 =
      (x(6, 8, 13) & x(4, 9, 14) & x(5, 10, 12)) | x(6, 9, 12) | x(5, 14, 8) | x(4, 10, 13);
  return (((g1 ^ w[0]) | (g2 ^ w[1])) & (g3 ^ w[2])) | (g4 ^ w[3]);
}

// Digests one 64-byte block; `chain` is the previous block's first result (read when `is_first`
// is false) and is set to this block's. Appends the block's 16 output bytes to `out`.
void digest_block(const char* block, bool is_first, uint32_t& chain, std::string& out) {
  std::array<uint32_t, 16> r{};
  for (size_t n = 0; n < 16; ++n) {
    const auto word = load_le<uint32_t>(block + 4 * n);
    r[n] = fold_word(expand_word(is_first ? word : chain ^ word));
    for (size_t j = 0; j + 1 < n; ++j) r[j] ^= r[n];
  }
  chain = r[0];
  static constexpr std::array<uint32_t, 4> start = {0, 0, 2, 3};
  const uint32_t g = start[chain >> 30];
  for (uint32_t i = 0; i < 4; ++i) append_le(out, r[g ^ i]);
}

std::string to_upper_hex(std::string_view bytes) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    hex.push_back(digits[b >> 4]);
    hex.push_back(digits[b & 15]);
  }
  return hex;
}

}  // namespace

std::string digest_round(std::string_view bytes) {
  if (bytes.empty()) return {};
  const std::string extended = extend_to_blocks(bytes);
  const size_t blocks = extended.size() / block_size;
  std::string output;
  output.reserve(blocks * 16);
  uint32_t chain = 0;
  for (size_t b = 0; b < blocks; ++b) {
    digest_block(extended.data() + b * block_size, b == 0, chain, output);
  }
  return output;
}

std::string block_digest(std::string_view bytes) {
  if (bytes.empty()) return {};
  const std::string output = digest_round(bytes);
  // Each round shrinks several blocks by a factor of four, so the recursion ends in one block.
  return output.size() > 16 ? block_digest(output) : to_upper_hex(output);
}

std::string password_digest(std::string_view password) {
  std::string s0;
  s0.reserve(password.size() + 2);
  s0.push_back(digest_salts::prefix);
  s0.append(password);
  s0.push_back(digest_salts::suffix);
  std::string s1 = block_digest(s0);
  s1.append(digest_salts::key);
  s1.append(s0);
  std::string s2 = s1;
  s2.append(digest_salts::separator);
  s2.append(block_digest(s1));
  return block_digest(encode_base64(block_digest(s2)));
}

}  // namespace qn::net
