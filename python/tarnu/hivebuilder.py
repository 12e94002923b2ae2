"""Build registry hive files and transaction logs from a short description.

The tests, examples, benchmarks and fuzz corpus craft the hives they need at run
time with this module instead of relying on sample files.  There are three levels:

* byte encoders (``base_block``, ``nk``, ``vk``, ``sk``, ``subkey_list``, ``db``,
  ``value_list``, ``hbin_header``, ``dirt_block``, ``log_file``) that return
  the raw bytes of one record, every field overridable;
* ``HiveBuilder``, which packs cells into hive bins and hands back their cell
  offsets, so a test can wire records together by hand (damaged ones too),
  and frees them again the way Windows deletes keys and values;
* ``Key`` / ``Value`` descriptions plus ``build_hive`` for the common case of
  "a small well-formed hive with these keys and values".

All integers are little-endian.  A cell offset is relative to the start of the
hive bins data, i.e. image position ``offset + 4096``.
"""

import bisect
import struct

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


def filetime(unix_seconds):
    """FILETIME (100 ns ticks since 1601-01-01) for a Unix time in seconds."""
    return (unix_seconds + 11644473600) * 10_000_000


def round_up(n, unit):
    return (n + unit - 1) // unit * unit


def pad_to(data, length):
    """Zero-extend ``data`` to ``length`` bytes, or cut it there."""
    return bytes(data[:length]).ljust(length, b"\0")


def base_block_checksum(image):
    """XOR of the 127 little-endian u32 words at positions 0..507."""
    result = 0
    for (word,) in struct.iter_unpack("<I", bytes(image[:508])):
        result ^= word
    return result


def with_checksum(image):
    """Return ``image`` with its base-block checksum recomputed."""
    image = bytearray(image)
    struct.pack_into("<I", image, 508, base_block_checksum(image))
    return bytes(image)


def encode_name(name, compressed=None):
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


def lh_hash(name):
    """Name hash of an "lh" entry: h = h * 37 + ord(c) over the upper-cased name."""
    h = 0
    for c in name.upper():
        h = (h * 37 + ord(c)) & 0xFFFFFFFF
    return h


def lf_hint(name):
    """Name hint of an "lf" entry: the first four name bytes, zero padded."""
    raw = name if isinstance(name, bytes) else name.encode("latin-1", "replace")
    return pad_to(raw, 4)


