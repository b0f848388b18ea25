"""MT19937 and MT19937-64 with the published parameters, seeding and tempering, as the C++
standard's std::mt19937 and std::mt19937_64 define them. A generator is used by one thread.

Python's random module also runs MT19937, but seeds it differently; the password digest needs
the standard single-value seeding, so the generators are written out here.
"""


class _MersenneTwister:
    """The generator for the word size and constants of a subclass; `draw()` returns the next
    tempered output."""

    def __init__(self, seed=5489):
        self.seed(seed)

    def seed(self, seed):
        """Restarts the sequence from the standard seeding with one value (taken mod 2**w)."""
        mask, shift, f = self._MASK, self._SEED_SHIFT, self._SEED_FACTOR
        state = [seed & mask]
        for i in range(1, self._N):
            prev = state[-1]
            state.append((f * (prev ^ (prev >> shift)) + i) & mask)
        self._state = state
        self._next = self._N

    def _twist(self):
        s, n, m, upper, a = self._state, self._N, self._M, self._UPPER, self._A
        lower = self._MASK ^ upper
        for i in range(n):
            y = (s[i] & upper) | (s[(i + 1) % n] & lower)
            s[i] = s[(i + m) % n] ^ (y >> 1) ^ (a if y & 1 else 0)
        self._next = 0

    def draw(self):
        if self._next >= self._N:
            self._twist()
        y = self._state[self._next]
        self._next += 1
        return self._temper(y) & self._MASK


class MT19937(_MersenneTwister):
    """32-bit Mersenne Twister (std::mt19937)."""

    _N, _M, _MASK, _UPPER, _A = 624, 397, 0xFFFFFFFF, 0x80000000, 0x9908B0DF
    _SEED_SHIFT, _SEED_FACTOR = 30, 1812433253

    @staticmethod
    def _temper(y):
        y ^= y >> 11
        y ^= (y << 7) & 0x9D2C5680
        y ^= (y << 15) & 0xEFC60000
        return y ^ (y >> 18)


class MT19937_64(_MersenneTwister):
    """64-bit Mersenne Twister (std::mt19937_64)."""

    _N, _M, _MASK, _UPPER, _A = 312, 156, 0xFFFFFFFFFFFFFFFF, 0xFFFFFFFF80000000, \
        0xB5026F5AA96619E9
    _SEED_SHIFT, _SEED_FACTOR = 62, 6364136223846793005

    @staticmethod
    def _temper(y):
        y ^= (y >> 29) & 0x5555555555555555
        y ^= (y << 17) & 0x71D67FFFEDA60000
        y ^= (y << 37) & 0xFFF7EEE000000000
        return y ^ (y >> 43)
