"""Transaction log writers: the reader's own log layout (``log_file`` of ``dirt_block`` blocks) and the two
Windows formats (``old_format_log``, ``new_format_log`` of ``log_entry`` entries), plus ``changed_pages``, the
pages by which two hive images differ, and ``marvin32``, the hash that guards new-format entries.

Both Windows formats begin with the first 512 bytes of a base block (``log_header``).  The old format (file type
1) follows it with "DIRT", a bitmap of 512-byte units of the hive bins data and the dirty units; the new format
(file type 6) with "HvLE" entries whose pages are guarded by two Marvin32 hashes.  Page and unit offsets count
from the start of the hive bins data.
"""

from __future__ import annotations

import struct
from typing import TYPE_CHECKING, Any, Dict, Iterable, List, Optional, Sequence, Tuple, Union

from .records import BASE_BLOCK_SIZE, BIN_SIZE, base_block, pad_to, round_up
from .shapes import BytesLike, DirtEntry, LogHeaderFields, NewLogFields, OldLogFields, Page

if TYPE_CHECKING:
    from typing_extensions import Unpack

MARVIN_SEED = 0x82EF4D887A4E55C5
OLD_LOG_TYPE = 1
NEW_LOG_TYPE = 6
LOG_HEADER_SIZE = 512
UNIT = 512


def dirt_block(entries: Sequence[DirtEntry], *, count: Optional[int] = None, signature: BytesLike = b"DIRT",
               pad: bool = True) -> bytes:
    """One dirty block of a log.

    ``entries`` holds ``(hive_offset, data)`` or ``(hive_offset, data, size)``
    tuples; ``size`` overrides the stored page size while ``data`` is written
    as given.  The block is zero-padded to a multiple of 4096 unless ``pad``
    is false.
    """
    out = bytearray(pad_to(signature, 4))
    out += struct.pack("<III", 0, len(entries) if count is None else count, 0)
    for entry in entries:
        hive_offset, data = entry[0], bytes(entry[1])
        size = entry[2] if len(entry) > 2 else len(data)
        out += struct.pack("<II", hive_offset, size) + data
    return bytes(out.ljust(round_up(len(out), 4096), b"\0") if pad else out)


def log_file(sequence: int = 1, blocks: Iterable[Union[bytes, bytearray, Sequence[DirtEntry]]] = (), *,
             signature: BytesLike = b"HvLE", pad: bool = True, length: Optional[int] = None) -> bytes:
    """A transaction log: 4096-byte header, then the blocks.

    Each block is a list of entries (see ``dirt_block``) or raw bytes used as
    they are.  With ``pad`` every block is padded to a multiple of 4096 so the
    next one starts where a reader looks for it.  ``length`` finally cuts or
    zero-extends the whole file.
    """
    out = bytearray(pad_to(pad_to(signature, 4) + struct.pack("<I", sequence),
                           4096))
    for block in blocks:
        piece = bytes(block) if isinstance(block, (bytes, bytearray)) \
            else dirt_block(block, pad=False)
        if pad:
            piece = piece.ljust(round_up(len(piece), 4096), b"\0")
        out += piece
    return bytes(out if length is None else pad_to(out, length))


