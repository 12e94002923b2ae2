"""The shapes the builder's arguments take: the kinds of bytes, names and value data it accepts, the entries of
subkey lists and log blocks, and one TypedDict for each set of keyword overrides that a call passes on to a
record encoder (``Key(..., flags=0)`` goes to nk(), ``build_hive(..., file_name="X")`` to base_block(), ...).
"""

from __future__ import annotations

from typing import List, Literal, Optional, Tuple, TypedDict, Union

# Raw bytes as the encoders take them: copied or sliced, never decoded.
BytesLike = Union[bytes, bytearray, memoryview]
# A key, value or class name: a str is encoded (Latin-1 when it fits, else UTF-16LE), bytes are stored as given.
Name = Union[str, bytes, bytearray]
# Value data by type: int (4 or 8 bytes by value type), str (UTF-16LE text), a list or tuple of str (a multi-string),
# bytes (as given) or None (no data).
ValueData = Union[None, bytes, bytearray, int, str, List[str], Tuple[str, ...]]
# Where value data goes: in the value key's offset field, in one data cell, or in a big-data chain.
Storage = Literal["inline", "cell", "big"]
# An entry of a subkey list: a key's cell offset, or (offset, name) whose hint or hash is computed from the name,
# or (offset, hint) with the 4 stored bytes given as an int or as bytes.
SubkeyEntry = Union[int, Tuple[int, Union[str, int, BytesLike]]]
# A page of a Windows log: (offset in the hive bins data, bytes).
Page = Tuple[int, BytesLike]
# An entry of a dirty block of the reader's own log layout: (hive offset, data) or (hive offset, data, stored size).
DirtEntry = Union[Tuple[int, BytesLike], Tuple[int, BytesLike, int]]


class NkFields(TypedDict, total=False):
    """Overrides of nk() fields, as Key and HiveBuilder.key() take them."""

    compressed: Optional[bool]
    flags: Optional[int]
    last_written: int
    access_bits: int
    parent: int
    subkey_count: int
    volatile_subkey_count: int
    subkey_list_offset: int
    volatile_subkey_list_offset: int
    value_count: int
    value_list_offset: int
    security_offset: int
    class_name_offset: int
    max_subkey_name_length: int
    max_subkey_class_length: int
    max_value_name_length: int
    max_value_data_size: int
    work_var: int
    name_length: Optional[int]
    class_name_length: int
    signature: BytesLike


class VkFields(TypedDict, total=False):
    """Overrides of vk() fields, as Value and HiveBuilder.value() take them."""

    compressed: Optional[bool]
    data_size: int
    data_offset: int
    data_type: int
    flags: Optional[int]
    name_length: Optional[int]
    spare: int
    signature: BytesLike


class HbinFields(TypedDict, total=False):
    """Overrides of hbin_header() fields, as HiveBuilder.new_bin() takes them."""

    offset: int
    size: int
    signature: BytesLike
    reserved: BytesLike
    timestamp: int
    spare: int


# The base-block fields go to base_block() through several calls, each of which sets some of them itself and so
# passes on only the others: one TypedDict for each such set.

class BlockFields(TypedDict, total=False):
    """The base_block() fields that every call writing a base block passes on."""

    primary_sequence: int
    secondary_sequence: int
    last_written: int
    major_version: int
    file_format: int
    root_cell_offset: int
    clustering_factor: int
    file_name: Union[str, BytesLike]
    checksum: Optional[int]
    flags: int


class BuildHiveFields(BlockFields, total=False):
    """The base_block() fields build_hive() passes on (it takes the minor version as an argument of its own)."""

    signature: BytesLike
    file_type: int
    hive_bins_data_size: int


class BaseBlockFields(BuildHiveFields, total=False):
    """Every base_block() field: the overrides HiveBuilder.build() and write() take."""

    minor_version: int


class OldLogFields(BlockFields, total=False):
    """The base_block() fields old_format_log() passes on (its ``signature`` is that of the "DIRT" block)."""

    minor_version: int


class LogHeaderFields(OldLogFields, total=False):
    """The base_block() fields log_header() passes on beside the file type and bins size it takes itself."""

    signature: BytesLike


class NewLogFields(LogHeaderFields, total=False):
    """The base_block() fields new_format_log() passes on to log_header() (the file type is the new format's)."""

    hive_bins_data_size: int
