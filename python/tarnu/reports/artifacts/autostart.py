"""Autostart places: Run and RunOnce keys with their policy and 32-bit variants, Winlogon, Image File Execution
Options, AppCert DLLs and StartupApproved. (AppInit DLLs, LSA packages and BootExecute are table entries in
values_table.)"""

from __future__ import annotations

import datetime
from typing import Dict, Iterator, List, NamedTuple, Optional

import tarnu
import tarnu.decode

from ..framework import Context, report, time_of
from ..helpers import decoder_notes

_CURRENT = r"Microsoft\Windows\CurrentVersion"
RUN_KEYS: Dict[str, List[str]] = {
    "SOFTWARE": [prefix + _CURRENT + suffix for prefix in ("", "Wow6432Node\\")
                 for suffix in (r"\Run", r"\RunOnce", r"\RunOnceEx\*", r"\Policies\Explorer\Run", r"\RunServices",
                                r"\RunServicesOnce")],
    "NTUSER.DAT": ["Software\\" + _CURRENT + suffix
                   for suffix in (r"\Run", r"\RunOnce", r"\Policies\Explorer\Run", r"\RunServices",
                                  r"\RunServicesOnce")] + ["Software\\Wow6432Node\\" + _CURRENT + r"\Run",
                                                           "Software\\Wow6432Node\\" + _CURRENT + r"\RunOnce"],
}
# Values of Software\Microsoft\Windows NT\CurrentVersion\Windows that a user's logon runs.
USER_WINDOWS = r"Software\Microsoft\Windows NT\CurrentVersion\Windows"


class RunEntry(NamedTuple):
    key: str
    name: str  # "" for the default value; RunOnce names starting "!" are deleted after running, "*" run in safe mode
    command: Optional[str]
    last_written: Optional[datetime.datetime]  # the key's: the latest change to any of its values


@report(name="run_keys", title="Run and RunOnce keys", category="persistence",
        hive_types=["SOFTWARE", "NTUSER.DAT"], keys=RUN_KEYS["SOFTWARE"] + RUN_KEYS["NTUSER.DAT"] + [USER_WINDOWS],
        record=RunEntry, time_field="last_written")
def run_keys(context: Context) -> Iterator[RunEntry]:
    for pattern in RUN_KEYS.get(context.hive_type, []):
        for path, key in context.keys(pattern):
            for value in context.values(key):
                with context.guard(path):
                    yield RunEntry(path, value.name(), context.text(key, value.name()), context.last_written(key))
    if context.hive_type == "NTUSER.DAT":
        windows = context.key(USER_WINDOWS)
        if windows is not None:
            for name in ("Load", "Run"):
                command = context.text(windows, name)
                if command:
                    yield RunEntry(context.path(windows), name, command, context.last_written(windows))


# Winlogon values that start programs, with what a clean system holds (None where there is no default).
WINLOGON_VALUES = {"Shell": "explorer.exe", "Userinit": "C:\\Windows\\system32\\userinit.exe,", "Taskman": None,
                   "AppSetup": None, "GinaDLL": None, "System": None, "VMApplet": None, "AutoAdminLogon": "0",
                   "DefaultUserName": None, "DefaultDomainName": None}


class WinlogonEntry(NamedTuple):
    key: str
    name: str
    data: Optional[str]
    usual: Optional[str]  # what a clean system holds, where there is one value for all
    unusual: Optional[bool]  # the data differs from `usual` (letter case aside)
    last_written: Optional[datetime.datetime]


@report(name="winlogon", title="Winlogon shell, userinit and notify packages", category="persistence",
        hive_types=["SOFTWARE", "NTUSER.DAT"],
        keys=[r"Microsoft\Windows NT\CurrentVersion\Winlogon", r"Microsoft\Windows NT\CurrentVersion\Winlogon\Notify\*",
              r"Software\Microsoft\Windows NT\CurrentVersion\Winlogon"], record=WinlogonEntry,
        time_field="last_written")