def marvin32(data: BytesLike, seed: int = MARVIN_SEED) -> int:
    """Marvin32 of ``data``: a 64-bit int (stored little-endian in a log)."""
    mask = 0xFFFFFFFF

    def rotl(x: int, n: int) -> int:
        return ((x << n) | (x >> (32 - n))) & mask

    lo, hi = seed & mask, seed >> 32
    raw = bytes(data)
    tail = len(raw) % 4
    words = list(struct.unpack("<%dI" % (len(raw) // 4), raw[:len(raw) - tail]))
    words.append(int.from_bytes(raw[len(raw) - tail:] + b"\x80", "little"))
    words.append(0)
    for w in words:
        lo = (lo + w) & mask
        hi ^= lo
        lo = (rotl(lo, 20) + hi) & mask
        hi = rotl(hi, 9) ^ lo
        lo = (rotl(lo, 27) + hi) & mask
        hi = rotl(hi, 19)
    return (hi << 32) | lo


def log_header(sequence: int = 1, *, file_type: int = NEW_LOG_TYPE, hive_bins_data_size: int = BIN_SIZE,
               **fields: Unpack[LogHeaderFields]) -> bytes:
    """The 512 bytes a Windows log begins with: a base block of a log file type
    with both sequence numbers ``sequence``; ``fields`` go to base_block()."""
    fields.setdefault("primary_sequence", sequence)
    fields.setdefault("secondary_sequence", sequence)
    return base_block(file_type=file_type, hive_bins_data_size=hive_bins_data_size,
                      **fields)[:LOG_HEADER_SIZE]


def log_entry(sequence: int, pages: Sequence[Page], *, hive_bins_data_size: int = BIN_SIZE, flags: int = 0,
              size: Optional[int] = None, length: Optional[int] = None, signature: BytesLike = b"HvLE",
              page_count: Optional[int] = None, hash1: Optional[int] = None, hash2: Optional[int] = None) -> bytes:
    """One new-format entry holding ``pages``, (offset, data) pairs.

    The entry is zero-padded to ``length`` bytes (default: the next multiple
    of 512); ``size`` overrides the stored size, ``page_count`` the stored
    count and ``hash1``/``hash2`` the hashes, which are otherwise computed
    over the entry as written.
    """
    references = b"".join(struct.pack("<II", offset, len(data)) for offset, data in pages)
    body = references + b"".join(bytes(data) for _, data in pages)
    length = round_up(40 + len(body), 512) if length is None else length
    body = pad_to(body, length - 40)
    head = pad_to(signature, 4) + struct.pack(
        "<IIIII", length if size is None else size, flags, sequence,
        hive_bins_data_size, len(pages) if page_count is None else page_count)
    if hash1 is None:
        hash1 = marvin32(body)
    head += struct.pack("<Q", hash1)
    if hash2 is None:
        hash2 = marvin32(head)
    return head + struct.pack("<Q", hash2) + body


def new_format_log(sequence: int, entries: Iterable[Union[Dict[str, Any], BytesLike]] = (), *, align: int = 4096,
                   length: Optional[int] = None, **fields: Unpack[NewLogFields]) -> bytes:
    """A new-format log: log_header(sequence) then ``entries``.

    Each entry is a dict of log_entry() arguments (its sequence number
    defaults to the one after the previous entry's, starting at
    ``sequence``) or ready bytes.  As Windows does, dict entries are padded so
    that the next one starts at a multiple of ``align``.  ``length`` cuts or
    zero-extends the file; ``fields`` go to log_header().
    """
    out = bytearray(log_header(sequence, file_type=NEW_LOG_TYPE, **fields))
    number = sequence
    for entry in entries:
        if isinstance(entry, dict):
            arguments = dict(entry)
            number = arguments.pop("sequence", number)
            need = 40 + sum(8 + len(data) for _, data in arguments.get("pages", ()))
            arguments.setdefault("length", round_up(len(out) + need, align) - len(out))
            entry = log_entry(number, **arguments)
        out += entry
        number += 1
    return bytes(out if length is None else pad_to(out, length))


def old_format_log(pages: Iterable[Page], *, sequence: int = 1, hive_bins_data_size: int = BIN_SIZE,
                   file_type: int = OLD_LOG_TYPE, bitmap: Optional[BytesLike] = None, leftover: BytesLike = b"",
                   signature: BytesLike = b"DIRT", **fields: Unpack[OldLogFields]) -> bytes:
    """An old-format log: log_header, "DIRT", the bitmap, the dirty units.

    ``pages`` are (offset, data) pairs whose offset and length are multiples
    of 512; each of their units is marked in the bitmap (one byte per 4096
    bytes of ``hive_bins_data_size``) and stored in bit order.  ``bitmap``
    replaces the computed bitmap; ``leftover`` bytes follow the last unit.
    """
    units: Dict[int, bytes] = {}
    for offset, data in pages:
        for i in range(0, len(data), UNIT):
            units[(offset + i) // UNIT] = bytes(data[i:i + UNIT])
    if bitmap is None:
        marks = bytearray(hive_bins_data_size // 4096)
        for unit in units:
            marks[unit >> 3] |= 1 << (unit & 7)
        bitmap = bytes(marks)
    out = bytearray(log_header(sequence, file_type=file_type,
                               hive_bins_data_size=hive_bins_data_size, **fields))
    out += pad_to(signature, 4) + bitmap
    out = bytearray(pad_to(out, round_up(len(out), UNIT)))
    for unit in sorted(units):
        out += units[unit]
    return bytes(out + leftover)


def changed_pages(before: BytesLike, after: BytesLike, page: int = BIN_SIZE) -> List[Tuple[int, bytes]]:
    """(offset, data) for each ``page``-sized block of the hive bins data of
    image ``after`` that differs from image ``before`` (or lies past its end)."""
    pages = []
    for at in range(BASE_BLOCK_SIZE, len(after), page):
        if after[at:at + page] != before[at:at + page]:
            pages.append((at - BASE_BLOCK_SIZE, bytes(after[at:at + page])))
    return pages
