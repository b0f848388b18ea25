"""Turning Python values into the tokens of a command line, so that no value can change the
meaning of the line it goes into. Pure functions; safe from any thread.

The server splits a line at spaces; a token in double quotes may hold any byte, with backslash
escapes. Quoting also means something: a quoted token in the container position is a name where
a bare number is a slot, and in an insert a bare `first` or `last` is a word where a quoted one is
a key. So a token is quoted only where it must be, and Name forces the quoted form.
"""

from .values import value_text

# Inside quotes, the escapes the server decodes back into these bytes; other control bytes
# are written as \xHH.
_ESCAPES = {0x22: b'\\"', 0x5C: b"\\\\", 0x07: b"\\a", 0x08: b"\\b", 0x0C: b"\\f",
            0x0A: b"\\n", 0x0D: b"\\r", 0x09: b"\\t", 0x0B: b"\\v"}
_QUOTED_BYTES = [_ESCAPES.get(b, b"\\x%02x" % b if b < 0x20 or b == 0x7F else bytes([b]))
                 for b in range(256)]


class Name:
    """A token always written in double quotes: a container's name (Name("5") is the container
    named 5, where 5 is slot 5), or a text that must not be read as a command word."""

    __slots__ = ("value",)

    def __init__(self, value):
        self.value = value

    def __repr__(self):
        return f"Name({self.value!r})"

    def __eq__(self, other):
        return isinstance(other, Name) and self.value == other.value

    def __hash__(self):
        return hash(("Name", self.value))


def quote(data):
    """`data` (bytes) as a quoted token that decodes back to exactly these bytes."""
    return b'"' + b"".join(_QUOTED_BYTES[b] for b in data) + b'"'


def _needs_quotes(data):
    # Empty, a separator, a quote (which fails a bare token), or a control byte that would be
    # invisible in logs and scripts.
    return not data or any(b <= 0x20 or b == 0x22 or b == 0x7F for b in data)


def _token_bytes(value):
    if isinstance(value, str):
        return value.encode("utf-8"), True
    if isinstance(value, (bytes, bytearray, memoryview)):
        return bytes(value), True
    return value_text(value).encode("ascii"), False


def token(value):
    """The command-line form of one token: str (sent as UTF-8) and bytes as they are, quoted only
    when they must be; numbers, dates and times in the text the server parses; a Name always
    quoted. Raises TypeError for other types and ValueError for an empty Name."""
    if isinstance(value, Name):
        data, _ = _token_bytes(value.value)
        if not data:
            raise ValueError("an empty Name names no container")
        return quote(data)
    data, is_text = _token_bytes(value)
    return quote(data) if is_text and _needs_quotes(data) else data


def command_line(tokens):
    """The tokens joined by single spaces."""
    if not tokens:
        raise ValueError("a command needs at least one token")
    return b" ".join(token(t) for t in tokens)
