#!/usr/bin/env python3
"""The Python module, imported from beside the library it loads, or with
--installed as Python finds it (a wheel installed by pip): every corpus file
converts as `tarnwick -c FILE ''` does or raises with its reason; loads()
gives plistlib's values and types on the corpus and on random trees, and with
json_values=True plistlib's values under the JSON document's mapping.
Usage: library_test.py BUILD_DIR TARNWICK CORPUS [--installed]"""
import base64, datetime, io, math, os, plistlib, random, re, struct, subprocess, sys

build, program, corpus = sys.argv[1:4]
installed = sys.argv[4:] == ["--installed"]
if not installed:
    sys.path.insert(0, build)
import tarnwick  # noqa: E402

failures = []


def command_line(path, verb):
    run = subprocess.run([program, verb, path, ""], capture_output=True, timeout=60)
    damaged = re.search(rb"is damaged: (.*)\r\n", run.stdout)
    if run.returncode == 0 or damaged:
        return run.stdout if run.returncode == 0 else (tarnwick.DAMAGED, damaged[1].decode())
    return (tarnwick.NOT_BPLIST if b"is not a binary plist!" in run.stdout
            else tarnwick.UNCONVERTIBLE, None)


def same(p, j):
    """plistlib's value p and the JSON value j agree under the mapping."""
    if isinstance(p, float) and (math.isnan(p) or math.isinf(p)):
        return j == ("nan" if math.isnan(p) else "+infinity" if p > 0 else "-infinity")
    if isinstance(p, float):  # a 4-byte real is the shortest text of its float
        return isinstance(j, float) and (j == p or struct.unpack("f", struct.pack("f", j))[0] == p)
    if isinstance(p, bytes):
        return base64.b64decode(j) == p
    if isinstance(p, datetime.datetime):
        read = datetime.datetime.fromisoformat(j.replace("Z", "+00:00")).replace(tzinfo=None)
        return abs(read - p) <= datetime.timedelta(microseconds=1)
    if isinstance(p, plistlib.UID):
        return j == {"CF$UID": p.data}
    if isinstance(p, (list, dict)) and type(p) == type(j) and len(p) == len(j):
        return (all(map(same, p, j)) if isinstance(p, list) else list(map(str, p)) == list(j)
                and all(same(v, j[str(k)]) for k, v in p.items()))
    return type(p) == type(j) and p == j


def identical(p, t):
    """plistlib's value p and the module's t are equal and of one type, all
    the way down (NaN equal to NaN)."""
    if type(p) != type(t):
        return False
    if isinstance(p, float):
        return p == t or (math.isnan(p) and math.isnan(t))
    if isinstance(p, list):
        return len(p) == len(t) and all(map(identical, p, t))
    if isinstance(p, dict):
        return list(p) == list(t) and all(identical(p[k], t[k]) for k in p)
    return p == t


# The module loads the library beside it: in the build folder, or inside
# the installed package.
where = os.path.dirname(os.path.abspath(tarnwick.__file__)) if installed else os.path.abspath(build)
assert os.path.dirname(tarnwick._lib._name) == where, tarnwick._lib._name
paths = sorted(os.path.join(d, f) for d in (corpus, os.path.join(corpus, "broken"))
               for f in os.listdir(d) if os.path.isfile(os.path.join(d, f)) and f != "README.md")
