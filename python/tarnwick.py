"""Converts binary property lists (bplist00) to XML or JSON documents, or to
Python values, and any property list (XML, JSON or binary) to a binary one,
through libtarnwick. Pure Python over ctypes: no compiler and nothing beyond
the standard library.

    import tarnwick
    with open("Info.plist", "rb") as f:
        data = f.read()
    xml = tarnwick.to_xml(data)      # bytes, as `tarnwick -c` writes them
    value = tarnwick.loads(data)     # the values plistlib.loads gives
    binary = tarnwick.to_binary(b"<plist><true/></plist>")  # as `tarnwick -b`

load(fp) and loads(data) return what plistlib.load and plistlib.loads return
for the same binary file: dict, list, str, int, float, bool, bytes, datetime
(naive, in UTC) and plistlib.UID, and None for a null object. Dictionary keys
are always str: a key of another kind is the text that names it. Where
plistlib raises an exception of its own or fails inside (a damaged file, a
date outside the years 1 to 9999 its datetime holds), these raise
TarnwickError.

With json_values=True they return the values of the JSON document instead,
as `tarnwick -j` writes it, where some values are text:
  date           "YYYY-MM-DDTHH:MM:SSZ", with ".ffffff" when it has a
                 fraction of a second; to_datetime(text) gives a datetime
  data           base64 text; to_bytes(text) gives the bytes
  UID            {"CF$UID": N}
  NaN, +inf, -inf  "nan", "+infinity", "-infinity"

A file that cannot be converted raises TarnwickError, whose `code` is one of
the constants below and whose `reason` says why, in the words the command
line uses ("the references of a container run past the end of the object
data"). The data must be bytes-like (bytes, bytearray, memoryview, array):
anything else raises TypeError, as does a `threads` that is not a bool.

A conversion runs inside the library, which Python cannot interrupt: Ctrl-C
(KeyboardInterrupt), or any other asynchronous exception such as a timeout
raised from a signal handler, arrives when the conversion ends, and the
document is freed.

The module loads the shared library from its own folder first, then the one
installed with it (PREFIX/lib when installed under PREFIX), then from the
system's library path, and takes the first whose version is its own.
"""

import base64
import ctypes
import ctypes.util
import datetime
import json
import os
import plistlib
import re
import sys

__all__ = ["to_xml", "to_json", "to_keyed_xml", "to_keyed_json", "to_binary", "load", "loads", "to_datetime",
           "to_bytes", "version", "TarnwickError", "__version__"]

# Formats, codes of TarnwickError (OK is none), the option bit and the
# reason's size, written in from tarnwick.h when the module is built.
@TARNWICK_PYTHON_CONSTANTS@
# The version of the library the module goes with.
_VERSION = "@PROJECT_VERSION@"
__version__ = _VERSION
# The folder of the library installed with the module, relative to the
# module's own; written in by `cmake --install`.
_LIBRARY_DIR = None


class TarnwickError(ValueError):
    """A conversion that failed: `code` says how, `reason` why."""

    def __init__(self, code, reason):
        super().__init__(reason)
        self.code = code
        self.reason = reason


class _Error(ctypes.Structure):
    _fields_ = [("code", ctypes.c_int), ("reason", ctypes.c_char * _REASON_SIZE)]


def _library_names():
    if sys.platform == "win32":
        return ["tarnwick.dll"]
    if sys.platform == "darwin":
        return ["libtarnwick.0.dylib"]
    return ["libtarnwick.so.0"]


def _candidates(here):
    folders = [here]
    if _LIBRARY_DIR is not None:
        folders.append(os.path.normpath(os.path.join(here, _LIBRARY_DIR)))
    for folder in folders:
        for name in _library_names():
            if os.path.exists(os.path.join(folder, name)):
                yield os.path.join(folder, name)
    yield from _library_names()
    found = ctypes.util.find_library("tarnwick")
    if found:
        yield found


def _load_library():
    here = os.path.dirname(os.path.abspath(__file__))
    others = []
    for candidate in _candidates(here):
        try:
            lib = ctypes.CDLL(candidate)
        except OSError:
            continue
        lib.tarnwick_version.argtypes = []
        lib.tarnwick_version.restype = ctypes.c_char_p
        found = lib.tarnwick_version().decode("ascii", "replace")
        if found == _VERSION:
            return lib
        others.append("%s is version %s" % (candidate, found))
    raise ImportError("libtarnwick %s was found neither in %s, nor where it was installed with "
                      "the module, nor on the system's library path%s"
                      % (_VERSION, here, "".join("; " + o for o in others)))


_lib = _load_library()
_lib.tarnwick_convert_to_buffer.argtypes = [
    ctypes.c_char_p, ctypes.c_size_t, ctypes.c_int, ctypes.c_uint,
    ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(ctypes.c_size_t), ctypes.POINTER(_Error)]
