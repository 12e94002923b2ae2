"""Descriptions of the common case: ``Key`` and ``Value`` say what a small well-formed hive holds, ``build_hive``
writes it, and ``dirty_hive`` writes a dirty primary together with the new-format log that recovers it.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Iterable, Optional, Tuple

from .cells import HiveBuilder
from .logs import changed_pages, new_format_log
from .records import BASE_BLOCK_SIZE, DEFAULT_TIMESTAMP, REG_NONE
from .shapes import BuildHiveFields, BytesLike, Name, NkFields, Storage, ValueData, VkFields

if TYPE_CHECKING:
    from typing_extensions import Unpack


class Value:
    """A value to store: data as int, str, list of str, bytes or None.

    ``storage`` forces "inline", "cell" or "big"; other keyword arguments
    override vk() fields (e.g. ``data_size=``, ``compressed=False``).
    ``offset`` is None until a HiveBuilder stores the value, then its cell offset.
    """

    def __init__(self, name: Name = "", value_type: int = REG_NONE, data: ValueData = b"", *,
                 storage: Optional[Storage] = None, **fields: Unpack[VkFields]) -> None:
        self.name = name
        self.value_type = value_type
        self.data = data
        self.storage = storage
        self.fields = fields
        self.offset: Optional[int] = None


class Key:
    """A key to store, with its subkeys and values.

    ``list_kind`` is "lf", "lh", "li" or "ri"; for "ri" the subkeys are spread
    over ``leaf_kind`` lists of ``chunk`` entries.  ``timestamp`` is the
    FILETIME of the key, ``class_name`` its class (stored as UTF-16LE) and
    ``security`` the bytes of its security descriptor; other keyword
    arguments override nk() fields.  ``offset`` is None until a HiveBuilder
    stores the key, then its cell offset.
    """

    def __init__(self, name: Name = "", subkeys: Iterable[Key] = (), values: Iterable[Value] = (), *,
                 list_kind: str = "lh", chunk: Optional[int] = None, leaf_kind: str = "lh",
                 timestamp: Optional[int] = None, class_name: Optional[Name] = None,
                 security: Optional[BytesLike] = None, **fields: Unpack[NkFields]) -> None:
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
        self.offset: Optional[int] = None

    def nk_fields(self) -> NkFields:
        fields = self.fields.copy()
        if self.timestamp is not None:
            fields.setdefault("last_written", self.timestamp)
        return fields


def build_hive(root: Key, minor_version: int = 5, *, timestamp: int = DEFAULT_TIMESTAMP, trailing: BytesLike = b"",
               **base_block_fields: Unpack[BuildHiveFields]) -> bytes:
    """Image of a well-formed hive whose root key is the ``Key`` ``root``.

    ``trailing`` bytes are appended after the last bin; other keyword
    arguments override base-block fields.
    """
    builder = HiveBuilder(minor_version, timestamp=timestamp)
    builder.add(root, root=True)
    if trailing:
        builder.append_raw(trailing)
    return builder.build(**base_block_fields)


def dirty_hive(before: Key, after: Key, *, sequence: int = 10, minor_version: int = 5) -> Tuple[bytes, bytes]:
    """A dirty primary and the new-format log that recovers it: (primary image, log image).

    The primary holds the ``Key`` tree ``before`` with sequence numbers
    ``sequence + 1`` / ``sequence``; the log's one entry, numbered
    ``sequence``, writes the pages that turn it into the tree ``after``.
    """
    old = build_hive(before, minor_version, primary_sequence=sequence + 1, secondary_sequence=sequence)
    new = build_hive(after, minor_version)
    entry = dict(sequence=sequence, hive_bins_data_size=len(new) - BASE_BLOCK_SIZE, pages=changed_pages(old, new))
    return old, new_format_log(sequence, [entry], hive_bins_data_size=len(old) - BASE_BLOCK_SIZE)
