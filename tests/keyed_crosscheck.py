#!/usr/bin/env python3
"""Cross-checks tarnwick's keyed-archive output (-k and -kj) against a
flattener written here over Python's plistlib.

Usage: keyed_crosscheck.py TARNWICK CORPUS_DIR

1. Every corpus file that is a keyed archive: plistlib reads the -k document
   and json.loads the -kj document to what this script's own flattener makes
   of the archive. Every other corpus file: -k writes the bytes -c writes,
   -kj the bytes -j writes.
2. Archives made here: random trees archived the way NSKeyedArchiver does it
   (dictionaries, arrays, sets, strings, dates, data, numbers, shared
   objects) must come back as the tree; hand-made archives cover every class
   of the table, loops, an archive nested in data, damaged parts and
   missing class records, null and fill objects in every place an entry
   can hold them, keys of every kind and object graphs around the depth
   bound.

Prints one line per failure and ends with 'N passed, M failed'.
"""
import base64
import datetime
import json
import math
import os
import plistlib
import random
import sys
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from crosscheck import Converter, Failures, difference, random_string, xml_text  # noqa: E402
from json_crosscheck import Fill, Null, Pairs, encode  # noqa: E402

EPOCH = datetime.datetime(2001, 1, 1)
UID = plistlib.UID

ARRAYS = {"NSArray", "NSMutableArray", "NSSet", "NSMutableSet", "NSOrderedSet", "NSMutableOrderedSet"}
DICTS = {"NSDictionary", "NSMutableDictionary"}
STRINGS = {"NSString", "NSMutableString"}
DATAS = {"NSData", "NSMutableData"}
ATTRIBUTED = {"NSAttributedString", "NSMutableAttributedString"}


class NullValue:
    """$null, NSNull and plain null objects: null in JSON, left out in XML."""


NULL = NullValue()


class FillValue:
    """A fill object: skipped in arrays, its entry left out in both formats."""


FILL = FillValue()

# The root of an archive that is no document: the file converts as without -k.
PLAIN = object()

# The deepest nesting of dictionaries and arrays a document may have.
MAX_DEPTH = 512


class Loop(dict):
    """A UID that leads back to an object on the current path."""


class NonStringKey(Exception):
    """A dictionary key that resolves to something other than a string:
    the documents are checked for validity alone."""


class Date:
    def __init__(self, seconds):
        self.seconds = seconds


# Property lists nested in data, one inside the other, that are opened.
MAX_NESTED = 8


def opened(data, level):
    """The document that data holding a binary property list stands for in
    a file nested `level` deep: an archive's objects, or any other file's
    plain document; None when it stays data."""
    if level >= MAX_NESTED or not data.startswith(b"bplist"):
        return None
    try:
        inner = plistlib.loads(data)
    except Exception:
        return None
    if is_archive(inner):
        flat = Flattener(inner, level + 1).top(inner["$top"])
        if flat is not PLAIN:
            return flat
    return open_plain(inner, level + 1)


def open_plain(v, level):
    """A plain document with the data in it opened."""
    if isinstance(v, bytes):
        inner = opened(v, level)
        return v if inner is None else inner
    if isinstance(v, dict):
        return {k: open_plain(x, level) for k, x in v.items()}
    if isinstance(v, list):
        return [open_plain(x, level) for x in v]
    return v


def is_archive(top):
    return (isinstance(top, dict) and top.get("$archiver") == "NSKeyedArchiver"
            and isinstance(top.get("$objects"), list) and isinstance(top.get("$top"), dict))


def count_names(archive):
    """How many UIDs name each entry of $objects: those among the values in
    $top and in every entry of $objects (the containers stored in them
    included, each once), except the values of $class keys."""
    counts, seen = {}, set()

    def walk(v):
        if isinstance(v, UID):
            counts[v.data] = counts.get(v.data, 0) + 1
        elif isinstance(v, (dict, list)) and id(v) not in seen:
            seen.add(id(v))
            for k, x in (v.items() if isinstance(v, dict) else enumerate(v)):
                if k != "$class" or isinstance(v, list):
                    walk(x)

    walk(archive["$top"])
    for obj in archive["$objects"]:
        if isinstance(obj, (dict, list)):
            walk(obj)
    return counts


