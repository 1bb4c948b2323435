#!/usr/bin/env python3
"""Builds the fuzz targets' seeds and dictionaries from what the repository holds.

Usage: make_seeds.py OUTDIR [MAX_LEN]

OUTDIR/file receives the whole-file seeds: the bundled example, small
crafted files that reach each object kind, extended counts, wide
references, shared and nested containers, interesting reals and dates, and
documents written by Python's plistlib; none longer than MAX_LEN (default
8192), so that libFuzzer cuts none of them and every seed keeps its trailer.
The slow inputs of tests/regressions stay unit tests: their mutants would
stay slow. OUTDIR/real, date, integer, uid, escape8 and escape16 receive
the seeds of the text targets. OUTDIR/file.dict and OUTDIR/number.dict are
libFuzzer dictionaries: the format's markers and trailer shapes with
interesting reals and dates, and the bare 8-byte reals and dates.
"""
import datetime
import json
import math
import os
import plistlib
import random
import shutil
import struct
import sys

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLES = os.path.join(REPO, "examples")

sys.path.insert(0, os.path.join(REPO, "tests"))
from plist_layout import big_endian, count_head, layout  # noqa: E402


# The tests' writer lays the files out (tests/plist_layout.py).
be = big_endian
build = layout


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
    # Every interesting real and date, as array elements and as keys.
    numbers = [raw(b"\x23" + be(bits, 8)) for bits in REALS] + \
              [raw(b"\x33" + struct.pack(">d", s)) for s in DATES]
    files["reals_and_dates"] = build([array(range(1, len(numbers) + 1))] + numbers)
    files["number_keys"] = build([dictionary([(1, 3), (2, 3)]), numbers[0], numbers[-1],
                                  string("v")])
    # Containers sharing children, as keyed archives do.
    files["shared_tree"] = build([dictionary([(1, 2), (3, 4)]), string("a"), array([4, 4, 5]),
                                  string("b"), array([5, 5]), raw(b"\x10\x01")])
    for i in range(8):
        files["plistlib_random_%d" % i] = random_document(random.Random(i))
    files.update(keyed_archives())
    return files


def archive(objects, top):
    """A keyed archive of objects, whose $top is top."""
    return plistlib.dumps({"$version": 100000, "$archiver": "NSKeyedArchiver", "$top": top,
                           "$objects": objects}, fmt=plistlib.FMT_BINARY)


def keyed_archives():
    """Keyed archives holding each class written as a plain value, a loop back
    to the parent, a missing class record and an archive nested in data."""
    U = plistlib.UID

    def cls(name):
        return {"$classname": name, "$classes": [name, "NSObject"]}

    inner = archive(["$null", "inner"], {"root": U(1)})
    objects = [
        "$null",
        {"NS.keys": [U(2), U(3)], "NS.objects": [U(4), U(5)], "$class": U(6)},
        "name", "items", "value",
        {"NS.objects": [U(7), U(8), U(9), U(10), U(11), U(0), U(1), U(19)], "$class": U(12)},
        cls("NSMutableDictionary"),
        {"NS.time": 1.5, "$class": U(13)},
        {"NS.uuidbytes": bytes(range(16)), "$class": U(14)},
        {"NS.relative": U(15), "NS.base": U(20), "$class": U(16)},
        {"NS.string": "s", "$class": U(17)},
        {"NS.data": inner, "$class": U(18)},
        cls("NSArray"), cls("NSDate"), cls("NSUUID"), "../c", cls("NSURL"), cls("NSString"),
        cls("NSData"),
        {"NS.object.1": U(2), "NS.object.0": U(3), "other": U(99), "$class": U(21)},
        {"NS.relative": U(22), "$class": U(16)},
        cls("NSOrderedSet"), "http://a/b/",
    ]
    seeds = {"keyed_archive": archive(objects, {"root": U(1)}),
             "keyed_two_tops": archive(objects, {"a": U(5), "b": U(0)}),
             "keyed_in_data": archive(["$null", {"NS.data": inner, "$class": U(2)}, cls("X")],
                                      {"root": U(1)}),
             "plain_in_data": plistlib.dumps({"d": [plistlib.dumps({"x": 1}, fmt=plistlib.FMT_BINARY)]},
                                             fmt=plistlib.FMT_BINARY)}
    nib = nib_like()
    seeds["keyed_nib"] = nib
    rng = random.Random(2026)
    for i in range(4):  # the same graph with a few bytes of its objects changed
        mutated = bytearray(nib)
        for _ in range(3):
            mutated[rng.randrange(8, len(nib) - 40)] = rng.randrange(256)
        seeds["keyed_nib_mutated_%d" % i] = bytes(mutated)
    return seeds


