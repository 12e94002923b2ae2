"""Smaller traces of programs that ran: BAM/DAM (last run per user, 10 1709+), MUICache (the names Explorer showed
for programs), RunMRU (commands typed into Run) and AppCompatFlags (the Program Compatibility Assistant, compatibility
layers, installed shim databases)."""

from __future__ import annotations

import datetime
from typing import Dict, Iterator, NamedTuple, Optional

import tarnu.decode

from ..framework import Context, from_filetime, raw_of, report, time_of
from ..helpers import control_set, decoder_notes
from ..mru import mru_keys, text_of, value_records

BAM_KEYS = [r"ControlSet*\Services\{}\{}UserSettings\*".format(service, state)
            for service in ("bam", "dam") for state in ("", "State\\")]
# REG_DWORD values of a BAM user key that are not programs.
BAM_COUNTERS = ("version", "sequencenumber")
REG_DWORD = 4


class BamEntry(NamedTuple):
    key: str
    control_set: str
    service: str  # "bam" (background activity) or "dam" (desktop activity)
    sid: str
    user: Optional[str]  # the well-known name of the SID, if it has one
    program: str  # a device path (\Device\HarddiskVolume2\...\x.exe) or a packaged app's id
    last_run: Optional[datetime.datetime]
    last_run_raw: Optional[int]
    packaged: Optional[bool]  # a packaged (store) app rather than a Win32 program
    last_written: Optional[datetime.datetime]


@report(name="bam", title="Background and desktop activity moderator: last run per user (10 1709+)",
        category="execution", hive_types=["SYSTEM"], keys=BAM_KEYS, record=BamEntry, time_field="last_run")
def bam(context: Context) -> Iterator[BamEntry]:
    for pattern in BAM_KEYS:
        for path, key in context.keys(pattern):
            sid, written = key.name(), context.last_written(key)
            service = path.split("\\")[2].lower()
            for name, type_id, raw, _ in value_records(context, key):
                if type_id == REG_DWORD and name.lower() in BAM_COUNTERS:
                    continue
                entry = tarnu.decode.bam_entry(raw)
                decoder_notes(context, path, name, entry.notes)
                yield BamEntry(path, control_set(path), service, sid, tarnu.decode.sid_name(sid), name,
                               time_of(entry.last_run), raw_of(entry.last_run),
                               None if entry.packaged is None else entry.packaged == 1, written)


MUICACHE = {"NTUSER.DAT": r"Software\Microsoft\Windows\ShellNoRoam\MUICache",
            "UsrClass.dat": r"Local Settings\Software\Microsoft\Windows\Shell\MuiCache"}
# 8+ names a program's value by its path and one of these suffixes.
MUI_SUFFIXES = {".friendlyappname": "description", ".applicationcompany": "company"}


class MuiEntry(NamedTuple):
    key: str
    program: str
    description: Optional[str]  # the name Explorer showed (FileDescription)
    company: Optional[str]  # 8+
    last_written: Optional[datetime.datetime]


@report(name="muicache", title="Programs named in MUICache", category="execution",
        hive_types=["NTUSER.DAT", "UsrClass.dat"], keys=list(MUICACHE.values()), record=MuiEntry,
        time_field="last_written")
def muicache(context: Context) -> Iterator[MuiEntry]:
    key = context.key(MUICACHE.get(context.hive_type, ""))
    if key is None:
        return
    path, written = context.path(key), context.last_written(key)
    programs: Dict[str, Dict[str, Optional[str]]] = {}
    for record in value_records(context, key):
        name = record[0]
        # "@file.dll,-123" names are the system's cached strings, LangID the cache's language.
        if name.startswith("@") or name.lower() == "langid":
            continue
        program, field = name, "description"
        for suffix, what in MUI_SUFFIXES.items():
            if name.lower().endswith(suffix):
                program, field = name[:-len(suffix)], what
        programs.setdefault(program, {})[field] = text_of(record)
    for program, fields in programs.items():
        yield MuiEntry(path, program, fields.get("description"), fields.get("company"), written)


