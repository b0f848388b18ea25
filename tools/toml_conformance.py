#!/usr/bin/env python3
"""Runs the TOML conformance corpus (third_party/toml-test) through tools/toml_decode.

Usage: toml_conformance.py DECODER CORPUS_DIR

Every valid case outside CORPUS_DIR/by-design-skips.txt must decode to its tagged JSON. Invalid
cases are reported, not required: the configuration reader accepts some of them by design. A
decoder killed by a signal or past the time limit fails the run on any case. Exit status: 0 when
all that holds, 1 otherwise, 2 when the corpus or the decoder cannot be used.
"""

import concurrent.futures
import fnmatch
import json
import math
import pathlib
import re
import subprocess
import sys

TIME_LIMIT_SECONDS = 20

# Date, separator, time with fraction, offset, each optional: a part missing on one side only
# makes the keys differ.
DATE_TIME = re.compile(r"(?:(\d{4})-(\d{2})-(\d{2}))?[Tt ]?"
                       r"(?:(\d{2}):(\d{2}):(\d{2})(?:\.(\d+))?)?([Zz]|[+-]\d{2}:\d{2})?$")


def read_skips(path):
    patterns = []
    for line in path.read_text(encoding="utf-8").splitlines():
        name = line.split("#", 1)[0].strip()
        if name:
            patterns.append(name)
    return patterns


def days_from_civil(y, m, d):
    """Days since 1970-01-01 of a proleptic Gregorian date (any year, including 0)."""
    y -= m <= 2
    era = y // 400
    yoe = y - era * 400
    doy = (153 * (m + (-3 if m > 2 else 9)) + 2) // 5 + d - 1
    doe = yoe * 365 + yoe // 4 - yoe // 100 + doy
    return era * 146097 + doe - 719468


def date_time_key(type_name, text):
    """A comparable form of a date or time text: offset date-times as instants in nanoseconds."""
    match = DATE_TIME.match(text)
    if match is None:
        return None
    y, mo, d, h, mi, s, fraction, offset = match.groups()
    nanoseconds = int((fraction or "")[:9].ljust(9, "0"))
    fields = (y, mo, d, h, mi, s)
    if type_name == "datetime":
        if None in fields or offset is None:
            return None
        minutes = 0
        if offset not in ("Z", "z"):
            minutes = (int(offset[1:3]) * 60 + int(offset[4:6])) * (-1 if offset[0] == "-" else 1)
        seconds = (days_from_civil(int(y), int(mo), int(d)) * 86400 + int(h) * 3600 +
                   int(mi) * 60 + int(s) - minutes * 60)
        return seconds * 10**9 + nanoseconds
    if offset is not None:
        return None
    return tuple(None if f is None else int(f) for f in fields) + (nanoseconds,)


def same_scalar(expected, actual):
    kind = expected["type"]
    if actual.get("type") != kind:
        return False
    e, a = expected["value"], actual["value"]
    if not isinstance(a, str):
        return False
    if kind == "float":
        try:
            x, y = float(e), float(a)
        except ValueError:
            return False
        return (math.isnan(x) and math.isnan(y)) or x == y
    if kind in ("datetime", "datetime-local", "date-local", "time-local"):
        key = date_time_key(kind, a)
        return key is not None and key == date_time_key(kind, e)
    return e == a


def is_tagged(v):
    return isinstance(v, dict) and set(v) == {"type", "value"} and isinstance(v["type"], str)


def difference(expected, actual, where="document"):
    """The first difference between two tagged JSON values, or None when they are equal."""
    if is_tagged(expected):
        if not isinstance(actual, dict) or not same_scalar(expected, actual):
            return f"{where}: expected {json.dumps(expected)}, got {json.dumps(actual)}"
        return None
    if isinstance(expected, list):
        if not isinstance(actual, list) or len(actual) != len(expected):
            return f"{where}: expected an array of {len(expected)}, got {json.dumps(actual)[:80]}"
        for i, (e, a) in enumerate(zip(expected, actual)):
            found = difference(e, a, f"{where}[{i}]")
            if found:
                return found
        return None
    if not isinstance(actual, dict) or is_tagged(actual):
        return f"{where}: expected a table, got {json.dumps(actual)[:80]}"
    if set(actual) != set(expected):
        return f"{where}: keys {sorted(actual)} instead of {sorted(expected)}"
    for key in expected:
        found = difference(expected[key], actual[key], f"{where}.{key}")
        if found:
            return found
    return None


def decode(decoder, case_path):
    """(exit status or None on a hang, standard output as text, standard error)."""
    try:
        done = subprocess.run([decoder], input=case_path.read_bytes(), capture_output=True,
                              timeout=TIME_LIMIT_SECONDS)
    except subprocess.TimeoutExpired:
        return None, "", ""
    return (done.returncode, done.stdout.decode("utf-8", errors="replace"),
            done.stderr.decode("utf-8", errors="replace").strip())


def run_valid(decoder, toml_path):
    """None when the case passes, else the reason."""
    status, out, err = decode(decoder, toml_path)
    if status is None:
        return f"no answer within {TIME_LIMIT_SECONDS} s"
    if status != 0:
        return f"refused (status {status}): {err[:200]}"
    try:
        actual = json.loads(out)
    except ValueError as e:
        return f"output is not JSON ({e})"
    expected = json.loads(toml_path.with_suffix(".json").read_text(encoding="utf-8"))
    return difference(expected, actual)


def run_invalid(decoder, toml_path):
    """'rejected', 'accepted', or the reason the decoder failed (a crash or a hang)."""
    status, _, _ = decode(decoder, toml_path)
    if status is None:
        return f"no answer within {TIME_LIMIT_SECONDS} s"
    if status < 0:
        return f"killed by signal {-status}"
    return "rejected" if status != 0 else "accepted"


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    decoder, corpus = argv[1], pathlib.Path(argv[2])
    skip_file = corpus / "by-design-skips.txt"
    if not (corpus / "valid").is_dir() or not skip_file.is_file():
        print(f"toml_conformance: no corpus at {corpus}", file=sys.stderr)
        return 2
    skips = read_skips(skip_file)

    def name_of(path):
        return path.relative_to(corpus).with_suffix("").as_posix()

    valid = sorted((corpus / "valid").rglob("*.toml"))
    invalid = sorted((corpus / "invalid").rglob("*.toml"))
    skipped = [p for p in valid if any(fnmatch.fnmatchcase(name_of(p), s) for s in skips)]
    valid = [p for p in valid if p not in skipped]

    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        valid_results = list(pool.map(lambda p: run_valid(decoder, p), valid))
        invalid_results = list(pool.map(lambda p: run_invalid(decoder, p), invalid))

    failures = [(name_of(p), r) for p, r in zip(valid, valid_results) if r is not None]
    failures += [(name_of(p), r) for p, r in zip(invalid, invalid_results)
                 if r not in ("rejected", "accepted")]
    for name, reason in failures:
        print(f"FAIL {name}: {reason}")
    rejected = invalid_results.count("rejected")
    print(f"valid: {len(valid) - sum(r is not None for r in valid_results)} of {len(valid)} "
          f"passed, {len(skipped)} skipped by design")
    print(f"invalid: {rejected} of {len(invalid)} rejected (information only)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
