"""Hive errors in Python: each kind's class, its `kind`, `offset` and `details`, and its message as it always was."""

import pickle
from typing import Callable, Dict, Optional, Tuple, Type, Union

import pytest

import tarnu
from tarnu import hivebuilder as hb


def image(builder: hb.HiveBuilder) -> tarnu.Hive:
    return tarnu.Hive.from_bytes(builder.build())


def root_cell(payload: bytes, size: Optional[int] = None) -> tarnu.Hive:
    """A hive whose root offset, 0x20, is a cell holding `payload`."""
    builder = hb.HiveBuilder()
    builder.cell(payload, size=size)
    return image(builder)


def root_with(build: Callable[[hb.HiveBuilder], hb.NkFields]) -> tarnu.RegistryKey:
    """The root key "R" at 0x20, whose key-node fields `build` returns after laying out cells of its own from 0x78."""
    builder = hb.HiveBuilder()
    root = builder.reserve(len(hb.nk("R")))
    builder.key("R", root=True, at=root, **build(builder))
    return image(builder).root_key()


def unknown_subkey_list(b: hb.HiveBuilder) -> hb.NkFields:
    return {"subkey_count": 1, "subkey_list_offset": b.cell(hb.subkey_list("zz", [0x20]))}  # the list at 0x78


def parent_not_a_key(b: hb.HiveBuilder) -> hb.NkFields:
    child = b.key("C", parent=b.cell(b"xx" * 40))  # the cell at 0x78, the child at 0xd0
    return {"subkey_count": 1, "subkey_list_offset": b.cell(hb.subkey_list("li", [child]))}


def big_data_without_db(b: hb.HiveBuilder) -> hb.NkFields:
    record = b.cell(hb.db(2, 0, signature=b"xy"))  # at 0x78
    value = b.cell(hb.vk("V", data_size=20000, data_offset=record, data_type=hb.REG_BINARY))
    return {"value_count": 1, "value_list_offset": b.cell(hb.value_list([value]))}


def short_dword() -> hb.HiveBuilder:
    builder = hb.HiveBuilder()
    builder.key("R", root=True, values=[builder.value("D", hb.REG_DWORD, b"\1\2", storage="cell")])
    return builder


BINS = bytes(0x1000)
ROOT = hb.nk("R", root=True)
CHECKSUM = hb.base_block_checksum(hb.base_block())
Details = Dict[str, Union[int, str, bytes]]
Case = Tuple[Callable[[], object], Type[tarnu.HiveError], str, Optional[int], str, Details]

# What raises, its class, kind and offset, its message, its details.
CASES: Dict[str, Case] = {
    "too small": (lambda: tarnu.Hive.from_bytes(BINS[:100]), tarnu.CorruptHiveError, "HiveTooSmall", None,
                  "Hive too small: 100 bytes (minimum: 4096 bytes)", {"size": 100, "minimum": 4096}),
    "signature": (lambda: tarnu.Hive.from_bytes(b"rEgf" + hb.base_block()[4:] + BINS), tarnu.CorruptHiveError,
                  "InvalidSignature", None, "Invalid signature: expected regf, found rEgf",
                  {"expected": b"regf", "found": b"rEgf"}),
    "checksum": (lambda: tarnu.Hive.from_bytes(hb.base_block(checksum=7) + BINS), tarnu.CorruptHiveError,
                 "ChecksumMismatch", None, "Checksum mismatch: expected 0x7, calculated %#x" % CHECKSUM,
                 {"expected": 7, "calculated": CHECKSUM}),
    "version": (lambda: tarnu.Hive.from_bytes(hb.base_block(minor_version=7) + BINS), tarnu.HiveError,
                "UnsupportedVersion", None, "Unsupported hive version: 1.7", {"major": 1, "minor": 7}),
    "offset": (lambda: tarnu.Hive.from_bytes(hb.base_block(root_cell_offset=0x5000) + BINS).root_key(),
               tarnu.CorruptHiveError, "InvalidOffset", 0x5000, "Invalid offset 0x5000 (hive size: 0x2000)",
               {"hive_size": 0x2000}),
    "cell size": (lambda: root_cell(ROOT, size=-3).root_key(), tarnu.CorruptHiveError, "InvalidCellSize", 0x20,
                  "Invalid cell size -3 at offset 0x20", {"size": -3}),
    "truncated": (lambda: root_cell(ROOT[:40]).root_key(), tarnu.CorruptHiveError, "TruncatedData", 0x20,
                  "Truncated data at offset 0x20: expected 76 bytes, got 44 bytes", {"expected": 76, "got": 44}),
    "utf-16": (lambda: root_cell(hb.nk("R", compressed=False, name_length=3)).root_key(), tarnu.CorruptHiveError,
               "InvalidUtf16", 0x20, "Invalid UTF-16 string at offset 0x20", {}),
    "list type": (lambda: root_with(unknown_subkey_list).subkeys(), tarnu.CorruptHiveError, "InvalidSubkeyListType",
                  0x78, "Invalid subkey list type: [122, 122]", {"signature": b"zz"}),
    "no key": (lambda: root_cell(ROOT).key(r"A\B"), tarnu.KeyNotFoundError, "NotFound", None,
               r"Not found: Key 'A\B'", {"path": r"A\B"}),
    "no value": (lambda: root_cell(ROOT).root_key().value("V"), tarnu.ValueNotFoundError, "NotFound", None,
                 "Not found: Value 'V'", {"name": "V"}),
    "nk": (lambda: root_cell(b"vk" + ROOT[2:]).root_key(), tarnu.CorruptHiveError, "InvalidFormat", 0x20,
           "Invalid format: Expected 'nk' signature at offset 0x20", {"problem": "Signature", "expected": b"nk"}),
    "db": (lambda: root_with(big_data_without_db).value("V"), tarnu.CorruptHiveError, "InvalidFormat", 0x78,
           "Invalid format: Expected 'db' signature at offset 0x78, found [120, 121]",
           {"problem": "Signature", "expected": b"db", "found": b"xy"}),
    "parent": (lambda: root_with(parent_not_a_key).subkey("C").parent(), tarnu.CorruptHiveError, "InvalidFormat",
               0xD0, "Invalid format: Parent offset 0x78 of key at offset 0xd0 does not lead to a key node",
               {"problem": "ParentNotKey", "parent": 0x78}),
    "value data": (lambda: image(short_dword()).root_key().value("D").data(), tarnu.CorruptHiveError,
                   "TruncatedData", None, "Truncated data at offset 0x0: expected 4 bytes, got 2 bytes",
                   {"expected": 4, "got": 2}),
}


@pytest.mark.parametrize("case", CASES.values(), ids=CASES.keys())
def test_each_kind_raises_its_class_with_its_fields(case: Case) -> None:
    call, cls, kind, offset, message, details = case
    with pytest.raises(ValueError) as info:
        call()
    error = info.value
    assert type(error) is cls and isinstance(error, tarnu.HiveError)
    assert error.args == (message,)
    assert (error.kind, error.offset, error.details) == (kind, offset, details)
    again = pickle.loads(pickle.dumps(error))
    assert (type(again), again.args, again.kind, again.offset, again.details) == \
        (cls, (message,), kind, offset, details)


def test_operating_system_failures_stay_os_errors() -> None:
    with pytest.raises(OSError) as info:
        tarnu.Hive.open("/nonexistent/hive")
    assert type(info.value) is FileNotFoundError and not isinstance(info.value, tarnu.HiveError)
