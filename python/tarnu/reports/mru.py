"""What the reports of MRU lists share: a key's values read in one call, its entries in the order of its MRUListEx
or MRUList (rank 0 the most recent) with the entries the list leaves out after them (unranked), the UTF-16 text at
the start of binary data, and shell item lists turned into paths (decoded, with their notes made the report's).
"""

from __future__ import annotations

import datetime
import re
from typing import Any, Dict, Iterator, List, Optional, Tuple

import tarnu
import tarnu.decode

from .framework import Context, folded, lenient_text
from .helpers import decoder_notes

# One value as RegistryKey.value_records gives it: name, type id, stored bytes, decoded data.
ValueRecord = Tuple[str, int, bytes, Any]
# An entry of an MRU list: its rank (None when the list leaves it out) and its value.
Entry = Tuple[Optional[int], ValueRecord]

# The values that hold an MRU order, by folded name.
_ORDER_VALUES = ("mrulistex", "mrulist")
# The names an MRU entry has: a number (MRUListEx) or one letter (MRUList).
_ENTRY_NAME = re.compile(r"[0-9]+|[A-Za-z]")


def value_records(context: Context, key: tarnu.RegistryKey) -> List[ValueRecord]:
    """Every value of `key` in one call; [] and a note when they cannot be read."""
    try:
        return key.value_records()
    except ValueError as error:
        context.note(context.path(key), str(error))
        return []


def ranked(context: Context, path: str, records: List[ValueRecord]) -> List[Entry]:
    """The entries of an MRU key: those its MRUListEx (or MRUList) names, most recent first with their rank, then
    the numbered (or single-letter) values it leaves out, unranked. A key without either list has only unranked
    entries. What the list names without a value, and names twice, is noted."""
    by_name: Dict[str, ValueRecord] = {}
    for record in records:
        by_name.setdefault(record[0], record)
    lists = {folded(name): record for name, record in by_name.items() if folded(name) in _ORDER_VALUES}
    names = [name for name in by_name if folded(name) not in _ORDER_VALUES]
    order: Optional[tarnu.decode.MruOrder] = None
    if "mrulistex" in lists:
        order = tarnu.decode.mru_list_ex(lists["mrulistex"][2], names)
        decoder_notes(context, path, "MRUListEx", order.notes)
    elif "mrulist" in lists:
        letters = lenient_text(lists["mrulist"][2])
        order = tarnu.decode.mru_list(letters, names)
        decoder_notes(context, path, "MRUList", order.notes)
    if order is None:
        return [(None, by_name[name]) for name in names if _ENTRY_NAME.fullmatch(name)]
    entries: List[Entry] = [(rank, by_name[name]) for rank, name in enumerate(order.ranked)]
    return entries + [(None, by_name[name]) for name in order.unranked]


def mru_keys(context: Context, pattern: str) -> Iterator[Tuple[str, tarnu.RegistryKey, Optional[datetime.datetime],
                                                                List[Entry]]]:
    """(path, key, last-written time, entries in rank order) of every MRU key matching `pattern`."""
    for path, key in context.keys(pattern):
        yield path, key, context.last_written(key), ranked(context, path, value_records(context, key))


def text_of(record: ValueRecord) -> Optional[str]:
    """A value's data as text: a string as it is, string data that does not decode read leniently, UTF-16 in binary
    data up to its first NUL; None for numbers and for empty data."""
    data = record[3]
    if isinstance(data, str):
        return data
    if isinstance(data, list):
        return " ".join(data)
    raw = record[2]
    return lenient_text(raw) if raw and not isinstance(data, int) else None


def utf16_head(data: bytes) -> Tuple[str, bytes]:
    """The UTF-16 text at the start of `data`, up to its first NUL code unit, and the bytes after that NUL."""
    at = data.find(b"\0\0")
    while at != -1 and at % 2:
        at = data.find(b"\0\0", at + 1)
    if at == -1:
        return lenient_text(data), b""
    return lenient_text(data[:at]), data[at + 2:]


def shell_path(context: Context, path: str, what: str, data: bytes) -> tarnu.decode.ShellItemList:
    """The shell item list in `data`, its notes made the report's (at `path`, about the value `what`)."""
    items = tarnu.decode.shell_items(data)
    decoder_notes(context, path, what, items.notes)
    return items


def joined(parent: str, item: tarnu.decode.ShellItem) -> str:
    """The path of `item` below the folder `parent`, as shell item lists join their names: a volume's name ends in a
    backslash, a network location starts a path of its own, an item without a name is "<unknown 0xNN>"."""
    part = item.name or "<unknown 0x{:02x}>".format(item.class_type)
    if not parent or item.kind == "network location":
        return part
    return parent + part if parent.endswith("\\") else parent + "\\" + part
