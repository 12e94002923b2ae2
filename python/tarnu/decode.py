"""Decoders of the binary data that registry values hold: times, GUIDs, SIDs, security descriptors, REG_LINK
targets, resource lists, MRU orders, shell item lists, AppCompatCache values, and the fixed records of UserAssist,
BAM/DAM, StartupApproved, TaskCache, SAM, time zones and MountedDevices.

Every decoder takes bytes (or any bytes-like object) and never raises for what the data holds: a part that does not
fit or does not match its layout is left out and described in the result's ``notes``, as ``Note(offset, expected,
found)``; the functions that decode one small field (a time, a GUID, a SID) give None when its bytes are not there.
Times keep the raw value beside the decoded one (``Time.raw``), with ``state`` "set", "not set" (0), "never"
(FILETIME 0x7FFFFFFFFFFFFFFF), "invalid" (past the year 9999, a month of 13, ...) or, for calendar times, "yearly"
(a time-zone rule of year 0).
"""

from __future__ import annotations

import datetime
from typing import Any, Dict, List, NamedTuple, Optional, Sequence, Union, cast

import tarnu

Data = Union[bytes, bytearray, memoryview]


class Note(NamedTuple):
    """A part of the data that could not be decoded: where, what was expected there, and what was found."""

    offset: int
    expected: str
    found: str


class Time(NamedTuple):
    """A FILETIME, FAT or Unix time: the stored value, its state, and the moment as an aware datetime in UTC when
    the state is "set"."""

    raw: int
    state: str
    value: Optional[datetime.datetime]


class CalendarTime(NamedTuple):
    """A SYSTEMTIME or TIME_FIELDS: the eight stored words, the fields by name, and a naive datetime when the state
    is "set" (these times are usually local times)."""

    raw: List[int]
    year: int
    month: int
    weekday: int
    day: int
    hour: int
    minute: int
    second: int
    milliseconds: int
    state: str
    value: Optional[datetime.datetime]


FieldValue = Union[int, str, bytes, Time]


class Ace(NamedTuple):
    offset: int
    type: int
    type_name: Optional[str]           # the SDDL token ("A", "OA", ...), None for a type without one
    flags: int
    size: int
    mask: Optional[int]
    object_flags: Optional[int]
    object_type: Optional[str]
    inherited_object_type: Optional[str]
    sid: Optional[str]
    application_data: bytes            # callback and attribute ACEs: what follows the SID
    body: bytes                        # ACE types without a known layout: everything after the header


class Acl(NamedTuple):
    offset: int
    revision: int
    size: int
    ace_count: int
    aces: List[Ace]


class SecurityDescriptor(NamedTuple):
    revision: int
    sbz1: int
    control: int
    owner: Optional[str]
    group: Optional[str]
    dacl: Optional[Acl]
    sacl: Optional[Acl]
    sddl: str
    sddl_standard: bool
    notes: List[Note]


class RegLink(NamedTuple):
    target: str
    short_path: Optional[str]


class PartialResource(NamedTuple):
    offset: int
    type: int
    share_disposition: int
    flags: int
    fields: Dict[str, FieldValue]


class FullResourceDescriptor(NamedTuple):
    offset: int
    interface_type: int
    interface_name: Optional[str]
    bus_number: int
    version: int
    revision: int
    partial_count: int
    partials: List[PartialResource]


class ResourceList(NamedTuple):
    lists: List[FullResourceDescriptor]
    partial_size: int
    notes: List[Note]


class Requirement(NamedTuple):
    offset: int
    option: int
    type: int
    share_disposition: int
    flags: int
    fields: Dict[str, FieldValue]


class Alternative(NamedTuple):
    offset: int
    version: int
    revision: int
    descriptor_count: int
    descriptors: List[Requirement]


class RequirementsList(NamedTuple):
    list_size: int
    interface_type: int
    interface_name: Optional[str]
    bus_number: int
    slot_number: int
    alternative_count: int
    alternatives: List[Alternative]
    notes: List[Note]


class MruOrder(NamedTuple):
    ranked: List[str]
    unranked: List[str]
    notes: List[Note]


class ExtensionBlock(NamedTuple):
    offset: int
    size: int
    version: int
    signature: int
    fields: Dict[str, FieldValue]


class ShellItem(NamedTuple):
    offset: int
    size: int
    class_type: int
    kind: str
    name: str
    fields: Dict[str, FieldValue]
    extension_blocks: List[ExtensionBlock]


