#!/usr/bin/env python3
"""The folder verbs and the drop helper of the Windows program, under Wine:
Unicode names, a path past 260 characters, the messages with Windows paths,
a refused layout that differs only in case, and tarnwick-drop.cmd beside
tarnwick.exe converting dropped files beside themselves.

Usage: wine_folders_test.py WINE_LOADER TARNWICK_EXE WINEPREFIX
"""
import json
import os
import plistlib
import subprocess
import sys
import tempfile

WINE, EXE, PREFIX = sys.argv[1:4]
ENV = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all")
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def wine(*args):
    return subprocess.run([WINE] + list(args), capture_output=True, env=ENV,
                          stdin=subprocess.DEVNULL, timeout=300)


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def main():
    with tempfile.TemporaryDirectory() as work:
        ev = os.path.join(work, "évidence")
        deep = os.path.join("日本語", *(["d" * 60] * 4), "設定.plist")
        values = {"café.plist": {"b": 1, "a": "é"}, deep: {"z": [1, 2], "y": True}}
        for rel, value in values.items():
            path = os.path.join(ev, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(plistlib.dumps(value, fmt=plistlib.FMT_BINARY, sort_keys=False))
        with open(os.path.join(ev, "notes.txt"), "w") as f:
            f.write("text\n")
        with open(os.path.join(ev, "broken.plist"), "wb") as f:
            f.write(b"bplist00 broken")
        out = os.path.join(work, "out")
        check(len(windows_path(os.path.join(out, deep))) > 260, "the deep path is short")

        r = wine(EXE, "-dsj", windows_path(ev), windows_path(out))
        broken = windows_path(os.path.join(ev, "broken.plist"))
        want = ("File %s is damaged: too short to hold a header and a trailer\r\n"
                "Error: Unable convert file %s\r\n2 converted, 1 failed, 1 skipped\r\n"
                % (broken, broken)).encode()
        check(r.returncode == 1, "-dsj exit code %d" % r.returncode)
        check(r.stdout == want, "-dsj messages %r" % r.stdout)
        for rel, value in values.items():
            path = os.path.join(out, rel + ".json")
            try:
                with open(path, "rb") as f:
                    pairs = json.loads(f.read(), object_pairs_hook=lambda p: p)
                check(dict(pairs) == value and [k for k, _ in pairs] == sorted(value),
                      "%s: %r" % (rel, pairs))
            except OSError as e:
                check(False, "%s: %s" % (rel, e))

        # The output inside the input, named in another case.
        inside = windows_path(ev).upper() + "\\SUB"
        r = wine(EXE, "-dc", windows_path(ev), inside)
        check(r.returncode == 1 and r.stdout == ("Output folder %s is inside the input folder %s!\r\n"
                                                 % (inside, windows_path(ev))).encode(),
              "refusal in another case: %r" % r.stdout)

        # The drop helper: both files converted beside themselves; the window
        # waits (pause) only when one failed.
        drop = os.path.join(os.path.dirname(EXE), "tarnwick-drop.cmd")
        good = os.path.join(ev, "café.plist")
        r = wine("cmd", "/c", windows_path(drop), windows_path(good),
                 windows_path(os.path.join(ev, deep)))
        check(r.returncode == 0 and b"Press" not in r.stdout, "drop of good files: %d %r"
              % (r.returncode, r.stdout))
        for path in [good, os.path.join(ev, deep)]:
            try:
                with open(path + ".xml", "rb") as f:
                    check(plistlib.loads(f.read()) == values[os.path.relpath(path, ev)],
                          "dropped %s" % path)
            except OSError as e:
                check(False, "dropped %s: %s" % (path, e))
        r = wine("cmd", "/c", windows_path(drop), windows_path(os.path.join(ev, "broken.plist")),
                 windows_path(good))
        check(r.returncode == 1 and b"Error: Unable convert file" in r.stdout and
              b"Press" in r.stdout, "drop with a failed file: %d %r" % (r.returncode, r.stdout))
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
