"""Byte encoders of the hive's records: the base block, hive-bin headers, key nodes, value keys, security cells,
subkey and value lists and big-data headers, each returned as the raw bytes of one record with every field
overridable; plus the helpers they share (names, value data, checksums) and the constants of the format.

All integers are little-endian.  A cell offset is relative to the start of the hive bins data, i.e. image
position ``offset + 4096``.
"""

from __future__ import annotations

import struct
from typing import Iterable, Optional, Sequence, Tuple, Union

from .shapes import BytesLike, Name, SubkeyEntry, ValueData

REG_NONE = 0
REG_SZ = 1
REG_EXPAND_SZ = 2
REG_BINARY = 3
REG_DWORD = 4
REG_DWORD_BIG_ENDIAN = 5
REG_LINK = 6
REG_MULTI_SZ = 7
REG_RESOURCE_LIST = 8
REG_FULL_RESOURCE_DESCRIPTOR = 9
REG_RESOURCE_REQUIREMENTS_LIST = 10
REG_QWORD = 11

BASE_BLOCK_SIZE = 4096
HBIN_HEADER_SIZE = 32
BIN_SIZE = 4096
NO_CELL = 0xFFFFFFFF
MAX_CELL_DATA = 16344        # largest value data kept in a single data cell
SEGMENT_PAYLOAD = 16348      # big-data segment cell payload as Windows writes it
INLINE_FLAG = 0x80000000     # data_size bit 31: data lives in the offset field

KEY_HIVE_ENTRY = 0x0004
KEY_NO_DELETE = 0x0008
KEY_COMP_NAME = 0x0020
VALUE_COMP_NAME = 0x0001

# 2020-01-01 00:00:00 UTC as a FILETIME.
DEFAULT_TIMESTAMP = 132223104000000000


def filetime(unix_seconds: int) -> int:
    """FILETIME (100 ns ticks since 1601-01-01) for a Unix time in seconds."""
    return (unix_seconds + 11644473600) * 10_000_000


def round_up(n: int, unit: int) -> int:
    return (n + unit - 1) // unit * unit


def pad_to(data: BytesLike, length: int) -> bytes:
    """Zero-extend ``data`` to ``length`` bytes, or cut it there."""
    return bytes(data[:length]).ljust(length, b"\0")


def base_block_checksum(image: BytesLike) -> int:
    """XOR of the 127 little-endian u32 words at positions 0..507."""
    result = 0
    for (word,) in struct.iter_unpack("<I", bytes(image[:508])):
        result ^= word
    return result


def with_checksum(image: BytesLike) -> bytes:
    """Return ``image`` with its base-block checksum recomputed."""
    copy = bytearray(image)
    struct.pack_into("<I", copy, 508, base_block_checksum(copy))
    return bytes(copy)


def encode_name(name: Name, compressed: Optional[bool] = None) -> Tuple[bytes, bool]:
    """Return (name bytes, compressed flag).

    A str is stored as Latin-1 when every character fits in one byte
    (compressed), otherwise as UTF-16LE; ``compressed`` forces either.
    Bytes are taken as they are and count as compressed unless told otherwise.
    """
    if isinstance(name, (bytes, bytearray)):
        return bytes(name), (True if compressed is None else compressed)
    if compressed is None:
        compressed = all(ord(c) <= 0xFF for c in name)
    if compressed:
        return name.encode("latin-1"), True
    return name.encode("utf-16-le"), False


def lh_hash(name: str) -> int:
    """Name hash of an "lh" entry: h = h * 37 + ord(c) over the upper-cased name."""
    h = 0
    for c in name.upper():
        h = (h * 37 + ord(c)) & 0xFFFFFFFF
    return h


def lf_hint(name: Union[str, bytes]) -> bytes:
    """Name hint of an "lf" entry: the first four name bytes, zero padded."""
    raw = name if isinstance(name, bytes) else name.encode("latin-1", "replace")
    return pad_to(raw, 4)


