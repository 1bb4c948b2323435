#!/usr/bin/env python3
"""Builds the fuzzer's seed corpus and dictionary.

Usage: make_seeds.py OUTDIR

OUTDIR receives every real file of tests/corpus/binary (broken ones
included), every kept regression input of tests/regressions, and a set of
small crafted files that reach each object kind, extended counts, wide
references, shared and nested containers. OUTDIR/bplist.dict receives a
libFuzzer dictionary of the format's tokens.
"""
import datetime
import os
import plistlib
import shutil
import struct
import sys

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(REPO, "tests", "corpus", "binary")
REGRESSIONS = os.path.join(REPO, "tests", "regressions")


def be(value, width):
    """Big-endian bytes of value, width bytes long."""
    return (value & ((1 << (8 * width)) - 1)).to_bytes(width, "big")


def count_head(kind, count):
    """Marker byte of high nibble kind, with an integer count object when count >= 15."""
    if count < 15:
        return bytes([kind << 4 | count])
    exp = 0 if count <= 0xFF else 1 if count <= 0xFFFF else 2 if count <= 0xFFFFFFFF else 3
    return bytes([kind << 4 | 0xF, 0x10 | exp]) + be(count, 1 << exp)


def build(objects, top=0, ref_size=1, offset_size=None):
    """A whole file from objects given as (head bytes, [references])."""
    body = bytearray(b"bplist00")
    offsets = []
    for head, refs in objects:
        offsets.append(len(body))
        body += head
        for r in refs:
            body += be(r, ref_size)
    table = len(body)
    if offset_size is None:
        offset_size = 1 if table < 0x100 else 2 if table < 0x10000 else 4
    for off in offsets:
        body += be(off, offset_size)
    body += bytes(6) + bytes([offset_size, ref_size])
    body += be(len(objects), 8) + be(top, 8) + be(table, 8)
    return bytes(body)


def string(text):
    data = text.encode("ascii")
    return (count_head(0x5, len(data)) + data, [])


