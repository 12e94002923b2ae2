"""Files and folders a user opened recently: RecentDocs (all, and per extension), and the common dialog's lists of
files opened or saved and of the folders last visited by each program (ComDlg32), in the XP and the Vista+ layouts.
Each entry has its rank in the key's MRU list (0 the most recent); entries the list leaves out come last, unranked.
"""

from __future__ import annotations

import datetime
from typing import Iterator, NamedTuple, Optional

from ..framework import Context, report
from ..mru import mru_keys, shell_path, text_of, utf16_head

EXPLORER = r"Software\Microsoft\Windows\CurrentVersion\Explorer"
RECENT_DOCS = EXPLORER + r"\RecentDocs"
COMDLG = EXPLORER + r"\ComDlg32"


class RecentDocument(NamedTuple):
    key: str
    extension: Optional[str]  # the subkey (".docx", "Folder"); None for the list of everything
    rank: Optional[int]
    value: str
    name: str  # the file or folder name
    long_name: Optional[str]  # the name of the shortcut Windows made for it (the shell item's long name)
    last_written: Optional[datetime.datetime]  # the key's: when its most recent entry was opened


@report(name="recent_docs", title="Files and folders opened recently (RecentDocs)", category="activity",
        hive_types=["NTUSER.DAT"], keys=[RECENT_DOCS, RECENT_DOCS + r"\*"], record=RecentDocument,
        time_field="last_written")
def recent_docs(context: Context) -> Iterator[RecentDocument]:
    for pattern in (RECENT_DOCS, RECENT_DOCS + r"\*"):
        for path, key, written, entries in mru_keys(context, pattern):
            extension = None if pattern == RECENT_DOCS else key.name()
            for rank, (value, _, raw, _) in entries:
                name, rest = utf16_head(raw)
                items = shell_path(context, path, value, rest).items if rest.strip(b"\0") else []
                yield RecentDocument(path, extension, rank, value, name, items[0].name if items else None, written)


class OpenSaveEntry(NamedTuple):
    key: str
    extension: Optional[str]  # the subkey ("txt", "*" for any); None for XP's list of everything
    rank: Optional[int]
    value: str
    path: Optional[str]  # XP: the path as stored; Vista+: the path of the shell item list
    last_written: Optional[datetime.datetime]  # the key's: when its most recent entry was opened or saved


OPEN_SAVE = [(COMDLG + r"\OpenSaveMRU", False), (COMDLG + r"\OpenSaveMRU\*", False),
             (COMDLG + r"\OpenSavePidlMRU\*", True)]


@report(name="open_save_mru", title="Files opened or saved in the common dialog (ComDlg32 OpenSave MRU)",
        category="activity", hive_types=["NTUSER.DAT"], keys=[pattern for pattern, _ in OPEN_SAVE],
        record=OpenSaveEntry, time_field="last_written")
def open_save_mru(context: Context) -> Iterator[OpenSaveEntry]:
    for pattern, pidl in OPEN_SAVE:
        for path, key, written, entries in mru_keys(context, pattern):
            extension = key.name() if pattern.endswith("*") else None
            for rank, record in entries:
                found = shell_path(context, path, record[0], record[2]).path if pidl else text_of(record)
                yield OpenSaveEntry(path, extension, rank, record[0], found, written)


class LastVisited(NamedTuple):
    key: str
    rank: Optional[int]
    value: str
    program: str  # the executable that showed the dialog
    path: Optional[str]  # the folder it was last in
    last_written: Optional[datetime.datetime]  # the key's: when its most recent entry was written


LAST_VISITED = [(COMDLG + r"\LastVisitedMRU", False), (COMDLG + r"\LastVisitedPidlMRU", True),
                (COMDLG + r"\LastVisitedPidlMRULegacy", True)]


@report(name="last_visited_mru", title="Folders each program last used in the common dialog (ComDlg32 LastVisited)",
        category="activity", hive_types=["NTUSER.DAT"], keys=[pattern for pattern, _ in LAST_VISITED],
        record=LastVisited, time_field="last_written")
def last_visited_mru(context: Context) -> Iterator[LastVisited]:
    for pattern, pidl in LAST_VISITED:
        for path, _, written, entries in mru_keys(context, pattern):
            for rank, (value, _, raw, _) in entries:
                program, rest = utf16_head(raw)
                folder = shell_path(context, path, value, rest).path if pidl else utf16_head(rest)[0]
                yield LastVisited(path, rank, value, program, folder or None, written)