def encode_data(value_type: int, data: ValueData) -> bytes:
    """Turn a Python value into value data bytes.

    int: 8 bytes for REG_QWORD, 4 big-endian bytes for REG_DWORD_BIG_ENDIAN,
    otherwise 4 little-endian bytes; str: UTF-16LE with a terminating NUL;
    list (or tuple) of str: REG_MULTI_SZ layout (each string NUL-terminated,
    then one more NUL); bytes: as given; None: no data.
    """
    if data is None:
        return b""
    if isinstance(data, (bytes, bytearray)):
        return bytes(data)
    if isinstance(data, int):
        if value_type == REG_QWORD:
            return struct.pack("<Q", data)
        if value_type == REG_DWORD_BIG_ENDIAN:
            return struct.pack(">I", data)
        return struct.pack("<I", data)
    if isinstance(data, str):
        return (data + "\0").encode("utf-16-le")
    if isinstance(data, (list, tuple)):
        return "".join(s + "\0" for s in data).encode("utf-16-le") + b"\0\0"
    raise TypeError("cannot encode value data of type %s" % type(data).__name__)


def base_block(*, signature: BytesLike = b"regf", primary_sequence: int = 1, secondary_sequence: int = 1,
               last_written: int = DEFAULT_TIMESTAMP, major_version: int = 1, minor_version: int = 5,
               file_type: int = 0, file_format: int = 1, root_cell_offset: int = 0x20,
               hive_bins_data_size: int = 0, clustering_factor: int = 1, file_name: Union[str, BytesLike] = b"",
               checksum: Optional[int] = None, flags: int = 0) -> bytes:
    """The 4096-byte base block.

    ``file_name`` is 64 bytes at position 48: bytes are used raw (padded or
    cut), a str is stored as UTF-16LE the way Windows does.  ``flags`` is the
    word at position 144.  The checksum is computed unless ``checksum`` is
    given.
    """
    if isinstance(file_name, str):
        file_name = file_name.encode("utf-16-le")
    block = bytearray(BASE_BLOCK_SIZE)
    block[0:4] = pad_to(signature, 4)
    struct.pack_into("<IIQIIIIIII", block, 4, primary_sequence,
                     secondary_sequence, last_written, major_version,
                     minor_version, file_type, file_format, root_cell_offset,
                     hive_bins_data_size, clustering_factor)
    block[48:112] = pad_to(file_name, 64)
    struct.pack_into("<I", block, 144, flags)
    if checksum is None:
        checksum = base_block_checksum(block)
    struct.pack_into("<I", block, 508, checksum)
    return bytes(block)


def hbin_header(offset: int, size: int = BIN_SIZE, *, signature: BytesLike = b"hbin", reserved: BytesLike = b"",
                timestamp: int = 0, spare: int = 0) -> bytes:
    """The 32-byte hive-bin header."""
    return (pad_to(signature, 4) + struct.pack("<II", offset, size)
            + pad_to(reserved, 8) + struct.pack("<QI", timestamp, spare))


def nk(name: Name = "", *, compressed: Optional[bool] = None, flags: Optional[int] = None, root: bool = False,
       last_written: int = DEFAULT_TIMESTAMP, access_bits: int = 0, parent: int = 0,
       subkey_count: int = 0, volatile_subkey_count: int = 0, subkey_list_offset: int = NO_CELL,
       volatile_subkey_list_offset: int = NO_CELL, value_count: int = 0,
       value_list_offset: int = NO_CELL, security_offset: int = NO_CELL,
       class_name_offset: int = NO_CELL, max_subkey_name_length: int = 0,
       max_subkey_class_length: int = 0, max_value_name_length: int = 0,
       max_value_data_size: int = 0, work_var: int = 0, name_length: Optional[int] = None,
       class_name_length: int = 0, signature: BytesLike = b"nk") -> bytes:
    """Key node payload (76 fixed bytes + name).

    ``flags`` defaults to the compressed-name bit as the name needs it, plus
    the hive-entry and no-delete bits when ``root`` is true.
    """
    raw, is_compressed = encode_name(name, compressed)
    if flags is None:
        flags = (KEY_COMP_NAME if is_compressed else 0)
        if root:
            flags |= KEY_HIVE_ENTRY | KEY_NO_DELETE
    if name_length is None:
        name_length = len(raw)
    return pad_to(signature, 2) + struct.pack(
        "<HQIIIIIIIIIIIIIIIHH", flags, last_written, access_bits, parent,
        subkey_count, volatile_subkey_count, subkey_list_offset,
        volatile_subkey_list_offset, value_count, value_list_offset,
        security_offset, class_name_offset, max_subkey_name_length,
        max_subkey_class_length, max_value_name_length, max_value_data_size,
        work_var, name_length, class_name_length) + raw


