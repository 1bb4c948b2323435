#!/usr/bin/env python3
"""Checks the folder verbs (-d...) and sorted keys (-s) against a reference
written here: os.walk and sorted() predict the output tree, the messages and
the summary line; plistlib and json read every document back; the key order
is Python's sorted() over each key's UTF-16 code units.

Usage: folders_crosscheck.py TARNWICK README

Prints one line per failure and ends with 'N passed, M failed'.
"""
import json
import os
import plistlib
import pty
import random
import re
import shutil
import subprocess
import sys
import tempfile

TARNWICK, README = os.path.abspath(sys.argv[1]), sys.argv[2]
failures = []
passed = 0


def check(ok, what):
    global passed
    if ok:
        passed += 1
    else:
        failures.append(what)
        print("FAIL:", what)


def run(args, one_thread=False, **kw):
    cmd = [TARNWICK] + args
    if one_thread:
        cmd = ["taskset", "-c", "0"] + cmd
    return subprocess.run(cmd, capture_output=True, **kw)


def utf16_key(text):
    return text.encode("utf-16-be")  # code units compare as these byte pairs do


def random_key(rng):
    pool = "abcXYZ_09éü日本\ue000\uffe0\U0001F600\U00010000"
    return "".join(rng.choice(pool) for _ in range(rng.randint(0, 4)))


def random_value(rng, depth=0):
    kind = rng.randint(0, 5 if depth < 3 else 3)
    if kind == 0:
        return rng.randint(-10**6, 10**6)
    if kind == 1:
        return random_key(rng) + "&<>"
    if kind == 2:
        return rng.choice([True, False])
    if kind == 3:
        return rng.randint(0, 1000) / 4
    if kind == 4:
        return [random_value(rng, depth + 1) for _ in range(rng.randint(0, 4))]
    return {random_key(rng): random_value(rng, depth + 1) for _ in range(rng.randint(0, 6))}


def binary(value):
    return plistlib.dumps(value, fmt=plistlib.FMT_BINARY, sort_keys=False)


def pairs_in_order(doc, json_doc):
    """Every dictionary's keys in document order, depth first."""
    found = []

    def walk(v):
        if isinstance(v, list) and v and all(isinstance(p, tuple) for p in v):
            found.append([k for k, _ in v])
            for _, x in v:
                walk(x)
        elif isinstance(v, dict):
            found.append(list(v))
            for x in v.values():
                walk(x)
        elif isinstance(v, list):
            for x in v:
                walk(x)

    walk(json.loads(doc, object_pairs_hook=lambda p: p) if json_doc else plistlib.loads(doc))
    return found


def jsonable(v):
    if isinstance(v, dict):
        return {k: jsonable(x) for k, x in v.items()}
    if isinstance(v, list):
        return [jsonable(x) for x in v]
    return v


def read_back(path, json_doc):
    with open(path, "rb") as f:
        doc = f.read()
    return json.loads(doc) if json_doc else plistlib.loads(doc)


# ---- the tree ---------------------------------------------------------------

def make_tree(root, rng):
    """Writes the evidence tree; returns {relative path: value} for the
    binary plists, the files every verb skips, the damaged binary plists,
    {relative path: value} for the XML and JSON property lists (skipped but
    by the b verbs), and {relative path: reason} for the text files the b
    verbs read as damaged."""
    plists, skipped, damaged, texts, text_damaged = {}, [], [], {}, {}

    def put(rel, data):
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    names = ["prefs.plist", "café.plist", "日本語/設定.plist", "a/b/c/deep.plist",
             "a/" + "l" * 200 + ".plist", "a/b.plist", "a b/space.plist", "Z.plist"]
    for i in range(30):
        names.append("many/%d/%02d.bplist" % (i % 4, i))
    for rel in names:
        value = {random_key(rng): random_value(rng) for _ in range(rng.randint(1, 8))}
        put(rel, binary(value))
        plists[rel] = value
    for rel in ["notes.txt", "a/b/readme", "日本語/empty", "many/0/bplis"]:
        put(rel, b"" if "empty" in rel else b"plain text\n")
        skipped.append(rel)
    for rel in ["damaged.plist", "a/short.bplist"]:
        put(rel, b"bplist00 not really")
        damaged.append(rel)
    for i, rel in enumerate(["text/a.plist", "text/b.xml", "日本語/c.json", "many/1/d.json"]):
        value = {random_key(rng): random_value(rng) for _ in range(rng.randint(1, 8))}
        if rel.endswith(".json"):
            put(rel, json.dumps(value, ensure_ascii=i % 2 == 0).encode())
        else:
            put(rel, plistlib.dumps(value, fmt=plistlib.FMT_XML, sort_keys=False))
        texts[rel] = value
    for rel, data, reason in [
            ("text/broken.xml", b"<plist><dict><key>a</key></dict></plist>",
             "a dictionary key without a value at line 1, column 26"),
            ("text/null.json", b'{"a": null}',
             "null (a property list has no null value) at line 1, column 7"),
            ("text/image.svg", b"<svg/>", "the unknown element <svg> at line 1, column 1")]:
        put(rel, data)
        text_damaged[rel] = reason
    # Links: to a file inside (converted at the link's place), to a folder
    # (not followed), to nothing (no file at all).
    os.symlink("prefs.plist", os.path.join(root, "link-to-prefs"))
    plists["link-to-prefs"] = plists["prefs.plist"]
    os.symlink("a", os.path.join(root, "link-to-a"))
    os.symlink("missing", os.path.join(root, "dangling"))
    return plists, skipped, damaged, texts, text_damaged


