// MT19937 and MT19937-64 generators with the published parameters, seeding and tempering.
// Plain values; a generator is owned and used by one thread at a time.
//
// Seeding from a single value fills the state with the published linear recurrence; the first
// draw after a seed twists the whole state, as in the reference implementation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qn::net {

// 32-bit Mersenne Twister MT19937.
class mersenne_twister_32 {
 public:
  explicit mersenne_twister_32(uint32_t seed = 5489u) { reseed(seed); }

  // Restarts the sequence from the standard single-value seeding.
  void reseed(uint32_t seed);
  // Returns the next tempered output.
  uint32_t draw();

 private:
  static constexpr size_t state_size = 624;
  void twist();

  std::array<uint32_t, state_size> state_;
  size_t next_ = state_size;
};

// 64-bit Mersenne Twister MT19937-64.
class mersenne_twister_64 {
 public:
  explicit mersenne_twister_64(uint64_t seed = 5489u) { reseed(seed); }

  // Restarts the sequence from the standard single-value seeding.
  void reseed(uint64_t seed);
  // Returns the next tempered output.
  uint64_t draw();

 private:
  static constexpr size_t state_size = 312;
  void twist();

  std::array<uint64_t, state_size> state_;
  size_t next_ = state_size;
};

}  // namespace qn::net