def encode_data(value_type, data):
    """Turn a Python value into value data bytes.

    int: 8 bytes for REG_QWORD, 4 big-endian bytes for REG_DWORD_BIG_ENDIAN,
    otherwise 4 little-endian bytes; str: UTF-16LE with a terminating NUL;
    list of str: REG_MULTI_SZ layout (each string NUL-terminated, then one
    more NUL); bytes: as given; None: no data.
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


# --------------------------------------------------------------------------
# Record encoders
# --------------------------------------------------------------------------

def base_block(*, signature=b"regf", primary_sequence=1, secondary_sequence=1,
               last_written=DEFAULT_TIMESTAMP, major_version=1, minor_version=5,
               file_type=0, file_format=1, root_cell_offset=0x20,
               hive_bins_data_size=0, clustering_factor=1, file_name=b"",
               checksum=None, flags=0):
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


def hbin_header(offset, size=BIN_SIZE, *, signature=b"hbin", reserved=b"",
                timestamp=0, spare=0):
    """The 32-byte hive-bin header."""
    return (pad_to(signature, 4) + struct.pack("<II", offset, size)
            + pad_to(reserved, 8) + struct.pack("<QI", timestamp, spare))


def nk(name="", *, compressed=None, flags=None, root=False,
       last_written=DEFAULT_TIMESTAMP, access_bits=0, parent=0,
       subkey_count=0, volatile_subkey_count=0, subkey_list_offset=NO_CELL,
       volatile_subkey_list_offset=NO_CELL, value_count=0,
       value_list_offset=NO_CELL, security_offset=NO_CELL,
       class_name_offset=NO_CELL, max_subkey_name_length=0,
       max_subkey_class_length=0, max_value_name_length=0,
       max_value_data_size=0, work_var=0, name_length=None,
       class_name_length=0, signature=b"nk"):
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


def vk(name="", *, compressed=None, data_size=0, data_offset=NO_CELL,
       data_type=REG_NONE, flags=None, name_length=None, spare=0,
       signature=b"vk"):
    """Value key payload (20 fixed bytes + name).  Fields are stored raw."""
    raw, is_compressed = encode_name(name, compressed)
    if flags is None:
        flags = VALUE_COMP_NAME if is_compressed else 0
    if name_length is None:
        name_length = len(raw)
    return pad_to(signature, 2) + struct.pack(
        "<HIIIHH", name_length, data_size, data_offset, data_type, flags,
        spare) + raw


def sk(descriptor=b"", *, flink=0, blink=0, reference_count=1, size=None,
       reserved=0, signature=b"sk"):
    """Security cell payload: 20 fixed bytes, then the security descriptor.

    ``size`` overrides the stored descriptor size; the links name the
    neighbouring security cells (a lone cell names itself).
    """
    return pad_to(signature, 2) + struct.pack(
        "<HIIII", reserved, flink, blink, reference_count,
        len(descriptor) if size is None else size) + bytes(descriptor)


def inline_fields(data):
    """(data_size, data_offset) fields for 0..4 data bytes kept in the vk."""
    if len(data) > 4:
        raise ValueError("inline data holds at most 4 bytes")
    return len(data) | INLINE_FLAG, int.from_bytes(pad_to(data, 4), "little")


def subkey_list(kind, entries, *, count=None):
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


def value_list(offsets):
    """Value list payload (also the big-data segment list): u32 offsets."""
    return b"".join(struct.pack("<I", o) for o in offsets)


def db(segment_count, segment_list_offset, *, signature=b"db", spare=0):
    """Big-data header payload."""
    return pad_to(signature, 2) + struct.pack("<HII", segment_count,
                                              segment_list_offset, spare)


def dirt_block(entries, *, count=None, signature=b"DIRT", pad=True):
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


def log_file(sequence=1, blocks=(), *, signature=b"HvLE", pad=True,
             length=None):
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


# --------------------------------------------------------------------------
# Windows transaction logs
#
# Both formats begin with the first 512 bytes of a base block (``log_header``).
# The old format (file type 1) follows it with "DIRT", a bitmap of 512-byte
# units of the hive bins data and the dirty units; the new format (file type
# 6) with "HvLE" entries whose pages are guarded by two Marvin32 hashes.
# Page and unit offsets count from the start of the hive bins data.
# --------------------------------------------------------------------------

MARVIN_SEED = 0x82EF4D887A4E55C5
OLD_LOG_TYPE = 1
NEW_LOG_TYPE = 6
LOG_HEADER_SIZE = 512
UNIT = 512


def marvin32(data, seed=MARVIN_SEED):
    """Marvin32 of ``data``: a 64-bit int (stored little-endian in a log)."""
    mask = 0xFFFFFFFF

    def rotl(x, n):
        return ((x << n) | (x >> (32 - n))) & mask

    lo, hi = seed & mask, seed >> 32
    data = bytes(data)
    tail = len(data) % 4
    words = list(struct.unpack("<%dI" % (len(data) // 4), data[:len(data) - tail]))
    words.append(int.from_bytes(data[len(data) - tail:] + b"\x80", "little"))
    words.append(0)
    for w in words:
        lo = (lo + w) & mask
        hi ^= lo
        lo = (rotl(lo, 20) + hi) & mask
        hi = rotl(hi, 9) ^ lo
        lo = (rotl(lo, 27) + hi) & mask
        hi = rotl(hi, 19)
    return (hi << 32) | lo


def log_header(sequence=1, *, file_type=NEW_LOG_TYPE, hive_bins_data_size=BIN_SIZE,
               **fields):
    """The 512 bytes a Windows log begins with: a base block of a log file type
    with both sequence numbers ``sequence``; ``fields`` go to base_block()."""
    fields.setdefault("primary_sequence", sequence)
    fields.setdefault("secondary_sequence", sequence)
    return base_block(file_type=file_type, hive_bins_data_size=hive_bins_data_size,
                      **fields)[:LOG_HEADER_SIZE]


def log_entry(sequence, pages, *, hive_bins_data_size=BIN_SIZE, flags=0,
              size=None, length=None, signature=b"HvLE", page_count=None,
              hash1=None, hash2=None):
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


def new_format_log(sequence, entries=(), *, align=4096, length=None, **fields):
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
            entry = dict(entry)
            number = entry.pop("sequence", number)
            need = 40 + sum(8 + len(data) for _, data in entry.get("pages", ()))
            entry.setdefault("length", round_up(len(out) + need, align) - len(out))
            entry = log_entry(number, **entry)
        out += entry
        number += 1
    return bytes(out if length is None else pad_to(out, length))


def old_format_log(pages, *, sequence=1, hive_bins_data_size=BIN_SIZE,
                   file_type=OLD_LOG_TYPE, bitmap=None, leftover=b"",
                   signature=b"DIRT", **fields):
    """An old-format log: log_header, "DIRT", the bitmap, the dirty units.

    ``pages`` are (offset, data) pairs whose offset and length are multiples
    of 512; each of their units is marked in the bitmap (one byte per 4096
    bytes of ``hive_bins_data_size``) and stored in bit order.  ``bitmap``
    replaces the computed bitmap; ``leftover`` bytes follow the last unit.
    """
    units = {}
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


def changed_pages(before, after, page=BIN_SIZE):
    """(offset, data) for each ``page``-sized block of the hive bins data of
    image ``after`` that differs from image ``before`` (or lies past its end)."""
    pages = []
    for at in range(BASE_BLOCK_SIZE, len(after), page):
        if after[at:at + page] != before[at:at + page]:
            pages.append((at - BASE_BLOCK_SIZE, bytes(after[at:at + page])))
    return pages


# --------------------------------------------------------------------------
# Cell allocator
# --------------------------------------------------------------------------

class _Bin:
    def __init__(self, offset, length, header):
        self.offset = offset          # position relative to the bins data
        self.length = length          # physical length in the image
        self.header = header          # hbin_header overrides
        self.data = bytearray(length)
        self.used = HBIN_HEADER_SIZE  # next free position inside the bin


class HiveBuilder:
    """Packs cells into hive bins and builds the hive image.

    Cells are allocated one after the other; a cell that does not fit in the
    current bin opens a new one (bigger than 4096 bytes when the cell needs
    it).  At build time the unused rest of each bin becomes one free cell.
    """

    def __init__(self, minor_version=5, *, timestamp=DEFAULT_TIMESTAMP,
                 bin_size=BIN_SIZE):
        self.minor_version = minor_version
        self.timestamp = timestamp
        self.bin_size = bin_size
        self.root = None              # root key cell offset
        self._parts = []              # _Bin objects and raw bytes, in order
        self._bins = []               # the _Bin objects alone, in order
        self._bin_offsets = []        # their offsets, for finding a bin by offset
        self._end = 0                 # length of the bins data so far
        self._current = None          # bin taking new cells
        self._cells = {}              # cell offset -> cell length
        self._names = {}              # key/value cell offset -> name
        self._data_sizes = {}         # value cell offset -> data length

    # -- bins and raw space -------------------------------------------------

    def new_bin(self, length=None, **header):
        """Start a new bin; later cells go into it.

        ``header`` overrides fields of its header (``offset``, ``size``,
        ``signature``, ``timestamp``, ...), e.g. ``size=0`` or a wrong offset.
        Returns the bin's offset.
        """
        length = self.bin_size if length is None else length
        self._current = _Bin(self._end, length, header)
        self._parts.append(self._current)
        self._bins.append(self._current)
        self._bin_offsets.append(self._current.offset)
        self._end += length
        return self._current.offset

    def append_raw(self, data):
        """Append raw bytes to the bins data (after the last bin so far).

        Cells allocated later go into a new bin placed after these bytes.
        """
        self._parts.append(bytes(data))
        self._end += len(data)
        self._current = None

    def _bin_at(self, offset):
        # Bins are appended in ascending offset order, so a binary search finds the one that may hold `offset`.
        if self._current is not None and self._current.offset <= offset < self._current.offset + self._current.length:
            return self._current
        i = bisect.bisect_right(self._bin_offsets, offset) - 1
        if i >= 0:
            part = self._bins[i]
            if part.offset <= offset < part.offset + part.length:
                return part
        raise KeyError("no bin holds offset %#x" % offset)

    # -- cells ---------------------------------------------------------------

    def reserve(self, payload_length):
        """Allocate a zeroed cell for ``payload_length`` bytes; fill it later."""
        length = round_up(4 + payload_length, 8)
        b = self._current
        if b is None or b.used + length > b.length:
            self.new_bin(max(self.bin_size,
                             round_up(HBIN_HEADER_SIZE + length, 4096)))
            b = self._current
        offset = b.offset + b.used
        b.used += length
        self._cells[offset] = length
        self._write(offset, -length, b"")
        return offset

    def fill(self, offset, payload, *, size=None, free=False):
        """Write the payload of a reserved cell (it must fit)."""
        length = self._cells[offset]
        if 4 + len(payload) > length:
            raise ValueError("payload of %d bytes does not fit the cell at %#x"
                             % (len(payload), offset))
        if size is None:
            size = length if free else -length
        self._write(offset, size, payload)

    def cell(self, payload=b"", *, size=None, free=False):
        """Allocate a cell holding ``payload`` and return its offset.

        The cell length is 4 + payload rounded up to 8.  ``size`` replaces the
        stored size field (0, 3, -3, -2**31, ...) without changing the space
        taken; ``free`` stores a positive size.
        """
        offset = self.reserve(len(payload))
        self.fill(offset, payload, size=size, free=free)
        return offset

    def _write(self, offset, size, payload):
        b = self._bin_at(offset)
        pos = offset - b.offset
        if size >= 2 ** 31:
            size -= 2 ** 32
        struct.pack_into("<i", b.data, pos, size)
        b.data[pos + 4:pos + 4 + len(payload)] = payload

    # -- keys, values, data ---------------------------------------------------

    def store_data(self, data, storage=None):
        """Store value data; return the vk's (data_size, data_offset) fields.

        ``storage`` is "inline", "cell" or "big"; by default 0 to 4 bytes go
        inline, up to 16344 bytes into one cell, more into a "db" chain
        (minor version 4 and up) or one large cell (minor version 3).
        """
        data = bytes(data)
        if storage is None:
            if len(data) <= 4:  # empty data too: Windows stores 0x80000000, 0
                storage = "inline"
            elif len(data) <= MAX_CELL_DATA or self.minor_version < 4:
                storage = "cell"
            else:
                storage = "big"
        if storage == "inline":
            return inline_fields(data)
        if storage == "cell":
            return len(data), self.cell(data)
        if storage == "big":
            return len(data), self.big_data(data)
        raise ValueError("unknown storage %r" % storage)

    def big_data(self, data, *, segment_data=MAX_CELL_DATA,
                 segment_payload=SEGMENT_PAYLOAD, pad_last=False):
        """Store ``data`` as a "db" chain; return the db cell's offset.

        Each segment holds ``segment_data`` bytes.  Every segment but the last
        has a size field saying ``segment_payload`` payload bytes (Windows:
        16344 data + 4 alignment bytes); the last one is just rounded up,
        unless ``pad_last`` gives it the full payload too.
        """
        chunks = [data[i:i + segment_data]
                  for i in range(0, len(data), segment_data)] or [b""]
        segments = []
        for i, chunk in enumerate(chunks):
            size = None
            if i < len(chunks) - 1 or pad_last:
                chunk = pad_to(chunk, max(segment_payload, len(chunk)))
                size = -(4 + len(chunk))
            segments.append(self.cell(chunk, size=size))
        seg_list = self.cell(value_list(segments))
        return self.cell(db(len(segments), seg_list))

    def value(self, name="", value_type=REG_NONE, data=b"", *, storage=None,
              **fields):
        """Add a value key; return its offset.  ``fields`` override vk()."""
        raw = encode_data(value_type, data)
        size, offset = self.store_data(raw, storage)
        fields.setdefault("data_size", size)
        fields.setdefault("data_offset", offset)
        fields.setdefault("data_type", value_type)
        at = self.cell(vk(name, **fields))
        self._names[at] = name
        self._data_sizes[at] = len(raw)
        return at

    def subkey_list_cell(self, kind, offsets, *, chunk=None, leaf_kind="lh"):
        """Store a subkey list over key offsets; return its offset.

        Kind "ri" spreads the keys over leaf lists of ``leaf_kind`` holding
        ``chunk`` entries each (default: all in one leaf).
        """
        if kind == "ri":
            chunk = chunk or max(1, len(offsets))
            leaves = [self.subkey_list_cell(leaf_kind, offsets[i:i + chunk])
                      for i in range(0, len(offsets), chunk)]
            return self.cell(subkey_list("ri", leaves))
        entries = [(o, self._names.get(o, "")) for o in offsets]
        return self.cell(subkey_list(kind, entries))

    def security(self, descriptor):
        """Store a lone security cell holding ``descriptor``; return its offset."""
        at = self.reserve(len(sk(descriptor)))
        self.fill(at, sk(descriptor, flink=at, blink=at))
        return at

    def key(self, name="", *, subkeys=(), values=(), list_kind="lh",
            chunk=None, leaf_kind="lh", class_name=None, security=None,
            root=False, at=None, **fields):
        """Add a key node over existing subkey and value offsets.

        Builds the subkey list, value list, class-name cell (UTF-16LE) and
        security cell (``security`` holds the descriptor bytes) as needed and
        fills in the counts and max-length fields; ``fields`` override nk().
        ``at`` fills a cell from ``reserve`` instead of allocating one (so
        children can name their parent first).  ``root`` also makes this the
        hive's root key.
        """
        subkeys, values = list(subkeys), list(values)
        if subkeys and "subkey_list_offset" not in fields:
            fields["subkey_list_offset"] = self.subkey_list_cell(
                list_kind, subkeys, chunk=chunk, leaf_kind=leaf_kind)
        if values and "value_list_offset" not in fields:
            fields["value_list_offset"] = self.cell(value_list(values))
        fields.setdefault("subkey_count", len(subkeys))
        fields.setdefault("value_count", len(values))
        if class_name is not None and "class_name_offset" not in fields:
            raw_class = encode_name(class_name, False)[0]
            fields["class_name_offset"] = self.cell(raw_class)
            fields.setdefault("class_name_length", len(raw_class))
        if security is not None and "security_offset" not in fields:
            fields["security_offset"] = self.security(security)
        fields.setdefault("max_subkey_name_length", self._widest_name(subkeys))
        fields.setdefault("max_value_name_length", self._widest_name(values))
        fields.setdefault("max_value_data_size",
                          max((self._data_sizes[o] for o in values
                               if o in self._data_sizes), default=0))
        fields.setdefault("last_written", self.timestamp)
        payload = nk(name, root=root, **fields)
        if at is None:
            at = self.cell(payload)
        else:
            self.fill(at, payload)
        self._names[at] = name
        if root:
            self.root = at
        return at

    def _widest_name(self, offsets):
        """Largest UTF-16 byte length among the names of these records."""
        return max((len(encode_name(self._names[o], False)[0])
                    for o in offsets if o in self._names), default=0)

    def add(self, key, *, parent=0, root=False):
        """Store a ``Key`` description tree; return the key's offset.

        Sets ``.offset`` on every Key and Value of the tree so tests can find
        (and damage) the records afterwards.
        """
        at = self.reserve(len(nk(key.name, **key.nk_fields())))
        children = [self.add(k, parent=at) for k in key.subkeys]
        values = [self.value(v.name, v.value_type, v.data, storage=v.storage,
                             **v.fields) for v in key.values]
        for v, offset in zip(key.values, values):
            v.offset = offset
        fields = dict(parent=parent)
        fields.update(key.nk_fields())
        key.offset = self.key(key.name, subkeys=children, values=values,
                              list_kind=key.list_kind, chunk=key.chunk,
                              leaf_kind=key.leaf_kind,
                              class_name=key.class_name,
                              security=key.security, root=root, at=at,
                              **fields)
        return key.offset

    # -- deleting: cells freed in place, as Windows frees them -----------------

    def payload(self, offset):
        """The bytes of the cell at ``offset`` after its size field."""
        b = self._bin_at(offset)
        pos = offset - b.offset
        return bytes(b.data[pos + 4:pos + self._cells[offset]])

    def free(self, offset):
        """Mark the cell at ``offset`` free (a positive size field); its bytes stay."""
        self._write(offset, self._cells[offset], b"")

    def delete_value(self, offset):
        """Free a value key and the cells of its data: one data cell, or a big-data record with its segment list and
        segments."""
        _, size, data_offset = struct.unpack_from("<HII", self.payload(offset), 2)
        self.free(offset)
        size &= ~INLINE_FLAG
        if size <= 4 or data_offset not in self._cells:
            return
        record = self.payload(data_offset)
        if size > MAX_CELL_DATA and self.minor_version >= 4 and record[:2] == b"db":
            count, segment_list = struct.unpack_from("<HI", record, 2)
            segments = struct.unpack_from("<%dI" % count, self.payload(segment_list))
            for cell in (segment_list,) + segments:
                self.free(cell)
        self.free(data_offset)

    def delete_key(self, offset):
        """Free a key node and everything only it names: its subkeys first (and theirs, as Windows deletes a tree),
        its subkey lists, value list, values with their data and class-name cell. Security cells are shared and
        stay; the parent's subkey list is not touched (build the parent without the key)."""
        pending = [offset]
        while pending:
            at = pending.pop()
            node = self.payload(at)
            subkey_count, subkey_list = struct.unpack_from("<I4xI", node, 20)
            value_count, value_list = struct.unpack_from("<II", node, 36)
            class_offset = struct.unpack_from("<I", node, 48)[0]
            if subkey_count and subkey_list in self._cells:
                pending.extend(self._free_subkey_list(subkey_list))
            if value_count and value_list in self._cells:
                for value in struct.unpack_from("<%dI" % value_count, self.payload(value_list)):
                    self.delete_value(value)
                self.free(value_list)
            if class_offset in self._cells:
                self.free(class_offset)
            self.free(at)

    def _free_subkey_list(self, offset):
        """Free a subkey list (an "ri" list with its leaves) and return the key offsets it names."""
        record = self.payload(offset)
        kind, count = record[:2], struct.unpack_from("<H", record, 2)[0]
        step = 8 if kind in (b"lf", b"lh") else 4
        entries = [struct.unpack_from("<I", record, 4 + step * i)[0] for i in range(count)]
        self.free(offset)
        if kind != b"ri":
            return entries
        return [key for leaf in entries for key in self._free_subkey_list(leaf)]

    def coalesce(self, offset, end=None):
        """Merge the cells from ``offset`` up to the cell offset ``end`` (the end of the bin when None) into one
        free cell, as Windows merges freed neighbours; the size fields inside stay where they were."""
        b = self._bin_at(offset)
        if end is None:
            end = b.offset + b.length
            b.used = b.length
        self._cells[offset] = end - offset
        self._write(offset, end - offset, b"")

    def reuse(self, offset, payload):
        """Allocate the start of the free cell at ``offset`` again for ``payload``, as Windows reuses free space: the
        rest of the cell, when there is any, becomes a free cell of its own. Returns ``offset``."""
        length = round_up(4 + len(payload), 8)
        rest = self._cells[offset] - length
        if rest < 0:
            raise ValueError("payload of %d bytes does not fit the cell at %#x" % (len(payload), offset))
        self._cells[offset] = length
        self._write(offset, -length, payload)
        if rest:
            self._cells[offset + length] = rest
            self._write(offset + length, rest, b"")
        return offset

    # -- output -----------------------------------------------------------------

    def bins_data(self):
        """The hive bins data: every bin, rest of each bin as one free cell."""
        out = bytearray()
        for part in self._parts:
            if not isinstance(part, _Bin):
                out += part
                continue
            data = bytearray(part.data)
            header = dict(offset=part.offset, size=part.length)
            header.update(part.header)
            data[:HBIN_HEADER_SIZE] = hbin_header(**header)
            rest = part.length - part.used
            if rest >= 4:
                struct.pack_into("<i", data, part.used, rest)
            out += data
        return bytes(out)

    def build(self, **base_block_fields):
        """The whole hive image; keyword arguments override base-block fields."""
        bins = [p for p in self._parts if isinstance(p, _Bin)]
        fields = dict(minor_version=self.minor_version,
                      last_written=self.timestamp,
                      root_cell_offset=0x20 if self.root is None else self.root,
                      hive_bins_data_size=(bins[-1].offset + bins[-1].length
                                           if bins else 0))
        fields.update(base_block_fields)
        return base_block(**fields) + self.bins_data()

    def write(self, path, **base_block_fields):
        """Build the image and write it to ``path``; return the path."""
        with open(path, "wb") as f:
            f.write(self.build(**base_block_fields))
        return path