def vk(name: Name = "", *, compressed: Optional[bool] = None, data_size: int = 0, data_offset: int = NO_CELL,
       data_type: int = REG_NONE, flags: Optional[int] = None, name_length: Optional[int] = None, spare: int = 0,
       signature: BytesLike = b"vk") -> bytes:
    """Value key payload (20 fixed bytes + name).  Fields are stored raw."""
    raw, is_compressed = encode_name(name, compressed)
    if flags is None:
        flags = VALUE_COMP_NAME if is_compressed else 0
    if name_length is None:
        name_length = len(raw)
    return pad_to(signature, 2) + struct.pack(
        "<HIIIHH", name_length, data_size, data_offset, data_type, flags,
        spare) + raw


def sk(descriptor: BytesLike = b"", *, flink: int = 0, blink: int = 0, reference_count: int = 1,
       size: Optional[int] = None, reserved: int = 0, signature: BytesLike = b"sk") -> bytes:
    """Security cell payload: 20 fixed bytes, then the security descriptor.

    ``size`` overrides the stored descriptor size; the links name the
    neighbouring security cells (a lone cell names itself).
    """
    return pad_to(signature, 2) + struct.pack(
        "<HIIII", reserved, flink, blink, reference_count,
        len(descriptor) if size is None else size) + bytes(descriptor)


def inline_fields(data: BytesLike) -> Tuple[int, int]:
    """(data_size, data_offset) fields for 0..4 data bytes kept in the vk."""
    if len(data) > 4:
        raise ValueError("inline data holds at most 4 bytes")
    return len(data) | INLINE_FLAG, int.from_bytes(pad_to(data, 4), "little")


def subkey_list(kind: Union[str, bytes], entries: Sequence[SubkeyEntry], *, count: Optional[int] = None) -> bytes:
    """Subkey list payload of kind "lf", "lh", "li" or "ri" (or any 2 bytes).

    Each entry is a cell offset, or for "lf"/"lh" an ``(offset, name)`` pair
    whose hint/hash is computed from the name, or ``(offset, raw)`` with the
    4-byte hint given as an int or bytes.  ``count`` overrides the stored count.
    """
    kind_bytes = kind if isinstance(kind, bytes) else kind.encode("ascii")
    wide = kind_bytes in (b"lf", b"lh")
    out = bytearray(pad_to(kind_bytes, 2))
    out += struct.pack("<H", len(entries) if count is None else count)
    for entry in entries:
        offset, extra = entry if isinstance(entry, tuple) else (entry, 0)
        out += struct.pack("<I", offset)
        if not wide:
            continue
        if isinstance(extra, str):
            extra = lf_hint(extra) if kind_bytes == b"lf" else lh_hash(extra)
        out += struct.pack("<I", extra) if isinstance(extra, int) else pad_to(extra, 4)
    return bytes(out)


def value_list(offsets: Iterable[int]) -> bytes:
    """Value list payload (also the big-data segment list): u32 offsets."""
    return b"".join(struct.pack("<I", o) for o in offsets)


def db(segment_count: int, segment_list_offset: int, *, signature: BytesLike = b"db", spare: int = 0) -> bytes:
    """Big-data header payload."""
    return pad_to(signature, 2) + struct.pack("<HII", segment_count,
                                              segment_list_offset, spare)