class ShellItemList(NamedTuple):
    items: List[ShellItem]
    path: str
    notes: List[Note]


class ShimEntry(NamedTuple):
    offset: int
    path: str
    modified: Time
    file_size: Optional[int]
    last_update: Optional[Time]
    insertion_flags: Optional[int]
    shim_flags: Optional[int]
    executed: Optional[bool]
    data: bytes


class AppCompatCache(NamedTuple):
    layout: str
    signature: int
    header_count: Optional[int]
    entries: List[ShimEntry]
    head: str
    notes: List[Note]


class UserAssistEntry(NamedTuple):
    version: int
    session: Optional[int]
    run_count: Optional[int]
    focus_count: Optional[int]
    focus_time_ms: Optional[int]
    scores: List[float]
    score_index: Optional[int]
    last_run: Optional[Time]
    notes: List[Note]


class BamEntry(NamedTuple):
    last_run: Optional[Time]
    packaged: Optional[int]
    version: Optional[int]
    rest: bytes
    notes: List[Note]


class StartupApproved(NamedTuple):
    state: Optional[int]
    changed: Optional[Time]
    notes: List[Note]

    @property
    def enabled(self) -> Optional[bool]:
        """True for state 2, False for 3, None otherwise."""
        return {2: True, 3: False}.get(self.state) if self.state is not None else None


class DynamicInfo(NamedTuple):
    version: Optional[int]
    created: Optional[Time]
    last_run: Optional[Time]
    state: Optional[int]
    last_result: Optional[int]
    last_completed: Optional[Time]
    notes: List[Note]


class SamF(NamedTuple):
    major: Optional[int]
    minor: Optional[int]
    last_logon: Optional[Time]
    last_logoff: Optional[Time]
    password_last_set: Optional[Time]
    account_expires: Optional[Time]
    last_failed_logon: Optional[Time]
    rid: Optional[int]
    primary_group_rid: Optional[int]
    account_control: Optional[int]
    account_control_names: List[str]
    country_code: Optional[int]
    code_page: Optional[int]
    bad_password_count: Optional[int]
    logon_count: Optional[int]
    notes: List[Note]


class SamVPart(NamedTuple):
    offset: int
    length: int
    data: bytes


class SamV(NamedTuple):
    user_name: str
    full_name: str
    comment: str
    user_comment: str
    home_directory: str
    home_drive: str
    script_path: str
    profile_path: str
    workstations: str
    security: Optional[SecurityDescriptor]
    parts: List[SamVPart]
    notes: List[Note]


class TimeZoneInfo(NamedTuple):
    bias: Optional[int]
    standard_bias: Optional[int]
    daylight_bias: Optional[int]
    standard_date: Optional[CalendarTime]
    daylight_date: Optional[CalendarTime]
    notes: List[Note]


class MountedDevice(NamedTuple):
    kind: str
    disk_signature: Optional[int]
    partition_offset: Optional[int]
    partition_guid: Optional[str]
    path: Optional[str]


# ---- conversions of the extension's plain objects ----------------------------------------------------------------

def _decode(kind: str, data: Union[Data, str], option: object = None) -> Any:
    return tarnu._decode(kind, data, option)


def _notes(items: List[Any]) -> List[Note]:
    return [Note(*item) for item in items]


def _time(item: Optional[Dict[str, Any]]) -> Optional[Time]:
    return None if item is None else Time(**item)


def _calendar(item: Optional[Dict[str, Any]]) -> Optional[CalendarTime]:
    return None if item is None else CalendarTime(**item)


def _fields(items: Dict[str, Any]) -> Dict[str, FieldValue]:
    return {name: Time(**value) if isinstance(value, dict) else value for name, value in items.items()}


def _acl(item: Optional[Dict[str, Any]]) -> Optional[Acl]:
    if item is None:
        return None
    return Acl(**dict(item, aces=[Ace(**ace) for ace in item["aces"]]))


def _descriptor(item: Dict[str, Any]) -> SecurityDescriptor:
    return SecurityDescriptor(**dict(item, dacl=_acl(item["dacl"]), sacl=_acl(item["sacl"]),
                                     notes=_notes(item["notes"])))


# ---- times and identifiers --------------------------------------------------------------------------------------