# --------------------------------------------------------------------------
# Descriptions
# --------------------------------------------------------------------------

class Value:
    """A value to store: data as int, str, list of str, bytes or None.

    ``storage`` forces "inline", "cell" or "big"; other keyword arguments
    override vk() fields (e.g. ``data_size=``, ``compressed=False``).
    """

    def __init__(self, name="", value_type=REG_NONE, data=b"", *,
                 storage=None, **fields):
        self.name = name
        self.value_type = value_type
        self.data = data
        self.storage = storage
        self.fields = fields
        self.offset = None


class Key:
    """A key to store, with its subkeys and values.

    ``list_kind`` is "lf", "lh", "li" or "ri"; for "ri" the subkeys are spread
    over ``leaf_kind`` lists of ``chunk`` entries.  ``timestamp`` is the
    FILETIME of the key, ``class_name`` its class (stored as UTF-16LE) and
    ``security`` the bytes of its security descriptor; other keyword
    arguments override nk() fields.
    """

    def __init__(self, name="", subkeys=(), values=(), *, list_kind="lh",
                 chunk=None, leaf_kind="lh", timestamp=None, class_name=None,
                 security=None, **fields):
        self.name = name
        self.subkeys = list(subkeys)
        self.values = list(values)
        self.list_kind = list_kind
        self.chunk = chunk
        self.leaf_kind = leaf_kind
        self.timestamp = timestamp
        self.class_name = class_name
        self.security = security
        self.fields = fields
        self.offset = None

    def nk_fields(self):
        fields = dict(self.fields)
        if self.timestamp is not None:
            fields.setdefault("last_written", self.timestamp)
        return fields