class Flattener:
    """The object graph of one archive, written out as plain values. An
    object that becomes a dictionary is written in full at its first
    appearance, with "$uid" when more than one UID names it, and as its
    plain UID after that; every other value is written wherever it appears."""

    def __init__(self, archive, level=0):
        self.level = level  # files this archive is nested in
        self.objects = archive["$objects"]
        self.named = count_names(archive)
        self.shown = set()

    def show(self, n, fields):
        """Records that entry n is written in full as the dictionary `fields`."""
        self.shown.add(n)
        return {"$uid": n, **fields} if self.named.get(n, 0) > 1 else fields

    def top(self, top):
        if list(top) == ["root"]:
            root = self.value(top["root"], ())
            return PLAIN if root is NULL or root is FILL else root
        return self.entries(top.items(), ())

    def entries(self, items, path):
        """A dictionary's entries resolved; a null or fill key leaves its
        entry out (a fill value is dropped by as_xml and as_json)."""
        return {k: self.value(x, path) for k, x in items if not isinstance(k, (Null, Fill))}

    def value(self, v, path):
        """A field's value: UIDs followed, containers resolved inside."""
        if isinstance(v, UID):
            return self.object(v.data, path)
        if isinstance(v, dict):
            return self.entries(v.items(), path)
        if isinstance(v, list):
            return [self.value(x, path) for x in v]
        if v is None or isinstance(v, Null):
            return NULL
        if isinstance(v, Fill):
            return FILL
        if isinstance(v, bytes):
            inner = opened(v, self.level)
            return v if inner is None else inner
        return v

    def object(self, n, path):
        if n >= len(self.objects):
            return {"CF$UID": n}  # a reference past $objects stays a plain UID
        if n in path:
            return Loop({"CF$UID": n})
        if n in self.shown:
            return {"CF$UID": n}
        obj = self.objects[n]
        if isinstance(obj, str) and obj == "$null":
            return NULL
        if isinstance(obj, (Null, Fill)):
            return self.value(obj, path)
        if isinstance(obj, dict) and "$class" not in obj:
            self.shown.add(n)
            return self.show(n, self.entries(obj.items(), path + (n,)))
        if not isinstance(obj, dict):
            return self.value(obj, path + (n,))
        path = path + (n,)
        name = self.class_name(obj["$class"])
        before = set(self.shown)
        plain = self.plain(obj, name, path, n) if name is not None else None
        if not isinstance(plain, (list, dict)):
            self.shown = before  # texts and failed decodings write no dictionary
        if plain is not None:
            return plain
        self.shown.add(n)
        fields = {}
        for k, x in obj.items():
            if isinstance(k, (Null, Fill)):
                continue
            if k == "$class":
                # A class reference that leads to no class record stays a UID.
                fields[k] = name if name is not None else {"CF$UID": x.data} if isinstance(x, UID) else x
            else:
                fields[k] = self.value(x, path)
        return self.show(n, fields)

    def deref(self, v):
        """A field's value one UID further on; None for a UID past $objects."""
        if isinstance(v, UID):
            return self.objects[v.data] if v.data < len(self.objects) else None
        return v

    def text(self, v):
        """The text of a string field (a string or an NSString), else None."""
        before = set(self.shown)
        try:
            t = self.value(v, ()) if v is not None else None
        except RecursionError:
            t = None
        self.shown = before
        return t if isinstance(t, str) else None

    def data_bytes(self, v):
        """The bytes of a data field: data, or an NSData's."""
        d = self.deref(v)
        if isinstance(d, dict) and self.class_name(d.get("$class")) in DATAS:
            d = self.deref(d.get("NS.data"))
        return d if isinstance(d, bytes) else None

    def ns_value(self, obj):
        location, length = self.deref(obj.get("NS.rangeval.location")), self.deref(obj.get("NS.rangeval.length"))
        if "NS.rangeval.location" in obj and "NS.rangeval.length" in obj:
            return {"location": location, "length": length} if is_int(location) and is_int(length) else None
        for field, names in (("NS.pointval", ("x", "y")), ("NS.sizeval", ("width", "height")),
                             ("NS.rectval", ("x", "y", "width", "height"))):
            if field in obj:
                text = self.text(obj[field])
                values = numbers(text, len(names)) if text is not None else None
                return dict(zip(names, values)) if values is not None else None
        return None

    def index_set(self, obj):
        count = self.deref(obj.get("NSRangeCount"))
        if not is_int(count) or count < 0:
            return None
        if count == 0:
            ranges = []
        elif count == 1:
            location, length = self.deref(obj.get("NSLocation")), self.deref(obj.get("NSLength"))
            if not is_int(location) or not is_int(length):
                return None
            ranges = [(location, length)]
        else:
            packed = unpack(self.data_bytes(obj.get("NSRangeData")))
            if packed is None or len(packed) != 2 * count:
                return None
            ranges = list(zip(packed[::2], packed[1::2]))
        out = []
        for location, length in ranges:
            if length > 4:
                out.append({"location": location, "length": length})
            else:
                out.extend(range(location, location + length))
        return out

    def counted_set(self, obj, path):
        count = self.deref(obj.get("NS.count"))
        if not is_int(count) or count < 0:
            return None
        keys = ["NS.object%d" % i for i in range(count)] + ["NS.count%d" % i for i in range(count)]
        if any(k not in obj for k in keys) or not all(is_int(self.deref(obj["NS.count%d" % i])) for i in range(count)):
            return None
        return [{"object": self.value(obj["NS.object%d" % i], path), "count": self.deref(obj["NS.count%d" % i])}
                for i in range(count)]

    def date_components(self, obj, path):
        names = (("NS.era", "era"), ("NS.year", "year"), ("NS.quarter", "quarter"), ("NS.month", "month"),
                 ("NS.day", "day"), ("NS.hour", "hour"), ("NS.minute", "minute"), ("NS.second", "second"),
                 ("NS.nanosec", "nanosecond"), ("NS.weekOfYear", "weekOfYear"), ("NS.weekOfMonth", "weekOfMonth"),
                 ("NS.yearForWOY", "yearForWeekOfYear"), ("NS.weekday", "weekday"),
                 ("NS.weekdayOrdinal", "weekdayOrdinal"))
        out = {}
        for field, name in names:
            if field in obj:
                v = self.deref(obj[field])
                if not is_int(v):
                    return None
                if v != 2**63 - 1:  # NSDateComponentUndefined
                    out[name] = v
        if self.deref(obj.get("NS.isLeapMonth")) is True:
            out["isLeapMonth"] = True
        for field, name in (("NS.calendar", "calendar"), ("NS.timezone", "timeZone")):
            if field in obj:
                v = self.value(obj[field], path)
                if v is not NULL and v is not FILL:
                    out[name] = v
        return out

    def color(self, obj, path):
        space = self.deref(obj.get("NSColorSpace"))
        if not is_int(space):
            return None
        names = {1: "calibratedRGB", 2: "deviceRGB", 3: "calibratedWhite", 4: "deviceWhite", 5: "deviceCMYK",
                 6: "catalog"}
        out = {"colorSpace": names.get(space, space)}
        if space == 6:
            catalog, name = self.text(obj.get("NSCatalogName")), self.text(obj.get("NSColorName"))
            if catalog is None or name is None:
                return None
            out.update(catalog=catalog, name=name)
            if "NSColor" in obj:
                fallback = self.value(obj["NSColor"], path)
                if fallback is not NULL and fallback is not FILL:
                    out["color"] = fallback
            return out
        for field in ("NSComponents", "NSRGB", "NSWhite", "NSCMYK"):
            if field in obj:
                data = self.data_bytes(obj[field])
                if data is None:
                    continue
                try:
                    values = [float(t) for t in data.rstrip(b"\0").decode("ascii").split(" ") if t]
                except ValueError:
                    return None
                if not values:
                    return None
                out["components"] = values
                return out
        return None

    def class_name(self, ref):
        if not isinstance(ref, UID) or ref.data >= len(self.objects):
            return None
        record = self.objects[ref.data]
        if not isinstance(record, dict) or not isinstance(record.get("$classname"), str):
            return None
        return record["$classname"]

    def key_text(self, k, path):
        """The text an NSDictionary's key is written as, or None when its
        entry is left out (a null or fill key); a key shows no object."""
        before = set(self.shown)
        try:
            return self.key_text_of(k, path)
        finally:
            self.shown = before

    def key_text_of(self, k, path):
        if isinstance(k, UID) and k.data < len(self.objects):
            record = self.objects[k.data]
            if isinstance(record, dict) and self.class_name(record.get("$class")) in DATAS:
                data = record.get("NS.data")  # as a key, data stays data
                if isinstance(data, bytes):
                    return base64.b64encode(data).decode("ascii")
        key = self.value(k, path)
        if key is NULL or key is FILL:
            return None
        if isinstance(key, bool):
            return "true" if key else "false"
        if isinstance(key, str):
            return key
        if isinstance(key, int):
            return str(key)
        if isinstance(key, Date):
            return date_floor(key.seconds).strftime("%Y-%m-%dT%H:%M:%SZ")
        if isinstance(key, bytes):
            return base64.b64encode(key).decode("ascii")
        if isinstance(k, UID):
            return str(k.data)  # a key that cannot be a text: its UID's number
        raise NonStringKey()

    def plain(self, obj, name, path, n):
        """The plain value of an object of a known class, or None when it is
        not one or its fields do not fit (then its raw fields are written)."""
        get = lambda key: self.value(obj[key], path)  # noqa: E731
        if name in DICTS and isinstance(obj.get("NS.keys"), list) and isinstance(obj.get("NS.objects"), list):
            keys, values = obj["NS.keys"], obj["NS.objects"]
            if len(keys) != len(values):
                return None
            self.shown.add(n)
            resolved = {}
            for k, x in zip(keys, values):
                key = self.key_text(k, path)
                if key is not None:
                    resolved[key] = self.value(x, path)
            return self.show(n, resolved)
        if name in ARRAYS:
            if isinstance(obj.get("NS.objects"), list):
                return [self.value(x, path) for x in obj["NS.objects"]]
            numbered = [k for k in obj if k.startswith("NS.object.")]
            if numbered:
                return [get("NS.object.%d" % i) for i in range(len(numbered))]
            return None
        if name in ATTRIBUTED:
            before = set(self.shown)
            s = get("NSString") if "NSString" in obj else None
            if not isinstance(s, str):
                return None
            attributes = self.deref(obj.get("NSAttributes"))
            if attributes is None or attributes == "$null" or isinstance(attributes, (Null, Fill)):
                self.shown = before
                return s
            value = {"string": s, "attributes": get("NSAttributes")}
            info = unpack(self.data_bytes(obj.get("NSAttributeInfo")))
            if info is not None and len(info) % 2 == 0:
                runs, at = [], 0
                for length, index in zip(info[::2], info[1::2]):
                    runs.append({"location": at, "length": length, "attributes": index})
                    at += length
                value["runs"] = runs
            return value
        if name == "NSValue":
            return self.ns_value(obj)
        if name in ("NSIndexSet", "NSMutableIndexSet"):
            return self.index_set(obj)
        if name == "NSCountedSet":
            return self.counted_set(obj, path)
        if name in ("NSTimeZone", "NSLocale"):
            text = self.text(obj.get("NS.name" if name == "NSTimeZone" else "NS.identifier"))
            return text
        if name == "NSDateComponents":
            return self.date_components(obj, path)
        if name == "NSMeasurement":
            value, unit = self.deref(obj.get("NS.value")), self.deref(obj.get("NS.unit"))
            symbol = self.text(unit.get("NS.symbol")) if isinstance(unit, dict) else None
            if not is_number(value) or symbol is None:
                return None
            return {"value": value, "unit": symbol}
        if name == "NSColor":
            return self.color(obj, path)
        if name == "NSFont":
            font, size = self.text(obj.get("NSName")), self.deref(obj.get("NSSize"))
            return {"name": font, "size": size} if font is not None and is_number(size) else None
        if name in STRINGS:
            if "NS.string" in obj:
                s = get("NS.string")
                return s if isinstance(s, str) else None
            if "NS.bytes" in obj and isinstance(obj["NS.bytes"], bytes):
                return obj["NS.bytes"].decode("utf-8", "replace")
            return None
        if name == "NSDate" and isinstance(obj.get("NS.time"), (int, float)):
            return Date(float(obj["NS.time"]))
        if name in DATAS and isinstance(self.deref(obj.get("NS.data")), bytes):
            return get("NS.data")  # opened when it holds a property list
        if name == "NSUUID" and isinstance(obj.get("NS.uuidbytes"), bytes) and len(obj["NS.uuidbytes"]) == 16:
            h = obj["NS.uuidbytes"].hex().upper()
            return "%s-%s-%s-%s-%s" % (h[:8], h[8:12], h[12:16], h[16:20], h[20:])
        if name == "NSURL" and "NS.relative" in obj:
            relative, base = get("NS.relative"), get("NS.base") if "NS.base" in obj else NULL
            if not isinstance(relative, str):
                return None
            return urllib.parse.urljoin(base, relative) if isinstance(base, str) else relative
        if name == "NSNull":
            return NULL
        return None


