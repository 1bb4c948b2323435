#!/usr/bin/env python3
"""Cross-checks tarnwick against Python's plistlib, an independent reader.

Usage: crosscheck.py TARNWICK CORPUS_DIR [COUNT]

1. Builds COUNT (default 300) random property lists with a fixed seed,
   writes each in binary form with plistlib, converts it with tarnwick and
   checks that the XML is well-formed (xmllint --noout) and that plistlib
   reads it back to the same values: reals to 14 decimals or a relative
   1e-14, dates to the second (fractions floored), UIDs as {'CF$UID': n}.
2. Converts every file of CORPUS_DIR: the ones plistlib reads must read
   back to the same values; the others must still give well-formed XML.
3. Every file of CORPUS_DIR/broken must fail cleanly (exit 1, at most the
   damaged line and then the failure line, no output file left) or convert
   to well-formed XML. None may crash or hang.

Prints one line per failure and ends with 'N passed, M failed'; the exit
status is 1 when anything failed.
"""
import datetime
import math
import os
import plistlib
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile

EPOCH = datetime.datetime(2001, 1, 1)
TIMEOUT = 60  # seconds for one conversion; anything near it is a hang

# Characters strings are drawn from: ASCII including the ones XML escapes,
# tab, line feed and carriage return, Latin-1, Greek, CJK and characters
# outside the BMP.
ASCII = [chr(c) for c in range(0x20, 0x7F)] + ["\t", "\n", "\r", "&", "<", ">"]
NON_ASCII = (["\u00e9", "\u00fc", "\u00df", "\u00a0", "\u03a9", "\u4e2d", "\u6587", "\u2603", "\ufffd"]
             + ["\U0001F600", "\U0001D11E", "\U00010348"])


class Failures:
    """Counts checks and collects the messages of the ones that failed."""

    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, name, message):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print("FAIL %s: %s" % (name, message), flush=True)


def random_string(rng):
    length = rng.choice([0, 1, 2, 5, 10, 20, 40, 100])
    pool = ASCII if rng.random() < 0.6 else ASCII + NON_ASCII * 4
    return "".join(rng.choice(pool) for _ in range(length))


def random_int(rng):
    kind = rng.randrange(8)
    if kind == 0:
        return rng.choice([0, 1, 255, 256, 65535, 65536, 2**32 - 1, 2**32, 2**63 - 1, 2**63,
                           2**64 - 1, -1, -128, -129, -2**31, -2**63])
    if kind == 1:
        return rng.randrange(0, 256)
    if kind == 2:
        return rng.randrange(256, 65536)
    if kind == 3:
        return rng.randrange(65536, 2**32)
    if kind == 4:
        return rng.randrange(2**32, 2**63)
    if kind == 5:
        return rng.randrange(2**63, 2**64)
    return -rng.randrange(1, 2**63 + 1) if kind == 6 else -rng.randrange(1, 1000)


def random_real(rng):
    kind = rng.randrange(8)
    if kind == 0:
        return rng.choice([0.0, -0.0, 1.0, -1.0, 0.5, 0.1, 0.7, 3.0, 1e-5, 9.99999e-6, 5e-324,
                           2.2250738585072014e-308, 1.7976931348623157e308, 2.0**63, 2.0**64,
                           1.9999999999999998, 1234567.891, 0.5875806061435594,
                           float("inf"), float("-inf")])
    if kind == 1:
        return rng.uniform(-1, 1)
    if kind == 2:
        return rng.uniform(-1e6, 1e6)
    if kind == 3:
        return math.ldexp(rng.random(), rng.randrange(-1074, -16))  # tiny, subnormal included
    if kind == 4:
        return -math.ldexp(rng.random() + 0.5, rng.randrange(60, 1023))  # huge
    if kind == 5:
        return float(rng.randrange(-2**53, 2**53))
    return rng.uniform(-100, 100) * 10.0 ** rng.randrange(-20, 20)


def random_date(rng):
    kind = rng.randrange(4)
    if kind == 0:
        return rng.choice([EPOCH, datetime.datetime(1, 1, 1), datetime.datetime(9999, 12, 31, 23, 59, 59),
                           datetime.datetime(2000, 12, 31, 23, 59, 59, 500000),
                           datetime.datetime(1970, 1, 1), datetime.datetime(2000, 2, 29, 12),
                           datetime.datetime(1900, 3, 1), datetime.datetime(2100, 2, 28, 23, 59, 59)])
    low, high = (datetime.datetime(1, 1, 1), datetime.datetime(9999, 12, 31)) if kind == 1 else \
        (datetime.datetime(1950, 1, 1), datetime.datetime(2050, 1, 1))
    span = int((high - low).total_seconds())
    micro = rng.randrange(1000000) if rng.random() < 0.5 else 0
    return low + datetime.timedelta(seconds=rng.randrange(span), microseconds=micro)


def random_data(rng):
    return bytes(rng.randrange(256) for _ in range(rng.choice([0, 0, 1, 2, 3, 4, 16, 57, 300])))