def build_hive(root, minor_version=5, *, timestamp=DEFAULT_TIMESTAMP,
               trailing=b"", **base_block_fields):
    """Image of a well-formed hive whose root key is the ``Key`` ``root``.

    ``trailing`` bytes are appended after the last bin; other keyword
    arguments override base-block fields.
    """
    builder = HiveBuilder(minor_version, timestamp=timestamp)
    builder.add(root, root=True)
    if trailing:
        builder.append_raw(trailing)
    return builder.build(**base_block_fields)


def dirty_hive(before, after, *, sequence=10, minor_version=5):
    """A dirty primary and the new-format log that recovers it: (primary image, log image).

    The primary holds the ``Key`` tree ``before`` with sequence numbers
    ``sequence + 1`` / ``sequence``; the log's one entry, numbered
    ``sequence``, writes the pages that turn it into the tree ``after``.
    """
    old = build_hive(before, minor_version, primary_sequence=sequence + 1, secondary_sequence=sequence)
    new = build_hive(after, minor_version)
    entry = dict(sequence=sequence, hive_bins_data_size=len(new) - BASE_BLOCK_SIZE, pages=changed_pages(old, new))
    return old, new_format_log(sequence, [entry], hive_bins_data_size=len(old) - BASE_BLOCK_SIZE)