def walk_order(root):
    """Regular files under root, links to files followed and to folders not,
    sorted by their components' bytes."""
    found = []
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if not os.path.islink(os.path.join(folder, d))]
        for name in files:
            path = os.path.join(folder, name)
            if os.path.isfile(path):
                found.append(os.path.relpath(path, root))
    return sorted(found, key=lambda p: [c.encode() for c in p.split(os.sep)])


def expected_messages(root, order, damaged, text_damaged):
    lines = []
    for rel in order:
        path = os.path.join(root, rel)
        if rel in damaged:
            lines.append("File %s is damaged: too short to hold a header and a trailer" % path)
        elif rel in text_damaged:
            lines.append("File %s is damaged: %s" % (path, text_damaged[rel]))
        else:
            continue
        lines.append("Error: Unable convert file %s" % path)
    return lines


def snapshot(root):
    tree = {}
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    tree[os.path.relpath(path, root)] = f.read()
    return tree


def check_folder(work, rng):
    ev = os.path.join(work, "evidence")
    plists, skipped, damaged, texts, text_damaged = make_tree(ev, rng)
    order = walk_order(ev)
    before = snapshot(ev)
    expect_lines = expected_messages(ev, order, damaged, {})
    summary = "%d converted, %d failed, %d skipped" % (
        len(plists), len(damaged), len(skipped) + len(texts) + len(text_damaged))
    expect_out = ("\r\n".join(expect_lines + [summary]) + "\r\n").encode()
    # The b verbs read the text property lists too, and fail the text files
    # they cannot read.
    binary_lines = expected_messages(ev, order, damaged, text_damaged)
    binary_summary = "%d converted, %d failed, %d skipped" % (
        len(plists) + len(texts), len(damaged) + len(text_damaged), len(skipped))
    binary_out = ("\r\n".join(binary_lines + [binary_summary]) + "\r\n").encode()

    outputs = {}
    for verb in ["-dc", "-dj", "-dsj", "-dks", "-d", "-db", "-dbs"]:
        json_doc = "j" in verb
        ext = ".json" if json_doc else ".bplist" if "b" in verb else ".xml"
        converted = dict(plists, **texts) if "b" in verb else plists
        expect = binary_out if "b" in verb else expect_out
        for one in (False, True):
            out = os.path.join(work, "out%s%d" % (verb, one), "new")
            if verb == "-dc" and not one:
                # An existing output is replaced.
                os.makedirs(out)
                with open(os.path.join(out, "prefs.plist.xml"), "wb") as f:
                    f.write(b"old")
            r = run([verb, ev, out], one_thread=one)
            check(r.returncode == 1, "%s exit code %d" % (verb, r.returncode))
            check(r.stdout == expect, "%s messages:\n%r\n%r" % (verb, r.stdout, expect))
            check(r.stderr == b"", "%s writes on standard error off a terminal" % verb)
            got = snapshot(out)
            want = sorted(rel + ext for rel in converted)
            check(sorted(got) == want, "%s output tree %s" % (verb, sorted(set(got) ^ set(want))))
            for rel, value in converted.items():
                path = os.path.join(out, rel + ext)
                if not os.path.exists(path):
                    continue
                back = read_back(path, json_doc)
                check(back == (jsonable(value) if json_doc else value), "%s value of %s" % (verb, rel))
                if "s" in verb:
                    with open(path, "rb") as f:
                        keys = pairs_in_order(f.read(), json_doc)
                    check(all(k == sorted(k, key=utf16_key) for k in keys),
                          "%s key order of %s: %r" % (verb, rel, keys))
            outputs.setdefault(verb, []).append(got)
        check(outputs[verb][0] == outputs[verb][1], "%s differs on one thread" % verb)
    check(outputs["-d"][0] == outputs["-dc"][0], "-d is not -dc")
    # Each file of -db is the file -b writes of it.
    for rel in ["prefs.plist", "text/a.plist", "日本語/c.json"]:
        r = run(["-b", os.path.join(ev, rel), ""])
        check(r.returncode == 0 and r.stdout == outputs["-db"][0][rel + ".bplist"],
              "-db of %s is not -b's file" % rel)
    check(snapshot(ev) == before, "the evidence changed")

    # A progress line on a terminal, and the same standard output.
    master, slave = pty.openpty()
    r = subprocess.run([TARNWICK, "-dj", ev, os.path.join(work, "tty")], stdout=subprocess.PIPE,
                       stderr=slave)
    os.close(slave)
    shown = b""
    try:
        while True:
            chunk = os.read(master, 4096)
            if not chunk:
                break
            shown += chunk
    except OSError:
        pass
    os.close(master)
    total = len(order)
    check(("%d of %d files" % (total, total)).encode() in shown, "progress line %r" % shown[-80:])
    check(r.stdout == expect_out, "messages with a progress line")

    # Layouts that would write inside the evidence: refused, nothing written.
    for out, line in [(ev, "Output folder %s is the input folder %s!"),
                      (os.path.join(ev, "a", "x"), "Output folder %s is inside the input folder %s!"),
                      (os.path.join(ev, ".", "a", "..", "y"), "Output folder %s is inside the input folder %s!"),
                      (os.path.join(ev, "link-to-a", "z"), "Output folder %s is inside the input folder %s!")]:
        r = run(["-dj", ev, out])
        check(r.returncode == 1 and r.stdout == (line % (out, ev) + "\r\n").encode(),
              "refusal of %s: %r" % (out, r.stdout))
    r = run(["-dj", os.path.join(ev, "a"), work])
    check(r.returncode == 1 and r.stdout == ("Input folder %s is inside the output folder %s!\r\n"
                                             % (os.path.join(ev, "a"), work)).encode(),
          "refusal of a containing output: %r" % r.stdout)
    check(snapshot(ev) == before, "a refused layout changed the evidence")

    # A missing input folder, an output that cannot be made, and an input
    # folder of converted files alone.
    r = run(["-dc", os.path.join(work, "none"), os.path.join(work, "o2")])
    check(r.returncode == 1 and r.stdout.startswith(b"Folder ") and not
          os.path.exists(os.path.join(work, "o2")), "missing input folder: %r" % r.stdout)
    blocker = os.path.join(work, "a-file")
    open(blocker, "w").close()
    r = run(["-dc", ev, os.path.join(blocker, "out")])
    check(r.returncode == 217 and b"EInOutError : Invalid filename" in r.stdout,
          "output under a file: %d %r" % (r.returncode, r.stdout))
    clean = os.path.join(work, "clean")
    os.makedirs(os.path.join(clean, "x"))
    shutil.copy(os.path.join(ev, "prefs.plist"), os.path.join(clean, "x"))
    r = run(["-dsc", clean, os.path.join(work, "clean-out")])
    check(r.returncode == 0 and r.stdout == b"1 converted, 0 failed, 0 skipped\r\n",
          "all converted: %d %r" % (r.returncode, r.stdout))
    # -c on a folder is still not found.
    r = run(["-c", ev, os.path.join(work, "x.xml")])
    check(r.stdout == ("File %s not found!\r\nError: Unable convert file %s\r\n" % (ev, ev)).encode(),
          "-c on a folder: %r" % r.stdout)