def filetime(data: Data, offset: int = 0) -> Optional[Time]:
    """The FILETIME (8 bytes) at `offset`; None when the data ends before it."""
    return _time(_decode("filetime", data, offset))


def fat_time(data: Data, offset: int = 0) -> Optional[Time]:
    """The FAT date and time (u16 date, then u16 time; 4 bytes) at `offset`, taken as UTC."""
    return _time(_decode("fat_time", data, offset))


def unix_time(data: Data, offset: int = 0, size: int = 4) -> Optional[Time]:
    """The Unix time (seconds since 1970, unsigned, `size` 4 or 8 bytes) at `offset`."""
    if size not in (4, 8):
        raise ValueError("argument 'size': expected 4 or 8, got {!r}".format(size))
    return _time(_decode("unix_time32" if size == 4 else "unix_time64", data, offset))


def systemtime(data: Data, offset: int = 0) -> Optional[CalendarTime]:
    """The SYSTEMTIME (16 bytes: year, month, weekday, day, hour, minute, second, milliseconds) at `offset`."""
    return _calendar(_decode("systemtime", data, offset))


def time_fields(data: Data, offset: int = 0) -> Optional[CalendarTime]:
    """The TIME_FIELDS (16 bytes, the weekday last) at `offset`, as the TimeZoneInformation rules store it."""
    return _calendar(_decode("time_fields", data, offset))


def guid(data: Data, offset: int = 0) -> Optional[str]:
    """The GUID (16 bytes) at `offset` as "{B4BFCC3A-DB2C-424C-B029-7FE99A87C641}"."""
    return cast(Optional[str], _decode("guid", data, offset))


def guid_name(text: str) -> Optional[str]:
    """The name of a shell folder GUID ("My Computer") or the path of a known folder ("System32"), or None."""
    return cast(Optional[str], _decode("guid_name", text))


def sid(data: Data) -> Optional[str]:
    """The SID at the start of `data` as "S-1-5-21-...", or None when the data does not begin with one."""
    return cast(Optional[str], _decode("sid", data))


def sid_name(text: str) -> Optional[str]:
    """The well-known name of a SID text ("Administrators", "SYSTEM", "DWM-1"), or None."""
    return cast(Optional[str], _decode("sid_name", text))


def machine_sid(data: Data) -> Optional[str]:
    """The S-1-5-21-a-b-c SID nearest the end of `data` (SAM's Domains\\Account\\V), or None."""
    return cast(Optional[str], _decode("machine_sid", data))


# ---- registry data types ----------------------------------------------------------------------------------------

def security_descriptor(data: Data) -> SecurityDescriptor:
    """A self-relative security descriptor with its SIDs, ACLs, ACEs and SDDL text."""
    return _descriptor(_decode("security_descriptor", data))


def reg_link(data: Data) -> RegLink:
    """The target of a REG_LINK value, with its HKLM\\ or HKU\\ form."""
    return RegLink(**_decode("reg_link", data))


def resource_list(data: Data, value_type: int) -> Union[ResourceList, RequirementsList]:
    """REG_RESOURCE_LIST (8), REG_FULL_RESOURCE_DESCRIPTOR (9) or REG_RESOURCE_REQUIREMENTS_LIST (10) data."""
    if value_type == 10:
        item = _decode("requirements_list", data)
        alternatives = [Alternative(**dict(a, descriptors=[Requirement(**dict(r, fields=_fields(r["fields"])))
                                                           for r in a["descriptors"]]))
                        for a in item["alternatives"]]
        return RequirementsList(**dict(item, alternatives=alternatives, notes=_notes(item["notes"])))
    if value_type not in (8, 9):
        raise ValueError("argument 'value_type': expected 8, 9 or 10, got {!r}".format(value_type))
    item = _decode("resource_list" if value_type == 8 else "full_resource_descriptor", data)
    lists = [FullResourceDescriptor(**dict(full, partials=[PartialResource(**dict(p, fields=_fields(p["fields"])))
                                                           for p in full["partials"]]))
             for full in item["lists"]]
    return ResourceList(lists, item["partial_size"], _notes(item["notes"]))


def mru_list(letters: str, names: Optional[Sequence[str]] = None) -> MruOrder:
    """The order of an MRUList value ("cab"), given the names of the key's values to keep only those that exist and
    to report the single-letter values it leaves out as unranked."""
    item = _decode("mru_list", letters.encode("utf-8"), None if names is None else list(names))
    return MruOrder(item["ranked"], item["unranked"], _notes(item["notes"]))