def random_scalar(rng):
    kind = rng.randrange(8)
    return [random_string, random_int, random_real, random_date, random_data,
            lambda r: r.random() < 0.5, lambda r: plistlib.UID(random_int(r) % 2**64),
            random_string][kind](rng)


def random_value(rng, depth, shared):
    """A random value; containers nest up to `depth` levels and sometimes
    reuse an earlier container, which plistlib then writes once and refers
    to from several places."""
    if depth > 0 and rng.random() < 0.35:
        if shared and rng.random() < 0.15:
            return rng.choice(shared)
        size = rng.choice([0, 1, 2, 3, 5, 8, 14, 15, 16, 30])
        if rng.random() < 0.5:
            value = [random_value(rng, depth - 1, shared) for _ in range(size)]
        else:
            value = {random_string(rng): random_value(rng, depth - 1, shared) for _ in range(size)}
        shared.append(value)
        return value
    return random_scalar(rng)


def random_plists(count, seed=20240607):
    rng = random.Random(seed)
    plists = []
    for _ in range(count):
        top = random_value(rng, rng.randrange(0, 6), [])
        plists.append(top)
    # Many objects: 2-byte references, then 4-byte ones.
    plists.append([random_string(rng) + str(i) for i in range(1000)])
    plists.append({"k%d" % i: i * 7919 for i in range(40000)})
    return plists


def xml_text(text):
    """A string as XML 1.0 carries it: the characters it cannot hold (C0
    controls but tab, line feed and carriage return, surrogates, U+FFFE and
    U+FFFF) as U+FFFD."""
    return "".join("\ufffd" if (ord(ch) < 0x20 and ch not in "\t\n\r") or 0xD800 <= ord(ch) < 0xE000
                   or ord(ch) in (0xFFFE, 0xFFFF) else ch for ch in text)


def expected_value(value):
    """The value plistlib should read back from the XML."""
    if isinstance(value, str):
        return xml_text(value)
    if isinstance(value, plistlib.UID):
        return {"CF$UID": value.data}
    if isinstance(value, datetime.datetime):
        seconds = (value - EPOCH).total_seconds()  # the double stored in the file
        return EPOCH + datetime.timedelta(seconds=math.floor(seconds))
    if isinstance(value, dict):
        return {xml_text(k): expected_value(v) for k, v in value.items()}
    if isinstance(value, list):
        return [expected_value(v) for v in value]
    return value


def same_real(want, got):
    if math.isinf(want) or math.isinf(got):
        return want == got
    diff = abs(want - got)
    return diff <= 1e-14 or diff <= 1e-14 * abs(want)


def difference(want, got, path="top"):
    """A description of the first difference between two values, or None."""
    if isinstance(want, bool) or isinstance(got, bool):
        return None if type(want) is type(got) and want == got else "%s: %r != %r" % (path, want, got)
    if isinstance(want, float) and isinstance(got, float):
        return None if same_real(want, got) else "%s: real %r read back as %r" % (path, want, got)
    if type(want) is not type(got):
        return "%s: %r (%s) read back as %r (%s)" % (path, want, type(want).__name__, got, type(got).__name__)
    if isinstance(want, dict):
        if sorted(want) != sorted(got):
            return "%s: keys %r != %r" % (path, sorted(want)[:5], sorted(got)[:5])
        for k in want:
            d = difference(want[k], got[k], "%s[%r]" % (path, k))
            if d:
                return d
        return None
    if isinstance(want, list):
        if len(want) != len(got):
            return "%s: %d elements read back as %d" % (path, len(want), len(got))
        for i, (w, g) in enumerate(zip(want, got)):
            d = difference(w, g, "%s[%d]" % (path, i))
            if d:
                return d
        return None
    return None if want == got else "%s: %r read back as %r" % (path, want, got)