for path in paths:
    data = open(path, "rb").read()
    for convert, verb in ((tarnwick.to_xml, "-c"), (tarnwick.to_json, "-j"),
                          (tarnwick.to_keyed_xml, "-k"), (tarnwick.to_keyed_json, "-kj")):
        want = command_line(path, verb)
        for threads in (False, True):
            try:
                got = convert(data, threads=threads)
            except tarnwick.TarnwickError as e:
                got = (e.code, e.reason if e.code == tarnwick.DAMAGED else None)
            if got != want:
                failures.append("%s: %s(threads=%s) differs from tarnwick %s" %
                                (path, convert.__name__, threads, verb))
    if os.path.dirname(path) != corpus:
        try:  # a damaged file: read, or refused with TarnwickError, never another error
            tarnwick.loads(data)
        except tarnwick.TarnwickError:
            pass
        continue
    try:
        reference = plistlib.loads(data)
    except Exception:
        continue  # plistlib does not read it
    if not identical(reference, tarnwick.loads(data)):
        failures.append(path + ": loads() differs from plistlib")
    if not identical(reference, tarnwick.load(io.BytesIO(data))):
        failures.append(path + ": load() differs from plistlib")
    if not same(reference, tarnwick.loads(data, json_values=True)):
        failures.append(path + ": loads(json_values=True) differs from plistlib")

# Random trees written by plistlib: loads() reads them as plistlib does.
rng = random.Random(7)
EPOCH = datetime.datetime(2001, 1, 1)


def tree(depth):
    kind = rng.randrange(12 if depth < 4 else 9)
    if kind == 0:
        return "".join(chr(rng.choice((rng.randrange(32, 127), rng.randrange(0xA0, 0xD800),
                                       rng.randrange(0x10000, 0x10FFFF))))
                       for _ in range(rng.randrange(6)))
    if kind == 1:
        return rng.choice((rng.randrange(-2**63, 2**63), rng.randrange(2**64), rng.randrange(-9, 99)))
    if kind == 2:
        return struct.unpack("<d", rng.randbytes(8))[0]
    if kind == 3:
        return rng.choice((0.1, -0.0, 1e300, math.inf, -math.inf, math.nan, 5e-324))
    if kind == 4:
        return rng.random() < 0.5
    if kind == 5:
        return rng.randbytes(rng.randrange(40))
    if kind == 6:  # plistlib keeps the microseconds
        return EPOCH + datetime.timedelta(microseconds=rng.randrange(-63 * 10**15, 252 * 10**15))
    if kind == 7:
        return plistlib.UID(rng.randrange(2**rng.choice((8, 32, 63))))
    if kind == 8:
        return rng.choice(("2001-01-01T00:00:00Z", "AQID", "nan", "\ufffdd", ""))
    if kind in (9, 10):
        return [tree(depth + 1) for _ in range(rng.randrange(5))]
    return {"k%d" % rng.randrange(99): tree(depth + 1) for _ in range(rng.randrange(5))}


for n in range(3000):
    data = plistlib.dumps(tree(0), fmt=plistlib.FMT_BINARY)
    if not identical(plistlib.loads(data), tarnwick.loads(data)):
        failures.append("random tree %d: loads() differs from plistlib: %r" % (n, data))

# Dates plistlib fails on inside (OverflowError, ValueError) raise
# TarnwickError: before year 1 (which the command line writes), past 9999, NaN.
for seconds in (-63114076800.0, 1e20, math.nan):
    data = b"bplist00\x33" + struct.pack(">d", seconds) + b"\x08" + bytes(6) + \
        b"\x01\x01" + struct.pack(">QQQ", 1, 0, 17)
    try:
        tarnwick.loads(data)
        failures.append("a date of %r seconds raised nothing" % seconds)
    except tarnwick.TarnwickError as e:
        if e.code != tarnwick.UNCONVERTIBLE:
            failures.append("a date of %r seconds: code %d" % (seconds, e.code))
for text in ["2001-01-01T00:00:00Z", "9999-12-31T23:59:59.999999Z", "0001-01-01T00:00:00.5Z"]:
    if tarnwick.to_datetime(text) != datetime.datetime.fromisoformat(text[:-1]):
        failures.append(text + ": to_datetime differs")
if tarnwick.to_bytes(base64.b64encode(bytes(range(256))).decode()) != bytes(range(256)):
    failures.append("to_bytes differs")

