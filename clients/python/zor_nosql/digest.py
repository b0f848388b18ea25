"""The password digest that zor_ndb.toml stores for each user, computed exactly as the server
does. Pure functions; safe from any thread.

The block digest D extends its input to whole 64-byte blocks with bytes drawn from MT19937,
expands every 32-bit word of a block through eight chained MT19937-64 draws, folds each word's
draws into one 32-bit result, and chains blocks through the first result of the previous block.
Several blocks digest their 16-byte outputs again until one block is left, which is written as
32 upper-case hexadecimal characters.
"""

import base64
import struct

from .mersenne_twister import MT19937, MT19937_64

# The server's four salts: every configured digest was made with exactly these.
_PREFIX = b"{"
_SUFFIX = b"}"
_KEY = b"zor.N0SQL/key:16"
_SEPARATOR = b"q7:Mn!"

_BLOCK = 64
_START = (0, 0, 2, 3)


def _widen(byte):
    """A byte taken as a signed char and widened to 32 bits: the seed of the extension."""
    return (byte - 256 if byte >= 128 else byte) & 0xFFFFFFFF


def _extend_to_blocks(m):
    length = len(m)
    s = bytearray(m)
    if length % _BLOCK == 0:
        return s
    target = (length // _BLOCK + 1) * _BLOCK
    generator = MT19937(_widen(s[0]))
    k = 0
    while len(s) < target:
        x1 = generator.draw()
        x2 = generator.draw()
        s.append((x2 >> 24) ^ m[x1 % length])
        generator.seed(_widen(s[k + 1]))
        k += 1
    return s


def _expand_word(seed):
    """Eight MT19937-64 draws, each seeding the next, as sixteen 32-bit halves (low first)."""
    w = []
    generator = MT19937_64(seed)
    for _ in range(8):
        v = generator.draw()
        w.append(v & 0xFFFFFFFF)
        w.append(v >> 32)
        generator.seed(v)
    return w


def _fold_word(w):
    def x(a, b, c):
        return w[a] ^ w[b] ^ w[c]

    g1 = (x(5, 10, 15) & x(6, 11, 13) & x(7, 9, 14)) | x(7, 10, 13) | x(5, 11, 14) | x(6, 15, 9)
    g2 = (x(4, 10, 15) & x(7, 8, 14) & x(6, 11, 12)) | x(4, 11, 14) | x(7, 10, 12) | x(6, 15, 8)
    g3 = (x(4, 9, 15) & x(7, 8, 13) & x(5, 11, 12)) | x(5, 15, 8) | x(4, 11, 13) | x(7, 9, 12)
    g4 = (x(6, 8, 13) & x(4, 9, 14) & x(5, 10, 12)) | x(6, 9, 12) | x(5, 14, 8) | x(4, 10, 13)
    return (((g1 ^ w[0]) | (g2 ^ w[1])) & (g3 ^ w[2])) | (g4 ^ w[3])


def _digest_round(m):
    """The 16 output bytes of each 64-byte block of the extended input, concatenated."""
    extended = _extend_to_blocks(m)
    out = bytearray()
    chain = 0
    for offset in range(0, len(extended), _BLOCK):
        words = struct.unpack_from("<16I", extended, offset)
        r = []
        for n, word in enumerate(words):
            r.append(_fold_word(_expand_word(word if offset == 0 else chain ^ word)))
            for j in range(n - 1):
                r[j] ^= r[n]
        chain = r[0]
        g = _START[chain >> 30]
        out += struct.pack("<4I", r[g], r[g ^ 1], r[g ^ 2], r[g ^ 3])
    return bytes(out)


def block_digest(data):
    """D(data): the empty text for empty input, otherwise 32 upper-case hexadecimal characters."""
    data = bytes(data)
    while data:
        output = _digest_round(data)
        if len(output) == 16:
            return output.hex().upper()
        data = output
    return ""


def digest(password):
    """Returns the 32-character digest of a password (str, taken as UTF-8, or bytes), the text
    that a user's `password` entry in zor_ndb.toml holds."""
    if isinstance(password, str):
        password = password.encode("utf-8")
    s0 = _PREFIX + bytes(password) + _SUFFIX
    s1 = block_digest(s0).encode("ascii") + _KEY + s0
    s2 = s1 + _SEPARATOR + block_digest(s1).encode("ascii")
    return block_digest(base64.b64encode(block_digest(s2).encode("ascii")))
