"""Encoders of the binary data that registry values hold, for building test inputs of ``tarnu.decode``: SIDs,
ACEs, ACLs and security descriptors, shell items and item lists, AppCompatCache values of the common layouts, and
UserAssist entries. Each returns bytes laid out as Windows writes them; keyword arguments override single fields so
that damaged forms can be built too. The tests and the fuzz corpus share them, as they share the hive builder.
"""

import struct
import uuid
from typing import Iterable, List, Optional, Sequence, Tuple

# FILETIME of 1970-01-01, and ticks per second.
UNIX_EPOCH_FILETIME = 116444736000000000
TICKS = 10_000_000


def filetime(unix_seconds: int) -> int:
    return UNIX_EPOCH_FILETIME + unix_seconds * TICKS


def guid(text: str) -> bytes:
    """The 16 stored bytes of a GUID text with or without braces."""
    return uuid.UUID(text.strip("{}")).bytes_le


def sid(text: str) -> bytes:
    """A binary SID from "S-1-5-32-544"."""
    parts = text.split("-")
    revision, authority, subs = int(parts[1]), int(parts[2], 0), [int(p) for p in parts[3:]]
    return bytes([revision, len(subs)]) + authority.to_bytes(6, "big") + b"".join(struct.pack("<I", s) for s in subs)


def ace(ace_type: int, flags: int, mask: int, sid_text: str, *, object_type: Optional[str] = None,
        inherited_object_type: Optional[str] = None, data: bytes = b"", size: Optional[int] = None) -> bytes:
    """An ACE; object ACE types (0x05-0x08, 0x0B, 0x0C) carry their flags and GUIDs."""
    body = struct.pack("<I", mask)
    if ace_type in (0x05, 0x06, 0x07, 0x08, 0x0B, 0x0C):
        object_flags = (1 if object_type else 0) | (2 if inherited_object_type else 0)
        body += struct.pack("<I", object_flags)
        body += guid(object_type) if object_type else b""
        body += guid(inherited_object_type) if inherited_object_type else b""
    body += sid(sid_text) + data
    return struct.pack("<BBH", ace_type, flags, size if size is not None else 4 + len(body)) + body


def acl(aces: Sequence[bytes], *, revision: int = 2, count: Optional[int] = None, size: Optional[int] = None) -> bytes:
    body = b"".join(aces)
    return struct.pack("<BBHHH", revision, 0, size if size is not None else 8 + len(body),
                       len(aces) if count is None else count, 0) + body


def security_descriptor(*, owner: Optional[str] = None, group: Optional[str] = None, dacl: Optional[bytes] = None,
                        sacl: Optional[bytes] = None, control: Optional[int] = None, revision: int = 1) -> bytes:
    """A self-relative descriptor laid out as key descriptors are: the header, the SACL, the DACL, then the SIDs.
    `control` defaults to SELF_RELATIVE with the PRESENT bit of each ACL given."""
    if control is None:
        control = 0x8000 | (0x0004 if dacl is not None else 0) | (0x0010 if sacl is not None else 0)
    parts: List[bytes] = []
    offsets = []
    at = 20
    for part in (sacl, dacl, sid(owner) if owner else None, sid(group) if group else None):
        offsets.append(at if part is not None else 0)
        if part is not None:
            parts.append(part)
            at += len(part)
    sacl_at, dacl_at, owner_at, group_at = offsets
    return struct.pack("<BBHIIII", revision, 0, control, owner_at, group_at, sacl_at, dacl_at) + b"".join(parts)


# ---- shell items ------------------------------------------------------------------------------------------------

def fat(year: int, month: int, day: int, hour: int = 0, minute: int = 0, second: int = 0) -> int:
    """A FAT date and time as the u32 that shell items store (date in the low half)."""
    date = (year - 1980) << 9 | month << 5 | day
    time = hour << 11 | minute << 5 | second // 2
    return time << 16 | date


def item(class_type: int, body: bytes, *, size: Optional[int] = None) -> bytes:
    """One shell item: u16 size (itself included), the class type, then `body`."""
    return struct.pack("<HB", size if size is not None else 3 + len(body), class_type) + body


def item_list(items: Iterable[bytes]) -> bytes:
    return b"".join(items) + b"\0\0"


def root_folder(guid_text: str, sort_index: int = 0x50) -> bytes:
    return item(0x1F, bytes([sort_index]) + guid(guid_text))