_lib.tarnwick_convert_to_buffer.restype = ctypes.c_int
_lib.tarnwick_free.argtypes = [ctypes.c_void_p]
_lib.tarnwick_free.restype = None


def _convert(data, form, threads, options=0):
    if not isinstance(threads, bool):
        raise TypeError("threads must be True or False, not %s" % type(threads).__name__)
    if not isinstance(data, bytes):
        try:
            data = memoryview(data).tobytes()
        except TypeError:
            raise TypeError("a bytes-like object (bytes, bytearray, memoryview, array) is "
                            "required, not %s" % type(data).__name__) from None
    document = ctypes.c_void_p()
    length = ctypes.c_size_t()
    error = _Error()
    # The document is freed on every path: an asynchronous exception that was
    # raised during the call arrives as it returns, inside the try.
    try:
        code = _lib.tarnwick_convert_to_buffer(data, len(data), form,
                                               (_ALL_THREADS if threads else 0) | options,
                                               ctypes.byref(document), ctypes.byref(length),
                                               ctypes.byref(error))
        if code != 0:
            raise TarnwickError(code, error.reason.decode("utf-8", "replace"))
        return ctypes.string_at(document, length.value)
    finally:
        _lib.tarnwick_free(document)


def to_xml(data, threads=True):
    """The XML property list of the binary plist `data` (bytes-like), as
    bytes. threads=False converts on the calling thread alone. Ctrl-C
    arrives when the conversion ends."""
    return _convert(data, XML, threads)


def to_json(data, threads=True):
    """The JSON document of the binary plist `data`, as bytes."""
    return _convert(data, JSON, threads)


def to_keyed_xml(data, threads=True):
    """As to_xml, with a keyed archive written as the objects it encodes."""
    return _convert(data, KEYED_XML, threads)


def to_keyed_json(data, threads=True):
    """As to_json, with a keyed archive written as the objects it encodes."""
    return _convert(data, KEYED_JSON, threads)


def to_binary(data):
    """The binary plist (bplist00) of the XML property list, JSON document or
    binary plist `data`, as bytes, written as `tarnwick -b` writes it. Data
    that is none of them raises TarnwickError with code NOT_BPLIST, a
    damaged one DAMAGED with the line and column of the fault."""
    return _convert(data, BINARY, False)


_EPOCH = datetime.datetime(2001, 1, 1)


def _date(seconds):
    # The same sum as plistlib's, so that the microseconds round alike.
    return _EPOCH + datetime.timedelta(seconds=seconds)


# The tagged objects of a typed JSON document (TARNWICK_TYPED_VALUES in
# tarnwick.h) and the values they stand for.
_TAGGED = {"\udc00d": _date, "\udc00b": base64.b64decode, "\udc00u": plistlib.UID,
           "\udc00r": float}


def _typed(members):
    # Called by json for every object, innermost first: a tagged object
    # becomes its value, any other stays as it is.
    if len(members) == 1:
        for name in members:
            make = _TAGGED.get(name)
            if make is not None:
                return make(members[name])
    return members


def loads(data, keyed=False, json_values=False):
    """The values of the binary plist `data` (bytes-like), as plistlib.loads
    gives them: dict, list, str, int, float, bool, bytes, datetime and
    plistlib.UID. keyed=True gives a keyed archive as the objects it encodes;
    json_values=True gives the values of the JSON document (see the module's
    text). A file that cannot be read raises TarnwickError."""
    form = KEYED_JSON if keyed else JSON
    if json_values:
        return json.loads(_convert(data, form, True))
    text = _convert(data, form, True, _TYPED_VALUES)
    try:
        return json.loads(text, object_hook=_typed)
    except OverflowError:
        raise TarnwickError(UNCONVERTIBLE, "a date lies outside the years 1 to 9999, which "
                            "Python's datetime holds") from None


def load(fp, keyed=False, json_values=False):
    """As loads, for the binary plist read from the binary file object
    `fp` (opened with "rb"), as plistlib.load reads it."""
    return loads(fp.read(), keyed=keyed, json_values=json_values)


_DATE = re.compile(r"(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)(?:\.(\d{1,6}))?Z")


def to_datetime(text):
    """The datetime (naive, UTC) of a date's JSON text; years before 1 and
    after 9999 raise ValueError."""
    m = _DATE.fullmatch(text)
    if m is None:
        raise ValueError("not a date: %r" % text)
    micro = int((m.group(7) or "0").ljust(6, "0"))
    return datetime.datetime(*(int(g) for g in m.groups()[:6]), micro)


def to_bytes(text):
    """The bytes of a data value's base64 text."""
    return base64.b64decode(text, validate=True)


def version():
    """The library's version, "MAJOR.MINOR"."""
    return _lib.tarnwick_version().decode("ascii")
