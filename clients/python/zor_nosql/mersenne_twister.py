"""MT19937 and MT19937-64 with the published parameters, seeding and tempering, as the C++
standard's std::mt19937 and std::mt19937_64 define them. A generator is used by one thread.

Python's random module also runs MT19937, but seeds it differently; the password digest needs
the standard single-value seeding, so the generators are written out here.
"""

_MASK_32 = 0xFFFFFFFF
_MASK_64 = 0xFFFFFFFFFFFFFFFF


class MT19937:
    """32-bit Mersenne Twister; `draw()` returns the next tempered output."""

    _N = 624
    _M = 397

    def __init__(self, seed=5489):
        self.seed(seed)

    def seed(self, seed):
        """Restarts the sequence from the standard seeding with one value (taken mod 2**32)."""
        state = [seed & _MASK_32]
        for i in range(1, self._N):
            prev = state[-1]
            state.append((1812433253 * (prev ^ (prev >> 30)) + i) & _MASK_32)
        self._state = state
        self._next = self._N

    def _twist(self):
        s, n, m = self._state, self._N, self._M
        for i in range(n):
            y = (s[i] & 0x80000000) | (s[(i + 1) % n] & 0x7FFFFFFF)
            s[i] = s[(i + m) % n] ^ (y >> 1) ^ (0x9908B0DF if y & 1 else 0)
        self._next = 0

    def draw(self):
        if self._next >= self._N:
            self._twist()
        y = self._state[self._next]
        self._next += 1
        y ^= y >> 11
        y ^= (y << 7) & 0x9D2C5680
        y ^= (y << 15) & 0xEFC60000
        return (y ^ (y >> 18)) & _MASK_32


class MT19937_64:
    """64-bit Mersenne Twister; `draw()` returns the next tempered output."""

    _N = 312
    _M = 156

    def __init__(self, seed=5489):
        self.seed(seed)

    def seed(self, seed):
        """Restarts the sequence from the standard seeding with one value (taken mod 2**64)."""
        state = [seed & _MASK_64]
        for i in range(1, self._N):
            prev = state[-1]
            state.append((6364136223846793005 * (prev ^ (prev >> 62)) + i) & _MASK_64)
        self._state = state
        self._next = self._N

    def _twist(self):
        s, n, m = self._state, self._N, self._M
        for i in range(n):
            y = (s[i] & 0xFFFFFFFF80000000) | (s[(i + 1) % n] & 0x7FFFFFFF)
            s[i] = s[(i + m) % n] ^ (y >> 1) ^ (0xB5026F5AA96619E9 if y & 1 else 0)
        self._next = 0

    def draw(self):
        if self._next >= self._N:
            self._twist()
        y = self._state[self._next]
        self._next += 1
        y ^= (y >> 29) & 0x5555555555555555
        y ^= (y << 17) & 0x71D67FFFEDA60000
        y ^= (y << 37) & 0xFFF7EEE000000000
        return (y ^ (y >> 43)) & _MASK_64
