"""Amcache.hve: the files and the programs Windows inventoried, in both layouts, which may sit side by side: legacy
(Root\\File and Root\\Programs, 8 to 10 1607, values named by hex numbers) and inventory (Root\\InventoryApplicationFile
and Root\\InventoryApplication, 10 1607 and later, values named by words). Files carry the SHA-1 of their first
30 MiB."""

from __future__ import annotations

import datetime
import re
from typing import Iterator, NamedTuple, Optional, Union

import tarnu

from ..framework import Context, from_filetime, from_unix, report

LEGACY_FILES = r"Root\File\*\*"
INVENTORY_FILES = r"Root\InventoryApplicationFile\*"
LEGACY_PROGRAMS = r"Root\Programs\*"
INVENTORY_PROGRAMS = r"Root\InventoryApplication\*"

_SHA1 = re.compile(r"0000([0-9A-Fa-f]{40})")
_TEXT_TIME = re.compile(r"(\d{1,2})/(\d{1,2})/(\d{4})(?: (\d{1,2}):(\d{2}):(\d{2}))?")

Raw = Union[int, str, None]


def sha1(file_id: Optional[str]) -> Optional[str]:
    """The SHA-1 in a FileId (or legacy value 101): "0000" and 40 hex digits; None for anything else."""
    found = _SHA1.fullmatch(file_id.strip()) if file_id else None
    return found.group(1).lower() if found else None


def text_time(text: Optional[str]) -> Optional[datetime.datetime]:
    """A time written "MM/DD/YYYY HH:MM:SS" (or the date alone), taken as UTC; None for other text."""
    found = _TEXT_TIME.fullmatch(text.strip()) if text else None
    if not found:
        return None
    month, day, year, hour, minute, second = (int(part) if part else 0 for part in found.groups())
    try:
        return datetime.datetime(year, month, day, hour, minute, second, tzinfo=datetime.timezone.utc)
    except ValueError:
        return None


def size_of(data: object) -> Optional[int]:
    """A size stored as a number or as text in hex ("0x7fac0") or decimal."""
    if isinstance(data, int):
        return data
    if isinstance(data, str):
        text = data.strip().lower()
        try:
            return int(text, 16) if text.startswith("0x") else int(text)
        except ValueError:
            return None
    return None


class AmcacheFile(NamedTuple):
    key: str
    layout: str  # "legacy" (Root\File\<volume>\<file reference>) or "inventory" (Root\InventoryApplicationFile)
    path: Optional[str]
    sha1: Optional[str]  # of the file's first 31,457,280 bytes
    file_id: Optional[str]  # as stored: FileId, or value 101
    name: Optional[str]
    product: Optional[str]
    publisher: Optional[str]
    version: Optional[str]
    size: Optional[int]
    binary_type: Optional[str]  # inventory: "PE64_AMD64", ...
    program_id: Optional[str]  # the Programs or InventoryApplication key of the program that holds the file
    link_time: Optional[datetime.datetime]  # the PE header's link time
    link_time_raw: Raw  # legacy: Unix seconds; inventory: the text "MM/DD/YYYY HH:MM:SS"
    modified: Optional[datetime.datetime]  # legacy value 11
    modified_raw: Optional[int]
    created: Optional[datetime.datetime]  # legacy value 12
    created_raw: Optional[int]
    last_written: Optional[datetime.datetime]  # the key's: close to when the entry was recorded


def _legacy_file(context: Context, path: str, key: tarnu.RegistryKey) -> AmcacheFile:
    text, number = context.text, context.number
    file_path = text(key, "15")
    file_id = text(key, "101")
    link, modified, created = number(key, "f"), number(key, "11"), number(key, "12")
    return AmcacheFile(path, "legacy", file_path, sha1(file_id), file_id, _file_name(file_path), text(key, "0"),
                       text(key, "1"), text(key, "5") or text(key, "2"), size_of(context.value(key, "6")), None,
                       text(key, "100"), from_unix(link), link, from_filetime(modified), modified,
                       from_filetime(created), created, context.last_written(key))