def is_int(v):
    return isinstance(v, int) and not isinstance(v, bool)


def is_number(v):
    return is_int(v) or isinstance(v, float)


def unpack(data):
    """Unsigned numbers kept 7 bits a byte, low bits first, the high bit
    marking every byte of a number but its last; None when one is cut off."""
    if data is None:
        return None
    out, value, shift = [], 0, 0
    for byte in data:
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            out.append(value)
            value, shift = 0, 0
    return out if shift == 0 else None


def numbers(text, want):
    """The numbers of a geometry text such as "{{0, 0}, {10, 20}}"."""
    tokens = [t for t in text.replace("{", " ").replace("}", " ").replace(",", " ").split() if t]
    try:
        values = [float(t) for t in tokens]
    except ValueError:
        return None
    return values if len(values) == want else None


def date_floor(seconds):
    return EPOCH + datetime.timedelta(seconds=math.floor(seconds))


def as_xml(v):
    """What plistlib should read from the -k document; NULL drops out."""
    if isinstance(v, str):
        return xml_text(v)
    if isinstance(v, datetime.datetime):  # a date stored as a plain date object
        return v.replace(microsecond=0)
    if isinstance(v, Date):
        return date_floor(v.seconds)
    if isinstance(v, UID):
        return {"CF$UID": v.data}
    if isinstance(v, dict):
        return {xml_text(k): as_xml(x) for k, x in v.items() if x is not NULL and x is not FILL}
    if isinstance(v, list):
        return [as_xml(x) for x in v if x is not NULL and x is not FILL]
    return v


