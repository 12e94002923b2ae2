"""Installed programs: the Uninstall keys of SOFTWARE (and its 32-bit WOW6432Node view) and of a user's hive."""

from __future__ import annotations

import datetime
from typing import Iterator, NamedTuple, Optional

from ..framework import Context, report

UNINSTALL = {
    "SOFTWARE": [r"Microsoft\Windows\CurrentVersion\Uninstall\*",
                 r"Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\*"],
    "NTUSER.DAT": [r"Software\Microsoft\Windows\CurrentVersion\Uninstall\*",
                   r"Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\*"],
}


class Program(NamedTuple):
    key: str
    name: str
    version: Optional[str]
    publisher: Optional[str]
    installed: Optional[datetime.datetime]  # InstallDate, else the key's last-written time
    installed_from: str  # "InstallDate" or "key time"
    install_date_raw: Optional[str]  # InstallDate as stored, YYYYMMDD
    install_location: Optional[str]
    uninstall_string: Optional[str]
    estimated_size_kib: Optional[int]
    system_component: bool


def install_date(text: Optional[str]) -> Optional[datetime.datetime]:
    if text is None or len(text) != 8 or not text.isdigit():
        return None
    try:
        return datetime.datetime(int(text[:4]), int(text[4:6]), int(text[6:]), tzinfo=datetime.timezone.utc)
    except ValueError:
        return None


@report(name="installed_programs", title="Installed programs", category="system",
        hive_types=["SOFTWARE", "NTUSER.DAT"], keys=UNINSTALL["SOFTWARE"] + UNINSTALL["NTUSER.DAT"],
        record=Program, time_field="installed")
def installed_programs(context: Context) -> Iterator[Program]:
    for pattern in UNINSTALL.get(context.hive_type, []):
        for path, key in context.keys(pattern):
            name = context.text(key, "DisplayName")
            if not name:
                continue  # updates and components without a name of their own
            raw = context.text(key, "InstallDate")
            date = install_date(raw)
            if raw and date is None:
                context.note(path, "InstallDate {!r} is not a date YYYYMMDD".format(raw))
            yield Program(path, name, context.text(key, "DisplayVersion"), context.text(key, "Publisher"),
                          date or context.last_written(key), "InstallDate" if date else "key time", raw,
                          context.text(key, "InstallLocation"), context.text(key, "UninstallString"),
                          context.number(key, "EstimatedSize"), context.number(key, "SystemComponent") == 1)
