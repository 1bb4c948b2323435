"""The README's examples, taken from README.md and run as they stand against
a build installed into a scratch prefix, and its table of library codes
against include/tarnwick.h.in. Every fenced block of the README is either
run here or named below with the test that runs it; a new block fails the
test until it is one or the other.

    readme_test.py BUILD_DIR SOURCE_DIR
"""

import glob
import os
import plistlib
import re
import shutil
import subprocess
import sys
import tempfile

build, source = (os.path.abspath(p) for p in sys.argv[1:3])
readme = open(os.path.join(source, "README.md"), encoding="utf-8").read()
example = os.path.join(source, "examples", "example.plist")
failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


def blocks():
    """(language, text) of each fenced block, in order."""
    return re.findall(r"^```(\w*)\n(.*?)^```$", readme, re.M | re.S)


def run(command, cwd, env=None, shell=False):
    merged = dict(os.environ, **(env or {}))
    return subprocess.run(command, cwd=cwd, env=merged, shell=shell, capture_output=True,
                          executable="/bin/bash" if shell else None)


def tarnwick(verb, path):
    return run([os.path.join(build, "tarnwick"), verb, path, ""], build).stdout.replace(b"\r\n", b"\n")


def check_error_codes():
    """The table's codes and values are the header's, in its order."""
    header = open(os.path.join(source, "include", "tarnwick.h.in")).read()
    enum = re.search(r"typedef enum tarnwick_code \{(.*?)\} tarnwick_code;", header, re.S).group(1)
    want = re.findall(r"^\s*(TARNWICK_\w+) = (\d+)", enum, re.M)
    got = re.findall(r"^\| `(TARNWICK_\w+)` \| (\d+) \|", readme, re.M)
    if got != want:
        fail("the README's codes %s are not the header's %s" % (got, want))


def check_c(text, commands, work, prefix):
    """app.c built with each cc line of the block after it, then run."""
    open(os.path.join(work, "app.c"), "w").write(text)
    os.makedirs(os.path.join(work, "examples"))
    shutil.copy(example, os.path.join(work, "examples"))
    env = {"PKG_CONFIG_PATH": prefix + "/lib/pkgconfig", "LD_LIBRARY_PATH": prefix + "/lib"}
    lines = [line.split("#")[0].strip() for line in commands.splitlines()]
    builds = [line for line in lines if line.startswith("cc ")]
    runs = [line for line in lines if line.startswith("./app")]
    if len(builds) != 2 or len(runs) != 1:
        fail("the C commands are not two builds and a run: %r" % commands)
    for line in builds:
        built = run(line, work, env, shell=True)
        if built.returncode != 0:
            fail("%s: %s" % (line, built.stderr.decode()[-2000:]))
            continue
        done = run(runs[0], work, env, shell=True)
        if done.returncode != 0 or done.stdout.replace(b"\r\n", b"\n") != tarnwick("-c", example):
            fail("%s, then %s: status %d, not the XML of tarnwick -c" % (line, runs[0], done.returncode))


def check_cmake(text, c_text, work, prefix):
    """The block in a C-only project, with each of the targets it names."""
    for target in ("tarnwick::tarnwick", "tarnwick::tarnwick_static"):
        project = os.path.join(work, target.replace(":", "_"))
        os.makedirs(project)
        open(os.path.join(project, "app.c"), "w").write(c_text)
        lines = "cmake_minimum_required(VERSION 3.16)\nproject(app LANGUAGES C)\n"
        lines += "add_executable(app app.c)\n" + text.replace("tarnwick::tarnwick)", target + ")")
        open(os.path.join(project, "CMakeLists.txt"), "w").write(lines)
        made = run("cmake -S . -B b -DCMAKE_PREFIX_PATH=%s && cmake --build b" % prefix, project,
                   shell=True)
        if made.returncode != 0:
            fail("a C project linking %s: %s" % (target, made.stdout.decode()[-2000:]))
            continue
        done = run(["b/app", example], project, {"LD_LIBRARY_PATH": prefix + "/lib"})
        if done.stdout.replace(b"\r\n", b"\n") != tarnwick("-c", example):
            fail("the C project linking %s does not print the XML of tarnwick -c" % target)