def utf16(text):
    data = text.encode("utf-16-be")
    return (count_head(0x6, len(data) // 2) + data, [])


def array(refs):
    return (count_head(0xA, len(refs)), list(refs))


def dictionary(pairs):
    return (count_head(0xD, len(pairs)), [k for k, _ in pairs] + [v for _, v in pairs])


def raw(data):
    return (bytes(data), [])


def crafted():
    """Small hand-made files, each reaching a different part of the reader."""
    files = {}
    # The smallest dictionary: "a" -> 1.
    files["dict_one_pair"] = build([dictionary([(1, 2)]), string("a"), raw(b"\x10\x01")])
    # Every scalar kind as an array element.
    kinds = [
        string("text & <tags>"), utf16("\u00e9\u4e2d\U0001F600"), raw(b"\x10\x7f"),
        raw(b"\x11\x01\x00"), raw(b"\x12" + be(70000, 4)), raw(b"\x13" + be(-5, 8)),
        raw(b"\x14" + bytes(8) + be(2**64 - 1, 8)), raw(b"\x22" + struct.pack(">f", 2.5)),
        raw(b"\x23" + struct.pack(">d", -1234567.891)), raw(b"\x33" + struct.pack(">d", -1.5)),
        raw(b"\x43abc"), raw(b"\x40"), raw(b"\x09"), raw(b"\x08"), raw(b"\x80\x05"),
        raw(b"\x81\x01\x00"), raw(b"\x00"), raw(b"\x0f"), raw(b"\x50"),
    ]
    files["every_kind"] = build([array(range(1, len(kinds) + 1))] + kinds)
    # Extended counts for strings, data and containers.
    long_text = "x" * 300
    files["extended_counts"] = build([
        dictionary([(1, 2), (3, 4)]), string(long_text), (count_head(0x4, 20) + bytes(range(20)), []),
        string("k"), array([1] * 16),
    ])
    # Two-byte references and offsets: more than 255 objects.
    many = [string("s%d" % i) for i in range(300)]
    files["wide_refs"] = build([array(range(1, 301))] + many, ref_size=2, offset_size=2)
    # Eight-byte references and offsets.
    files["ref8_off8"] = build([dictionary([(1, 2)]), string("k"), string("v")], ref_size=8,
                               offset_size=8)
    # A shared child referenced many times, and a top object that is not first.
    files["shared_child"] = build([string("leaf"), array([0, 0, 0]), array([1, 1, 1, 1]),
                                   dictionary([(0, 2)])], top=3)
    # Nesting a few levels deep.
    chain = [array([i + 1]) for i in range(40)] + [string("bottom")]
    files["deep_chain"] = build(chain)
    # A container that contains itself.
    files["self_array"] = build([array([0])])
    # A dictionary with a UID key and a real key.
    files["odd_keys"] = build([dictionary([(1, 3), (2, 3)]), raw(b"\x80\x07"),
                               raw(b"\x23" + struct.pack(">d", 0.5)), string("v")])
    # plistlib's own output of a mixed document.
    files["plistlib_mixed"] = plistlib.dumps({
        "int": [0, 1, 255, 256, 65536, 2**31, 2**63 - 1, 2**64 - 1, -1, -2**63],
        "real": [0.0, -0.0, 1e-300, 1e300, 0.1, float("inf")],
        "date": [datetime.datetime(2001, 1, 1), datetime.datetime(1, 1, 1),
                 datetime.datetime(9999, 12, 31, 23, 59, 59)],
        "data": [b"", b"\x00\xff" * 40], "bool": [True, False],
        "uid": [plistlib.UID(0), plistlib.UID(300), plistlib.UID(2**40)],
        "text": ["", "plain", "caf\u00e9", "\U0001F600"],
    }, fmt=plistlib.FMT_BINARY)
    return files


DICTIONARY_TOKENS = [
    b"bplist00", b"bplist", b"\x00\x00\x00\x00\x00\x00", b"\x01\x01", b"\x02\x02", b"\x08\x08",
    b"\x10", b"\x11", b"\x12", b"\x13", b"\x14", b"\x22", b"\x23", b"\x33", b"\x40", b"\x4f\x10",
    b"\x50", b"\x5f\x10", b"\x5f\x12", b"\x5f\x13", b"\x60", b"\x6f\x10", b"\x80", b"\x87",
    b"\xa0", b"\xaf\x10", b"\xaf\x12\x80\x00\x00\x00", b"\xd0", b"\xdf\x10", b"\x09", b"\x08",
    b"\x00", b"\x0f", b"\xff\xff\xff\xff\xff\xff\xff\xff", b"\x7f\xff\xff\xff",
    b"\x80\x00\x00\x00\x00\x00\x00\x00",
]


def write_dictionary(path):
    with open(path, "w") as f:
        for token in DICTIONARY_TOKENS:
            f.write('"' + "".join("\\x%02x" % b for b in token) + '"\n')


def copy_dir(src, dest, prefix):
    if not os.path.isdir(src):
        return 0
    copied = 0
    for name in sorted(os.listdir(src)):
        path = os.path.join(src, name)
        if os.path.isfile(path):
            shutil.copyfile(path, os.path.join(dest, prefix + name))
            copied += 1
    return copied


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_seeds.py OUTDIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    count = copy_dir(CORPUS, out, "corpus-")
    count += copy_dir(os.path.join(CORPUS, "broken"), out, "broken-")
    count += copy_dir(REGRESSIONS, out, "regression-")
    for name, data in crafted().items():
        with open(os.path.join(out, "crafted-" + name), "wb") as f:
            f.write(data)
        count += 1
    write_dictionary(os.path.join(out, "bplist.dict"))
    print("%d seeds in %s" % (count, out))


if __name__ == "__main__":
    main()
