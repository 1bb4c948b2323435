#!/usr/bin/env python3
"""Cross-checks tarnwick's JSON output (-j) against independent references.

Usage: json_crosscheck.py TARNWICK CORPUS_DIR [COUNT]

The expected values are worked out here, from the trees this script writes
with a binary writer of its own (every kind the format has: null and fill
objects, sets, 4-byte reals, 16-byte integers, 8-bit strings that are not
UTF-8, UTF-16 strings, UIDs of every width) and from what Python's plistlib
reads from the corpus. Every document must be valid JSON (json.loads with
NaN and the infinities refused) with CR LF line ends, and read back to the
expected values: integers, strings and reals exactly, dates to the
microsecond in any year (worked out with exact fractions), sets as arrays,
data byte for byte. A file -j refuses must be one the reference refuses
too (a null or fill top object, a date past 64-bit seconds, a file plistlib
cannot read), refused by -c with the same messages.

Prints one line per failure and ends with 'N passed, M failed'; the exit
status is 1 when anything failed.
"""
import base64
import datetime
import json
import math
import os
import plistlib
import random
import struct
import sys
from fractions import Fraction

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from crosscheck import Converter, Failures, random_string, shared_key_records  # noqa: E402
from plist_layout import count_head, layout  # noqa: E402

EPOCH = datetime.datetime(2001, 1, 1)


# Values this writer can put in a file that plistlib cannot write.
class Null:
    pass


class Fill:
    pass


class Set(list):
    pass


class Real4(float):
    """A real stored in four bytes."""


class Int16(int):
    """An integer stored in sixteen bytes, two's complement."""


class Bytes8(bytes):
    """An 8-bit string given as its bytes."""


class Utf16(str):
    """A string stored as UTF-16 even when it is ASCII."""


class Date(float):
    """Seconds since 2001-01-01T00:00:00Z."""


class Pairs(list):
    """A dictionary as its (key, value) pairs, any kind of key."""