def _inventory_file(context: Context, path: str, key: tarnu.RegistryKey) -> AmcacheFile:
    text = context.text
    file_path, file_id, link = text(key, "LowerCaseLongPath"), text(key, "FileId"), text(key, "LinkDate")
    return AmcacheFile(path, "inventory", file_path, sha1(file_id), file_id,
                       text(key, "Name") or _file_name(file_path), text(key, "ProductName"), text(key, "Publisher"),
                       text(key, "Version"), size_of(context.value(key, "Size")), text(key, "BinaryType"),
                       text(key, "ProgramId"), text_time(link), link, None, None, None, None,
                       context.last_written(key))


def _file_name(path: Optional[str]) -> Optional[str]:
    return path.rsplit("\\", 1)[-1] if path else None


@report(name="amcache_files", title="Files in Amcache.hve, with their SHA-1", category="execution",
        hive_types=["Amcache.hve"], keys=[LEGACY_FILES, INVENTORY_FILES], record=AmcacheFile,
        time_field="last_written")
def amcache_files(context: Context) -> Iterator[AmcacheFile]:
    for pattern, read in ((LEGACY_FILES, _legacy_file), (INVENTORY_FILES, _inventory_file)):
        for path, key in context.keys(pattern):
            with context.guard(path):
                yield read(context, path, key)


class AmcacheProgram(NamedTuple):
    key: str
    layout: str  # "legacy" (Root\Programs) or "inventory" (Root\InventoryApplication)
    program_id: str  # the key's name
    name: Optional[str]
    version: Optional[str]
    publisher: Optional[str]
    source: Optional[str]  # "AddRemoveProgram", "AppxPackage", "Msi", ...
    installed: Optional[datetime.datetime]
    installed_raw: Raw  # legacy: Unix seconds (value a); inventory: the text of InstallDate
    uninstalled: Optional[datetime.datetime]  # legacy value b
    uninstalled_raw: Optional[int]
    location: Optional[str]  # inventory RootDirPath; legacy: the directories of value d, "; " between them
    uninstall: Optional[str]  # inventory UninstallString; legacy: the Uninstall keys of value 7
    last_written: Optional[datetime.datetime]


def _legacy_program(context: Context, path: str, key: tarnu.RegistryKey) -> AmcacheProgram:
    text, number = context.text, context.number
    installed, uninstalled = number(key, "a"), number(key, "b")
    return AmcacheProgram(path, "legacy", key.name(), text(key, "0"), text(key, "1"), text(key, "2"),
                          text(key, "6"), from_unix(installed), installed, from_unix(uninstalled), uninstalled,
                          _listed(context, key, "d"), _listed(context, key, "7"), context.last_written(key))


def _listed(context: Context, key: tarnu.RegistryKey, name: str) -> Optional[str]:
    """A REG_MULTI_SZ of paths as one text, "; " between them."""
    data = context.value(key, name)
    return "; ".join(data) if isinstance(data, list) else context.text(key, name)


def _inventory_program(context: Context, path: str, key: tarnu.RegistryKey) -> AmcacheProgram:
    text = context.text
    installed = text(key, "InstallDate")
    return AmcacheProgram(path, "inventory", key.name(), text(key, "Name"), text(key, "Version"),
                          text(key, "Publisher"), text(key, "Source"), text_time(installed), installed or None,
                          None, None, text(key, "RootDirPath"), text(key, "UninstallString"),
                          context.last_written(key))


@report(name="amcache_programs", title="Programs in Amcache.hve", category="execution", hive_types=["Amcache.hve"],
        keys=[LEGACY_PROGRAMS, INVENTORY_PROGRAMS], record=AmcacheProgram, time_field="installed")
def amcache_programs(context: Context) -> Iterator[AmcacheProgram]:
    for path, key in context.keys(LEGACY_PROGRAMS):
        with context.guard(path):
            yield _legacy_program(context, path, key)
    for path, key in context.keys(INVENTORY_PROGRAMS):
        with context.guard(path):
            yield _inventory_program(context, path, key)