def as_json(v):
    """What json.loads should read from the -kj document."""
    if v is NULL:
        return None
    if isinstance(v, Date):
        d = EPOCH + datetime.timedelta(microseconds=round(v.seconds * 10**6))
        text = "%04d-%02d-%02dT%02d:%02d:%02d" % d.timetuple()[:6]
        return text + (("." + "%06d" % d.microsecond).rstrip("0") if d.microsecond else "") + "Z"
    if isinstance(v, datetime.datetime):  # a date stored as a plain date object
        text = "%04d-%02d-%02dT%02d:%02d:%02d" % v.timetuple()[:6]
        return text + (("." + "%06d" % v.microsecond).rstrip("0") if v.microsecond else "") + "Z"
    if isinstance(v, UID):
        return {"CF$UID": v.data}
    if isinstance(v, bytes):
        return base64.b64encode(v).decode("ascii")
    if isinstance(v, float) and not math.isfinite(v):
        return "nan" if math.isnan(v) else "+infinity" if v > 0 else "-infinity"
    if isinstance(v, dict):
        return {k: as_json(x) for k, x in v.items() if x is not FILL}
    if isinstance(v, list):
        return [as_json(x) for x in v if x is not FILL]
    return v


def nesting(v):
    """The number of dictionaries and arrays around v's deepest value."""
    if isinstance(v, dict):
        return 1 + max(map(nesting, v.values()), default=0)
    if isinstance(v, list):
        return 1 + max(map(nesting, v), default=0)
    return 0


