"""The last shutdown recorded in each control set."""

from __future__ import annotations

import datetime
from typing import Iterator, NamedTuple, Optional

from ..framework import Context, from_filetime, report


class Shutdown(NamedTuple):
    key: str
    shutdown: Optional[datetime.datetime]
    shutdown_raw: Optional[int]  # the stored FILETIME


@report(name="last_shutdown", title="Last shutdown, in every control set", category="system",
        hive_types=["SYSTEM"], keys=[r"ControlSet*\Control\Windows"], record=Shutdown, time_field="shutdown")
def last_shutdown(context: Context) -> Iterator[Shutdown]:
    for path, key in context.keys(r"ControlSet*\Control\Windows"):
        data = context.raw(key, "ShutdownTime")
        if data is None:
            continue
        if len(data) != 8:
            context.note(path, "ShutdownTime holds {} bytes, not the 8 of a FILETIME".format(len(data)))
            continue
        raw = int.from_bytes(data, "little")
        yield Shutdown(path, from_filetime(raw), raw)
