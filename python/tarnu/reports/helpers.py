"""Small pieces that several reports share: control-set names, decoder notes as report notes, signed numbers,
time-zone rules as text, and the device properties of Enum keys in both of their layouts."""

from __future__ import annotations

import datetime
from typing import Callable, List, Optional, Sequence, Tuple

import tarnu
import tarnu.decode

from .framework import Context, time_of

_MONTHS = ("January", "February", "March", "April", "May", "June", "July", "August", "September", "October",
           "November", "December")
_WEEKDAYS = ("Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday")
_WEEKS = ("first", "second", "third", "fourth", "last")


def control_set(path: str) -> str:
    """The first name of a path: "ControlSet001" for "ControlSet001\\Services\\x"."""
    return path.split("\\", 1)[0]


def decoder_notes(context: Context, key: str, what: str, notes: Sequence[tarnu.decode.Note]) -> None:
    """The notes of a decoder as notes of the report, at `key`, about the value `what`."""
    for note in notes:
        context.note(key, "{}: at offset {}: expected {}, found {}".format(what, note.offset, note.expected,
                                                                          note.found))


def signed32(number: Optional[int]) -> Optional[int]:
    """A REG_DWORD read as a signed 32-bit number (time-zone biases)."""
    if number is None:
        return None
    return number - (1 << 32) if number & 0x80000000 else number


def rule_text(rule: Optional[tarnu.decode.CalendarTime]) -> Optional[str]:
    """A daylight-saving rule: "second Sunday of March, 02:00" for a yearly rule, the date for a fixed one, None
    when unset."""
    if rule is None or rule.state == "not set":
        return None
    if rule.state == "yearly" and 1 <= rule.month <= 12 and 1 <= rule.day <= 5 and 0 <= rule.weekday <= 6:
        return "{} {} of {}, {:02}:{:02}".format(_WEEKS[rule.day - 1], _WEEKDAYS[rule.weekday],
                                                 _MONTHS[rule.month - 1], rule.hour, rule.minute)
    if rule.value is not None:
        return rule.value.isoformat()
    return "invalid rule {}".format(rule.raw)


def fixed_times(context: Context, path: str, key: tarnu.RegistryKey, names: Sequence[str],
                decode: Callable[[bytes], Optional[tarnu.decode.CalendarTime]],
                what: str) -> List[Optional[tarnu.decode.CalendarTime]]:
    """The 16-byte calendar times (SYSTEMTIME or TIME_FIELDS, as `decode` reads them) of the values `names`; None
    for a value that is absent, and a note for one of another size."""
    found = []
    for name in names:
        data = context.raw(key, name)
        time = None if data is None else decode(data)
        if data is not None and time is None:
            context.note(path, "{} holds {} bytes, not the 16 of {}".format(name, len(data), what))
        found.append(time)
    return found


def filetime_at(data: Optional[bytes]) -> Tuple[Optional[datetime.datetime], Optional[int]]:
    """The FILETIME that 8 bytes of data hold, with its raw value; (None, None) for other data."""
    if data is None or len(data) != 8:
        return None, None
    time = tarnu.decode.filetime(data)
    return time_of(time), None if time is None else time.raw


# The property set of a device's install and connection times, and the ids of the times within it.
DEVICE_TIMES = "{83da6326-97a6-4088-9453-a1923f573b29}"
INSTALL_DATE, FIRST_INSTALL, LAST_ARRIVAL, LAST_REMOVAL = 0x64, 0x65, 0x66, 0x67


def device_property(context: Context, instance: tarnu.RegistryKey, property_set: str, pid: int) -> Optional[bytes]:
    """The data of a device property under `instance`\\Properties: Vista and 7 keep it in the value Data of
    `0000PPPP\\00000000`, 8 and later in the default value of `PPPP` (whose type carries the property type)."""
    properties = context.subkey(instance, "Properties\\" + property_set)
    if properties is None:
        return None
    old = context.subkey(properties, "{:08x}\\00000000".format(pid))
    if old is not None:
        return context.raw(old, "Data")
    new = context.subkey(properties, "{:04x}".format(pid))
    if new is not None:
        return context.raw(new, "(default)")
    return None