def close(want, got, path="top"):
    """The first difference, or None; reals compared exactly."""
    if isinstance(want, dict) and isinstance(got, dict):
        if sorted(want) != sorted(got):
            return "%s: keys %r != %r" % (path, sorted(want)[:8], sorted(got)[:8])
        for k in want:
            d = close(want[k], got[k], "%s[%r]" % (path, k))
            if d:
                return d
        return None
    if isinstance(want, list) and isinstance(got, list):
        if len(want) != len(got):
            return "%s: %d elements, got %d" % (path, len(want), len(got))
        for i, (w, g) in enumerate(zip(want, got)):
            d = close(w, g, "%s[%d]" % (path, i))
            if d:
                return d
        return None
    if type(want) is not type(got) or want != got:
        return "%s: %r, got %r" % (path, want, got)
    return None


# Archives made here, the way NSKeyedArchiver lays them out.
class Archiver:
    def __init__(self):
        self.objects = ["$null"]
        self.classes = {}
        self.seen = {}

    def cls(self, name):
        if name not in self.classes:
            self.objects.append({"$classname": name, "$classes": [name, "NSObject"]})
            self.classes[name] = UID(len(self.objects) - 1)
        return self.classes[name]

    def add(self, obj):
        self.objects.append(obj)
        return UID(len(self.objects) - 1)

    def ref(self, v):
        if v is None:
            return UID(0)
        if id(v) in self.seen and isinstance(v, (list, dict)):
            return self.seen[id(v)]
        if isinstance(v, dict):
            slot = self.add(None)
            self.seen[id(v)] = slot
            self.objects[slot.data] = {"NS.keys": [self.ref(k) for k in v], "NS.objects": [self.ref(x) for x in v.values()],
                                       "$class": self.cls("NSMutableDictionary")}
            return slot
        if isinstance(v, list):
            slot = self.add(None)
            self.seen[id(v)] = slot
            self.objects[slot.data] = {"NS.objects": [self.ref(x) for x in v], "$class": self.cls("NSArray")}
            return slot
        if isinstance(v, Date):
            return self.add({"NS.time": v.seconds, "$class": self.cls("NSDate")})
        return self.add(v)

    def archive(self, top_value, top_key="root"):
        top = {top_key: self.ref(top_value)}
        return {"$version": 100000, "$archiver": "NSKeyedArchiver", "$top": top, "$objects": self.objects}


def random_tree(rng, depth, shared):
    kind = rng.randrange(9 if depth > 0 else 6)
    if kind == 0:
        return rng.choice([0, 1, -1, 2**63 - 1, rng.randrange(-2**40, 2**40)])
    if kind == 1:
        return rng.choice([0.5, -0.0, 1e300, 5e-324, rng.uniform(-1e9, 1e9)])
    if kind == 2:
        return Date(rng.choice([0.0, 1e9, -1e9, 123456.5]))
    if kind == 3:
        return bytes(rng.randrange(256) for _ in range(rng.randrange(10)))
    if kind == 4:
        return rng.random() < 0.5
    if kind == 5:
        return random_string(rng)
    if shared and rng.random() < 0.2:
        return rng.choice(shared)
    size = rng.randrange(6)
    if kind in (6, 7):
        value = [random_tree(rng, depth - 1, shared) for _ in range(size)]
    else:
        value = {random_string(rng): random_tree(rng, depth - 1, shared) for _ in range(size)}
    shared.append(value)
    return value


