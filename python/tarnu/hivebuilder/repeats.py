"""Small hives that name one record over and over: a reader that copies what each reference names, or decodes it
again for every reference, does far more work than the hive's size.  The tests use small versions, the budget
benchmark full-size ones, the fuzz corpus seeds from them.

Each function returns a whole hive image; the docstrings say what a reader is asked to repeat.
"""

from __future__ import annotations

from typing import List

from .cells import HiveBuilder
from .records import REG_BINARY, REG_DWORD, lh_hash, nk, subkey_list, value_list, vk


def repeated_value_name(count: int, name_length: int) -> bytes:
    """The root's value list names one value key whose name is ``name_length`` bytes, ``count`` times."""
    b = HiveBuilder()
    value = b.value("v" * name_length, REG_DWORD, 1)
    b.key("root", root=True, values=[value] * count)
    return b.build()


def repeated_subkey_name(count: int, name_length: int) -> bytes:
    """The root's subkey list names one key node whose name is ``name_length`` bytes, ``count`` times."""
    b = HiveBuilder()
    child = b.key("k" * name_length)
    b.key("root", root=True, subkeys=[child] * count)
    return b.build()


def lying_hashes(decoys: int, name_length: int) -> bytes:
    """Key "a" below the root lists ``decoys`` entries that carry the hash of "a" but name one key with a UTF-16
    name of ``name_length`` bytes, then one entry naming "a" itself: the path "a\\a\\..." leads on forever, past a
    decoy at every entry."""
    b = HiveBuilder()
    root, a = b.reserve(80), b.reserve(80)
    decoy = b.cell(nk("\u0101" * (name_length // 2), parent=a))
    entries = [(decoy, lh_hash("a"))] * decoys + [(a, lh_hash("a"))]
    listing = b.cell(subkey_list("lh", entries))
    b.key("a", at=a, parent=root, subkey_count=len(entries), subkey_list_offset=listing)
    b.key("root", root=True, at=root, subkeys=[a])
    return b.build()


def decoy_chain(depth: int, decoys: int, name_length: int) -> bytes:
    """A chain of ``depth`` keys named "a" * ``name_length`` below the root, each listing ``decoys`` keys named
    "b" * ``name_length`` under the hash of its child's name, then the child: no key comes back, but a lookup down the
    chain meets every decoy at every level."""
    b = HiveBuilder()
    name = "a" * name_length
    others = [b.key("b" * name_length) for _ in range(decoys)]
    child = b.key(name)
    for _ in range(depth - 1):
        entries = [(o, lh_hash(name)) for o in others] + [(child, lh_hash(name))]
        child = b.key(name, subkey_count=len(entries), subkey_list_offset=b.cell(subkey_list("lh", entries)))
    b.key("root", root=True, subkeys=[child])
    return b.build()


def shared_value_list(keys: int, data_size: int) -> bytes:
    """``keys`` keys below the root (version 1.3, data in one cell) name one value list, whose one value holds
    ``data_size`` bytes: a walk meets the same data at every key."""
    b = HiveBuilder(minor_version=3)
    root = b.reserve(80)
    value = b.value("data", REG_BINARY, bytes(data_size))
    listing = b.cell(value_list([value]))
    children = [b.key("k%05d" % i, parent=root, value_count=1, value_list_offset=listing) for i in range(keys)]
    b.key("root", root=True, at=root, subkeys=children)
    return b.build()


def repeated_deleted_data(count: int, data_size: int) -> bytes:
    """``count`` deleted values whose data is one free cell of ``data_size`` bytes (version 1.3, data in one cell)."""
    b = HiveBuilder(minor_version=3)
    data = b.cell(bytes(data_size))
    deleted = [b.cell(vk("d%04d" % i, data_size=data_size, data_offset=data, data_type=REG_BINARY))
               for i in range(count)]
    for offset in [data] + deleted:
        b.free(offset)
    b.key("root", root=True)
    return b.build()


def deleted_key_chain(count: int, name_length: int) -> bytes:
    """A chain of ``count`` deleted keys with names of ``name_length`` characters, each the parent of the next,
    below the root."""
    b = HiveBuilder()
    root = b.reserve(80)
    parent = root
    chain: List[int] = []
    for i in range(count):
        parent = b.cell(nk(("%05d" % i).ljust(name_length, "x"), parent=parent))
        chain.append(parent)
    for offset in chain:
        b.free(offset)
    b.key("root", root=True, at=root)
    return b.build()