def check_outputs_not_made(work):
    """An output that cannot be made for its own path (a name past the file
    system's limit, a file where its folder goes) fails that file with the
    report -c prints for such an output, and the run goes on; an output
    refused as a whole (a full disk: a file-size limit of 0) ends the run
    with 217 and that report alone, as it ends -c."""
    ev, out = os.path.join(work, "ev-names"), os.path.join(work, "out-names")
    long_name = "n" * 249 + ".plist"  # 255 bytes: with ".xml" past the limit
    for rel in ["a.plist", long_name, os.path.join("sub", "x.plist"), "z.plist"]:
        os.makedirs(os.path.dirname(os.path.join(ev, rel)), exist_ok=True)
        with open(os.path.join(ev, rel), "wb") as f:
            f.write(binary({"a": 1}))
    os.makedirs(out)
    open(os.path.join(out, "sub"), "w").close()

    def report(cause, operation, path):
        return (r"An unhandled exception occurred at \$[0-9A-F]{8} :\r\nEInOutError : %s\r\n"
                r"  \$[0-9A-F]{8}  while %s %s\r\n\r\n" % (re.escape(cause), operation,
                                                        re.escape(path)))

    def no_fsize():
        import resource
        resource.setrlimit(resource.RLIMIT_FSIZE, (0, 0))

    full = os.path.join(work, "out-full")
    cases = [
        # name, OUT, limit, exit code, the messages as a pattern, outputs made
        ("one file's name or folder", out, None, 1,
         report("Invalid filename", "renaming", os.path.join(out, long_name + ".xml")) +
         report("Invalid filename", "creating", os.path.join(out, "sub")) +
         re.escape("2 converted, 2 failed, 0 skipped\r\n"), ["a.plist.xml", "z.plist.xml"]),
        ("a full disk", full, no_fsize, 217,
         report("Disk Full", "writing", os.path.join(full, "a.plist.xml")), []),
    ]
    for name, target, limit, code, pattern, made in cases:
        for one in (False, True):
            r = run(["-dc", ev, target], one_thread=one, preexec_fn=limit)
            check(r.returncode == code and re.fullmatch(pattern.encode(), r.stdout) is not None,
                  "%s: %d %r" % (name, r.returncode, r.stdout))
            got = sorted(n for n in os.listdir(target) if n != "sub") if os.path.isdir(target) else []
            check(got == made, "%s: outputs %r" % (name, got))
    # -c prints the same report for the long name.
    r = run(["-c", os.path.join(ev, long_name), os.path.join(out, long_name + ".xml")])
    check(r.returncode == 217 and re.fullmatch(
        report("Invalid filename", "renaming", os.path.join(out, long_name + ".xml")).encode(),
        r.stdout) is not None, "-c on the long name: %r" % r.stdout)


