"""Build registry hive files and transaction logs from a short description.

A testing helper, not a reader: it writes hives and logs, well-formed or damaged on purpose, and reads nothing
back (tarnu itself does that).  The tests, examples, benchmarks and fuzz corpus craft the hives they need at run
time with it instead of relying on sample files.  There are three levels:

* byte encoders (``base_block``, ``nk``, ``vk``, ``sk``, ``subkey_list``, ``db``,
  ``value_list``, ``hbin_header``, ``dirt_block``, ``log_file``, ``log_entry``, ...)
  that return the raw bytes of one record, every field overridable;
* ``HiveBuilder``, which packs cells into hive bins and hands back their cell
  offsets, so a test can wire records together by hand (damaged ones too),
  and frees them again the way Windows deletes keys and values;
* ``Key`` / ``Value`` descriptions plus ``build_hive`` for the common case of
  "a small well-formed hive with these keys and values", and ``dirty_hive``
  for a dirty primary with the log that recovers it.

All integers are little-endian.  A cell offset is relative to the start of the
hive bins data, i.e. image position ``offset + 4096``.

The modules: ``records`` (constants and record encoders), ``logs`` (transaction
log writers), ``cells`` (the cell packer), ``description`` (Key, Value and the
whole-hive writers), ``shapes`` (the types of their arguments) and ``repeats``
(hostile hives that name one record over and over, imported on its own).  The
package uses only relative imports and the standard library, so it also loads
from its source folder without the extension module beside it.
"""

from .cells import HiveBuilder
from .description import Key, Value, build_hive, dirty_hive
from .logs import (LOG_HEADER_SIZE, MARVIN_SEED, NEW_LOG_TYPE, OLD_LOG_TYPE, UNIT, changed_pages, dirt_block,
                   log_entry, log_file, log_header, marvin32, new_format_log, old_format_log)
from .records import (BASE_BLOCK_SIZE, BIN_SIZE, DEFAULT_TIMESTAMP, HBIN_HEADER_SIZE, INLINE_FLAG, KEY_COMP_NAME,
                      KEY_HIVE_ENTRY, KEY_NO_DELETE, MAX_CELL_DATA, NO_CELL, REG_BINARY, REG_DWORD,
                      REG_DWORD_BIG_ENDIAN, REG_EXPAND_SZ, REG_FULL_RESOURCE_DESCRIPTOR, REG_LINK, REG_MULTI_SZ,
                      REG_NONE, REG_QWORD, REG_RESOURCE_LIST, REG_RESOURCE_REQUIREMENTS_LIST, REG_SZ,
                      SEGMENT_PAYLOAD, VALUE_COMP_NAME, base_block, base_block_checksum, db, encode_data,
                      encode_name, filetime, hbin_header, inline_fields, lf_hint, lh_hash, nk, pad_to, round_up, sk,
                      subkey_list, value_list, vk, with_checksum)
from .shapes import (BaseBlockFields, BlockFields, BuildHiveFields, BytesLike, DirtEntry, HbinFields, LogHeaderFields,
                     Name, NewLogFields, NkFields, OldLogFields, Page, Storage, SubkeyEntry, ValueData, VkFields)

__all__ = [
    # records
    "REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD", "REG_DWORD_BIG_ENDIAN", "REG_LINK",
    "REG_MULTI_SZ", "REG_RESOURCE_LIST", "REG_FULL_RESOURCE_DESCRIPTOR", "REG_RESOURCE_REQUIREMENTS_LIST",
    "REG_QWORD", "BASE_BLOCK_SIZE", "HBIN_HEADER_SIZE", "BIN_SIZE", "NO_CELL", "MAX_CELL_DATA", "SEGMENT_PAYLOAD",
    "INLINE_FLAG", "KEY_HIVE_ENTRY", "KEY_NO_DELETE", "KEY_COMP_NAME", "VALUE_COMP_NAME", "DEFAULT_TIMESTAMP",
    "filetime", "round_up", "pad_to", "base_block_checksum", "with_checksum", "encode_name", "lh_hash", "lf_hint",
    "encode_data", "base_block", "hbin_header", "nk", "vk", "sk", "inline_fields", "subkey_list", "value_list", "db",
    # logs
    "MARVIN_SEED", "OLD_LOG_TYPE", "NEW_LOG_TYPE", "LOG_HEADER_SIZE", "UNIT", "dirt_block", "log_file", "marvin32",
    "log_header", "log_entry", "new_format_log", "old_format_log", "changed_pages",
    # cells
    "HiveBuilder",
    # description
    "Value", "Key", "build_hive", "dirty_hive",
    # shapes
    "BytesLike", "Name", "ValueData", "Storage", "SubkeyEntry", "Page", "DirtEntry", "NkFields", "VkFields",
    "HbinFields", "BlockFields", "BuildHiveFields", "BaseBlockFields", "OldLogFields", "LogHeaderFields",
    "NewLogFields",
]
