"""Values that could change a command's meaning if written carelessly go through insert and read
unchanged, as elements, keys, values and container names."""

import pytest

from zor_nosql import Name

HOSTILE = ["two words", 'say "hi"', "back\\slash", "\\", '"', "\\x41\\u00e9", "nul\x00byte",
           "new\nline", "cr\r tab\t bell\a", " leading", "trailing ", "  ", "", "first", "last",
           "nth", "5", "0x1f", "-1", "caf\u00e9 \U0001F600", "\x7f\x01\x1f", 'a"b', '"quoted"',
           "k", "c set", "g \"x\" all", "x" * 5000]
RAW = [b"\xff\x00\x80 \"\\", b"\xc3", b"\x80\x00"]  # not UTF-8: they come back as bytes


def test_hostile_elements_round_trip_through_execute(db):
    v = db.create("vector", "string")
    for value in HOSTILE + RAW:
        assert db.execute("i", v.ref, "last", value).ok, value
    assert v.all() == HOSTILE + RAW


@pytest.mark.parametrize("name", ["my stock", 'we"ird\\', "5", "k", "new\nline"])
def test_hostile_keys_values_and_names_round_trip_through_the_methods(db, name):
    m = db.create("map", "string", "string", name=name)
    keys = [k for k in HOSTILE if k]  # an empty key before a value reads as no key
    for key in keys:
        m.insert(key, key[::-1])
    assert sorted(m.all(), key=lambda k: k.encode()) == sorted(keys, key=lambda k: k.encode())
    for key in keys:
        assert m.value(key) == key[::-1]
    m.set("value", "first", "")
    assert m.value("first") == ""
    assert db.describe(name).name == name
    m.erase()


def test_a_quoted_number_names_a_container_and_a_bare_one_a_slot(db):
    by_slot = db.create("vector", "i32")
    by_slot.append(7)
    by_name = db.create("vector", "i32", name=str(by_slot.ref))  # named after the other's slot
    by_name.append(55)
    assert db.execute("g", by_slot.ref, "all").values == [7]
    assert db.execute("g", str(by_slot.ref), "all").values == [7]
    assert db.execute("g", Name(str(by_slot.ref)), "all").values == [55]
    assert db.container(str(by_slot.ref)).all() == [55]
    by_name.erase()
    by_slot.erase()
