#!/usr/bin/env python3
"""Cross-checks tarnwick's binary output (-b) against Python's plistlib.

Usage: binary_crosscheck.py TARNWICK CORPUS_DIR [COUNT]

- Random trees (every kind, reals across all exponents and -0.0, long and
  non-ASCII strings, shared values, deep and wide containers, UIDs as
  CF$UID dictionaries) are written by plistlib as XML. plistlib.loads of
  what -b makes of the XML must equal plistlib.loads of the XML, reals bit
  for bit and kinds exactly (true is not 1, 1.0 is not 1). Where the tree
  holds no zero real and no NaN (which plistlib's writer merges), the bytes
  must be those plistlib writes as binary for the same values; everywhere,
  -j of -b's file must equal -j of plistlib's binary.
- Reals and integers given as decimal texts of every length and exponent,
  in XML and in JSON, must read as Python reads them (correctly rounded).
- JSON documents written by the json module (with and without \\u escapes)
  must read back to their values, {"CF$UID": N} as a UID.
- Every corpus file: -b of it reads back to the values plistlib reads from
  the original, -c of it gives the document -c gives of the original, and
  -b of -b's own file gives the same bytes.

Prints one line per failure and ends with 'N passed, M failed'; the exit
status is 1 when anything failed.
"""
import json
import math
import os
import plistlib
import random
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from crosscheck import Converter, Failures, random_date, random_int, random_real, random_string  # noqa: E402


def same(a, b, path="$"):
    """None when a and b are the same values of the same kinds, reals bit
    for bit; else where they differ."""
    if type(a) is not type(b):
        return "%s: %s %r against %s %r" % (path, type(a).__name__, a, type(b).__name__, b)
    if isinstance(a, float):
        if struct.pack(">d", a) != struct.pack(">d", b) and not (math.isnan(a) and math.isnan(b)):
            return "%s: real %r against %r" % (path, a, b)
        return None
    if isinstance(a, dict):
        if list(a) != list(b):
            return "%s: keys %r against %r" % (path, list(a)[:5], list(b)[:5])
        for k in a:
            d = same(a[k], b[k], path + "." + k)
            if d:
                return d
        return None
    if isinstance(a, list):
        if len(a) != len(b):
            return "%s: %d elements against %d" % (path, len(a), len(b))
        for i, (x, y) in enumerate(zip(a, b)):
            d = same(x, y, "%s[%d]" % (path, i))
            if d:
                return d
        return None
    return None if a == b else "%s: %r against %r" % (path, a, b)


def uids(value, made=None):
    """The values with every {"CF$UID": N} dictionary as the UID it is; equal
    UIDs are one object, which plistlib's writer then stores once."""
    made = {} if made is None else made
    if isinstance(value, dict):
        if list(value) == ["CF$UID"] and type(value["CF$UID"]) is int and 0 <= value["CF$UID"] < 2**64:
            return made.setdefault(value["CF$UID"], plistlib.UID(value["CF$UID"]))
        return {k: uids(v, made) for k, v in value.items()}
    if isinstance(value, list):
        return [uids(v, made) for v in value]
    return value


def random_tree(rng, depth=0, shared=None):
    """A tree of every kind XML holds; `shared` values appear more than once."""
    if shared is None:
        shared = [random_string(rng), random_real(rng), random_int(rng), b"\x00shared\xff"]
    roll = rng.random()
    if depth < 6 and roll < 0.25:
        width = rng.choice([0, 1, 3, 8, 20, 300]) if depth < 2 else rng.choice([0, 1, 2, 5])
        if rng.random() < 0.5:
            return [random_tree(rng, depth + 1, shared) for _ in range(width)]
        # No CR in keys: plistlib writes it as LF, which can make two keys one.
        return {random_string(rng).replace("\r", "") if rng.random() < 0.8 else rng.choice(["a", "CF$UID"]):
                random_tree(rng, depth + 1, shared) for _ in range(width)}
    kind = rng.randrange(10)
    if kind == 0:
        return random_string(rng) * rng.choice([1, 1, 1, 50])
    if kind == 1:
        return random_int(rng)
    if kind == 2:
        return random_real(rng)
    if kind == 3:
        return random_date(rng).replace(microsecond=0)
    if kind == 4:
        return bytes(rng.randrange(256) for _ in range(rng.choice([0, 1, 3, 40, 200])))
    if kind == 5:
        return rng.random() < 0.5
    if kind == 6:
        return {"CF$UID": rng.choice([0, 1, 255, 256, 65535, 2**32, 2**64 - 1, rng.randrange(1000)])}
    if kind == 7:
        return rng.choice([float("nan"), 0.0, -0.0, 1.0, 1, True])
    return rng.choice(shared)


def deep_tree(rng, levels):
    tree = random_real(rng)
    for _ in range(levels):
        tree = [tree] if rng.random() < 0.5 else {"k": tree}
    return tree


def merges(value):
    """True when plistlib's writer would merge values -b keeps apart."""
    if isinstance(value, float):
        return value == 0.0 or math.isnan(value)
    if isinstance(value, dict):
        return any(merges(v) for v in value.values())
    if isinstance(value, list):
        return any(merges(v) for v in value)
    return False


