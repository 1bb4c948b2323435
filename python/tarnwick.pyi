# Type hints of the tarnwick module (tarnwick.py).
import array
import datetime
import mmap
from typing import IO, Any, Union

_BytesLike = Union[bytes, bytearray, memoryview, array.array, mmap.mmap]

__version__: str
XML: int
JSON: int
KEYED_XML: int
KEYED_JSON: int
BINARY: int
NOT_BPLIST: int
DAMAGED: int
UNCONVERTIBLE: int
OUTPUT_REFUSED: int
OUT_OF_MEMORY: int
BAD_ARGUMENT: int
TOO_LARGE: int
INTERNAL_ERROR: int

class TarnwickError(ValueError):
    code: int
    reason: str
    def __init__(self, code: int, reason: str) -> None: ...

def to_xml(data: _BytesLike, threads: bool = ...) -> bytes: ...
def to_json(data: _BytesLike, threads: bool = ...) -> bytes: ...
def to_keyed_xml(data: _BytesLike, threads: bool = ...) -> bytes: ...
def to_keyed_json(data: _BytesLike, threads: bool = ...) -> bytes: ...
def to_binary(data: _BytesLike) -> bytes: ...
def loads(data: _BytesLike, keyed: bool = ..., json_values: bool = ...) -> Any: ...
def load(fp: IO[bytes], keyed: bool = ..., json_values: bool = ...) -> Any: ...
def to_datetime(text: str) -> datetime.datetime: ...
def to_bytes(text: str) -> bytes: ...
def version() -> str: ...
