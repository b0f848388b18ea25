"""Every scalar type through the real server: a Python value goes in as command text, comes back
typed from the binary reply, and equals what went in (NaN aside)."""

import datetime
import math

import pytest

from zor_nosql import DateTime, RawDate, RawDateTime, Time

INT_LIMITS = [("i08", 8, True), ("i16", 16, True), ("i32", 32, True), ("i64", 64, True),
              ("u08", 8, False), ("u16", 16, False), ("u32", 32, False), ("u64", 64, False)]
ROUND_TRIPS = [
    *[(word, [-(1 << (bits - 1)), -1, 0, (1 << (bits - 1)) - 1] if signed else
      [0, 1, (1 << bits) - 1]) for word, bits, signed in INT_LIMITS],
    ("float", [1.5, -0.25, math.inf, -math.inf, math.nan, 3.4028234663852886e38]),
    ("double", [0.1, -2e10, 1.7976931348623157e308, 5e-324, math.inf, -math.inf, math.nan]),
    ("date", [datetime.date(2024, 2, 29), datetime.date(1, 1, 1), datetime.date(9999, 12, 31)]),
    ("time", [Time(0, 0, 0), Time(23, 59, 59, nanosecond=123456789),
              datetime.time(8, 30, 0, 250000)]),
    ("datetime", [DateTime(2024, 1, 31, 8, 0, 0, nanosecond=500000000),
                  DateTime(2000, 2, 29, 23, 59, 59, nanosecond=1),
                  datetime.datetime(1999, 12, 31, 12, 0)]),
    ("string", ["x" * 65535, "", "caf\u00e9 \u65e5\u672c", b"\xff\xfe not utf-8"]),
]


def same(sent, received):
    if isinstance(sent, float) and math.isnan(sent):
        return isinstance(received, float) and math.isnan(received)
    # Time and DateTime equal a datetime.time or datetime.datetime only with the same nanoseconds.
    return sent == received and isinstance(received, type(sent))


@pytest.mark.parametrize("type_word, values", ROUND_TRIPS, ids=[r[0] for r in ROUND_TRIPS])
def test_every_type_round_trips_typed(db, type_word, values):
    v = db.create("vector", type_word)
    for value in values:
        v.append(value)
    reply = db.execute("g", v.ref, "all")
    assert [(i.label, i.type) for i in reply.items] == [("", type_word)]
    got = reply.values
    assert len(got) == len(values)
    for sent, received in zip(values, got):
        assert same(sent, received), (sent, received)
    v.erase()


@pytest.mark.parametrize("type_word, zero", [
    ("date", RawDate(0, 0, 0)), ("time", Time(0, 0, 0)),
    ("datetime", RawDateTime(0, 0, 0, 0, 0, 0, 0)), ("string", ""), ("i64", 0)])
def test_zero_values_python_cannot_hold_arrive_raw(db, type_word, zero):
    m = db.create("map", "u08", type_word)
    m.insert(1)  # a key without a value gets the zero value of the value type
    assert m.value(1) == zero
    assert str(m.value(1)) == str(zero)
    m.erase()


def test_labelled_items_and_listing(db):
    reply = db.execute("c", "hashmap", "u32", "double", 100, "prices")
    slot = reply.item("vkey").values[0]
    assert [(i.label, i.type) for i in reply.items] == [("vkey", "u64"), ("vkey(hex)", "string")]
    assert reply.item("vkey(hex)").values == [hex(slot)]
    info = db.describe("prices")
    assert (info.name, info.slot, info.count, info.kind, info.key_type, info.value_type) == (
        "prices", slot, 100, "hashmap", "u32", "double")
    assert info in db.containers()
    assert db.erase("prices") == slot
