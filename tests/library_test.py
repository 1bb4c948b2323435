#!/usr/bin/env python3
"""Checks the Python module tarnwick, imported from beside the library it
loads, against the command line and plistlib.

Usage: library_test.py BUILD_DIR TARNWICK CORPUS_DIR

1. Every corpus file (broken ones included) converts to the bytes
   `tarnwick -c FILE ''` writes, on one thread and on all, or raises
   TarnwickError with the code and the reason the command line prints.
2. loads() equals plistlib.loads on every file plistlib reads, under the
   module's mapping (dates and data as text, UIDs as {"CF$UID": N}). It is
   skipped, with a note, while the library has no JSON format.
3. The date and data helpers read their texts as Python's own parsers do.
"""
import base64
import datetime
import math
import os
import plistlib
import re
import struct
import subprocess
import sys

build, program, corpus = sys.argv[1:4]
sys.path.insert(0, build)
import tarnwick  # noqa: E402

failures = []


def check(ok, name, message):
    if not ok:
        failures.append("%s: %s" % (name, message))
        print("FAIL %s: %s" % (name, message), flush=True)


def command_line(path):
    """The document, or (code, reason) as the command line reports it."""
    run = subprocess.run([program, "-c", path, ""], capture_output=True, timeout=60)
    if run.returncode == 0:
        return run.stdout
    text = run.stdout.decode("utf-8", "replace")
    damaged = re.search(r"is damaged: (.*)\r\n", text)
    if damaged:
        return (tarnwick.DAMAGED, damaged.group(1))
    if "is not a binary plist!" in text:
        return (tarnwick.NOT_BPLIST, None)
    return (tarnwick.UNCONVERTIBLE, None)


def same(p, j):
    """plistlib's value p and the JSON value j agree under the mapping."""
    if isinstance(p, bool) or p is None or isinstance(p, str):
        return p == j
    if isinstance(p, int):
        return isinstance(j, int) and not isinstance(j, bool) and p == j
    if isinstance(p, float):
        if math.isnan(p):
            return j == "nan"
        if math.isinf(p):
            return j == ("+infinity" if p > 0 else "-infinity")
        # A 4-byte real is written as the shortest text of its float value.
        return isinstance(j, float) and (j == p or struct.unpack("f", struct.pack("f", j))[0] == p)
    if isinstance(p, bytes):
        return base64.b64decode(j) == p
    if isinstance(p, datetime.datetime):
        read = datetime.datetime.fromisoformat(j.replace("Z", "+00:00")).replace(tzinfo=None)
        return abs(read - p) <= datetime.timedelta(microseconds=1)
    if isinstance(p, plistlib.UID):
        return j == {"CF$UID": p.data}
    if isinstance(p, (list, tuple)):
        return isinstance(j, list) and len(p) == len(j) and all(map(same, p, j))
    if isinstance(p, dict):
        return (isinstance(j, dict) and list(map(str, p)) == list(j)
                and all(same(v, j[str(k)]) for k, v in p.items()))
    return False


def json_available():
    try:
        tarnwick.to_json(open(os.path.join(corpus, "nbp-sample1.bplist"), "rb").read())
        return True
    except tarnwick.TarnwickError as e:
        if e.code != tarnwick.FORMAT_UNAVAILABLE:
            raise
        return False


check(os.path.dirname(os.path.abspath(tarnwick._lib._name)) == os.path.abspath(build),
      "loading", "the library came from %s, not from beside the module" % tarnwick._lib._name)
with_json = json_available()
if not with_json:
    print("note: this library has no JSON format; loads() is not checked")
paths = sorted(os.path.join(d, f) for d in (corpus, os.path.join(corpus, "broken"))
               for f in os.listdir(d) if os.path.isfile(os.path.join(d, f)) and f != "README.md")
for path in paths:
    name = os.path.basename(path)
    data = open(path, "rb").read()
    expected = command_line(path)
    for threads in (False, True):
        try:
            got = tarnwick.to_xml(data, threads=threads)
        except tarnwick.TarnwickError as e:
            got = (e.code, e.reason if e.code == tarnwick.DAMAGED else None)
        check(got == expected, name, "to_xml(threads=%s) gives %r, the command line %r"
              % (threads, got[:80], expected[:80]))
    if not with_json:
        continue
    try:
        reference = plistlib.loads(data)
    except Exception:
        continue  # plistlib does not read it
    check(same(reference, tarnwick.loads(data)), name, "loads() differs from plistlib")

for text, value in [("2001-01-01T00:00:00Z", datetime.datetime(2001, 1, 1)),
                    ("9999-12-31T23:59:59.999999Z", datetime.datetime.max),
                    ("0001-01-01T00:00:00.5Z", datetime.datetime(1, 1, 1, 0, 0, 0, 500000))]:
    check(tarnwick.to_datetime(text) == value ==
          datetime.datetime.fromisoformat(text.replace("Z", "")), text, "to_datetime differs")
for raw in [b"", b"\x00", b"\xff\xfe\xfd\xfc", bytes(range(256))]:
    check(tarnwick.to_bytes(base64.b64encode(raw).decode()) == raw, repr(raw[:4]), "to_bytes")

print("%d files, %d failures" % (len(paths), len(failures)))
sys.exit(1 if failures else 0)
