#!/usr/bin/env python3
"""The Python module, imported from beside the library it loads: every
corpus file converts as `tarnwick -c FILE ''` does or raises with its reason;
loads() equals plistlib's values under the module's mapping (skipped while
the library has no JSON). Usage: library_test.py BUILD_DIR TARNWICK CORPUS"""
import base64, datetime, math, os, plistlib, re, struct, subprocess, sys

build, program, corpus = sys.argv[1:4]
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


assert os.path.dirname(tarnwick._lib._name) == os.path.abspath(build), tarnwick._lib._name
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
        continue  # a damaged file that plistlib may still read: tarnwick refuses it
    try:
        reference = plistlib.loads(data)
    except Exception:
        continue  # plistlib does not read it
    if not same(reference, tarnwick.loads(data)):
        failures.append(path + ": loads() differs from plistlib")
for text in ["2001-01-01T00:00:00Z", "9999-12-31T23:59:59.999999Z", "0001-01-01T00:00:00.5Z"]:
    if tarnwick.to_datetime(text) != datetime.datetime.fromisoformat(text[:-1]):
        failures.append(text + ": to_datetime differs")
if tarnwick.to_bytes(base64.b64encode(bytes(range(256))).decode()) != bytes(range(256)):
    failures.append("to_bytes differs")
print("\n".join(failures + ["%d files, %d failures" % (len(paths), len(failures))]))
sys.exit(1 if failures else 0)