def nib_like():
    """A dense graph as compiled nibs hold one: views reached through their
    window, superviews, subviews, the next key view and the next responder,
    with colours, fonts, geometry values and index sets among their fields."""
    U = plistlib.UID
    objects = ["$null"]

    def add(obj):
        objects.append(obj)
        return U(len(objects) - 1)

    def cls(name):
        return add({"$classname": name, "$classes": [name, "NSObject"]})

    view, array, color, font, value, indexes = (cls(n) for n in (
        "NSView", "NSMutableArray", "NSColor", "NSFont", "NSValue", "NSIndexSet"))
    white = add({"NSColorSpace": 3, "NSWhite": b"0.5\x00", "$class": color})
    catalog = add({"NSColorSpace": 6, "NSCatalogName": "System", "NSColorName": "controlColor",
                   "NSColor": white, "$class": color})
    monaco = add({"NSName": "Monaco", "NSSize": 10.0, "NSfFlags": 16, "$class": font})
    frame = add({"NS.special": 3, "NS.rectval": "{{0, 0}, {100, 20}}", "$class": value})
    rows = add({"NSRangeCount": 2, "NSRangeData": bytes([0, 3, 10, 20]), "$class": indexes})
    views = [add(None) for _ in range(12)]
    subviews = add({"NS.objects": views, "$class": array})
    for i, slot in enumerate(views):
        objects[slot.data] = {"NSSuperview": views[0], "NSNextKeyView": views[(i + 1) % 12],
                              "NSNextResponder": views[(i + 5) % 12], "NSSubviews": subviews,
                              "NSBackgroundColor": catalog, "NSFont": monaco, "NSFrame": frame,
                              "NSSelection": rows, "NSvFlags": 256 + i, "$class": view}
    return archive(objects, {"root": views[0]})


def random_value(rng, depth):
    """A random plistlib value: containers down to depth 0, then scalars."""
    kind = rng.randrange(10 if depth > 0 else 8)
    if kind == 0:
        return rng.choice(["", "plain", "caf\u00e9 & <x>", "\r\n\t", "\U0001F600\u4e2d"])
    if kind == 1:
        return rng.choice([0, -1, 255, 2**31, -2**63, 2**64 - 1, rng.randrange(-2**40, 2**40)])
    if kind == 2:
        return struct.unpack(">d", be(rng.choice(REALS), 8))[0]
    if kind == 3:
        return datetime.datetime(rng.randrange(1, 10000), rng.randrange(1, 13), 28,
                                 rng.randrange(24), rng.randrange(60), rng.randrange(60))
    if kind == 4:
        return bytes(rng.randrange(256) for _ in range(rng.randrange(20)))
    if kind == 5:
        return rng.random() < 0.5
    if kind == 6:
        return plistlib.UID(rng.choice([0, 1, 255, 65536, 2**40]))
    if kind == 7:
        return rng.uniform(-1e6, 1e6)
    if kind == 8:
        return [random_value(rng, depth - 1) for _ in range(rng.randrange(6))]
    return {"k%d" % i: random_value(rng, depth - 1) for i in range(rng.randrange(6))}


def random_document(rng):
    top = {"k%d" % i: random_value(rng, 3) for i in range(6)}
    return plistlib.dumps(top, fmt=plistlib.FMT_BINARY)


# Bits of 8-byte reals whose texts take the less common paths: fractions
# below 0.00001 under integer parts of every size (2^31 + 2^-21 once never
# finished), both sides of 0.00001, carries into the integer part, rounding
# ties, subnormals, the largest and smallest values, infinities and NaN.
REALS = [
    0x41E0000000000001, 0x41F0000000000001, 0x4200000000000001, 0x4220000000000001,
    0x3FF000010C6F7A0B, 0x3FF0000000000001, 0x4330000000000001, 0x432FFFFFFFFFFFFF,
    0x3EE4F8B588E368F1, 0x3EE4F8B588E368F0, 0x3EE4F8B588E368F2, 0x3FE2CD75D7E4D071,
    0x4132D687E4189375, 0x3FFFFFFFFFFFFFFF, 0x3FEFFFFFFFFFFFFA, 0x3FEFFFFFFFFFFFF9,
    0x3FB999999999999A, 0x3FE6666666666666, 0x3FD5555555555555, 0x3FF0001000000000,
    0x0000000000000001, 0x000FFFFFFFFFFFFF, 0x0010000000000000, 0x7FEFFFFFFFFFFFFF,
    0x43E0000000000000, 0x43F0000000000000, 0x8000000000000000, 0x7FF0000000000000,
    0xFFF0000000000000, 0x7FF8000000000000, 0xC1E0000000000001, 0xBFF000010C6F7A0B,
]

