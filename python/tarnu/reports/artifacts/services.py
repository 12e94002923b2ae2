"""Services and drivers of every control set: what runs, from where, when it starts and as whom."""

from __future__ import annotations

import datetime
from typing import Iterator, List, NamedTuple, Optional

from ..framework import Context, report
from ..helpers import control_set

START = {0: "boot", 1: "system", 2: "automatic", 3: "manual", 4: "disabled"}
TYPES = [(0x1, "kernel driver"), (0x2, "file system driver"), (0x4, "adapter"), (0x8, "recognizer"),
         (0x10, "own process"), (0x20, "shared process"), (0x40, "user service"), (0x80, "user service instance"),
         (0x100, "interactive")]
ERROR_CONTROL = {0: "ignore", 1: "normal", 2: "severe", 3: "critical"}


class Service(NamedTuple):
    key: str
    control_set: str
    name: str
    display_name: Optional[str]
    kind: Optional[str]  # "driver" or "service", by the type bits
    type: Optional[int]
    type_names: List[str]
    start: Optional[int]
    start_name: Optional[str]  # "automatic (delayed)" when DelayedAutostart is 1
    image_path: Optional[str]
    service_dll: Optional[str]  # Parameters\ServiceDll, or ServiceDll in the service key
    account: Optional[str]  # ObjectName
    group: Optional[str]
    error_control: Optional[str]
    description: Optional[str]
    last_written: Optional[datetime.datetime]


@report(name="services", title="Services and drivers, in every control set", category="persistence",
        hive_types=["SYSTEM"], keys=[r"ControlSet*\Services\*", r"ControlSet*\Services\*\Parameters"],
        record=Service, time_field="last_written")
def services(context: Context) -> Iterator[Service]:
    for path, key in context.keys(r"ControlSet*\Services\*"):
        kind_bits = context.number(key, "Type")
        start = context.number(key, "Start")
        start_name = START.get(start) if start is not None else None
        if start == 2 and context.number(key, "DelayedAutostart") == 1:
            start_name = "automatic (delayed)"
        parameters = context.subkey(key, "Parameters") if key.subkey_count() else None
        dll = context.text(parameters, "ServiceDll") if parameters is not None else None
        kind = None
        if kind_bits is not None:
            kind = "driver" if kind_bits & 0xF else "service"
        errors = context.number(key, "ErrorControl")
        yield Service(path, control_set(path), key.name(), context.text(key, "DisplayName"), kind, kind_bits,
                      [name for bit, name in TYPES if kind_bits is not None and kind_bits & bit],
                      start, start_name, context.text(key, "ImagePath"), dll or context.text(key, "ServiceDll"),
                      context.text(key, "ObjectName"), context.text(key, "Group"),
                      None if errors is None else ERROR_CONTROL.get(errors, str(errors)),
                      context.text(key, "Description"), context.last_written(key))
