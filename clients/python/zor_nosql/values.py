"""Python forms of the server's date and time values, and the text the command language reads
for each value. Immutable values; safe from any thread.

The server keeps nanoseconds, Python's time types keep microseconds: Time and DateTime are
datetime.time and datetime.datetime that carry the full nanosecond as an extra field. Values that
Python's types cannot hold at all (the zero date 0000-00-00, years above 9999) arrive as RawDate,
RawTime or RawDateTime tuples.
"""

import datetime
import math
from typing import NamedTuple


def nanosecond_of(t):
    """The nanosecond field of a time or datetime value, of any of the forms above."""
    ns = getattr(t, "nanosecond", None)
    return ns if ns is not None else t.microsecond * 1000


def _checked_nanosecond(microsecond, nanosecond):
    if nanosecond is None:
        nanosecond = microsecond * 1000
    if not 0 <= nanosecond <= 999_999_999:
        raise ValueError("nanosecond must be in 0..999999999")
    return nanosecond


class _WithNanoseconds:
    """What Time and DateTime add to their datetime base: the nanosecond field, equality that
    includes it, pickling that keeps it, and the server's text form."""

    __slots__ = ()

    @property
    def nanosecond(self):
        # replace() and arithmetic build instances without __new__: microseconds only then.
        try:
            return self._nanosecond
        except AttributeError:
            return self.microsecond * 1000

    def __eq__(self, other):
        if isinstance(other, self._base):
            return super().__eq__(other) and self.nanosecond == nanosecond_of(other)
        return NotImplemented

    def __hash__(self):
        return super().__hash__()  # equal values have equal microsecond-level parts

    def __reduce_ex__(self, protocol):
        return (_make, (type(self), self._fields()))

    def __repr__(self):
        fields = ", ".join(map(str, self._fields()[:-1]))
        return f"zor_nosql.{type(self).__name__}({fields}, nanosecond={self.nanosecond})"

    def __str__(self):
        return value_text(self)


class Time(_WithNanoseconds, datetime.time):
    """datetime.time with nanoseconds; microsecond is nanosecond // 1000. Compares equal to a
    datetime.time only when the nanoseconds agree."""

    __slots__ = ("_nanosecond",)
    _base = datetime.time

    def __new__(cls, hour=0, minute=0, second=0, microsecond=0, tzinfo=None, *, fold=0,
                nanosecond=None):
        nanosecond = _checked_nanosecond(microsecond, nanosecond)
        self = super().__new__(cls, hour, minute, second, nanosecond // 1000, tzinfo, fold=fold)
        self._nanosecond = nanosecond
        return self

    def _fields(self):
        return (self.hour, self.minute, self.second, self.nanosecond)


class DateTime(_WithNanoseconds, datetime.datetime):
    """datetime.datetime with nanoseconds; microsecond is nanosecond // 1000. Compares equal to
    a datetime.datetime only when the nanoseconds agree."""

    __slots__ = ("_nanosecond",)
    _base = datetime.datetime

    def __new__(cls, year, month=None, day=None, hour=0, minute=0, second=0, microsecond=0,
                tzinfo=None, *, fold=0, nanosecond=None):
        nanosecond = _checked_nanosecond(microsecond, nanosecond)
        self = super().__new__(cls, year, month, day, hour, minute, second, nanosecond // 1000,
                               tzinfo, fold=fold)
        self._nanosecond = nanosecond
        return self

    def _fields(self):
        return (self.year, self.month, self.day, self.hour, self.minute, self.second,
                self.nanosecond)


def _make(cls, fields):
    *rest, nanosecond = fields
    return cls(*rest, nanosecond=nanosecond)


class RawDate(NamedTuple):
    """A date that datetime.date cannot hold, such as the zero date 0000-00-00."""

    year: int
    month: int
    day: int

    def __str__(self):
        return date_text(self)


class RawTime(NamedTuple):
    """A time of day out of datetime.time's range (only a faulty server sends one)."""

    hour: int
    minute: int
    second: int
    nanosecond: int

    def __str__(self):
        return time_text(self)


class RawDateTime(NamedTuple):
    """A date and time that datetime.datetime cannot hold, such as 0000-00-00T00:00:00."""

    year: int
    month: int
    day: int
    hour: int
    minute: int
    second: int
    nanosecond: int

    def __str__(self):
        return date_text(self) + "T" + time_text(self)


# ---- from the wire ----

def make_date(year, month, day):
    try:
        return datetime.date(year, month, day)
    except ValueError:
        return RawDate(year, month, day)


def make_time(hour, minute, second, nanosecond):
    try:
        return Time(hour, minute, second, nanosecond=nanosecond)
    except ValueError:
        return RawTime(hour, minute, second, nanosecond)


def make_datetime(year, month, day, hour, minute, second, nanosecond):
    try:
        return DateTime(year, month, day, hour, minute, second, nanosecond=nanosecond)
    except ValueError:
        return RawDateTime(year, month, day, hour, minute, second, nanosecond)


# ---- to the command language ----

def date_text(d):
    return f"{d.year:04d}-{d.month:02d}-{d.day:02d}"


def time_text(t):
    """HH:MM:SS, with the fraction only when it is not zero and without trailing zeros."""
    text = f"{t.hour:02d}:{t.minute:02d}:{t.second:02d}"
    ns = nanosecond_of(t)
    return text + ("." + f"{ns:09d}".rstrip("0") if ns else "")


def value_text(value):
    """The text the server parses back into `value`, for every value type but strings and bytes
    (which the caller quotes as needed). Raises TypeError for a type the server has no form of."""
    if isinstance(value, bool):
        return "1" if value else "0"
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        if math.isnan(value):
            return "nan"
        return repr(value)  # the shortest text that reads back exactly; inf and -inf included
    if isinstance(value, (datetime.datetime, RawDateTime)):
        return date_text(value) + "T" + time_text(value)
    if isinstance(value, (datetime.date, RawDate)):
        return date_text(value)
    if isinstance(value, (datetime.time, RawTime)):
        return time_text(value)
    raise TypeError(f"no command-language form for {type(value).__name__}")
