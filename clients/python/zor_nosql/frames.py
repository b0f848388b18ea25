"""Request frames and the decoding of reply frames into typed items. Pure functions over bytes;
no sockets, no shared state.

Request: u32 payload length, payload (the login payload, then one command line per request).
Reply: u32 length of what follows, status byte (0 success, 1 failure) and, in a successful
command reply only, a u64 item count and the items. Item: u16 label length, label, 3-byte type
descriptor (width, sign, category), u64 value count, values encoded by the descriptor. All
integers little-endian.
"""

import struct
from typing import Any, List, NamedTuple

from .errors import ProtocolError
from .values import make_date, make_datetime, make_time

MAX_PAYLOAD = 0xFFFFFFFE  # the server closes the connection on a declared 0xFFFFFFFF

_U16 = struct.Struct("<H")
_U32 = struct.Struct("<I")
_U64 = struct.Struct("<Q")
_DATE = struct.Struct("<HBB")
_TIME = struct.Struct("<BBBI")
_DATETIME = struct.Struct("<HBBBBBI")
_MIN_ITEM_SIZE = 2 + 3 + 8


class Item(NamedTuple):
    """One reply item: a labelled, typed column of values. `type` is the type word ("u64",
    "string", "datetime", ...), or "" for an item without type, whose values take no bytes and
    whose `values` stays empty."""

    label: str
    type: str
    values: List[Any]


class Reply:
    """A command's reply: `ok` is False when the server refused the command (then there are no
    items); `items` are the reply items in order."""

    __slots__ = ("ok", "items")

    def __init__(self, ok, items=()):
        self.ok = ok
        self.items = list(items)

    @property
    def values(self):
        """The values of the first item (a read answers one unlabelled item), [] without one."""
        return self.items[0].values if self.items else []

    def item(self, label):
        """The first item with this label; KeyError when there is none."""
        for i in self.items:
            if i.label == label:
                return i
        raise KeyError(label)

    def __eq__(self, other):
        return isinstance(other, Reply) and (self.ok, self.items) == (other.ok, other.items)

    def __repr__(self):
        return f"Reply(ok={self.ok}, items={self.items!r})"


def request_frame(payload):
    if len(payload) > MAX_PAYLOAD:
        raise ValueError("a request payload is at most 0xFFFFFFFE bytes")
    return _U32.pack(len(payload)) + payload


def login_frame(user, password):
    return request_frame(_U32.pack(len(user)) + user + _U32.pack(len(password)) + password)


def frame_length(prefix):
    """The number of bytes after the 4-byte length field."""
    return _U32.unpack(prefix)[0]


def decode_login_reply(body):
    """True when the login was accepted. `body` is the frame after its length field."""
    if len(body) != 1 or body[0] > 1:
        raise ProtocolError(f"a login reply is one status byte, got {bytes(body[:16])!r}")
    return body[0] == 0


_INTEGER_WIDTHS = {0: (1, "b"), 1: (2, "h"), 2: (4, "i")}  # any other width: 8 bytes
_PACKED = {"date": (_DATE, make_date), "time": (_TIME, make_time),
           "datetime": (_DATETIME, make_datetime)}


def _type_of(width, sign, category):
    """(type word, fixed value size or None for strings or 0 for no bytes, bulk struct code)."""
    if category == 0:
        size, code = _INTEGER_WIDTHS.get(width, (8, "q"))
        name = {1: "08", 2: "16", 4: "32", 8: "64"}[size]
        if sign == 0:
            return "i" + name, size, code
        return "u" + name, size, code.upper()
    if category == 1:
        return ("float", 4, "f") if width == 2 else ("double", 8, "d")
    return {2: ("string", None, None), 3: ("date", 4, None), 4: ("time", 7, None),
            5: ("datetime", 11, None)}.get(category, ("", 0, None))


class _Reader:
    """Reads fields from the front of a reply body; every read is checked."""

    def __init__(self, body):
        self.body = memoryview(body)
        self.at = 0

    def remaining(self):
        return len(self.body) - self.at

    def take(self, n):
        if self.remaining() < n:
            raise ProtocolError("reply ends in the middle of an item")
        start = self.at
        self.at += n
        return self.body[start:self.at]

    def unpack(self, fixed):
        return fixed.unpack(self.take(fixed.size))


def _read_values(reader, type_name, size, code, count):
    if size == 0:
        return []  # an item without type: its values take no bytes
    if count > reader.remaining() // (size or 2):
        raise ProtocolError("reply announces more values than it holds")
    if code is not None:
        return list(struct.unpack(f"<{count}{code}", reader.take(count * size)))
    if type_name == "string":
        values = []
        for _ in range(count):
            data = bytes(reader.take(reader.unpack(_U16)[0]))
            try:
                values.append(data.decode("utf-8"))
            except UnicodeDecodeError:
                values.append(data)
        return values
    fixed, make = _PACKED[type_name]
    return [make(*fields) for fields in fixed.iter_unpack(reader.take(count * size))]


def decode_command_reply(body):
    """The Reply in a command reply frame. `body` is the frame after its length field and must
    hold exactly one reply; raises ProtocolError otherwise."""
    reader = _Reader(body)
    status = reader.take(1)[0] if reader.remaining() else None
    if status == 1:
        if reader.remaining():
            raise ProtocolError("a failure reply carries nothing after its status")
        return Reply(False)
    if status != 0:
        raise ProtocolError(f"reply status {status!r} is neither 0 nor 1")
    count = reader.unpack(_U64)[0]
    if count > reader.remaining() // _MIN_ITEM_SIZE:
        raise ProtocolError("reply announces more items than it holds")
    items = []
    for _ in range(count):
        label = bytes(reader.take(reader.unpack(_U16)[0])).decode("utf-8", "backslashreplace")
        width, sign, category = reader.take(3)
        type_name, size, code = _type_of(width, sign, category)
        value_count = reader.unpack(_U64)[0]
        items.append(Item(label, type_name, _read_values(reader, type_name, size, code,
                                                         value_count)))
    if reader.remaining():
        raise ProtocolError("reply has bytes after its last item")
    return Reply(True, items)
