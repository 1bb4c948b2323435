#!/usr/bin/env python3
"""Writes deterministic binary plists for the benchmark.

    make_plist.py N OUT                       N records, written by plistlib
    make_plist.py huge-int NIBBLE COUNT OUT   COUNT integers of 2^NIBBLE bytes
    make_plist.py huge-real NIBBLE COUNT OUT  COUNT reals of 2^NIBBLE bytes
    make_plist.py huge-string MIB OUT         one 8-bit string of MIB MiB
    make_plist.py huge-data MIB OUT           one data object of MIB MiB
    make_plist.py shared ELEMENTS OUTER INNER OUT
                                              one array visited OUTER*INNER times
    make_plist.py archive N OUT               a keyed archive of N records

The records file is a top dictionary holding an array of N record
dictionaries shaped like a backup manifest or keyed archive: ASCII and
non-ASCII strings, text holding & and <, integers of every width the format
uses, reals, booleans, dates, small data, short arrays and a nested
dictionary. N = 100,000 gives about 30 MB. Equal values are shared, as
plistlib (and every real writer) does.

plistlib cannot write integers or reals wider than 16 and 8 bytes, so the
huge-* files are assembled by hand. With COUNT 1 the huge integer or real is
the top object itself; otherwise the top object is an array of COUNT distinct
ones. The string and data files hold a single object.

The shared file is a top array of OUTER references to one array of INNER
references to one leaf array of ELEMENTS distinct short strings, so the
document writes the leaf array OUTER*INNER times. An unreferenced data object
pads the objects to 4 MiB, the size from which tarnwick considers using
several threads.

The archive file is an NSKeyedArchiver archive whose root is an NSDictionary
of N record objects (class Record), each with a unique name,
integers, a real, a boolean, an NSDate, an NSUUID and an NSArray of tags; the
owners, tags and class records are shared by all records, as an archiver
shares equal objects. N = 100,000 gives about 35 MB.

Every file depends only on the arguments: the random generators are seeded.
"""

import datetime
import plistlib
import random
import sys

SEED = 20240601

# Pools for values that repeat across records, as kinds and owners do.
TAG_POOL = [
    "photo", "video", "document", "backup", "archive", "shared", "favourite",
    "music", "draft", "Reise", "été", "日本語", "Ελληνικά", "R&D", "<none>",
]
OWNER_POOL = [
    "alice", "bob", "carol", "dave", "Zoë", "François", "Jürgen", "Ōtsuka",
    "Дмитрий", "李小龍", "Ana María", "Tom & Jerry",
]
WORDS = [
    "alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel",
    "india", "juliet", "kilo", "lima", "mike", "november", "oscar", "papa",
]
# Non-ASCII fragments: Latin-1, Greek, Cyrillic, CJK and astral characters
# (written as UTF-16 surrogate pairs).
NON_ASCII = [
    "Café", "Zürich", "naïve", "Ελλάδα", "Москва", "東京", "서울", "Ærø",
    "crème brûlée", "🎉", "𝄞 music", "smörgåsbord",
]
EPOCH = datetime.datetime(2001, 1, 1)


def record(rng, i):
    """One record dictionary, about a dozen keys, about 300 bytes encoded."""
    words = " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 3)))
    size = rng.randrange(1 << 32, 1 << 44)
    # Values of 2^63 and above are written as 16-byte integers.
    digest = rng.getrandbits(64)
    created = EPOCH + datetime.timedelta(seconds=rng.randrange(-400_000_000, 900_000_000))
    return {
        "id": i,
        "name": f"{words}-{i:06d}.dat",
        "title": f"{rng.choice(NON_ASCII)} №{i}",
        "note": f"{size >> 30} GB < quota & rev {i % 97}",
        "size": size,
        "digest": digest,
        "delta": -rng.randrange(1, 1 << rng.choice((7, 15, 31, 62))),
        "ratio": rng.uniform(-1000.0, 1000.0),
        "enabled": rng.random() < 0.5,
        "created": created,
        "blob": rng.randbytes(rng.randint(4, 16)),
        "tags": rng.sample(TAG_POOL, rng.randint(1, 3)),
        "meta": {
            "owner": rng.choice(OWNER_POOL),
            "rev": rng.randrange(0, 70000),
        },
    }


def write_records(n, out):
    rng = random.Random(SEED)
    top = {
        "version": 3,
        "generator": "tarnwick bench",
        "created": EPOCH + datetime.timedelta(days=8000),
        "records": [record(rng, i) for i in range(n)],
    }
    with open(out, "wb") as f:
        plistlib.dump(top, f, fmt=plistlib.FMT_BINARY, sort_keys=False)


def write_archive(n, out):
    rng = random.Random(SEED)
    uid = plistlib.UID
    objects = ["$null"]

    def add(value):
        objects.append(value)
        return uid(len(objects) - 1)

    def cls(name, *supers):
        return add({"$classname": name, "$classes": [name, *supers, "NSObject"]})

    record_class = cls("Record")
    dict_class = cls("NSDictionary")
    array_class = cls("NSArray")
    date_class = cls("NSDate")
    uuid_class = cls("NSUUID")
    owners = [add(o) for o in OWNER_POOL]
    tags = [add(t) for t in TAG_POOL]
    root = add(None)  # filled in once the records exist
    keys, values = [], []
    for i in range(n):
        words = " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 3)))
        tag_list = add({"NS.objects": rng.sample(tags, rng.randint(1, 3)), "$class": array_class})
        created = add({"NS.time": float(rng.randrange(-400_000_000, 900_000_000)),
                       "$class": date_class})
        ident = add({"NS.uuidbytes": rng.randbytes(16), "$class": uuid_class})
        keys.append(add(f"record-{i:06d}"))
        values.append(add({
            "id": i,
            "name": add(f"{words}-{i:06d}.dat"),
            "owner": rng.choice(owners),
            "size": rng.randrange(1 << 32, 1 << 44),
            "ratio": rng.uniform(-1000.0, 1000.0),
            "enabled": rng.random() < 0.5,
            "created": created,
            "uuid": ident,
            "tags": tag_list,
            "$class": record_class,
        }))
    objects[root.data] = {"NS.keys": keys, "NS.objects": values, "$class": dict_class}
    archive = {"$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": root},
               "$objects": objects}
    with open(out, "wb") as f:
        plistlib.dump(archive, f, fmt=plistlib.FMT_BINARY, sort_keys=False)


