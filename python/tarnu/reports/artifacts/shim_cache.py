"""AppCompatCache (ShimCache): the executables Windows checked for compatibility shims, in every control set and in
every layout from XP to 11, most recent first. The times are the files' own modification times, not run times; on
Vista and 7 an insertion flag tells which entries were executed."""

from __future__ import annotations

import datetime
from typing import Iterator, NamedTuple, Optional

import tarnu.decode

from ..framework import Context, raw_of, report, time_of
from ..helpers import control_set, decoder_notes

# 2003 and later, then XP.
CACHE_KEYS = (r"ControlSet*\Control\Session Manager\AppCompatCache",
              r"ControlSet*\Control\Session Manager\AppCompatibility")


class ShimCacheEntry(NamedTuple):
    key: str
    control_set: str
    layout: str  # "XP", "2003 32-bit", ..., "7 64-bit", "8.0", "8.1", "10" (10 and 11)
    position: int  # 0 is the most recent entry
    path: str
    modified: Optional[datetime.datetime]  # the file's modification time when it was cached
    modified_raw: Optional[int]
    file_size: Optional[int]  # XP and 2003
    last_update: Optional[datetime.datetime]  # XP
    last_update_raw: Optional[int]
    insertion_flags: Optional[int]  # Vista to 8.1
    shim_flags: Optional[int]
    executed: Optional[bool]  # Vista and 7: insertion flag 0x2, set when the program ran
    data: bytes  # 7 to 11: the entry's own data (on 11, its last dword has been read as an execution flag)
    last_written: Optional[datetime.datetime]  # the key's: when Windows last wrote the cache (at shutdown)


@report(name="shim_cache", title="AppCompatCache (ShimCache), in every control set", category="execution",
        hive_types=["SYSTEM"], keys=CACHE_KEYS, record=ShimCacheEntry, time_field="modified")
def shim_cache(context: Context) -> Iterator[ShimCacheEntry]:
    for pattern in CACHE_KEYS:
        for path, key in context.keys(pattern):
            data = context.raw(key, "AppCompatCache")
            if data is None:
                continue
            cache = tarnu.decode.appcompatcache(data)
            decoder_notes(context, path, "AppCompatCache", cache.notes)
            sets, written = control_set(path), context.last_written(key)
            for position, entry in enumerate(cache.entries):
                yield ShimCacheEntry(path, sets, cache.layout, position, entry.path, time_of(entry.modified),
                                     raw_of(entry.modified), entry.file_size, time_of(entry.last_update),
                                     raw_of(entry.last_update), entry.insertion_flags, entry.shim_flags,
                                     entry.executed, entry.data, written)