def encode(top):
    """The binary plist of `top`, written without sharing."""
    objects = []

    def add(value):
        index = len(objects)
        objects.append(None)
        objects[index] = body(value)
        return index

    def int_body(v, width=None):
        if width is None:
            width = 1 if 0 <= v < 2**8 else 2 if 0 <= v < 2**16 else 4 if 0 <= v < 2**32 else 8
        log = {1: 0, 2: 1, 4: 2, 8: 3, 16: 4}[width]
        return bytes([0x10 | log]) + (v % 2**(8 * width)).to_bytes(width, "big")

    def body(v):
        # References are patched in after every object has its number.
        if isinstance(v, Null):
            return b"\x00"
        if isinstance(v, Fill):
            return b"\x0f"
        if isinstance(v, bool):
            return b"\x09" if v else b"\x08"
        if isinstance(v, Int16):
            return int_body(int(v), 16)
        if isinstance(v, int):
            return int_body(v, 8 if v < 0 else None)
        if isinstance(v, Date):
            return b"\x33" + struct.pack(">d", v)
        if isinstance(v, Real4):
            return b"\x22" + struct.pack(">f", v)
        if isinstance(v, float):
            return b"\x23" + struct.pack(">d", v)
        if isinstance(v, Bytes8):
            return count_head(0x5, len(v)) + bytes(v)
        if isinstance(v, plistlib.UID):
            width = max(1, (v.data.bit_length() + 7) // 8)
            return bytes([0x80 | (width - 1)]) + v.data.to_bytes(width, "big")
        if isinstance(v, bytes):
            return count_head(0x4, len(v)) + v
        if isinstance(v, str):
            if not isinstance(v, Utf16) and all(ord(ch) < 0x80 for ch in v):
                return count_head(0x5, len(v)) + v.encode("ascii")
            units = v.encode("utf-16-be", "surrogatepass")
            return count_head(0x6, len(units) // 2) + units
        if isinstance(v, Pairs):
            refs = [add(k) for k, _ in v] + [add(val) for _, val in v]
            return (count_head(0xD, len(v)), refs)
        if isinstance(v, (Set, list)):
            refs = [add(e) for e in v]
            return (count_head(0xC if isinstance(v, Set) else 0xA, len(v)), refs)
        raise TypeError(type(v))

    add(top)
    ref_size = 1 if len(objects) < 2**8 else 2 if len(objects) < 2**16 else 4
    return layout(objects, 0, ref_size)


class Fails(Exception):
    """The file cannot be converted (a null or fill top object, a date out of range)."""


def real_value(x):
    if math.isnan(x):
        return "nan"
    if math.isinf(x):
        return "+infinity" if x > 0 else "-infinity"
    return x


def civil(days):
    """(year, month, day) of a day counted from 1970-01-01, proleptic
    Gregorian, any year: era arithmetic over 400-year cycles."""
    days += 719468
    era = days // 146097
    doe = days - era * 146097
    yoe = (doe - doe // 1460 + doe // 36524 - doe // 146096) // 365
    doy = doe - (365 * yoe + yoe // 4 - yoe // 100)
    mp = (5 * doy + 2) // 153
    day = doy - (153 * mp + 2) // 5 + 1
    month = mp + 3 if mp < 10 else mp - 9
    return yoe + era * 400 + (month <= 2), month, day


DAYS_1970_TO_2001 = 11323


def date_text(seconds):
    """The expected text of a date, exact: the fraction rounded to the
    microsecond, half to even (Python rounds a Fraction so), any year that
    64-bit whole seconds reach, with at least four digits and a minus sign
    before year 0000."""
    if not math.isfinite(seconds) or not -2**63 <= math.floor(Fraction(seconds)) < 2**63:
        raise Fails()
    whole, frac = divmod(round(Fraction(seconds) * 10**6), 10**6)
    days, rest = divmod(whole, 86400)
    year, month, day = civil(days + DAYS_1970_TO_2001)
    text = "%s%04d-%02d-%02dT%02d:%02d:%02d" % ("-" if year < 0 else "", abs(year), month, day,
                                                rest // 3600, rest // 60 % 60, rest % 60)
    return {text + (("." + "%06d" % frac).rstrip("0") if frac else "") + "Z"}


def text_of_8bit(b):
    try:
        return b.decode("utf-8")
    except UnicodeDecodeError:
        return b.decode("latin-1")


# Stands for a fill value in a dictionary: written as null, or left out.
FILL_VALUE = object()


def expected(v, top=False):
    """What json.loads should give for `v` (dictionaries as ('obj', pairs));
    a date is a set of allowed texts, a 4-byte real ('real4', bytes)."""
    if isinstance(v, (Null, Fill)):
        if top:
            raise Fails()
        return None
    if isinstance(v, bool):
        return v
    if isinstance(v, Int16):
        return int(v) % 2**64
    if isinstance(v, int):
        return int(v)
    if isinstance(v, Date):
        return date_text(float(v))
    if isinstance(v, Real4):
        return ("real4", struct.pack(">f", v)) if math.isfinite(v) else real_value(float(v))
    if isinstance(v, float):
        return real_value(float(v))
    if isinstance(v, Bytes8):
        return text_of_8bit(bytes(v))
    if isinstance(v, plistlib.UID):
        return ("obj", [("CF$UID", v.data)])
    if isinstance(v, bytes):
        return base64.b64encode(v).decode("ascii")
    if isinstance(v, str):
        return str(v)
    if isinstance(v, Pairs):
        pairs = []
        for k, val in v:
            if isinstance(k, (Null, Fill)):
                expected(val)  # left out whole, but still read: a date past 64 bits fails
                continue
            if isinstance(val, Fill):
                pairs.append((k, FILL_VALUE))  # null or left out: see same()
                continue
            pairs.append((k, expected(val)))
        return ("obj", pairs)
    if isinstance(v, list):
        return [expected(e) for e in v if not isinstance(e, Fill)]
    raise TypeError(type(v))


def same(want, got, path="top"):
    """A description of the first difference, or None."""
    if isinstance(want, set):
        return None if got in want else "%s: date %r, expected one of %r" % (path, got, sorted(want))
    if isinstance(want, tuple) and want[0] == "real4or8":
        return same(want[1], got, path) if got == want[1] else same(("real4", struct.pack(">f", want[1])), got, path)
    if isinstance(want, tuple) and want[0] == "real4":
        ok = isinstance(got, float) and struct.pack(">f", got) == want[1]
        return None if ok else "%s: 4-byte real %r read back as %r" % (path, struct.unpack(">f", want[1])[0], got)
    if isinstance(want, tuple):
        if not (isinstance(got, tuple) and got[0] == "obj"):
            return "%s: expected an object, got %r" % (path, got)
        wp, gp = want[1], list(got[1])
        # A fill value is written as null or its entry is left out.
        for i, (k, val) in enumerate(wp):
            if val is FILL_VALUE:
                if i < len(gp) and gp[i] == (k, None):
                    wp = wp[:i] + [(k, None)] + wp[i + 1:]
        wp = [p for p in wp if p[1] is not FILL_VALUE]
        if len(wp) != len(gp):
            return "%s: %d entries, got %d" % (path, len(wp), len(gp))
        for (wk, wv), (gk, gv) in zip(wp, gp):
            if isinstance(wk, str) and wk != gk:
                return "%s: key %r, got %r" % (path, wk, gk)
            if not isinstance(gk, str):
                return "%s: key %r is not a string" % (path, gk)
            d = same(wv, gv, "%s[%r]" % (path, gk))
            if d:
                return d
        return None
    if isinstance(want, list):
        if not isinstance(got, list) or len(want) != len(got):
            return "%s: %r, got %r" % (path, want, got)
        for i, (w, g) in enumerate(zip(want, got)):
            d = same(w, g, "%s[%d]" % (path, i))
            if d:
                return d
        return None
    if isinstance(want, float):
        ok = isinstance(got, float) and struct.pack(">d", want) == struct.pack(">d", got)
        return None if ok else "%s: real %r read back as %r" % (path, want, got)
    if type(want) is not type(got) or want != got:
        return "%s: %r read back as %r" % (path, want, got)
    return None


def refuse_constant(name):
    raise ValueError("bare %s is not JSON" % name)


def parse(document):
    """The value of a JSON document, dictionaries as ('obj', pairs); a
    description of the problem when it is not valid."""
    text = document.decode("utf-8")  # raises on invalid UTF-8
    if "\n" in text.replace("\r\n", "") or "\r" in text.replace("\r\n", ""):
        raise ValueError("a line does not end with CR LF")
    return json.loads(text, object_pairs_hook=lambda p: ("obj", p), parse_constant=refuse_constant)


# Random trees of every kind.
REALS = [0.0, -0.0, 1.0, 3.0, -1.5, 0.1, 1e300, -1e-300, 5e-324, 2.2250738585072014e-308,
         2.225073858507201e-308, 1.7976931348623157e308, 2.0**63, 2.0**64, 1e16, 1e15, 123456789012345678.0,
         1e-5, 9.99999e-6, 1e21, 1e22, float("nan"), float("inf"), float("-inf")]
DATES = [0.0, -0.5, 0.5, 1e-7, 4e-7, 5e-7, 6e-7, 0.0078125, 59.9999996, -63113904000.0, -63114076800.0,
         -63082281600.0, 252423993599.0, 252423993599.999999, 694224000.123456, -978307200.25,
         700000000.0000005, 1.5e-6, 0.1, -0.1, 86399.9999999, 2.50000000000000010e-06, -1e-300, 1e-300,
         -63145526400.5, -63145526401.0, 252423993600.0, 3e11, -1e12, 9.2e18, -9.2e18, 9.3e18,
         -9223372036854775808.0, 9223372036854774784.0, 9223372036854775808.0, -9223372036854777856.0]
CONTROL = "".join(chr(c) for c in range(0x20)) + "\"\\/\x7f\u2028\u00e9\U0001F600"


def random_tree(rng, depth):
    kind = rng.randrange(20 if depth > 0 else 16)
    if kind == 0:
        return rng.choice(REALS) if rng.random() < 0.5 else math.ldexp(rng.random(), rng.randrange(-1074, 1024))
    if kind == 1:
        return Real4(struct.unpack(">f", struct.pack(">f", rng.choice([0.1, 1.0, -2.5, 3.4e38, 1e-45, 1e-40])))[0])
    if kind == 2:
        return rng.choice([0, 1, -1, 255, 2**63 - 1, -2**63, rng.randrange(-2**63, 2**63)])
    if kind == 3:
        return Int16(rng.choice([2**63, 2**64 - 1, -1, 5, -2**63]))
    if kind == 4:
        pick = rng.random()
        if pick < 0.15:  # a few units of the last place from half a microsecond
            near = (rng.randrange(-10**9, 10**9) + 0.5) / 1e6
            for _ in range(rng.randrange(-3, 4)):
                near = math.nextafter(near, math.inf)
            return Date(near)
        return Date(rng.choice(DATES) if pick < 0.5 else rng.uniform(-6e10, 2.5e11) if pick < 0.8 else
                    math.ldexp(rng.uniform(-1, 1), rng.randrange(-40, 66)))
    if kind == 5:
        return bytes(rng.randrange(256) for _ in range(rng.choice([0, 1, 2, 3, 4, 57])))
    if kind == 6:
        return "".join(rng.choice(CONTROL) for _ in range(rng.randrange(12)))
    if kind == 7:
        return Bytes8(bytes(rng.randrange(256) for _ in range(rng.randrange(8))))
    if kind == 8:
        return Utf16(random_string(rng))
    if kind == 9:
        return plistlib.UID(rng.choice([0, 1, 255, 256, 2**32, 2**64 - 1]))
    if kind == 10:
        return rng.random() < 0.5
    if kind == 11:
        return Null()
    if kind == 12:
        return Fill()
    if kind in (13, 14, 15):
        return random_string(rng)
    size = rng.choice([0, 1, 2, 3, 15, 16, 20])
    if kind == 16:
        return Set(random_tree(rng, depth - 1) for _ in range(size))
    if kind in (17, 18):
        return [random_tree(rng, depth - 1) for _ in range(size)]
    keys = [Null() if rng.random() < 0.05 else Fill() if rng.random() < 0.05 else random_string(rng)
            for _ in range(size)]
    return Pairs((k, random_tree(rng, depth - 1)) for k in keys)


def random_trees(count, seed=20261207):
    rng = random.Random(seed)
    trees = [random_tree(rng, rng.randrange(1, 5)) for _ in range(count)]
    trees += [[r] for r in REALS] + [[Date(d)] for d in DATES]
    trees += [[Fill(), Fill(), 1, Fill(), 2], [Fill()], Pairs([("a", Null()), (Null(), 1), ("b", Fill())])]
    trees.append(list(range(70000)))  # 4-byte references, a long array
    return trees


# The corpus: what plistlib reads, under the same mapping.
def from_plistlib(v):
    if isinstance(v, dict):
        return ("obj", [(k, from_plistlib(x)) for k, x in v.items()])
    if isinstance(v, list):
        return [from_plistlib(x) for x in v]
    if isinstance(v, plistlib.UID):
        return ("obj", [("CF$UID", v.data)])
    if isinstance(v, datetime.datetime):
        # plistlib has rounded the stored double to the microsecond already.
        text = "%04d-%02d-%02dT%02d:%02d:%02d" % v.timetuple()[:6]
        return {text + (("." + "%06d" % v.microsecond).rstrip("0") if v.microsecond else "") + "Z"}
    if isinstance(v, bytes):
        return base64.b64encode(v).decode("ascii")
    if isinstance(v, float) and math.isfinite(v) and struct.unpack(">f", struct.pack(">f", v))[0] == v:
        # plistlib widens a 4-byte real: its shortest float text may be what
        # stands in the document.
        return ("real4or8", v)
    if isinstance(v, float):
        return real_value(v)
    return v


def check(conv, results, name, data, want):
    """`want`: the expected value, None for 'check validity only', or Fails."""
    code, printed, doc, _ = conv.run(data, "-j")
    xml_code, xml_printed, _, _ = conv.run(data, "-c")
    # A refusal passes only where the reference predicts one: a value that
    # cannot be written, or a file plistlib cannot read (want None).
    if want is Fails or (want is None and code != 0):
        ok = code == xml_code and printed == xml_printed and code != 0 and doc is None
        results.check(ok, name, "-j exit %s printed %r; -c exit %s printed %r" %
                      (code, printed[:200], xml_code, xml_printed[:200]))
        return
    if code != 0:
        results.check(False, name, "-j refused a file the reference converts: exit %s printed %r" %
                      (code, printed[:200]))
        return
    try:
        got = parse(doc)
    except Exception as e:
        results.check(False, name, "not valid JSON: %s" % e)
        return
    results.check(want is None or same(want, got) is None, name, want is not None and same(want, got))


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit("usage: json_crosscheck.py TARNWICK CORPUS_DIR [COUNT]")
    tarnwick, corpus = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) == 4 else 300
    results = Failures()
    conv = Converter(tarnwick)
    try:
        for i, tree in enumerate(random_trees(count)):
            try:
                want = expected(tree, top=True)
            except Fails:
                want = Fails
            check(conv, results, "tree #%d" % i, encode(tree), want)
        records = shared_key_records()
        check(conv, results, "keys shared by many dictionaries",
              plistlib.dumps(records, fmt=plistlib.FMT_BINARY, sort_keys=False), from_plistlib(records))
        for name in sorted(os.listdir(corpus)):
            path = os.path.join(corpus, name)
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    data = f.read()
                try:
                    want = from_plistlib(plistlib.loads(data))
                except Exception:
                    want = None  # plistlib refuses it: valid JSON is all that is checked
                check(conv, results, name, data, want)
        broken = os.path.join(corpus, "broken")
        for name in sorted(os.listdir(broken)) if os.path.isdir(broken) else []:
            with open(os.path.join(broken, name), "rb") as f:
                check(conv, results, "broken/" + name, f.read(), None)
    finally:
        conv.close()
    print("%d passed, %d failed" % (results.passed, results.failed))
    return 1 if results.failed else 0


if __name__ == "__main__":
    sys.exit(main())