def width(value):
    """Fewest bytes (1 to 8) that hold `value`."""
    w = 1
    while value >= 1 << (8 * w):
        w += 1
    return w


def count_header(kind, count):
    """Marker byte for `kind` and, for counts of 15 or more, the integer
    object that holds the count."""
    if count < 15:
        return bytes([kind << 4 | count])
    exp = 0 if count <= 0xFF else 1 if count <= 0xFFFF else 2 if count <= 0xFFFFFFFF else 3
    return bytes([kind << 4 | 0xF, 0x10 | exp]) + count.to_bytes(1 << exp, "big")


def write_objects(out, chunks_of_objects, top=0, refs_of=None):
    """Writes a bplist00 file whose objects are the byte iterables given.

    `chunks_of_objects` is a list of objects, each a list of byte chunks
    (so large objects stream to disk). `refs_of` maps an object number to the
    object numbers its references name; they are appended after its head.
    """
    refs_of = refs_of or {}
    ref_size = width(max(len(chunks_of_objects) - 1, 1))
    offsets = []
    pos = 0
    with open(out, "wb") as f:
        f.write(b"bplist00")
        pos = 8
        for number, chunks in enumerate(chunks_of_objects):
            offsets.append(pos)
            for chunk in chunks:
                f.write(chunk)
                pos += len(chunk)
            refs = refs_of.get(number, [])
            if refs:
                blob = b"".join(r.to_bytes(ref_size, "big") for r in refs)
                f.write(blob)
                pos += len(blob)
        table = pos
        offset_size = width(max(offsets))
        f.write(b"".join(o.to_bytes(offset_size, "big") for o in offsets))
        f.write(bytes(6) + bytes([offset_size, ref_size]))
        for field in (len(offsets), top, table):
            f.write(field.to_bytes(8, "big"))


def write_huge_numbers(kind, nibble, count, out):
    """COUNT integer (kind 1) or real (kind 2) objects of 2^nibble bytes."""
    rng = random.Random(SEED + nibble)
    numbers = [[bytes([kind << 4 | nibble]), rng.randbytes(1 << nibble)] for _ in range(count)]
    if count == 1:
        write_objects(out, numbers)
        return
    array = [count_header(0xA, count)]
    write_objects(out, [array] + numbers, refs_of={0: list(range(1, count + 1))})


def text_chunk(rng, size):
    """`size` bytes of ASCII prose with & and < in it, as log text has."""
    parts = []
    total = 0
    while total < size:
        word = rng.choice(WORDS)
        roll = rng.random()
        if roll < 0.02:
            word += " & "
        elif roll < 0.04:
            word = "<" + word + ">"
        parts.append(word + " ")
        total += len(word) + 1
    return "".join(parts).encode("ascii")[:size]


def write_huge_string(mib, out):
    rng = random.Random(SEED)
    size = mib << 20
    block = text_chunk(rng, 1 << 20)
    chunks = [count_header(0x5, size)] + [block] * mib
    write_objects(out, [chunks])


def write_huge_data(mib, out):
    rng = random.Random(SEED)
    size = mib << 20
    chunks = [count_header(0x4, size)] + [rng.randbytes(1 << 20) for _ in range(mib)]
    write_objects(out, [chunks])


def write_shared(elements, outer, inner, out):
    strings = [[count_header(0x5, len(t)), t] for t in (b"item %07d" % i for i in range(elements))]
    arrays = [[count_header(0xA, outer)], [count_header(0xA, inner)], [count_header(0xA, elements)]]
    refs = {0: [1] * outer, 1: [2] * inner, 2: list(range(3, 3 + elements))}
    ref_size = width(len(arrays) + len(strings))
    # The header, the objects with their references and the pad's own marker
    # and count: the objects end at 4 MiB, where the offset table starts.
    used = 8 + sum(len(c) for o in strings + arrays for c in o)
    used += ref_size * (outer + inner + elements) + 6
    pad = max(0, (4 << 20) - used)
    write_objects(out, arrays + strings + [[count_header(0x4, pad), bytes(pad)]], refs_of=refs)


def main(argv):
    try:
        if argv[0] in ("huge-int", "huge-real"):
            nibble, count, out = int(argv[1]), int(argv[2]), argv[3]
            if not 0 <= nibble <= 15 or count < 1:
                raise ValueError
            write_huge_numbers(1 if argv[0] == "huge-int" else 2, nibble, count, out)
        elif argv[0] == "huge-string":
            write_huge_string(int(argv[1]), argv[2])
        elif argv[0] == "huge-data":
            write_huge_data(int(argv[1]), argv[2])
        elif argv[0] == "archive":
            write_archive(int(argv[1]), argv[2])
        elif argv[0] == "shared":
            elements, outer, inner = (int(a) for a in argv[1:4])
            if min(elements, outer, inner) < 1:
                raise ValueError
            write_shared(elements, outer, inner, argv[4])
        else:
            write_records(int(argv[0]), argv[1])
    except (IndexError, ValueError):
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