def volume(name: str) -> bytes:
    return item(0x2F, name.encode("ascii").ljust(20, b"\0") + bytes(2))


def beef0004(long_name: str, *, version: int = 9, created: int = 0, accessed: int = 0, localized: str = "",
             mft: Tuple[int, int] = (0, 0)) -> bytes:
    """The 0xbeef0004 extension block of a file entry, without its trailing first-block offset."""
    name_at = {3: 20, 7: 38, 8: 42, 9: 46}[version]
    fixed = bytearray(name_at)
    struct.pack_into("<HIII", fixed, 2, version, 0xBEEF0004, created, accessed)
    struct.pack_into("<H", fixed, 16, {3: 0x14, 7: 0x26, 8: 0x2A, 9: 0x2E}[version])
    long_size_at = 18 if version == 3 else 36
    if version >= 7:
        struct.pack_into("<IHH", fixed, 20, mft[0] & 0xFFFFFFFF, mft[0] >> 32, mft[1])
    name = (long_name + "\0").encode("utf-16-le")
    tail = b""
    if localized:
        tail = (localized + "\0").encode("utf-16-le" if version >= 7 else "ascii")
    struct.pack_into("<H", fixed, long_size_at, len(tail))
    block = bytes(fixed) + name + tail + b"\0\0"   # the u16 after the names: the block's own offset
    return struct.pack("<H", len(block)) + block[2:]


def file_entry(short_name: str, *, long_name: Optional[str] = None, directory: bool = True, size: int = 0,
               modified: int = 0, attributes: int = 0x10, unicode: bool = False, version: int = 9) -> bytes:
    """A file entry item (class 0x31 directory, 0x32 file) with a 0xbeef0004 block when `long_name` is given."""
    class_type = (0x31 if directory else 0x32) | (0x04 if unicode else 0)
    name = (short_name + "\0").encode("utf-16-le" if unicode else "ascii")
    if not unicode and len(name) % 2:
        name += b"\0"
    body = b"\0" + struct.pack("<IIH", size, modified, attributes) + name
    if long_name is None:
        return item(class_type, body)
    first_block = 3 + len(body)
    return item(class_type, body + beef0004(long_name, version=version) + struct.pack("<H", first_block))


# ---- AppCompatCache ---------------------------------------------------------------------------------------------

def shim_cache_7(entries: Sequence[Tuple[str, int, int]], *, wide: bool = False, count: Optional[int] = None) -> bytes:
    """A Windows 7 AppCompatCache of (path, FILETIME, insertion flags) entries, 32-bit or 64-bit (`wide`)."""
    size = 48 if wide else 32
    strings_at = 128 + size * len(entries)
    header = struct.pack("<II", 0xBADC0FEE, len(entries) if count is None else count).ljust(128, b"\0")
    records, strings = b"", b""
    for path, modified, flags in entries:
        text = path.encode("utf-16-le")
        at = strings_at + len(strings)
        if wide:
            records += struct.pack("<HHIQQIIQQ", len(text), len(text) + 2, 0, at, modified, flags, 0, 0, 0)
        else:
            records += struct.pack("<HHIQIIII", len(text), len(text) + 2, at, modified, flags, 0, 0, 0)
        strings += text + b"\0\0"
    return header + records + strings


def shim_cache_chained(entries: Sequence[Tuple[str, int]], layout: str) -> bytes:
    """An 8.0, 8.1 or 10 AppCompatCache of (path, FILETIME) entries, each with 4 data bytes."""
    tag = b"00ts" if layout == "8.0" else b"10ts"
    header = struct.pack("<I", 0x34).ljust(0x34, b"\0") if layout == "10" else bytes(128)
    body = b""
    for path, modified in entries:
        text = path.encode("utf-16-le")
        entry = struct.pack("<H", len(text)) + text
        if layout == "8.0":
            entry += struct.pack("<II", 2, 0)
        elif layout == "8.1":
            entry += struct.pack("<IIH", 2, 0, 0)
        entry += struct.pack("<QI", modified, 4) + b"data"
        body += tag + struct.pack("<II", 0, len(entry)) + entry
    return header + body


def userassist5(run_count: int, focus_count: int, focus_ms: int, last_run: int) -> bytes:
    return struct.pack("<IIII10fIQI", 0, run_count, focus_count, focus_ms, *([-1.0] * 10), 0xFFFFFFFF, last_run, 0)