# Dates, as seconds from 2001-01-01: NSDate.distantPast (0000-12-30) and
# distantFuture, the first and last second of years 0, 1 and 9999, leap
# days by the 4, 100 and 400 rules, and a fraction of a second before 2001.
DATES = [
    -63114076800.0, 63113904000.0, -63145526400.0, -63145526400.5, -63113990400.0,
    -63113990400.5, 252423993599.0, 252423993599.9, 252423993600.0, -3187296000.0,
    -31622400.0, -26265600.0, 0.0, -1e-300, 1e-300, 3155760000.0, 5.5, -0.5,
]


# Marker bytes of every kind with short and extended counts, widths and
# extreme 8-byte values.
DICTIONARY_TOKENS = [
    b"bplist00", b"bplist", b"\x00\x00\x00\x00\x00\x00", b"\x01\x01", b"\x02\x02", b"\x08\x08",
    b"\x10", b"\x11", b"\x12", b"\x13", b"\x14", b"\x22", b"\x23", b"\x33", b"\x40", b"\x4f\x10",
    b"\x50", b"\x5f\x10", b"\x5f\x12", b"\x5f\x13", b"\x60", b"\x6f\x10", b"\x80", b"\x87",
    b"\xa0", b"\xaf\x10", b"\xaf\x12\x80\x00\x00\x00", b"\xd0", b"\xdf\x10", b"\x09", b"\x08",
    b"\x00", b"\x0f", b"\xff\xff\xff\xff\xff\xff\xff\xff", b"\x7f\xff\xff\xff",
    b"\x80\x00\x00\x00\x00\x00\x00\x00",
]

# Trailer shapes: the unused bytes with both widths, and small 8-byte
# counts, top objects and table positions.
TRAILER_TOKENS = [bytes(6) + bytes([o, r]) for o in (1, 2, 4, 8) for r in (1, 2, 8)] + \
                 [be(v, 8) for v in (0, 1, 2, 8, 255, 256)]


# XML and JSON: the elements, the XML around them and what is refused
# (entities, declarations), and JSON's punctuation, words and escapes.
XML_TOKENS = [t.encode() for t in [
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "<!DOCTYPE plist SYSTEM \"x\">", "<plist>",
    "</plist>", "<dict>", "</dict>", "<dict/>", "<key>", "</key>", "<array>", "</array>",
    "<array/>", "<string>", "</string>", "<data>", "</data>", "<date>", "</date>", "<integer>",
    "</integer>", "<real>", "</real>", "<true/>", "<false/>", "<key>CF$UID</key>", "<!--", "-->",
    "<![CDATA[", "]]>", "<?pi ?>", "&lt;", "&amp;", "&#x1F600;", "&#65;", "&e;",
    "<!ENTITY e \"x\">", "[", "]", "nan", "-inf", "1e308", "0x7f", "18446744073709551615",
    "2001-01-01T00:00:00Z", "-0001-12-31T23:59:59Z", "AAEC=", "\r\n", "\xc3\xa9", "\xf0\x9f\x98\x80"]]
JSON_TOKENS = [t.encode() for t in [
    "{", "}", "[", "]", ",", ":", "\"", "\"CF$UID\"", "true", "false", "null", "-0", "1e-400",
    "1.5e308", "18446744073709551615", "-9223372036854775808", "\\u00e9", "\\ud83d\\ude00",
    "\\ud800", "\\n", "\xef\xbb\xbf"]]


