"""Connections a user made to other machines: Remote Desktop servers (Terminal Server Client's Default MRU and
Servers with the user name hint) and network drives (Map Network Drive MRU, and the drive letters under Network)."""

from __future__ import annotations

import datetime
import re
from typing import Dict, Iterator, NamedTuple, Optional, Tuple

import tarnu

from ..framework import Context, report
from ..mru import ranked, text_of, value_records

TSC = r"Software\Microsoft\Terminal Server Client"
MAP_DRIVE_MRU = r"Software\Microsoft\Windows\CurrentVersion\Explorer\Map Network Drive MRU"
# MRU0 is the most recent server.
_MRU_NAME = re.compile(r"MRU([0-9]+)", re.IGNORECASE)


class RemoteDesktop(NamedTuple):
    key: str  # Default for a server in its MRU list, else the server's key under Servers
    rank: Optional[int]  # 0 for MRU0, the most recent; None for a server only under Servers
    server: str
    username_hint: Optional[str]  # the user name last given for the server
    last_used: Optional[datetime.datetime]  # the last write of Servers\<server>: the last connection
    last_written: Optional[datetime.datetime]


@report(name="terminal_server_client", title="Remote Desktop servers connected to (Terminal Server Client)",
        category="activity", hive_types=["NTUSER.DAT"], keys=[TSC + r"\Default", TSC + r"\Servers\*"],
        record=RemoteDesktop, time_field="last_used")
def terminal_server_client(context: Context) -> Iterator[RemoteDesktop]:
    servers: Dict[str, Tuple[str, tarnu.RegistryKey]] = {}
    for path, key in context.keys(TSC + r"\Servers\*"):
        servers.setdefault(key.name().lower(), (path, key))
    default = context.key(TSC + r"\Default")
    if default is not None:
        path, written = context.path(default), context.last_written(default)
        listed = []
        for name, _, _, _ in value_records(context, default):
            found = _MRU_NAME.fullmatch(name)
            server = context.text(default, name)
            if found and server:
                listed.append((int(found.group(1)), server))
        for rank, server in sorted(listed):
            known = servers.pop(server.lower(), None)
            hint = None if known is None else context.text(known[1], "UsernameHint")
            yield RemoteDesktop(path, rank, server, hint, None if known is None else context.last_written(known[1]),
                                written)
    for path, key in servers.values():
        written = context.last_written(key)
        yield RemoteDesktop(path, None, key.name(), context.text(key, "UsernameHint"), written, written)


class MappedDrive(NamedTuple):
    key: str
    source: str  # "mru" (Map Network Drive MRU) or "network" (a persistent mapping under Network)
    rank: Optional[int]  # "mru": 0 the most recent
    drive: Optional[str]  # "network": the drive letter
    remote_path: Optional[str]  # \\server\share
    user_name: Optional[str]  # "network": the account given for the share
    provider: Optional[str]
    last_written: Optional[datetime.datetime]


@report(name="mapped_drives", title="Network drives mapped (Map Network Drive MRU and Network)", category="activity",
        hive_types=["NTUSER.DAT"], keys=[MAP_DRIVE_MRU, r"Network\*"], record=MappedDrive,
        time_field="last_written")
def mapped_drives(context: Context) -> Iterator[MappedDrive]:
    mru = context.key(MAP_DRIVE_MRU)
    if mru is not None:
        path, written = context.path(mru), context.last_written(mru)
        for rank, record in ranked(context, path, value_records(context, mru)):
            yield MappedDrive(path, "mru", rank, None, text_of(record), None, None, written)
    for path, key in context.keys(r"Network\*"):
        user = context.value(key, "UserName")  # a DWORD 0 when no account was given
        yield MappedDrive(path, "network", None, key.name(), context.text(key, "RemotePath"),
                          user if isinstance(user, str) and user else None, context.text(key, "ProviderName"),
                          context.last_written(key))