def check_python(text, work, prefix):
    """The block on a copy of the example named Info.plist; it prints what
    the comment on its print line says."""
    shutil.copy(example, os.path.join(work, "Info.plist"))
    promised = re.search(r"print\(.*\)\s+# (.*)", text).group(1)
    # Wherever the install put the module for this Python; it finds the
    # library installed with it by itself.
    module = glob.glob(os.path.join(prefix, "lib", "python3*", "*-packages", "tarnwick.py"))
    env = {"PYTHONPATH": os.path.dirname(module[0]) if module else ""}
    done = run([sys.executable, "-c", text], work, env)
    if done.returncode != 0 or done.stdout.decode().strip() != promised:
        fail("the Python example printed %r (status %d), not %r: %s" %
             (done.stdout.decode(), done.returncode, promised, done.stderr.decode()[-2000:]))


def check_build_and_install(work):
    """scripts/build.sh in a copy of the tree prints the example's XML; then
    both install lines, with the home in `work`."""
    tree = os.path.join(work, "tree")
    def leave_out(folder, names):  # build folders, version control
        return [n for n in names if n in (".git", "__pycache__") or
                (folder == source and n.startswith("build") and os.path.isdir(os.path.join(folder, n)))]
    shutil.copytree(source, tree, ignore=leave_out)
    built = run([os.path.join(tree, "scripts", "build.sh")], tree)
    if built.returncode != 0 or not built.stdout.replace(b"\r\n", b"\n").endswith(tarnwick("-c", example)):
        fail("scripts/build.sh: status %d: %s" % (built.returncode, built.stdout.decode()[-2000:]))
        return
    install = [b for language, b in blocks() if "cmake --install build" in b][0]
    home, dest = os.path.join(work, "home"), os.path.join(work, "dest")
    # sudo installs under DESTDIR, not into this system's /usr/local.
    script = 'sudo() { DESTDIR="$SCRATCH_DEST" "$@"; }\n' + install
    done = run(script, tree, {"HOME": home, "SCRATCH_DEST": dest}, shell=True)
    for program in (dest + "/usr/local/bin/tarnwick", home + "/.local/bin/tarnwick"):
        if done.returncode != 0 or not os.path.isfile(program):
            fail("the install lines left no %s: %s" % (program, done.stderr.decode()[-2000:]))


def check_session(text):
    """A command after "$ ", run in the source folder with the built program
    first on the path, prints the lines after it."""
    command, printed = text.split("\n", 1)
    env = {"PATH": build + os.pathsep + os.environ["PATH"]}
    done = run(command[2:], source, env, shell=True)
    if done.stdout.replace(b"\r\n", b"\n").decode() != printed:
        fail("%s printed %r" % (command, done.stdout.decode()[-2000:]))


def keyed_archive(path):
    """The README's archive, laid out as NSKeyedArchiver lays it out."""
    uid = plistlib.UID
    objects = ["$null",
               {"NS.keys": [uid(2), uid(3), uid(4)], "NS.objects": [uid(5), uid(6), uid(10)],
                "$class": uid(12)},
               "name", "tags", "seen", "Ann",
               {"NS.objects": [uid(7), uid(8)], "$class": uid(9)}, "a", "b",
               {"$classname": "NSArray", "$classes": ["NSArray", "NSObject"]},
               {"NS.time": 786240000.0, "$class": uid(11)},  # 2025-12-01 in seconds since 2001
               {"$classname": "NSDate", "$classes": ["NSDate", "NSObject"]},
               {"$classname": "NSDictionary", "$classes": ["NSDictionary", "NSObject"]}]
    archive = {"$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": uid(1)},
               "$objects": objects}
    open(path, "wb").write(plistlib.dumps(archive, fmt=plistlib.FMT_BINARY))