def text_plists(rng):
    """XML and JSON seeds: plistlib's XML of random values, small documents
    of the kinds that are refused, and JSON of the values JSON holds."""
    xml, json_seeds = {}, {}
    for i in range(12):
        value = {"k%d" % j: random_value(rng, 3) for j in range(4)}
        value = _no_uids(value)
        xml["plistlib-%d" % i] = plistlib.dumps(value, fmt=plistlib.FMT_XML)
        json_seeds["json-%d" % i] = json.dumps(_json_values(value), ensure_ascii=i % 2 == 0).encode()
    xml["uid"] = b"<plist><dict><key>CF$UID</key><integer>7</integer></dict></plist>"
    xml["utf16"] = "<plist><string>\u00e9</string></plist>".encode("utf-16")
    xml["entities"] = b"<!DOCTYPE plist [<!ENTITY a \"b\">]><plist><string>&a;</string></plist>"
    xml["cdata"] = b"<plist><array><string><![CDATA[<x>]]>&#xE9;</string><!-- c --></array></plist>"
    json_seeds["uid"] = b'{"a": {"CF$UID": 3}, "b": [1.5, -0.0, "\\u00e9"]}'
    return xml, json_seeds


def _no_uids(value):
    if isinstance(value, dict):
        return {k: _no_uids(v) for k, v in value.items()}
    if isinstance(value, list):
        return [_no_uids(v) for v in value]
    return {"CF$UID": value.data} if isinstance(value, plistlib.UID) else value


def _json_values(value):
    if isinstance(value, dict):
        return {k: _json_values(v) for k, v in value.items()}
    if isinstance(value, list):
        return [_json_values(v) for v in value]
    if isinstance(value, (bytes, datetime.datetime)):
        return str(value)
    if isinstance(value, float) and (math.isnan(value) or math.isinf(value)):
        return 0.5
    return value


def write_dictionary(path, tokens):
    with open(path, "w") as f:
        for token in tokens:
            f.write('"' + "".join("\\x%02x" % b for b in token) + '"\n')


def write_seeds(directory, seeds, max_len):
    os.makedirs(directory, exist_ok=True)
    for name, data in seeds.items():
        if len(data) > max_len:
            sys.exit("seed %s is %d bytes, longer than %d" % (name, len(data), max_len))
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data)
    return len(seeds)


def text_seeds():
    """Seeds of the text targets, by target."""
    reals = {"real-%016x" % bits: be(bits, 8) for bits in REALS}
    dates = {"date-%d" % i: struct.pack(">d", s) for i, s in enumerate(DATES)}
    integers = {"int-%d-%d" % (n, i): bytes([n]) + pattern
                for n in range(6) for i, pattern in enumerate(
                    [b"", b"\xff" * 64, b"\x80" + bytes(63), b"\x7f" + b"\xff" * 63])}
    uids = {"uid-%d" % n: bytes([n]) + b"\xff" * 16 for n in range(16)}
    text = "caf\u00e9 & <tag> \r\n\t\x00\x01 \u4e2d \U0001F600 \ufffe"
    escape8 = {"utf8": text.encode("utf-8"), "latin1": b"caf\xe9 & <x> \x85\r",
               "overlong": b"\xc0\xaf\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80"}
    escape16 = {"utf16": text.encode("utf-16-be"),
                "lone": b"\xd8\x00\x00a\xdc\x00\xdb\xff\xdf\xff\xff\xfe\xd8\x3d"}
    return {"real": reals, "date": dates, "integer": integers, "uid": uids,
            "escape8": escape8, "escape16": escape16}


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit("usage: make_seeds.py OUTDIR [MAX_LEN]")
    out = sys.argv[1]
    max_len = int(sys.argv[2]) if len(sys.argv) == 3 else 8192
    files = {"crafted-" + name: data for name, data in crafted().items()}
    for name in sorted(os.listdir(EXAMPLES)):
        with open(os.path.join(EXAMPLES, name), "rb") as f:
            files["example-" + name] = f.read()
    count = write_seeds(os.path.join(out, "file"), files, max_len)
    for target, seeds in text_seeds().items():
        count += write_seeds(os.path.join(out, target), seeds, max_len)
    xml, json_seeds = text_plists(random.Random(7))
    count += write_seeds(os.path.join(out, "xml"), xml, max_len)
    count += write_seeds(os.path.join(out, "json"), json_seeds, max_len)
    write_dictionary(os.path.join(out, "xml.dict"), XML_TOKENS)
    write_dictionary(os.path.join(out, "json.dict"), JSON_TOKENS)
    reals = [be(bits, 8) for bits in REALS]
    dates = [struct.pack(">d", s) for s in DATES]
    write_dictionary(os.path.join(out, "number.dict"), reals + dates)
    write_dictionary(os.path.join(out, "file.dict"),
                     DICTIONARY_TOKENS + TRAILER_TOKENS + [b"\x23" + r for r in reals] +
                     [b"\x33" + d for d in dates])
    print("%d seeds in %s" % (count, out))


if __name__ == "__main__":
    main()