RUN_MRU = r"Software\Microsoft\Windows\CurrentVersion\Explorer\RunMRU"


class RunCommand(NamedTuple):
    key: str
    rank: Optional[int]  # 0 the most recent; None for a value the MRUList leaves out
    value: str
    command: Optional[str]  # as typed, without the "\1" Windows appends
    last_written: Optional[datetime.datetime]  # the key's: when the most recent command was typed


@report(name="run_mru", title="Commands typed into the Run dialog (RunMRU)", category="execution",
        hive_types=["NTUSER.DAT"], keys=[RUN_MRU], record=RunCommand, time_field="last_written")
def run_mru(context: Context) -> Iterator[RunCommand]:
    for path, _, written, entries in mru_keys(context, RUN_MRU):
        for rank, record in entries:
            command = text_of(record)
            if command is not None and command.endswith("\\1"):
                command = command[:-2]
            yield RunCommand(path, rank, record[0], command, written)


FLAGS = r"Microsoft\Windows NT\CurrentVersion\AppCompatFlags"
# (hive type, path, kind) of the keys whose value names are programs.
FLAG_LISTS = [("NTUSER.DAT", "Software\\" + FLAGS + r"\Compatibility Assistant\Persisted", "persisted"),
              ("NTUSER.DAT", "Software\\" + FLAGS + r"\Compatibility Assistant\Store", "store"),
              ("NTUSER.DAT", "Software\\" + FLAGS + r"\Layers", "layers"),
              ("SOFTWARE", FLAGS + r"\Layers", "layers")]


class CompatibilityFlag(NamedTuple):
    key: str
    kind: str  # "persisted" and "store" (the Compatibility Assistant saw it run), "layers", "installed sdb", "custom"
    program: Optional[str]
    layers: Optional[str]  # "layers": the compatibility modes ("~ RUNASADMIN")
    database: Optional[str]  # "installed sdb": DatabasePath; "custom": the .sdb value's name
    description: Optional[str]  # "installed sdb": DatabaseDescription
    installed: Optional[datetime.datetime]  # when the shim database was installed
    installed_raw: Optional[int]
    last_written: Optional[datetime.datetime]


@report(name="appcompat_flags", title="Compatibility Assistant, compatibility layers and installed shim databases",
        category="execution", hive_types=["NTUSER.DAT", "SOFTWARE"],
        keys=[path for _, path, _ in FLAG_LISTS] + [FLAGS + r"\InstalledSDB\*", FLAGS + r"\Custom\*"],
        record=CompatibilityFlag, time_field="last_written")
def appcompat_flags(context: Context) -> Iterator[CompatibilityFlag]:
    for hive_type, pattern, kind in FLAG_LISTS:
        key = context.key(pattern) if hive_type == context.hive_type else None
        if key is None:
            continue
        path, written = context.path(key), context.last_written(key)
        for record in value_records(context, key):
            layers = text_of(record) if kind == "layers" else None
            yield CompatibilityFlag(path, kind, record[0], layers, None, None, None, None, written)
    if context.hive_type != "SOFTWARE":
        return
    for path, key in context.keys(FLAGS + r"\InstalledSDB\*"):
        stamp = context.number(key, "DatabaseInstallTimeStamp")
        yield CompatibilityFlag(path, "installed sdb", None, None, context.text(key, "DatabasePath"),
                                context.text(key, "DatabaseDescription"), from_filetime(stamp), stamp,
                                context.last_written(key))
    for path, key in context.keys(FLAGS + r"\Custom\*"):
        for name, _, _, data in value_records(context, key):
            stamp = data if isinstance(data, int) else None
            yield CompatibilityFlag(path, "custom", key.name(), None, name, None, from_filetime(stamp), stamp,
                                    context.last_written(key))

