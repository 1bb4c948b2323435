#!/usr/bin/env python3
"""Writes tests/corpus/documents.fnv: the 64-bit FNV-1a digest of every
well-formed corpus file's document in every verb, as PROGRAM makes it.

Usage: make-digests.py PROGRAM [OUTPUT]

One line per file of tests/corpus/binary, sorted by name: the name, then
the digests of the documents of -c, -j, -k, -kj, -s, -sj, -ks and -ksj, each
as 16 hex digits, or "-" where PROGRAM writes no document. The test
Parallel.CorpusFilesMatchOneThread checks every platform's engine against
it, on one thread and split across threads. Remake a file's line only when
its documents change on purpose.
"""
import os
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(REPO, "tests", "corpus", "binary")
VERBS = ["-c", "-j", "-k", "-kj", "-s", "-sj", "-ks", "-ksj"]


def fnv1a(data):
    """The 64-bit FNV-1a digest of data, as 16 hex digits."""
    h = 0xcbf29ce484222325
    for byte in data:
        h = ((h ^ byte) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h


def digest(program, verb, path, output):
    """The digest of PROGRAM's document of path in verb, or "-" for none."""
    if os.path.exists(output):
        os.remove(output)
    done = subprocess.run([program, verb, path, output], capture_output=True)
    if done.returncode != 0 or not os.path.exists(output):
        return "-"
    with open(output, "rb") as f:
        return fnv1a(f.read())


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    program = os.path.abspath(sys.argv[1])
    target = sys.argv[2] if len(sys.argv) == 3 else os.path.join(REPO, "tests", "corpus",
                                                                 "documents.fnv")
    names = sorted(n for n in os.listdir(CORPUS) if os.path.isfile(os.path.join(CORPUS, n)))
    lines = []
    with tempfile.TemporaryDirectory() as work:
        output = os.path.join(work, "document")
        for name in names:
            path = os.path.join(CORPUS, name)
            lines.append(" ".join([name] + [digest(program, v, path, output) for v in VERBS]))
    with open(target, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