def decimal_text(rng):
    digits = "".join(rng.choice("0123456789") for _ in range(rng.choice([1, 3, 17, 20, 40, 800])))
    point = rng.randrange(len(digits) + 1)
    whole = digits[:point].lstrip("0") or "0"  # JSON takes no leading zeros
    text = whole + ("." + digits[point:] if point < len(digits) else "")
    if rng.random() < 0.7:
        text += "e%d" % rng.randrange(-345, 330)
    return ("-" if rng.random() < 0.4 else "") + text


def check_tree(conv, results, name, tree, check_json):
    xml = plistlib.dumps(tree, fmt=plistlib.FMT_XML)
    want = uids(plistlib.loads(xml))
    code, out, got, _ = conv.run(xml, "-b")
    if code != 0 or got is None:
        results.check(False, name, "exit %s, printed %r" % (code, out[:300]))
        return
    try:
        problem = same(want, plistlib.loads(got))
    except Exception as e:  # a reader error is a failed check
        problem = "plistlib cannot read the file: %s" % e
    results.check(problem is None, name, problem)
    reference = plistlib.dumps(want, fmt=plistlib.FMT_BINARY, sort_keys=False)
    if merges(want):
        return
    results.check(got == reference, name + " bytes", "differ from plistlib's binary")
    if check_json:
        mine = conv.run(got, "-j")[2]
        theirs = conv.run(reference, "-j")[2]
        results.check(mine is not None and mine == theirs, name + " -j", "documents differ")


def check_numbers(conv, results, rng, count):
    texts = [decimal_text(rng) for _ in range(count)]
    texts = [t for t in texts if not math.isinf(float(t))]
    ints = [random_int(rng) for _ in range(count)]
    body = "".join("<real>%s</real>" % t for t in texts) + "".join("<integer>%d</integer>" % i for i in ints)
    xml = ('<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><array>%s</array></plist>'
           % body).encode()
    want = [float(t) for t in texts] + ints
    # A JSON number without a point or an exponent is an integer.
    reals = [t if any(c in t for c in ".e") else t + ".0" for t in texts]
    json_doc = ("[%s]" % ",".join(reals + [str(i) for i in ints])).encode()
    for label, doc in (("xml", xml), ("json", json_doc)):
        code, out, got, _ = conv.run(doc, "-b")
        problem = "exit %s, printed %r" % (code, out[:300]) if got is None else same(want, plistlib.loads(got))
        results.check(problem is None, "decimal texts " + label, problem)


def json_tree(rng, depth=0):
    roll = rng.random()
    if depth < 5 and roll < 0.3:
        if rng.random() < 0.5:
            return [json_tree(rng, depth + 1) for _ in range(rng.choice([0, 1, 4, 30]))]
        return {random_string(rng): json_tree(rng, depth + 1) for _ in range(rng.choice([0, 1, 4, 30]))}
    kind = rng.randrange(6)
    if kind == 0:
        return random_string(rng)
    if kind == 1:
        return random_int(rng)
    if kind == 2:
        r = random_real(rng)
        return 0.5 if math.isinf(r) else r
    if kind == 3:
        return rng.random() < 0.5
    if kind == 4:
        return {"CF$UID": rng.randrange(2**64)}
    return random_string(rng).replace("\r", "")


def check_corpus(conv, results, corpus):
    for name in sorted(os.listdir(corpus)):
        path = os.path.join(corpus, name)
        if not os.path.isfile(path):
            continue
        with open(path, "rb") as f:
            original = f.read()
        code, out, got, _ = conv.run(original, "-b")
        if got is None:
            results.check(False, name, "exit %s, printed %r" % (code, out[:300]))
            continue
        try:
            want = plistlib.loads(original)
        except Exception:
            want = None  # plistlib cannot read it: the -c comparison still holds
        if want is not None:
            results.check(same(want, plistlib.loads(got)) is None, name, same(want, plistlib.loads(got)))
        results.check(conv.run(got, "-c")[2] == conv.run(original, "-c")[2], name + " -c", "documents differ")
        results.check(conv.run(got, "-b")[2] == got, name + " again", "-b of -b's file differs")


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit("usage: binary_crosscheck.py TARNWICK CORPUS_DIR [COUNT]")
    tarnwick, corpus = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) == 4 else 2000
    sys.setrecursionlimit(20000)  # plistlib reads and writes the deep trees recursively
    rng = random.Random(20261208)
    results = Failures()
    conv = Converter(tarnwick)
    try:
        for i in range(count):
            tree = random_tree(rng) if i % 50 else deep_tree(rng, rng.choice([100, 500]))
            check_tree(conv, results, "tree %d" % i, tree, i % 5 == 0)
        check_numbers(conv, results, rng, 3000)
        for i in range(count // 10):
            tree = json_tree(rng)
            doc = json.dumps(tree, ensure_ascii=i % 2 == 0).encode()
            code, out, got, _ = conv.run(doc, "-b")
            problem = "exit %s, printed %r" % (code, out[:300]) if got is None else \
                same(uids(tree), plistlib.loads(got))
            results.check(problem is None, "json %d" % i, problem)
        check_corpus(conv, results, corpus)
    finally:
        conv.close()
    print("%d passed, %d failed" % (results.passed, results.failed))
    sys.exit(1 if results.failed else 0)


if __name__ == "__main__":
    main()
