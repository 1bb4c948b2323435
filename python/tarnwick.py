"""Converts binary property lists (bplist00) to XML or JSON documents, or to
Python values, through libtarnwick. Pure Python over ctypes: no compiler and
nothing beyond the standard library.

    import tarnwick
    with open("Info.plist", "rb") as f:
        data = f.read()
    xml = tarnwick.to_xml(data)      # bytes, as `tarnwick -c` writes them
    value = tarnwick.loads(data)     # dicts, lists, str, int, float, bool, None

loads() reads the JSON document, so some values come back as text:
  date           "YYYY-MM-DDTHH:MM:SSZ", with ".ffffff" when it has a
                 fraction of a second; to_datetime(text) gives a datetime
                 (naive, in UTC, as plistlib gives it)
  data           base64 text; to_bytes(text) gives the bytes
  UID            {"CF$UID": N}
  NaN, +inf, -inf  "nan", "+infinity", "-infinity"
  any other key  text that names it (dictionary keys are always str)

A file that cannot be converted raises TarnwickError, whose `code` is one of
the constants below and whose `reason` says why, in the words the command
line uses ("the references of a container run past the end of the object
data").

The module loads the shared library from its own folder first, then from the
system's library path.
"""

import base64
import ctypes
import ctypes.util
import datetime
import json
import os
import re
import sys

__all__ = ["to_xml", "to_json", "to_keyed_xml", "to_keyed_json", "loads", "to_datetime",
           "to_bytes", "version", "TarnwickError"]

# Formats, as in tarnwick.h.
XML, JSON, KEYED_XML, KEYED_JSON = 0, 1, 2, 3

# Codes of TarnwickError, as in tarnwick.h.
NOT_BPLIST = 1
DAMAGED = 2
UNCONVERTIBLE = 3
OUTPUT_REFUSED = 4
OUT_OF_MEMORY = 5
BAD_ARGUMENT = 6
TOO_LARGE = 7
INTERNAL_ERROR = 8

_ALL_THREADS = 1
_REASON_SIZE = 256


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


def _load_library():
    here = os.path.dirname(os.path.abspath(__file__))
    for name in _library_names():
        beside = os.path.join(here, name)
        if os.path.exists(beside):
            return ctypes.CDLL(beside)
    for name in _library_names() + [ctypes.util.find_library("tarnwick")]:
        if name:
            try:
                return ctypes.CDLL(name)
            except OSError:
                pass
    raise ImportError("libtarnwick was found neither in %s nor on the system's library path"
                      % here)


_lib = _load_library()
_lib.tarnwick_convert_to_buffer.argtypes = [
    ctypes.c_char_p, ctypes.c_size_t, ctypes.c_int, ctypes.c_uint,
    ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(ctypes.c_size_t), ctypes.POINTER(_Error)]
_lib.tarnwick_convert_to_buffer.restype = ctypes.c_int
_lib.tarnwick_free.argtypes = [ctypes.c_void_p]
_lib.tarnwick_free.restype = None
_lib.tarnwick_version.argtypes = []
_lib.tarnwick_version.restype = ctypes.c_char_p


def _convert(data, form, threads):
    data = bytes(data)
    document = ctypes.c_void_p()
    length = ctypes.c_size_t()
    error = _Error()
    code = _lib.tarnwick_convert_to_buffer(data, len(data), form, _ALL_THREADS if threads else 0,
                                           ctypes.byref(document), ctypes.byref(length),
                                           ctypes.byref(error))
    if code != 0:
        raise TarnwickError(code, error.reason.decode("utf-8", "replace"))
    try:
        return ctypes.string_at(document, length.value)
    finally:
        _lib.tarnwick_free(document)


def to_xml(data, threads=True):
    """The XML property list of the binary plist `data`, as bytes.
    threads=False converts on the calling thread alone."""
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


def loads(data, keyed=False):
    """The Python values of the binary plist `data`, read from its JSON
    document (see the module's text for dates, data and other values)."""
    return json.loads(_convert(data, KEYED_JSON if keyed else JSON, True))


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
