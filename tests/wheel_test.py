#!/usr/bin/env python3
"""The Python wheels scripts/build-wheel.sh makes, read as pip and a loader
would read them: the name's tags are the WHEEL file's, RECORD holds every
other file with its hash and size, the package holds the module, its type
hints (naming every public name of the module), py.typed and the library of
the platform the tag names. A manylinux_2_N library needs the C library
alone and no glibc symbol version past 2.N (readelf, objdump); a Windows
DLL is the tag's machine (read from its PE header) and imports system DLLs
alone. Usage: wheel_test.py WHEEL..."""
import ast, base64, hashlib, re, struct, subprocess, sys, tempfile, zipfile

failures = []
LINUX_NEEDED = {"libc.so.6", "libm.so.6", "ld-linux-x86-64.so.2"}
WINDOWS_DLLS = {"kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll", "advapi32.dll"}
PE_MACHINES = {"win_amd64": 0x8664, "win32": 0x14C}


def check_linux(name, library, minor):
    with tempfile.NamedTemporaryFile(suffix=".so") as f:
        f.write(library)
        f.flush()
        dynamic = subprocess.run(["readelf", "-d", f.name], capture_output=True, text=True).stdout
        needed = set(re.findall(r"\(NEEDED\).*\[(.*)\]", dynamic))
        symbols = subprocess.run(["objdump", "-T", f.name], capture_output=True, text=True).stdout
    if not needed or not needed <= LINUX_NEEDED:
        failures.append("%s: the library needs %s" % (name, sorted(needed - LINUX_NEEDED)))
    newest = max(int(v) for v in re.findall(r"GLIBC_2\.(\d+)", symbols))
    if newest > minor:
        failures.append("%s: the library uses GLIBC_2.%d, past its tag" % (name, newest))


def check_windows(name, library, tag):
    pe = struct.unpack_from("<I", library, 0x3C)[0]
    if library[pe:pe + 4] != b"PE\0\0" or struct.unpack_from("<H", library, pe + 4)[0] != PE_MACHINES[tag]:
        failures.append("%s: tarnwick.dll is not a %s DLL" % (name, tag))
    tool = "x86_64-w64-mingw32-objdump" if tag == "win_amd64" else "i686-w64-mingw32-objdump"
    with tempfile.NamedTemporaryFile(suffix=".dll") as f:
        f.write(library)
        f.flush()
        headers = subprocess.run([tool, "-p", f.name], capture_output=True, text=True).stdout
    imports = {d.lower() for d in re.findall(r"DLL Name: (\S+)", headers)}
    if not imports or not imports <= WINDOWS_DLLS:
        failures.append("%s: tarnwick.dll imports %s" % (name, sorted(imports - WINDOWS_DLLS)))


def public_names(source):
    """The module's public functions, class and constants, from its text."""
    names = set()
    for node in ast.parse(source).body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)) and not node.name.startswith("_"):
            names.add(node.name)
    return names | set(re.findall(r"^([A-Z][A-Z_]*) = \d+$", source, re.M)) | {"__version__"}


for path in sys.argv[1:]:
    name = path.rsplit("/", 1)[-1]
    m = re.fullmatch(r"tarnwick-([0-9.]+)-py3-none-(manylinux_2_(\d+)_x86_64|win_amd64|win32)\.whl", name)
    if m is None:
        failures.append("%s: not a wheel name this build makes" % name)
        continue
    version, tag = m[1], m[2]
    z = zipfile.ZipFile(path)
    files = {n: z.read(n) for n in z.namelist()}
    info = "tarnwick-%s.dist-info/" % version
    library = "tarnwick/" + ("tarnwick.dll" if tag.startswith("win") else "libtarnwick.so.0")
    expected = {"tarnwick/__init__.py", "tarnwick/__init__.pyi", "tarnwick/py.typed", library,
                info + "METADATA", info + "WHEEL", info + "RECORD", info + "LICENSE",
                info + "top_level.txt"}
    if set(files) != expected:
        failures.append("%s holds %s" % (name, sorted(set(files) ^ expected)))
        continue
    wheel = files[info + "WHEEL"].decode()
    if "Tag: py3-none-%s\n" % tag not in wheel or "Root-Is-Purelib: false\n" not in wheel:
        failures.append("%s: WHEEL says %r" % (name, wheel))
    if "\nVersion: %s\n" % version not in files[info + "METADATA"].decode():
        failures.append("%s: METADATA names another version" % name)
    record = {}
    for line in files[info + "RECORD"].decode().splitlines():
        file, digest, size = line.rsplit(",", 2)
        record[file] = (digest, size)
    for file, data in files.items():
        want = ("", "") if file == info + "RECORD" else (
            "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode(),
            str(len(data)))
        if record.get(file) != want:
            failures.append("%s: RECORD has %s for %s" % (name, record.get(file), file))
    module = files["tarnwick/__init__.py"].decode()
    if '\n_VERSION = "%s"\n' % version not in module or "@" in module:
        failures.append("%s: the module is not the configured one of version %s" % (name, version))
    stub = public_names(files["tarnwick/__init__.pyi"].decode()) | set(
        re.findall(r"^(\w+):", files["tarnwick/__init__.pyi"].decode(), re.M))
    if public_names(module) - stub:
        failures.append("%s: the type hints lack %s" % (name, sorted(public_names(module) - stub)))
    if tag.startswith("manylinux"):
        check_linux(name, files[library], int(m[3]))
    else:
        check_windows(name, files[library], tag)
    print("%s: %d files, tags and library checked" % (name, len(files)))

print("\n".join(failures + ["%d wheels, %d failures" % (len(sys.argv) - 1, len(failures))]))
sys.exit(1 if failures or len(sys.argv) < 2 else 0)
