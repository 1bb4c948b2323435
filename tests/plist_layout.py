"""Lays out a binary property list from its objects, for the tests and the
fuzz seeds: the header, the objects in order, the offset table and the
trailer. It shares nothing with the converter.

An object is given as its whole bytes, or as a pair of its head (marker and
count) and the object numbers that follow it, each written ref_size bytes
wide."""


def big_endian(value, width):
    """Big-endian bytes of value, width bytes long: its low bytes when it is
    wider, which damaged files ask for."""
    return (value & ((1 << (8 * width)) - 1)).to_bytes(width, "big")


def count_head(kind, count):
    """The marker byte of high nibble kind and, when count is 15 or more, the
    integer object holding the count, in the narrowest of 1, 2, 4 and 8 bytes."""
    if count < 15:
        return bytes([kind << 4 | count])
    exp = 0 if count <= 0xFF else 1 if count <= 0xFFFF else 2 if count <= 0xFFFFFFFF else 3
    return bytes([kind << 4 | 0xF, 0x10 | exp]) + big_endian(count, 1 << exp)


def layout(objects, top=0, ref_size=1, offset_size=None):
    """The whole file; offset_size, when not given, is the narrowest that
    holds every offset."""
    body = bytearray(b"bplist00")
    offsets = []
    for o in objects:
        offsets.append(len(body))
        head, refs = o if isinstance(o, tuple) else (o, ())
        body += head
        for r in refs:
            body += big_endian(r, ref_size)
    table = len(body)
    if offset_size is None:
        offset_size = 1 if table < 2**8 else 2 if table < 2**16 else 4 if table < 2**32 else 8
    for off in offsets:
        body += big_endian(off, offset_size)
    body += bytes(6) + bytes([offset_size, ref_size])
    body += big_endian(len(objects), 8) + big_endian(top, 8) + big_endian(table, 8)
    return bytes(body)