def handmade():
    """(name, archive) pairs that cover the table, loops and damage."""
    cases = []

    def archive(objects, top=None):
        return {"$version": 100000, "$archiver": "NSKeyedArchiver", "$top": top or {"root": UID(1)},
                "$objects": ["$null"] + objects}

    def cls(name):
        return {"$classname": name, "$classes": [name, "NSObject"]}

    cases.append(("every class", archive([
        {"$class": UID(2), "NS.keys": [UID(3), UID(4), UID(5), UID(6), UID(7), UID(8), UID(9), UID(10), UID(11)],
         "NS.objects": [UID(12), UID(14), UID(16), UID(18), UID(20), UID(22), UID(24), UID(26), UID(28)]},
        cls("NSDictionary"), "set", "ordered", "string", "date", "data", "uuid", "url", "attributed", "null",
        {"$class": UID(13), "NS.objects": [1, UID(4)]}, cls("NSMutableSet"),
        {"$class": UID(15), "NS.object.0": UID(5), "NS.object.1": 7}, cls("NSOrderedSet"),
        {"$class": UID(17), "NS.string": "hello"}, cls("NSMutableString"),
        {"$class": UID(19), "NS.time": 700000000.25}, cls("NSDate"),
        {"$class": UID(21), "NS.data": b"\x00\x01"}, cls("NSMutableData"),
        {"$class": UID(23), "NS.uuidbytes": bytes(range(16))}, cls("NSUUID"),
        {"$class": UID(25), "NS.base": UID(30), "NS.relative": UID(31)}, cls("NSURL"),
        {"$class": UID(27), "NSString": UID(32)}, cls("NSAttributedString"),
        {"$class": UID(29)}, cls("NSNull"),
        {"$class": UID(25), "NS.base": UID(0), "NS.relative": "file:///tmp/"}, "b/c.txt",
        {"$class": UID(33), "NS.bytes": "caf\u00e9".encode()}, cls("NSString"),
    ])))
    cases.append(("unknown class and loops", archive([
        {"$class": UID(2), "name": "n", "parent": UID(1), "self": UID(1), "kids": UID(3), "none": UID(0)},
        cls("Node"),
        {"$class": UID(4), "NS.objects": [UID(1), UID(5)]}, cls("NSArray"),
        {"$class": UID(2), "name": "child", "parent": UID(1)},
    ])))
    cases.append(("damaged inside", archive([
        {"$class": UID(2), "NS.keys": [UID(3)], "NS.objects": [], "other": UID(99)},
        cls("NSDictionary"), "k",
    ])))
    cases.append(("missing class record", archive([
        {"$class": UID(50), "field": 1, "ref": UID(2)}, "text",
    ])))
    cases.append(("odd class record", archive([{"$class": UID(2), "field": 1}, "not a record"])))
    cases.append(("several top keys", archive(["a", "b"], top={"first": UID(1), "second": UID(2)})))
    inner = plistlib.dumps(archive([{"$class": UID(2), "NS.objects": [UID(3)]}, cls("NSArray"), "inner"]),
                           fmt=plistlib.FMT_BINARY)
    cases.append(("archive in data", archive([{"$class": UID(2), "NS.data": inner}, cls("NSData")])))
    cases.append(("keys of every kind", archive([
        {"$class": UID(2), "NS.keys": [UID(3), False, UID(4), UID(6), UID(8), UID(10), UID(12), UID(13), UID(14),
                                       UID(15), UID(17)],
         "NS.objects": [UID(19)] * 11},
        cls("NSDictionary"), True,
        {"$class": UID(5), "NS.base": UID(0), "NS.relative": "file:///Users/a/main.swift"}, cls("NSURL"),
        {"$class": UID(7), "NS.uuidbytes": bytes(range(16, 32))}, cls("NSUUID"),
        {"$class": UID(9), "NS.time": 700000000.75}, cls("NSDate"),
        {"$class": UID(11), "NS.data": b"\x01\x02"}, cls("NSData"),
        42, -7, {"$class": UID(16), "NS.objects": [1]}, cls("NSArray"),
        {"$class": UID(18), "name": "x"}, cls("Thing"), "v",
    ])))
    objects = [
        {"$class": UID(2), "NS.objects": [UID(i) for i in range(3, 17)]}, cls("NSArray"),
        {"$class": UID(17), "NS.special": 4, "NS.rangeval.location": 5, "NS.rangeval.length": 2},
        {"$class": UID(17), "NS.special": 3, "NS.rectval": "{{1.5, -2}, {640, 480}}"},
        {"$class": UID(17), "NS.special": 1, "NS.pointval": "{3, 4e2}"},
        {"$class": UID(18), "NSRangeCount": 3, "NSRangeData": bytes([1, 2, 200, 1, 10, 0x80, 0x80, 1, 1])},
        {"$class": UID(19), "NS.count": 2, "NS.object0": "a", "NS.count0": 3, "NS.object1": UID(20),
         "NS.count1": 1},
        {"$class": UID(21), "NS.name": "Europe/Paris", "NS.data": b"TZif"},
        {"$class": UID(22), "NS.identifier": "fr_FR"},
        {"$class": UID(23), "NS.year": 2024, "NS.month": 2, "NS.day": 2**63 - 1, "NS.isLeapMonth": False,
         "NS.timezone": UID(8), "NS.calendar": UID(0)},
        {"$class": UID(24), "NS.value": 90.0, "NS.unit": UID(25)},
        {"$class": UID(26), "NSColorSpace": 1, "NSRGB": b"0 0.5 1\0"},
        {"$class": UID(26), "NSColorSpace": 6, "NSCatalogName": "System", "NSColorName": "textColor",
         "NSColor": UID(27)},
        {"$class": UID(28), "NSName": "Monaco", "NSSize": 10.0, "NSfFlags": 16},
        {"$class": UID(29), "NSString": "abc", "NSAttributes": UID(30),
         "NSAttributeInfo": bytes([1, 0, 2, 0])},
        {"$class": UID(29), "NSString": "plain"},
        cls("NSValue"), cls("NSMutableIndexSet"), cls("NSCountedSet"),
        {"$class": UID(31), "v": 1}, cls("NSTimeZone"), cls("NSLocale"), cls("NSDateComponents"),
        cls("NSMeasurement"), {"$class": UID(31), "NS.symbol": "\u00b0"}, cls("NSColor"),
        {"$class": UID(26), "NSColorSpace": 3, "NSWhite": b"0.25\0"}, cls("NSFont"), cls("NSAttributedString"),
        {"$class": UID(32), "NS.objects": [UID(33)]}, cls("Thing"), cls("NSArray"),
        {"$class": UID(34), "NS.keys": [UID(35)], "NS.objects": [UID(13)]}, cls("NSDictionary"), "NSFont",
    ]
    cases.append(("classes analysts meet", archive(objects)))
    broken = [dict(o) if isinstance(o, dict) else o for o in objects]
    for i in (2, 3, 5, 6, 9, 10, 11, 13):  # each decoding's fields made unfit: written as fields
        obj = broken[i]
        key = next(k for k in obj if k not in ("$class", "NS.special", "NSColorSpace"))
        obj[key] = UID(0) if key != "NS.unit" else "not a unit"
    cases.append(("classes analysts meet, damaged", archive(broken)))
    nested = archive([{"$class": UID(2), "NS.string": "deep"}, cls("NSString")])
    for depth in range(1, 11):  # opened eight deep, the rest stays data
        data = plistlib.dumps(nested, fmt=plistlib.FMT_BINARY)
        nested = archive([{"$class": UID(2), "NS.data": data, "plain": plistlib.dumps([depth, data],
                          fmt=plistlib.FMT_BINARY)}, cls("Holder")])
        cases.append(("files nested %d deep" % depth, nested))
    return cases


