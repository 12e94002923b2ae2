"""Shell bags: the folders a user opened in Explorer, from the BagMRU trees of NTUSER.DAT (XP's ShellNoRoam and Shell;
Vista+ desktop and network folders) and UsrClass.dat (Vista+), each folder's path rebuilt from the shell items of
its ancestors, depth first."""

from __future__ import annotations

import datetime
from typing import Any, Dict, Iterator, List, NamedTuple, Optional, Tuple

import tarnu
import tarnu.decode

from ..framework import MAX_MATCHES, Context, raw_of, report, time_of
from ..mru import joined, ranked, shell_path, value_records

# The keys that hold a BagMRU tree and its Bags, by hive type.
SHELL_KEYS = {"NTUSER.DAT": [r"Software\Microsoft\Windows\Shell", r"Software\Microsoft\Windows\ShellNoRoam"],
              "UsrClass.dat": [r"Local Settings\Software\Microsoft\Windows\Shell",
                               r"Wow6432Node\Local Settings\Software\Microsoft\Windows\Shell"]}
# Folders below a BagMRU root that are read; Explorer's own paths stay far shallower.
MAX_DEPTH = 64
BEEF0004 = 0xBEEF0004


class ShellBag(NamedTuple):
    key: str  # the BagMRU key whose value names the folder
    value: str
    rank: Optional[int]  # in that key's MRUListEx: 0 the most recently changed; None when the list leaves it out
    path: str  # "My Computer\C:\Users\x", rebuilt from the items of every folder above
    kind: Optional[str]  # the folder's shell item: "file entry", "volume", "root folder", "network location", ...
    name: Optional[str]
    node_slot: Optional[int]  # the Bags\<n> key of the folder's view settings
    modified: Optional[datetime.datetime]  # the item's own times, as the folder had them when it was recorded
    modified_raw: Optional[int]
    created: Optional[datetime.datetime]
    created_raw: Optional[int]
    accessed: Optional[datetime.datetime]
    accessed_raw: Optional[int]
    mft_entry: Optional[int]
    mft_sequence: Optional[int]
    list_changed: Optional[datetime.datetime]  # the BagMRU key's last write, on its first MRUListEx entry only
    view_changed: Optional[datetime.datetime]  # the last write of Bags\<node_slot>


Level = Tuple[tarnu.RegistryKey, str, str]  # a BagMRU key, its path, and the folder path it stands for


class Walk:
    """One BagMRU tree, read depth first: each folder's record, then the folders below it."""

    def __init__(self, context: Context, bags: Optional[tarnu.RegistryKey]) -> None:
        self.context = context
        self.bags = bags
        self.keys = 0

    def entries(self, level: Level) -> List[Tuple[ShellBag, Optional[Level]]]:
        """The records of one BagMRU key's values in MRU order, each with the key below it (None when absent)."""
        context = self.context
        key, path, folder = level
        written = context.last_written(key)
        found: List[Tuple[ShellBag, Optional[Level]]] = []
        for rank, (name, _, raw, _) in ranked(context, path, value_records(context, key)):
            with context.guard(path):
                items = shell_path(context, path, name, raw).items
                below = folder
                for item in items:
                    below = joined(below, item)
                child = context.subkey(key, name)
                slot = None if child is None else context.number(child, "NodeSlot")
                found.append((self.record(path, name, rank, below, items[-1] if items else None, slot,
                                          written if rank == 0 else None),
                              None if child is None else (child, path + "\\" + child.name(), below)))
        return found

    def record(self, path: str, name: str, rank: Optional[int], folder: str,
               item: Optional[tarnu.decode.ShellItem], slot: Optional[int],
               list_changed: Optional[datetime.datetime]) -> ShellBag:
        times: Dict[str, Any] = {} if item is None else dict(item.fields)
        for block in [] if item is None else item.extension_blocks:
            if block.signature == BEEF0004:
                times.update(block.fields)
        view = None if slot is None or self.bags is None else self.context.subkey(self.bags, str(slot))
        stamps = [times.get(field) for field in ("modified", "created", "accessed")]
        stamps = [stamp if isinstance(stamp, tarnu.decode.Time) else None for stamp in stamps]
        entry, sequence = times.get("mft_entry"), times.get("mft_sequence")
        return ShellBag(path, name, rank, folder, None if item is None else item.kind,
                        None if item is None else item.name, slot,
                        time_of(stamps[0]), raw_of(stamps[0]), time_of(stamps[1]), raw_of(stamps[1]),
                        time_of(stamps[2]), raw_of(stamps[2]), entry if isinstance(entry, int) else None,
                        sequence if isinstance(sequence, int) else None, list_changed,
                        None if view is None else self.context.last_written(view))

    def records(self, root: Level) -> Iterator[ShellBag]:
        """Depth first from `root`: at most MAX_DEPTH levels and MAX_MATCHES keys, noted where they cut."""
        stack = [iter(self.entries(root))]
        while stack:
            following = next(stack[-1], None)
            if following is None:
                stack.pop()
                continue
            record, child = following
            yield record
            if child is None:
                continue
            if len(stack) >= MAX_DEPTH:
                self.context.note(child[1], "more than {} folders deep; the folders below are not read".format(
                    MAX_DEPTH))
            elif self.keys >= MAX_MATCHES:
                self.context.note(child[1], "more than {} BagMRU keys; the rest are not read".format(MAX_MATCHES))
                return
            else:
                self.keys += 1
                stack.append(iter(self.entries(child)))


@report(name="shell_bags", title="Folders opened in Explorer (shell bags)", category="activity",
        hive_types=["NTUSER.DAT", "UsrClass.dat"],
        keys=[path + suffix for paths in SHELL_KEYS.values() for path in paths for suffix in (r"\BagMRU", r"\Bags")],
        record=ShellBag, time_field="list_changed")
def shell_bags(context: Context) -> Iterator[ShellBag]:
    for shell_path_text in SHELL_KEYS.get(context.hive_type, []):
        shell = context.key(shell_path_text)
        root = None if shell is None else context.subkey(shell, "BagMRU")
        if shell is None or root is None:
            continue
        walk = Walk(context, context.subkey(shell, "Bags"))
        yield from walk.records((root, context.path(root), ""))
