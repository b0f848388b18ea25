#include "net/mersenne_twister.h"

namespace qn::net {

// ---- MT19937 ----

void mersenne_twister_32::reseed(uint32_t seed) {
  state_[0] = seed;
  for (size_t i = 1; i < state_size; ++i) {
    const uint32_t prev = state_[i - 1];
    state_[i] = 1812433253u * (prev ^ (prev >> 30)) + static_cast<uint32_t>(i);
  }
  next_ = state_size;
}

void mersenne_twister_32::twist() {
  constexpr size_t shift = 397;
  for (size_t i = 0; i < state_size; ++i) {
    const uint32_t y = (state_[i] & 0x80000000u) | (state_[(i + 1) % state_size] & 0x7fffffffu);
    state_[i] = state_[(i + shift) % state_size] ^ (y >> 1) ^ ((y & 1u) != 0 ? 0x9908b0dfu : 0u);
  }
  next_ = 0;
}

uint32_t mersenne_twister_32::draw() {
  if (next_ >= state_size) twist();
  uint32_t y = state_[next_++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9d2c5680u;
  y ^= (y << 15) & 0xefc60000u;
  y ^= y >> 18;
  return y;
}

// ---- MT19937-64 ----

void mersenne_twister_64::reseed(uint64_t seed) {
  state_[0] = seed;
  for (size_t i = 1; i < state_size; ++i) {
    const uint64_t prev = state_[i - 1];
    state_[i] = 6364136223846793005ull * (prev ^ (prev >> 62)) + static_cast<uint64_t>(i);
  }
  next_ = state_size;
}

void mersenne_twister_64::twist() {
  constexpr size_t shift = 156;
  constexpr uint64_t upper = 0xffffffff80000000ull;
  constexpr uint64_t lower = 0x7fffffffull;
  for (size_t i = 0; i < state_size; ++i) {
    const uint64_t y = (state_[i] & upper) | (state_[(i + 1) % state_size] & lower);
    state_[i] = state_[(i + shift) % state_size] ^ (y >> 1) ^
                ((y & 1u) != 0 ? 0xb5026f5aa96619e9ull : 0ull);
  }
  next_ = 0;
}

uint64_t mersenne_twister_64::draw() {
  if (next_ >= state_size) twist();
  uint64_t y = state_[next_++];
  y ^= (y >> 29) & 0x5555555555555555ull;
  y ^= (y << 17) & 0x71d67fffeda60000ull;
  y ^= (y << 37) & 0xfff7eee000000000ull;
  y ^= y >> 43;
  return y;
}

}  // namespace qn::net