def check_sorted_files(work, rng):
    """-s on single files: the keys in the reference order, values kept, and
    a file sorted already gives -c's bytes."""
    for i in range(60):
        value = {random_key(rng): random_value(rng) for _ in range(rng.randint(0, 12))}
        if i % 10 == 0:
            # Records: dictionaries with the same keys (the same string
            # objects), mostly in one order, now and then in another.
            names = ["id", "name", "zeta", "Émile", "\ue000", "\U0001F600", "a"][: 2 + i % 6]
            value["records"] = [{k: j for k in (names if j % 7 else names[::-1])} for j in range(30)]
        path = os.path.join(work, "s%d.plist" % i)
        with open(path, "wb") as f:
            f.write(binary(value))
        for verb, json_doc in [("-s", False), ("-sj", True), ("-jks", True), ("-bs", False)]:
            r = run([verb, path, ""])
            check(r.returncode == 0, "%s on %s: %r" % (verb, path, r.stdout[:200]))
            keys = pairs_in_order(r.stdout, json_doc)
            check(all(k == sorted(k, key=utf16_key) for k in keys), "%s order %r" % (verb, keys))
            back = json.loads(r.stdout) if json_doc else plistlib.loads(r.stdout)
            check(back == (jsonable(value) if json_doc else value), "%s value of %s" % (verb, path))
        # The same dictionary written in the reference's order.
        def reordered(v):
            if isinstance(v, dict):
                return {k: reordered(v[k]) for k in sorted(v, key=utf16_key)}
            if isinstance(v, list):
                return [reordered(x) for x in v]
            return v
        with open(path, "wb") as f:
            f.write(binary(reordered(value)))
        check(run(["-s", path, ""]).stdout == run(["-c", path, ""]).stdout,
              "-s of a sorted file is not -c's document: %s" % path)
    # Real files, keyed archives among them: with s, every dictionary of the
    # document (after unarchiving with k) holds the same entries in the
    # reference's order.
    # Under k an object shared by several UIDs is written in full where the
    # document first meets it, with "$uid": N, and as {"CF$UID": N} after
    # that; sorting moves the first meeting. So both places read as the
    # reference, and the objects are compared by their numbers.
    def is_dict(v):
        return isinstance(v, list) and v and all(isinstance(p, tuple) for p in v)

    def normal(v, found):
        if is_dict(v):
            uid = [x for k, x in v if k == "$uid"]
            entries = ("dict", sorted(((k, normal(x, found)) for k, x in v if k != "$uid"),
                                      key=lambda p: utf16_key(p[0])))
            if uid:
                found[uid[0]] = entries
                return ("ref", uid[0])
            if len(v) == 1 and v[0][0] == "CF$UID":
                return ("ref", v[0][1])
            return entries
        if isinstance(v, list):
            return [normal(x, found) for x in v]
        return v

    # Every dictionary, those the keyed view makes itself (a range, a
    # colour, a font ...) and the "$uid" entries of shared objects included.
    def in_order(keys):
        return keys == sorted(keys, key=utf16_key)
    corpus = os.path.join(os.path.dirname(os.path.abspath(README)), "tests", "corpus", "binary")
    for name in sorted(os.listdir(corpus)):
        path = os.path.join(corpus, name)
        if not os.path.isfile(path):
            continue
        for plain, sort in [("-kj", "-ksj"), ("-j", "-sj")]:
            a, b = run([plain, path, ""]), run([sort, path, ""])
            check(a.returncode == b.returncode, "%s and %s differ on %s" % (plain, sort, name))
            if a.returncode != 0:
                check(a.stdout == b.stdout, "%s fails otherwise than %s on %s" % (sort, plain, name))
                continue
            hook = lambda p: p  # noqa: E731
            da, db = (json.loads(d.stdout, object_pairs_hook=hook) for d in (a, b))
            sa, sb = {}, {}
            check((normal(da, sa), sa) == (normal(db, sb), sb),
                  "%s holds other entries than %s on %s" % (sort, plain, name))
            keys = pairs_in_order(b.stdout, True)
            check(all(in_order(k) for k in keys), "%s order on %s" % (sort, name))
        # A binary plist with sorted keys is the XML of -s, where -b takes the file.
        sb = run(["-sb", path, ""])
        if sb.returncode == 0:
            check(run(["-c", "/dev/stdin", ""], input=sb.stdout).stdout == run(["-s", path, ""]).stdout,
                  "-c of -sb is not -s on %s" % name)
    # Arguments that are not verbs keep the usage text.
    for bad in ["-", "-cc", "-cj", "-C", "-x", "-h", "-dd", "-bk", "-dbj", "-bc", "-kb", "-sjc",
                "-ss", "-bsb"]:
        r = run([bad, "a", "b"])
        check(r.returncode == 2 and r.stdout.startswith(b"Usage:"), "%s is a verb" % bad)