def check_keyed(xml, json_text, work):
    """The archive's line count under -c, its body under -k, its document under -kj."""
    path = os.path.join(work, "ann.plist")
    keyed_archive(path)
    count = int(re.search(r"a date, (\d+) lines under\s+`-c`", readme).group(1))
    if tarnwick("-c", path).count(b"\n") != count:
        fail("the archive is not %d lines under -c" % count)
    body = tarnwick("-k", path).decode().splitlines()[3:-1]
    if body != xml.splitlines():
        fail("-k writes %r, not the README's block" % body)
    if tarnwick("-kj", path).decode() != json_text:
        fail("-kj does not write the README's block")


def check_zip_files():
    """The Windows section's ZIP holds the files scripts/test-windows.sh
    finds in it, exactly (that script also finds no others)."""
    script = open(os.path.join(source, "scripts", "test-windows.sh")).read()
    want = set(re.search(r'^zip_files="(.*)"', script, re.M).group(1).split()) | {"tarnwick.html"}
    sentence = re.search(r"`cd build-windows &&\s+cpack` packs (.*?) into", readme, re.S).group(1)
    got = set(re.findall(r"`([^`]+)`", sentence))
    if got != want:
        fail("the README's ZIP holds %s, scripts/test-windows.sh finds %s" % (sorted(got), sorted(want)))


# Blocks run elsewhere, by their first line, with the test that runs them.
ELSEWHERE = {
    "scripts/test.sh": "is the run this test is part of",
    "TARNWICK_TEST_SKIP=web,windows scripts/test.sh": "Scripts.TestSkipLeavesOutNamedStages",
    "scripts/build-web.sh           # makes build-web/tarnwick.html": "scripts/test.sh",
    "sudo apt-get install cmake g++-mingw-w64-x86-64-posix wine64 googletest":
        "scripts/test-windows.sh, with warnings as errors",
    "pacman -S --needed mingw-w64-x86_64-gcc mingw-w64-x86_64-cmake mingw-w64-x86_64-ninja mingw-w64-x86_64-gtest":
        "nothing: MSYS2 runs on Windows alone, as the README says",
    "An unhandled exception occurred at $0040A1B2 :": "tests/runtime_failure_test.cpp (the report's form)",
    "tarnwick -c prefs.plist prefs.xml         # one file as an XML property list":
        "tests/folders_crosscheck.py (the Usage examples)",
    "File evidence/broken.plist is damaged: too short to hold a header and a trailer":
        "tests/folders_crosscheck.py (the folder messages)",
    "scripts/build-wheel.sh               # makes dist/tarnwick-VERSION-py3-none-manylinux_2_N_x86_64.whl":
        ".ci/run, which builds the wheels and installs them with pip (scripts/check-wheel.sh)",
}

work = tempfile.mkdtemp()
try:
    prefix = os.path.join(work, "usr")
    subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True,
                   stdout=subprocess.DEVNULL)
    check_error_codes()
    check_zip_files()
    found = blocks()
    c_text = None
    for i, (language, text) in enumerate(found):
        first = text.splitlines()[0]
        scratch = os.path.join(work, "block%d" % i)
        os.makedirs(scratch)
        if first in ELSEWHERE:
            print("block %d (%s): run by %s" % (i, first, ELSEWHERE[first]))
        elif language == "c":
            c_text = text
            check_c(text, found[i + 1][1], scratch, prefix)
        elif language == "sh" and first.startswith("cc app.c"):
            pass  # run with the C block before it
        elif language == "cmake":
            check_cmake(text, c_text, scratch, prefix)
        elif language == "python":
            check_python(text, scratch, prefix)
        elif language == "sh" and first == "scripts/build.sh":
            check_build_and_install(scratch)
        elif language == "sh" and first.startswith("sudo cmake --install build"):
            pass  # run after scripts/build.sh
        elif language == "xml" and found[i + 1][0] == "json":
            check_keyed(text, found[i + 1][1], scratch)
        elif first.startswith("$ "):
            check_session(text)
        elif language == "json":
            pass  # checked with the XML block before it
        else:
            fail("block %d (%s %s) is neither run here nor named as run elsewhere"
                 % (i, language, first))
finally:
    shutil.rmtree(work)

if failures:
    sys.exit(1)
print("%d README blocks: each ran as it stands or is run by the test named" % len(found))
