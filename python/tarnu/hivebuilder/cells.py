"""The cell packer: ``HiveBuilder`` lays cells out in hive bins and hands back their cell offsets, so that a test
can wire records together by hand (damaged ones too); it stores keys, values and their data, a ``Key``
description tree at once, frees cells again the way Windows deletes keys and values, and builds the hive image.
"""

from __future__ import annotations

import bisect
import os
import struct
from typing import TYPE_CHECKING, Dict, Iterable, List, Optional, Sequence, Tuple, TypeVar, Union

from .records import (BIN_SIZE, DEFAULT_TIMESTAMP, HBIN_HEADER_SIZE, INLINE_FLAG, MAX_CELL_DATA, REG_NONE,
                      SEGMENT_PAYLOAD, base_block, db, encode_data, encode_name, hbin_header, inline_fields, nk,
                      pad_to, round_up, sk, subkey_list, value_list, vk)
from .shapes import (BaseBlockFields, BytesLike, HbinFields, Name, NkFields, Storage, SubkeyEntry, ValueData,
                     VkFields)

if TYPE_CHECKING:
    from typing_extensions import Unpack

    from .description import Key

# A path HiveBuilder.write() writes to and hands back as it was given.
PathT = TypeVar("PathT", bound="Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]")


class _Bin:
    def __init__(self, offset: int, length: int, header: HbinFields) -> None:
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

    def __init__(self, minor_version: int = 5, *, timestamp: int = DEFAULT_TIMESTAMP,
                 bin_size: int = BIN_SIZE) -> None:
        self.minor_version = minor_version
        self.timestamp = timestamp
        self.bin_size = bin_size
        self.root: Optional[int] = None               # root key cell offset
        self._parts: List[Union[_Bin, bytes]] = []    # _Bin objects and raw bytes, in order
        self._bins: List[_Bin] = []                   # the _Bin objects alone, in order
        self._bin_offsets: List[int] = []             # their offsets, for finding a bin by offset
        self._end = 0                                 # length of the bins data so far
        self._current: Optional[_Bin] = None          # bin taking new cells
        self._cells: Dict[int, int] = {}              # cell offset -> cell length
        self._names: Dict[int, Name] = {}             # key/value cell offset -> name
        self._data_sizes: Dict[int, int] = {}         # value cell offset -> data length

    # -- bins and raw space -------------------------------------------------

    def new_bin(self, length: Optional[int] = None, **header: Unpack[HbinFields]) -> int:
        """Start a new bin; later cells go into it.

        ``header`` overrides fields of its header (``offset``, ``size``,
        ``signature``, ``timestamp``, ...), e.g. ``size=0`` or a wrong offset.
        Returns the bin's offset.
        """
        return self._start_bin(self.bin_size if length is None else length, header).offset

    def _start_bin(self, length: int, header: HbinFields) -> _Bin:
        b = _Bin(self._end, length, header)
        self._current = b
        self._parts.append(b)
        self._bins.append(b)
        self._bin_offsets.append(b.offset)
        self._end += length
        return b

    def append_raw(self, data: BytesLike) -> None:
        """Append raw bytes to the bins data (after the last bin so far).

        Cells allocated later go into a new bin placed after these bytes.
        """
        self._parts.append(bytes(data))
        self._end += len(data)
        self._current = None

    def _bin_at(self, offset: int) -> _Bin:
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

    def reserve(self, payload_length: int) -> int:
        """Allocate a zeroed cell for ``payload_length`` bytes; fill it later."""
        length = round_up(4 + payload_length, 8)
        b = self._current
        if b is None or b.used + length > b.length:
            b = self._start_bin(max(self.bin_size, round_up(HBIN_HEADER_SIZE + length, 4096)), {})
        offset = b.offset + b.used
        b.used += length
        self._cells[offset] = length
        self._write(offset, -length, b"")
        return offset

    def fill(self, offset: int, payload: BytesLike, *, size: Optional[int] = None, free: bool = False) -> None:
        """Write the payload of a reserved cell (it must fit)."""
        length = self._cells[offset]
        if 4 + len(payload) > length:
            raise ValueError("payload of %d bytes does not fit the cell at %#x"
                             % (len(payload), offset))
        if size is None:
            size = length if free else -length
        self._write(offset, size, payload)

    def cell(self, payload: BytesLike = b"", *, size: Optional[int] = None, free: bool = False) -> int:
        """Allocate a cell holding ``payload`` and return its offset.

        The cell length is 4 + payload rounded up to 8.  ``size`` replaces the
        stored size field (0, 3, -3, -2**31, ...) without changing the space
        taken; ``free`` stores a positive size.
        """
        offset = self.reserve(len(payload))
        self.fill(offset, payload, size=size, free=free)
        return offset

    def _write(self, offset: int, size: int, payload: BytesLike) -> None:
        b = self._bin_at(offset)
        pos = offset - b.offset
        if size >= 2 ** 31:
            size -= 2 ** 32
        struct.pack_into("<i", b.data, pos, size)
        b.data[pos + 4:pos + 4 + len(payload)] = payload

    # -- keys, values, data ---------------------------------------------------

    def store_data(self, data: BytesLike, storage: Optional[Storage] = None) -> Tuple[int, int]:
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

    def big_data(self, data: BytesLike, *, segment_data: int = MAX_CELL_DATA,
                 segment_payload: int = SEGMENT_PAYLOAD, pad_last: bool = False) -> int:
        """Store ``data`` as a "db" chain; return the db cell's offset.

        Each segment holds ``segment_data`` bytes.  Every segment but the last
        has a size field saying ``segment_payload`` payload bytes (Windows:
        16344 data + 4 alignment bytes); the last one is just rounded up,
        unless ``pad_last`` gives it the full payload too.
        """
        chunks: List[BytesLike] = [data[i:i + segment_data]
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

    def value(self, name: Name = "", value_type: int = REG_NONE, data: ValueData = b"", *,
              storage: Optional[Storage] = None, **fields: Unpack[VkFields]) -> int:
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

    def subkey_list_cell(self, kind: str, offsets: Sequence[int], *, chunk: Optional[int] = None,
                         leaf_kind: str = "lh") -> int:
        """Store a subkey list over key offsets; return its offset.

        Kind "ri" spreads the keys over leaf lists of ``leaf_kind`` holding
        ``chunk`` entries each (default: all in one leaf).
        """
        if kind == "ri":
            chunk = chunk or max(1, len(offsets))
            leaves = [self.subkey_list_cell(leaf_kind, offsets[i:i + chunk])
                      for i in range(0, len(offsets), chunk)]
            return self.cell(subkey_list("ri", leaves))
        entries: List[SubkeyEntry] = [(o, self._names.get(o, "")) for o in offsets]
        return self.cell(subkey_list(kind, entries))

    def security(self, descriptor: BytesLike) -> int:
        """Store a lone security cell holding ``descriptor``; return its offset."""
        at = self.reserve(len(sk(descriptor)))
        self.fill(at, sk(descriptor, flink=at, blink=at))
        return at

    def key(self, name: Name = "", *, subkeys: Iterable[int] = (), values: Iterable[int] = (),
            list_kind: str = "lh", chunk: Optional[int] = None, leaf_kind: str = "lh",
            class_name: Optional[Name] = None, security: Optional[BytesLike] = None, root: bool = False,
            at: Optional[int] = None, **fields: Unpack[NkFields]) -> int:
        """Add a key node over existing subkey and value offsets.

        Builds the subkey list, value list, class-name cell (UTF-16LE) and
        security cell (``security`` holds the descriptor bytes) as needed and
        fills in the counts and max-length fields; ``fields`` override nk().
        ``at`` fills a cell from ``reserve`` instead of allocating one (so
        children can name their parent first).  ``root`` also makes this the
        hive's root key.
        """
        subkey_offsets, value_offsets = list(subkeys), list(values)
        if subkey_offsets and "subkey_list_offset" not in fields:
            fields["subkey_list_offset"] = self.subkey_list_cell(
                list_kind, subkey_offsets, chunk=chunk, leaf_kind=leaf_kind)
        if value_offsets and "value_list_offset" not in fields:
            fields["value_list_offset"] = self.cell(value_list(value_offsets))
        fields.setdefault("subkey_count", len(subkey_offsets))
        fields.setdefault("value_count", len(value_offsets))
        if class_name is not None and "class_name_offset" not in fields:
            raw_class = encode_name(class_name, False)[0]
            fields["class_name_offset"] = self.cell(raw_class)
            fields.setdefault("class_name_length", len(raw_class))
        if security is not None and "security_offset" not in fields:
            fields["security_offset"] = self.security(security)
        fields.setdefault("max_subkey_name_length", self._widest_name(subkey_offsets))
        fields.setdefault("max_value_name_length", self._widest_name(value_offsets))
        fields.setdefault("max_value_data_size",
                          max((self._data_sizes[o] for o in value_offsets
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

    def _widest_name(self, offsets: Iterable[int]) -> int:
        """Largest UTF-16 byte length among the names of these records."""
        return max((len(encode_name(self._names[o], False)[0])
                    for o in offsets if o in self._names), default=0)

    def add(self, key: Key, *, parent: int = 0, root: bool = False) -> int:
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
        fields: NkFields = {"parent": parent}
        fields.update(key.nk_fields())
        key.offset = self.key(key.name, subkeys=children, values=values,
                              list_kind=key.list_kind, chunk=key.chunk,
                              leaf_kind=key.leaf_kind,
                              class_name=key.class_name,
                              security=key.security, root=root, at=at,
                              **fields)
        return key.offset

    # -- deleting: cells freed in place, as Windows frees them -----------------

    def payload(self, offset: int) -> bytes:
        """The bytes of the cell at ``offset`` after its size field."""
        b = self._bin_at(offset)
        pos = offset - b.offset
        return bytes(b.data[pos + 4:pos + self._cells[offset]])

    def free(self, offset: int) -> None:
        """Mark the cell at ``offset`` free (a positive size field); its bytes stay."""
        self._write(offset, self._cells[offset], b"")

    def delete_value(self, offset: int) -> None:
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

    def delete_key(self, offset: int) -> None:
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

    def _free_subkey_list(self, offset: int) -> List[int]:
        """Free a subkey list (an "ri" list with its leaves) and return the key offsets it names."""
        record = self.payload(offset)
        kind, count = record[:2], struct.unpack_from("<H", record, 2)[0]
        step = 8 if kind in (b"lf", b"lh") else 4
        entries: List[int] = [struct.unpack_from("<I", record, 4 + step * i)[0] for i in range(count)]
        self.free(offset)
        if kind != b"ri":
            return entries
        return [key for leaf in entries for key in self._free_subkey_list(leaf)]

    def coalesce(self, offset: int, end: Optional[int] = None) -> None:
        """Merge the cells from ``offset`` up to the cell offset ``end`` (the end of the bin when None) into one
        free cell, as Windows merges freed neighbours; the size fields inside stay where they were."""
        b = self._bin_at(offset)
        if end is None:
            end = b.offset + b.length
            b.used = b.length
        self._cells[offset] = end - offset
        self._write(offset, end - offset, b"")

    def reuse(self, offset: int, payload: BytesLike) -> int:
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

    def bins_data(self) -> bytes:
        """The hive bins data: every bin, rest of each bin as one free cell."""
        out = bytearray()
        for part in self._parts:
            if not isinstance(part, _Bin):
                out += part
                continue
            data = bytearray(part.data)
            header: HbinFields = {"offset": part.offset, "size": part.length}
            header.update(part.header)
            data[:HBIN_HEADER_SIZE] = hbin_header(**header)
            rest = part.length - part.used
            if rest >= 4:
                struct.pack_into("<i", data, part.used, rest)
            out += data
        return bytes(out)

    def build(self, **base_block_fields: Unpack[BaseBlockFields]) -> bytes:
        """The whole hive image; keyword arguments override base-block fields."""
        bins = [p for p in self._parts if isinstance(p, _Bin)]
        fields: BaseBlockFields = {
            "minor_version": self.minor_version,
            "last_written": self.timestamp,
            "root_cell_offset": 0x20 if self.root is None else self.root,
            "hive_bins_data_size": bins[-1].offset + bins[-1].length if bins else 0,
        }
        fields.update(base_block_fields)
        return base_block(**fields) + self.bins_data()

    def write(self, path: PathT, **base_block_fields: Unpack[BaseBlockFields]) -> PathT:
        """Build the image and write it to ``path``; return the path."""
        with open(path, "wb") as f:
            f.write(self.build(**base_block_fields))
        return path