def null_and_fill():
    """(name, archive) pairs with null (0x00) and fill (0x0F) objects, in
    place and through UIDs, in every place an entry holds them."""
    cases = []

    def archive(objects, top=None):
        return {"$version": 100000, "$archiver": "NSKeyedArchiver", "$top": top or {"root": UID(1)},
                "$objects": ["$null"] + objects}

    def cls(name):
        return {"$classname": name, "$classes": [name, "NSObject"]}

    for kind, make in (("null", Null), ("fill", Fill)):
        cases.append((kind + " fields", archive([
            {"$class": UID(2), "in place": make(), "through a UID": UID(3), make(): 1, "kept": 2}, cls("Thing"),
            make()])))
        cases.append((kind + " in an NSDictionary", archive([
            {"$class": UID(2), "NS.keys": [UID(3), make(), UID(4), UID(5)], "NS.objects": [UID(4), UID(4), UID(3), make()]},
            cls("NSDictionary"), make(), "k", "j"])))
        cases.append((kind + " in $top", archive([make(), "v"], top={"a": UID(1), "b": make(), make(): UID(2), "c": UID(2)})))
        cases.append((kind + " NS.string", archive([{"$class": UID(2), "NS.string": UID(3)}, cls("NSString"), make()])))
        cases.append((kind + " root", archive([make()])))
        cases.append((kind + " root in place", archive([], top={"root": make()})))
    return cases


def deep_graphs():
    """(name, archive) pairs around the depth bound: chains of NSArrays, each
    two containers in the file and one in the document, and a linked list of
    objects whose document nests once per object."""
    cases = []
    for name, n, field in (("NSArray", 257, "NS.objects"), ("NSArray", 513, "NS.objects"), ("Node", 600, "next")):
        objects = ["$null", {"$classname": name, "$classes": [name, "NSObject"]}]
        for i in range(n):
            last = i + 1 == n
            next_one = "leaf" if last else UID(len(objects) + 1)
            objects.append({"$class": UID(1), field: [next_one] if field == "NS.objects" else next_one})
        cases.append(("%d of %s" % (n, name), {"$version": 100000, "$archiver": "NSKeyedArchiver",
                                                "$top": {"root": UID(2)}, "$objects": objects}))
    return cases


