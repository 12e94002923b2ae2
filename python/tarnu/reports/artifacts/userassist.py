"""UserAssist: the programs and shortcuts a user started from Explorer, with run counts, focus time and the last run,
from every {GUID}\\Count key, in the 16-byte layout of 2000 to Vista and the 72-byte layout of 7 and later."""

from __future__ import annotations

import datetime
import re
from typing import Iterator, NamedTuple, Optional

import tarnu.decode

from ..framework import Context, raw_of, report, time_of
from ..helpers import decoder_notes
from ..mru import value_records

USERASSIST = r"Software\Microsoft\Windows\CurrentVersion\Explorer\UserAssist"
# The value that counts sessions, not a program. "UEME_CTLCUACount:ctor", which marks when the counters started, is
# an entry like the others (its counts are zero): other readers list it, and analysts date a profile's counters by it.
NOT_PROGRAMS = ("UEME_CTLSESSION",)
# The version 3 counter starts at 5 for a program that never ran.
V3_RUN_COUNT_START = 5
_GUID_PREFIX = re.compile(r"\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\}")
# Version 3 names say what ran after a "UEME_RUN...:" prefix.
_V3_PREFIX = re.compile(r"UEME_RUN[A-Z]*:", re.IGNORECASE)


class UserAssist(NamedTuple):
    key: str
    guid: str  # the {GUID} key: 7+ {CEBFF5CD-...} executables, {F4E57C4B-...} shortcuts; 2000 to Vista {75048700-...}
    name: str  # the value name, ROT13 decoded
    path: str  # the name with a known-folder GUID resolved ("%ProgramData%\...\Programs\x.lnk"), a UEME_RUN...: cut
    version: int  # 3 (2000 to Vista) or 5 (7+); 0 for data of neither layout
    run_count: Optional[int]  # version 3 counts from 5: the stored count less 5
    run_count_raw: Optional[int]
    focus_count: Optional[int]  # version 5
    focus_time_ms: Optional[int]  # version 5
    last_run: Optional[datetime.datetime]
    last_run_raw: Optional[int]
    encoded: bool  # the name was stored in ROT13 (Settings\NoEncrypt = 1 stores new names as they are)
    last_written: Optional[datetime.datetime]


def program_path(name: str) -> str:
    """What a UserAssist name stands for: the path with its leading known-folder GUID as the folder's path."""
    prefix = _V3_PREFIX.match(name)
    if prefix:
        return name[prefix.end():]
    guid = _GUID_PREFIX.match(name)
    folder = tarnu.decode.guid_name(guid.group()) if guid else None
    return folder + name[guid.end():] if guid and folder else name


def is_encoded(stored: str, plain: bool) -> bool:
    """Whether a stored name is ROT13: "HRZR_" names are and "UEME_" names are not; the others are unless NoEncrypt
    is set (names written before it was set stay encoded, but only the UEME_ ones tell)."""
    upper = stored.upper()
    if upper.startswith(("UEME_", "HRZR_")):
        return upper.startswith("HRZR_")
    return not plain


@report(name="userassist", title="Programs started from Explorer (UserAssist)", category="execution",
        hive_types=["NTUSER.DAT"], keys=[USERASSIST + r"\*\Count", USERASSIST + r"\Settings"], record=UserAssist,
        time_field="last_run")
def userassist(context: Context) -> Iterator[UserAssist]:
    settings = context.key(USERASSIST + r"\Settings")
    plain = settings is not None and context.number(settings, "NoEncrypt") == 1
    for guid_path, guid_key in context.keys(USERASSIST + r"\*"):
        count = context.subkey(guid_key, "Count")
        if count is None:
            continue
        declared = context.number(guid_key, "Version")
        version = declared if declared in (3, 5) else None
        path, written = context.path(count), context.last_written(count)
        for stored, _, raw, _ in value_records(context, count):
            encoded = is_encoded(stored, plain)
            name = tarnu.decode.rot13(stored) if encoded else stored
            if name.upper() in NOT_PROGRAMS:
                continue
            with context.guard(path):
                entry = tarnu.decode.userassist_entry(raw, version)
                decoder_notes(context, path, name, entry.notes)
                runs = entry.run_count
                if entry.version == 3 and runs is not None:
                    runs = runs - V3_RUN_COUNT_START if runs >= V3_RUN_COUNT_START else None
                yield UserAssist(path, guid_key.name(), name, program_path(name), entry.version, runs,
                                 entry.run_count, entry.focus_count, entry.focus_time_ms, time_of(entry.last_run),
                                 raw_of(entry.last_run), encoded, written)
