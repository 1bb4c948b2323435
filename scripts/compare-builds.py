#!/usr/bin/env python3
"""Runs two tarnwick programs over the same inputs and reports every difference.

Usage: compare-builds.py OLD_PROGRAM NEW_PROGRAM [EXTRA_FILE...]

The inputs are every file under tests/corpus/binary (the damaged ones
included), tests/regressions, the whole-file fuzz seeds that
fuzz/make_seeds.py writes, and any EXTRA_FILE (a large generated file, say,
so that containers are split across threads). Each is converted with -c,
-j, -k and -kj, once pinned to one processor (taskset -c 0) and once on all
of them. Both programs get the same input and output paths, so the
documents, standard output, standard error and exit codes must be the same
byte for byte. A program given as `wine:PATH` runs under wine.

Exits 0 when nothing differs, 1 otherwise; prints one line per difference
and a summary.
"""
import os
import shutil
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
VERBS = ["-c", "-j", "-k", "-kj"]


def inputs(seed_dir, extra):
    """Every input file, sorted within each folder."""
    found = []
    for folder in [os.path.join(REPO, "tests", "corpus", "binary"),
                   os.path.join(REPO, "tests", "regressions"),
                   os.path.join(seed_dir, "file")]:
        for root, _, names in sorted(os.walk(folder)):
            found += [os.path.join(root, name) for name in sorted(names)]
    return found + list(extra)


def command(program, args, pinned):
    """The command line that runs program with args, pinned or not."""
    if program.startswith("wine:"):
        line = ["wine", program[len("wine:"):]] + args
    else:
        line = [program] + args
    if pinned and shutil.which("taskset"):
        line = ["taskset", "-c", "0"] + line
    return line


def run(program, args, pinned, output):
    """Converts once; returns (exit code, stdout, stderr, document or None)."""
    if os.path.exists(output):
        os.remove(output)
    done = subprocess.run(command(program, args, pinned), capture_output=True, timeout=600)
    document = None
    if os.path.exists(output):
        with open(output, "rb") as f:
            document = f.read()
    return done.returncode, done.stdout, done.stderr, document


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    old, new, extra = sys.argv[1], sys.argv[2], sys.argv[3:]
    work = tempfile.mkdtemp(prefix="tarnwick-compare-")
    try:
        seeds = os.path.join(work, "seeds")
        subprocess.run([sys.executable, os.path.join(REPO, "fuzz", "make_seeds.py"), seeds],
                       check=True, stdout=subprocess.DEVNULL)
        output = os.path.join(work, "out.document")
        files = inputs(seeds, extra)
        differences = runs = 0
        fields = ["exit code", "stdout", "stderr", "document"]
        for path in files:
            for verb in VERBS:
                for pinned in (True, False):
                    args = [verb, path, output]
                    a = run(old, args, pinned, output)
                    b = run(new, args, pinned, output)
                    runs += 1
                    for name, x, y in zip(fields, a, b):
                        if x != y:
                            differences += 1
                            where = "one processor" if pinned else "all processors"
                            print("DIFFERS %s: %s %s on %s" % (name, verb, path, where))
        print("%d files, %d conversions each, %d differences" % (len(files), runs, differences))
        return 1 if differences else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