def pairs(v):
    """`v` with its dictionaries as Pairs, for encode."""
    if isinstance(v, dict):
        return Pairs((pairs(k), pairs(x)) for k, x in v.items())
    if isinstance(v, list):
        return [pairs(x) for x in v]
    return v


def check_archive(results, conv, name, data, archive=None):
    """Checks the -k and -kj documents of `data`, the binary form of
    `archive` (by default what plistlib reads from it)."""
    if archive is None:
        archive = plistlib.loads(data)
    try:
        flat = Flattener(archive).top(archive["$top"])
    except NonStringKey:
        flat = None
    if flat is PLAIN:
        return check_plain(results, conv, name, data, archive)
    check_document(results, conv, name, data, flat)


def check_plain(results, conv, name, data, top):
    """Checks the -k and -kj documents of a file converted as without -k, the
    data holding property lists opened; with none to open they are -c's and
    -j's bytes."""
    flat = open_plain(top, 0)
    if flat != top:
        return check_document(results, conv, name, data, flat)
    for verb, plain in (("-k", "-c"), ("-kj", "-j")):
        same = conv.run(data, verb)[:3] == conv.run(data, plain)[:3]
        results.check(same, "%s %s" % (name, verb), "differs from %s" % plain)


def check_document(results, conv, name, data, flat):
    """Checks the -k and -kj documents of `data` against `flat`."""
    if flat is not None and nesting(as_xml(flat)) > MAX_DEPTH:
        src = os.path.join(conv.dir, "in.plist").encode()
        want = (b"File %s is valid but its document nests deeper than %d levels\r\n"
                b"Error: Unable convert file %s\r\n" % (src, MAX_DEPTH, src))
        for verb in ("-k", "-kj"):
            code, printed, doc, _ = conv.run(data, verb)
            results.check(code == 1 and printed == want and doc is None, "%s %s" % (name, verb),
                          "exit %s, printed %r" % (code, printed[:200]))
        return
    code, printed, doc, _ = conv.run(data, "-k")
    problem = "exit %s, printed %r" % (code, printed[:200]) if code != 0 else None
    if problem is None:
        try:
            # XML reals keep 15 significant digits.
            problem = difference(as_xml(flat), plistlib.loads(doc)) if flat is not None else conv.well_formed(doc)
        except Exception as e:
            problem = "plistlib cannot read the -k document: %s" % e
    results.check(problem is None, name + " -k", problem)
    code, printed, doc, _ = conv.run(data, "-kj")
    problem = "exit %s, printed %r" % (code, printed[:200]) if code != 0 else None
    if problem is None:
        try:
            got = json.loads(doc.decode("utf-8"))
            problem = close(as_json(flat), got) if flat is not None else None
        except Exception as e:
            problem = "json cannot read the -kj document: %s" % e
    results.check(problem is None, name + " -kj", problem)


def main():
    sys.setrecursionlimit(20000)  # the flattener follows graphs past the depth bound
    if len(sys.argv) != 3:
        sys.exit("usage: keyed_crosscheck.py TARNWICK CORPUS_DIR")
    tarnwick, corpus = sys.argv[1], sys.argv[2]
    results = Failures()
    scratch = Converter(tarnwick)
    try:
        for name in sorted(os.listdir(corpus)):
            path = os.path.join(corpus, name)
            if not os.path.isfile(path):
                continue
            data = open(path, "rb").read()
            try:
                archived = is_archive(plistlib.loads(data))
            except Exception:
                archived = False
            if archived:
                check_archive(results, scratch, name, data)
            else:
                try:
                    top = plistlib.loads(data)
                except Exception:
                    top = None
                check_plain(results, scratch, name, data, top)
        plain = {"data": plistlib.dumps({"x": [1, b"bplist00"], "when": datetime.datetime(2020, 1, 2, 3, 4, 5, 500)},
                                        fmt=plistlib.FMT_BINARY), "cut": b"bplist00" + bytes(40)}
        check_plain(results, scratch, "plain file in data", plistlib.dumps(plain, fmt=plistlib.FMT_BINARY), plain)
        for name, archive in handmade() + deep_graphs():
            check_archive(results, scratch, name, plistlib.dumps(archive, fmt=plistlib.FMT_BINARY))
        for name, archive in null_and_fill():
            check_archive(results, scratch, name, encode(pairs(archive)), archive)
        rng = random.Random(1207)
        for i in range(60):
            tree = random_tree(rng, rng.randrange(1, 5), [])
            data = plistlib.dumps(Archiver().archive(tree), fmt=plistlib.FMT_BINARY)
            check_archive(results, scratch, "random archive #%d" % i, data)
    finally:
        scratch.close()
    print("%d passed, %d failed" % (results.passed, results.failed))
    return 1 if results.failed else 0


if __name__ == "__main__":
    sys.exit(main())