def mru_list_ex(data: Data, names: Optional[Sequence[str]] = None) -> MruOrder:
    """The order of an MRUListEx value (u32 numbers ended by 0xFFFFFFFF), as names ("3", "0", ...); with `names`,
    numbers without a value are skipped and numbered values it leaves out are reported as unranked."""
    item = _decode("mru_list_ex", data, None if names is None else list(names))
    return MruOrder(item["ranked"], item["unranked"], _notes(item["notes"]))


# ---- artifacts --------------------------------------------------------------------------------------------------

def shell_items(data: Data) -> ShellItemList:
    """A shell item list (PIDL): every item with its fields and extension blocks, and the path it stands for."""
    item = _decode("shell_items", data)
    items = [ShellItem(**dict(i, fields=_fields(i["fields"]),
                              extension_blocks=[ExtensionBlock(**dict(b, fields=_fields(b["fields"])))
                                                for b in i["extension_blocks"]]))
             for i in item["items"]]
    return ShellItemList(items, item["path"], _notes(item["notes"]))


def appcompatcache(data: Data) -> AppCompatCache:
    """An AppCompatCache (ShimCache) value of any layout from XP to 11."""
    item = _decode("appcompatcache", data)
    entries = [ShimEntry(**dict(e, modified=_time(e["modified"]), last_update=_time(e["last_update"])))
               for e in item["entries"]]
    return AppCompatCache(**dict(item, entries=entries, notes=_notes(item["notes"])))


def userassist_entry(data: Data, version: Optional[int] = None) -> UserAssistEntry:
    """A UserAssist Count value's data: version 3 (16 bytes) or 5 (72 bytes), told by size when not given."""
    item = _decode("userassist", data, version)
    return UserAssistEntry(**dict(item, last_run=_time(item["last_run"]), notes=_notes(item["notes"])))


def rot13(text: str) -> str:
    """ROT13 of the ASCII letters of `text` (UserAssist value names); other characters as they are."""
    return cast(str, _decode("rot13", text))


def bam_entry(data: Data) -> BamEntry:
    """A BAM/DAM value's data: the last run FILETIME and, for 24-byte data, the two dwords after it."""
    item = _decode("bam", data)
    return BamEntry(**dict(item, last_run=_time(item["last_run"]), notes=_notes(item["notes"])))


def startup_approved(data: Data) -> StartupApproved:
    """A StartupApproved value: the state dword (2 enabled, 3 disabled) and the FILETIME of the change."""
    item = _decode("startup_approved", data)
    return StartupApproved(item["state"], _time(item["changed"]), _notes(item["notes"]))


def dynamic_info(data: Data) -> DynamicInfo:
    """A TaskCache task's DynamicInfo (28 or 36 bytes)."""
    item = _decode("dynamic_info", data)
    return DynamicInfo(**dict(item, created=_time(item["created"]), last_run=_time(item["last_run"]),
                              last_completed=_time(item["last_completed"]), notes=_notes(item["notes"])))


def sam_f(data: Data) -> SamF:
    """A SAM user's F value (80 bytes)."""
    item = _decode("sam_f", data)
    times = {name: _time(item[name]) for name in ("last_logon", "last_logoff", "password_last_set",
                                                  "account_expires", "last_failed_logon")}
    return SamF(**dict(item, notes=_notes(item["notes"]), **times))


def sam_v(data: Data) -> SamV:
    """A SAM user's V value: names, paths and comments, the security descriptor, and the 17 parts as bytes."""
    item = _decode("sam_v", data)
    security = None if item["security"] is None else _descriptor(item["security"])
    return SamV(**dict(item, security=security, parts=[SamVPart(**p) for p in item["parts"]],
                       notes=_notes(item["notes"])))


def tzi(data: Data) -> TimeZoneInfo:
    """A time zone's 44-byte TZI value: three biases in minutes and two SYSTEMTIME rules."""
    item = _decode("tzi", data)
    return TimeZoneInfo(**dict(item, standard_date=_calendar(item["standard_date"]),
                               daylight_date=_calendar(item["daylight_date"]), notes=_notes(item["notes"])))


def mounted_device(data: Data) -> MountedDevice:
    """A MountedDevices value: "mbr" (disk signature and partition offset), "gpt" (partition GUID) or "path"."""
    return MountedDevice(**_decode("mounted_device", data))