# Item 13 of the outside trial: the constants the module restates are the
# header's, read here with a pattern of its own.
header = open(os.path.join(build, "include", "tarnwick.h")).read()
for name, value in re.findall(r"(?:#define )?TARNWICK_(\w+)(?: =|) (\d+)u?,?\s", header):
    attr = name if hasattr(tarnwick, name) else "_" + name
    if name not in ("OK", "VERSION_MAJOR", "VERSION_MINOR") and getattr(tarnwick, attr, None) != int(value):
        failures.append("tarnwick.%s is not %s, as in tarnwick.h" % (attr, value))

if tarnwick.__version__ != tarnwick.version() or \
        '"%s"' % tarnwick.__version__ not in re.findall(r'TARNWICK_VERSION_STRING (".*")', header):
    failures.append("__version__ %s is not the library's" % tarnwick.__version__)
for name in tarnwick.__all__:
    if callable(getattr(tarnwick, name)) and not getattr(tarnwick, name).__doc__:
        failures.append("tarnwick.%s has no docstring" % name)

# to_binary: every corpus file plistlib reads gives plistlib's values back,
# and its XML the same XML again; text that is no property list and damaged text raise.
for path in paths:
    if os.path.dirname(path) != corpus:
        continue
    data = open(path, "rb").read()
    try:
        want = plistlib.loads(data)
    except Exception:
        continue
    xml = tarnwick.to_xml(data)
    if tarnwick.to_xml(tarnwick.to_binary(xml)) != xml:
        failures.append("to_binary of the XML of %s is another document" % path)
    if plistlib.loads(tarnwick.to_binary(bytearray(data))) != want:
        failures.append("to_binary of %s is not plistlib's values" % path)
for text, code in ((b"hello", tarnwick.NOT_BPLIST), (b"<plist><dict><key>a</key></dict></plist>",
                                                     tarnwick.DAMAGED)):
    try:
        tarnwick.to_binary(text)
        failures.append("to_binary(%r) did not raise" % text)
    except tarnwick.TarnwickError as e:
        if e.code != code:
            failures.append("to_binary(%r) raised code %d" % (text, e.code))

# Item 22: bytes-like data alone, and a bool for threads.
small = open(paths[0], "rb").read()
for data in (bytearray(small), memoryview(small), memoryview(b"xx" + small)[2:],
             __import__("array").array("B", small)):
    if tarnwick.to_xml(data) != tarnwick.to_xml(small):
        failures.append("%s data converts differently" % type(data).__name__)
for args in ((10**8,), (True,), ({},), (list(small),), (iter(small),), ("bplist00",), (None,),
             (small, 1), (small, "yes"), (small, None)):
    try:
        tarnwick.to_xml(*args)
        failures.append("to_xml%r raised nothing" % (tuple(type(a).__name__ for a in args),))
    except TypeError:
        pass

# Item 21: an exception from a signal handler during the conversion (here
# an alarm's) arrives as it returns; the document must be freed even so.
import resource, signal  # noqa: E402
records = plistlib.dumps([{"n": i, "s": "record %d" % i} for i in range(60000)],
                         fmt=plistlib.FMT_BINARY)
size = len(tarnwick.to_xml(records))


class Alarm(Exception):
    pass


def raise_alarm(*_):
    raise Alarm()


def resident():
    return int(open("/proc/self/statm").read().split()[1]) * resource.getpagesize()


signal.signal(signal.SIGALRM, raise_alarm)
before, interrupted = resident(), 0
for _ in range(20):
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.002)
        tarnwick.to_xml(records)
    except Alarm:
        interrupted += 1
    signal.setitimer(signal.ITIMER_REAL, 0)
grown = resident() - before
if interrupted < 10 or grown > 3 * size:
    failures.append("%d interrupted conversions of %d bytes each left %d bytes more in memory"
                    % (interrupted, size, grown))
print("\n".join(failures + ["%d files, %d failures" % (len(paths), len(failures))]))
sys.exit(1 if failures else 0)