def check_readme(work):
    """Runs the Usage section's examples as they stand."""
    with open(README, encoding="utf-8") as f:
        text = f.read()
    section = text.split("\n## Usage\n", 1)[1].split("\n## ", 1)[0]
    blocks = re.findall(r"```sh\n(.*?)```", section, re.S)
    check(blocks, "the Usage section has no examples")
    here = os.path.join(work, "readme")
    os.makedirs(os.path.join(here, "evidence", "Library", "Preferences"))
    prefs = binary({"b": 1, "a": {"d": 2, "c": 3}})
    for rel in ["prefs.plist", "evidence/Library/Preferences/com.example.plist"]:
        with open(os.path.join(here, rel), "wb") as f:
            f.write(prefs)
    for block in blocks:
        for line in block.splitlines():
            line = line.split("#")[0].strip()
            if not line.startswith("tarnwick "):
                continue
            args = line.split()[1:]
            r = run(args, cwd=here)
            check(r.returncode == 0, "README example %r: %d %r" % (line, r.returncode, r.stdout))
    # The messages block: a damaged file and a text file join the evidence.
    printed = re.search(r"```\n(File evidence/broken.plist .*?)```", section, re.S).group(1)
    with open(os.path.join(here, "evidence", "broken.plist"), "wb") as f:
        f.write(b"bplist00 broken")
    with open(os.path.join(here, "evidence", "notes.txt"), "w") as f:
        f.write("text\n")
    r = run(["-dc", "evidence", "messages-out"], cwd=here)
    check(r.returncode == 1 and r.stdout.replace(b"\r\n", b"\n").decode() == printed,
          "README messages: %r" % r.stdout)


def main():
    rng = random.Random(20261208)
    with tempfile.TemporaryDirectory() as work:
        check_folder(work, rng)
        check_sorted_files(work, rng)
        check_outputs_not_made(work)
        check_readme(work)
    print("%d passed, %d failed" % (passed, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
