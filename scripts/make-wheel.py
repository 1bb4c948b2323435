#!/usr/bin/env python3
"""Writes the Python wheel tarnwick-VERSION-py3-none-TAG.whl into OUT_DIR with
the standard library alone: the module as the package tarnwick (its type
hints and py.typed beside it) with the shared library inside, and the
metadata pip reads (METADATA, WHEEL, RECORD with every file's hash). The
files are stored in a fixed order with a fixed time, so the same inputs make
the same wheel.

Usage: make-wheel.py OUT_DIR TAG MODULE STUB LIBRARY LICENSE
  MODULE   tarnwick.py as the build wrote it (its version is the wheel's)
  LIBRARY  libtarnwick.so.0 or tarnwick.dll, stored under its own name
"""
import base64
import hashlib
import os
import re
import sys
import zipfile

SUMMARY = "Converts binary property lists (bplist00) to XML, JSON or Python values"
# 1980-01-01, the earliest time a ZIP entry holds.
FIXED_TIME = (1980, 1, 1, 0, 0, 0)


def record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d" % (name, digest, len(data))


def main(argv):
    if len(argv) != 6:
        sys.stderr.write(__doc__)
        return 2
    out_dir, tag, module_path, stub_path, library_path, licence_path = argv
    module = open(module_path, "rb").read()
    found = re.search(rb'^_VERSION = "([0-9.]+)"$', module, re.M)
    if found is None:
        sys.stderr.write("%s names no version\n" % module_path)
        return 1
    version = found[1].decode()
    info = "tarnwick-%s.dist-info" % version
    metadata = "\n".join([
        "Metadata-Version: 2.1",
        "Name: tarnwick",
        "Version: " + version,
        "Summary: " + SUMMARY,
        "License: MIT",
        "Requires-Python: >=3.6",
        "Classifier: Programming Language :: Python :: 3",
        "Classifier: Typing :: Typed",
        "",
        "The tarnwick module over libtarnwick, which is inside the package: "
        "load and loads read a binary plist as plistlib does, to_xml and "
        "to_json convert it as the tarnwick command line does.",
        ""])
    wheel = "\n".join(["Wheel-Version: 1.0", "Generator: tarnwick make-wheel.py",
                       "Root-Is-Purelib: false", "Tag: py3-none-" + tag, ""])
    files = [
        ("tarnwick/__init__.py", module, 0o644),
        ("tarnwick/__init__.pyi", open(stub_path, "rb").read(), 0o644),
        ("tarnwick/py.typed", b"", 0o644),
        ("tarnwick/" + os.path.basename(library_path), open(library_path, "rb").read(), 0o755),
        (info + "/METADATA", metadata.encode(), 0o644),
        (info + "/WHEEL", wheel.encode(), 0o644),
        (info + "/LICENSE", open(licence_path, "rb").read(), 0o644),
        (info + "/top_level.txt", b"tarnwick\n", 0o644),
    ]
    record = "".join(record_line(n, d) + "\n" for n, d, _ in files) + info + "/RECORD,,\n"
    files.append((info + "/RECORD", record.encode(), 0o644))

    os.makedirs(out_dir, exist_ok=True)
    path = os.path.join(out_dir, "tarnwick-%s-py3-none-%s.whl" % (version, tag))
    with zipfile.ZipFile(path + ".part", "w", zipfile.ZIP_DEFLATED) as z:
        for name, data, mode in files:
            entry = zipfile.ZipInfo(name, FIXED_TIME)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.external_attr = (0o100000 | mode) << 16
            z.writestr(entry, data)
    os.replace(path + ".part", path)
    print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