class Converter:
    """Runs tarnwick and xmllint on files in a scratch directory."""

    def __init__(self, tarnwick):
        self.tarnwick = tarnwick
        self.dir = tempfile.mkdtemp(prefix="tarnwick-crosscheck-")

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def clear(self):
        for name in os.listdir(self.dir):
            os.unlink(os.path.join(self.dir, name))

    def run(self, data, verb="-c"):
        """Converts `data` with `verb`; returns (exit code, stdout, document
        bytes or None, names left in the dir)."""
        self.clear()
        src = os.path.join(self.dir, "in.plist")
        out = os.path.join(self.dir, "out.xml")
        with open(src, "wb") as f:
            f.write(data)
        try:
            run = subprocess.run([self.tarnwick, verb, src, out], capture_output=True, timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            return None, b"", None, []
        xml = None
        if os.path.exists(out):
            with open(out, "rb") as f:
                xml = f.read()
        return run.returncode, run.stdout, xml, sorted(os.listdir(self.dir))

    def well_formed(self, xml):
        """None when xmllint accepts `xml`, else its complaint."""
        path = os.path.join(self.dir, "check.xml")
        with open(path, "wb") as f:
            f.write(xml)
        run = subprocess.run(["xmllint", "--noout", "--nonet", path], capture_output=True)
        os.unlink(path)
        return None if run.returncode == 0 else run.stderr.decode(errors="replace")[:300]


def check_converts(conv, results, name, data, want):
    """Converts `data` and checks the XML; `want` is the expected value or
    None when only well-formedness can be checked."""
    code, stdout, xml, _ = conv.run(data)
    if code != 0 or xml is None:
        results.check(False, name, "exit %s, printed %r" % (code, stdout[:200]))
        return
    problem = conv.well_formed(xml)
    if problem is None and stdout:
        problem = "printed %r on success" % stdout[:200]
    if problem is None and want is not None:
        try:
            problem = difference(want, plistlib.loads(xml))
        except Exception as e:  # a reader error is a failed check, not a crash of the test
            problem = "plistlib cannot read the XML: %s" % e
    results.check(problem is None, name, problem)


def raw_plist(objects, top):
    """A binary plist of the given object bytes (one-byte references and
    offsets), `top` the top object's number."""
    body = b"bplist00"
    offsets = []
    for o in objects:
        offsets.append(len(body))
        body += o
    table = len(body)
    body += bytes(offsets)
    return body + bytes(6) + bytes([1, 1]) + struct.pack(">QQQ", len(objects), top, table)


def left_out_entries():
    """Issue 14, fault 2: dictionaries whose entries have null (0x00) or fill
    (0x0F) keys or values, and the value the document must read back as."""
    # 0 null, 1 fill, 2 "k", 3 "v", 4 "w"; the top dictionary is object 5.
    scalars = [b"\x00", b"\x0f", b"\x51k", b"\x51v", b"\x51w"]
    cases = [
        ("null value", [(2, 0)], {}),
        ("fill value", [(2, 1)], {}),
        ("null key", [(0, 3)], {}),
        ("fill key", [(1, 3)], {}),
        ("null and fill keys and values", [(0, 0), (1, 1), (0, 1), (1, 0)], {}),
        ("kept entry between left-out ones", [(0, 3), (2, 4), (2, 1)], {"k": "w"}),
    ]
    for name, entries, want in cases:
        top = bytes([0xD0 | len(entries)]) + bytes(k for k, _ in entries) + bytes(v for _, v in entries)
        yield "left-out entries: " + name, raw_plist(scalars + [top], 5), want


def check_broken(conv, results, name, data):
    """A damaged file fails cleanly or converts to well-formed XML."""
    code, stdout, xml, left = conv.run(data)
    src = os.path.join(conv.dir, "in.plist").encode()
    failure = b"Error: Unable convert file " + src + b"\r\n"
    if code == 0:
        problem = "no output file" if xml is None else conv.well_formed(xml)
        results.check(problem is None, name, problem)
        print("  %s: converted" % name)
        return
    damaged = re.fullmatch(re.escape(b"File " + src + b" is damaged: ") + rb"[^\r\n]+\r\n" + re.escape(failure),
                           stdout)
    clean = code == 1 and (damaged or stdout == failure) and left == ["in.plist"]
    results.check(clean, name, "exit %s, printed %r, left %r" % (code, stdout[:300], left))
    print("  %s: %s" % (name, "damaged" if damaged else "failed" if clean else "NOT CLEAN"))


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit("usage: crosscheck.py TARNWICK CORPUS_DIR [COUNT]")
    tarnwick, corpus = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) == 4 else 300
    if shutil.which("xmllint") is None:
        sys.exit("xmllint is missing (Debian package libxml2-utils)")
    results = Failures()
    conv = Converter(tarnwick)
    try:
        plists = random_plists(count)
        for i, value in enumerate(plists):
            data = plistlib.dumps(value, fmt=plistlib.FMT_BINARY, sort_keys=False)
            check_converts(conv, results, "random #%d" % i, data, expected_value(value))
        print("random: %d property lists" % len(plists))

        for name, data, want in left_out_entries():
            check_converts(conv, results, name, data, want)

        real = 0
        for name in sorted(os.listdir(corpus)):
            path = os.path.join(corpus, name)
            if not os.path.isfile(path):
                continue
            with open(path, "rb") as f:
                data = f.read()
            try:
                want = expected_value(plistlib.loads(data))
            except Exception:
                want = None  # plistlib refuses it; the XML must still be well-formed
            check_converts(conv, results, name, data, want)
            real += 1
        print("corpus: %d files" % real)

        broken_dir = os.path.join(corpus, "broken")
        broken = sorted(os.listdir(broken_dir)) if os.path.isdir(broken_dir) else []
        for name in broken:
            with open(os.path.join(broken_dir, name), "rb") as f:
                check_broken(conv, results, "broken/" + name, f.read())
        print("broken: %d files" % len(broken))
    finally:
        conv.close()
    print("%d passed, %d failed" % (results.passed, results.failed))
    return 1 if results.failed else 0


if __name__ == "__main__":
    sys.exit(main())