def winlogon(context: Context) -> Iterator[WinlogonEntry]:
    user = context.hive_type == "NTUSER.DAT"
    key = context.key(("Software\\" if user else "") + r"Microsoft\Windows NT\CurrentVersion\Winlogon")
    if key is None:
        return
    path, written = context.path(key), context.last_written(key)
    for name, usual in WINLOGON_VALUES.items():
        data = context.text(key, name)
        if data is None or (user and name != "Shell"):
            continue
        unusual = None if usual is None else data.strip().lower() != usual.lower()
        yield WinlogonEntry(path, name, data, usual, unusual, written)
    if context.value(key, "DefaultPassword") is not None:
        yield WinlogonEntry(path, "DefaultPassword", "(set)", None, True, written)
    for notify_path, notify in context.keys(path + r"\Notify\*"):
        yield WinlogonEntry(notify_path, "DllName", context.text(notify, "DllName"), None, None,
                            context.last_written(notify))


class DebuggerEntry(NamedTuple):
    key: str
    executable: str
    debugger: Optional[str]
    global_flag: Optional[int]
    silent_exit_monitor: Optional[str]  # SilentProcessExit\<exe>\MonitorProcess, run when GlobalFlag has 0x200
    last_written: Optional[datetime.datetime]


@report(name="image_file_execution_options", title="Image File Execution Options debuggers and exit monitors",
        category="persistence", hive_types=["SOFTWARE"],
        keys=[r"Microsoft\Windows NT\CurrentVersion\Image File Execution Options\*",
              r"Wow6432Node\Microsoft\Windows NT\CurrentVersion\Image File Execution Options\*",
              r"Microsoft\Windows NT\CurrentVersion\SilentProcessExit\*"], record=DebuggerEntry,
        time_field="last_written")
def image_file_execution_options(context: Context) -> Iterator[DebuggerEntry]:
    monitors = {key.name().lower(): context.text(key, "MonitorProcess")
                for _, key in context.keys(r"Microsoft\Windows NT\CurrentVersion\SilentProcessExit\*")}
    for prefix in ("", "Wow6432Node\\"):
        for path, key in context.keys(prefix + r"Microsoft\Windows NT\CurrentVersion\Image File Execution Options\*"):
            debugger, flag = context.text(key, "Debugger"), context.number(key, "GlobalFlag")
            monitor = monitors.get(key.name().lower())
            if debugger is None and monitor is None and not (flag is not None and flag & 0x200):
                continue
            yield DebuggerEntry(path, key.name(), debugger, flag, monitor, context.last_written(key))


class AppCertDll(NamedTuple):
    key: str
    name: str
    dll: Optional[str]
    last_written: Optional[datetime.datetime]


@report(name="appcert_dlls", title="AppCert DLLs, in every control set", category="persistence",
        hive_types=["SYSTEM"], keys=[r"ControlSet*\Control\Session Manager\AppCertDlls"], record=AppCertDll,
        time_field="last_written")
def appcert_dlls(context: Context) -> Iterator[AppCertDll]:
    for path, key in context.keys(r"ControlSet*\Control\Session Manager\AppCertDlls"):
        for value in context.values(key):
            yield AppCertDll(path, value.name(), context.text(key, value.name()), context.last_written(key))


APPROVED = r"Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\*"


class Approval(NamedTuple):
    key: str
    name: str
    enabled: Optional[bool]  # state 2 enabled, 3 disabled
    state: Optional[int]
    changed: Optional[datetime.datetime]  # when the user enabled or disabled it
    changed_raw: Optional[int]


@report(name="startup_approved", title="Autostarts enabled or disabled in Task Manager (8+)",
        category="persistence", hive_types=["NTUSER.DAT", "SOFTWARE"], keys=["Software\\" + APPROVED, APPROVED],
        record=Approval, time_field="changed")
def startup_approved(context: Context) -> Iterator[Approval]:
    prefix = "Software\\" if context.hive_type == "NTUSER.DAT" else ""
    for path, key in context.keys(prefix + APPROVED):
        for value in context.values(key):
            data = context.raw(key, value.name())
            if data is None:
                continue
            decoded = tarnu.decode.startup_approved(data)
            decoder_notes(context, path, value.name(), decoded.notes)
            yield Approval(path, value.name(), decoded.enabled, decoded.state, time_of(decoded.changed),
                           None if decoded.changed is None else decoded.changed.raw)
