"""The machine: its time zone in every control set, and its Windows version and install dates (SOFTWARE, and the
copies Windows 10 keeps of earlier versions in SYSTEM's Setup\\Source OS keys)."""

from __future__ import annotations

import datetime
from typing import Iterator, List, NamedTuple, Optional

import tarnu.decode

from ..framework import Context, from_unix, report, time_of
from ..helpers import fixed_times, rule_text, signed32


class TimeZone(NamedTuple):
    key: str
    time_zone: Optional[str]  # TimeZoneKeyName (7+), else StandardName
    standard_name: Optional[str]
    daylight_name: Optional[str]
    bias: Optional[int]  # minutes; UTC = local time + bias
    active_time_bias: Optional[int]
    standard_bias: Optional[int]
    daylight_bias: Optional[int]
    standard_start: Optional[str]  # the rule, "first Sunday of November, 02:00"
    daylight_start: Optional[str]
    standard_start_raw: Optional[List[int]]  # the eight stored words (TIME_FIELDS order)
    daylight_start_raw: Optional[List[int]]
    dynamic_daylight_disabled: Optional[int]
    last_written: Optional[datetime.datetime]


@report(name="time_zone", title="Time zone, in every control set", category="system", hive_types=["SYSTEM"],
        keys=[r"ControlSet*\Control\TimeZoneInformation"], record=TimeZone, time_field="last_written")
def time_zone(context: Context) -> Iterator[TimeZone]:
    for path, key in context.keys(r"ControlSet*\Control\TimeZoneInformation"):
        rules = fixed_times(context, path, key, ("StandardStart", "DaylightStart"), tarnu.decode.time_fields, "a rule")
        zone = context.text(key, "TimeZoneKeyName")
        yield TimeZone(path, zone or context.text(key, "StandardName"), context.text(key, "StandardName"),
                       context.text(key, "DaylightName"), signed32(context.number(key, "Bias")),
                       signed32(context.number(key, "ActiveTimeBias")), signed32(context.number(key, "StandardBias")),
                       signed32(context.number(key, "DaylightBias")), rule_text(rules[0]), rule_text(rules[1]),
                       None if rules[0] is None else rules[0].raw, None if rules[1] is None else rules[1].raw,
                       context.number(key, "DynamicDaylightTimeDisabled"), context.last_written(key))


class OsVersion(NamedTuple):
    key: str
    product_name: Optional[str]
    windows: Optional[str]  # "11" for build 22000 and later, whose ProductName still says Windows 10
    edition: Optional[str]
    build: Optional[str]
    ubr: Optional[int]
    release: Optional[str]  # DisplayVersion (20H2+) or ReleaseId (1507-2009)
    service_pack: Optional[str]
    registered_owner: Optional[str]
    install_date: Optional[datetime.datetime]  # InstallDate, Unix seconds: the last feature update on 10
    install_date_raw: Optional[int]
    install_time: Optional[datetime.datetime]  # InstallTime, FILETIME (10+)
    install_time_raw: Optional[int]


def os_version_of(context: Context, path: str, key: tarnu.RegistryKey) -> Optional[OsVersion]:
    product = context.text(key, "ProductName")
    build = context.text(key, "CurrentBuildNumber") or context.text(key, "CurrentBuild")
    if product is None and build is None:
        return None
    windows = None
    if build is not None and build.isdigit() and int(build) >= 22000:
        windows = "11"
    elif product is not None and product.startswith("Windows "):
        windows = product.split()[1]
    install_date = context.number(key, "InstallDate")
    install_time = context.number(key, "InstallTime")
    time = None
    if install_time is not None:
        time = time_of(tarnu.decode.filetime(install_time.to_bytes(8, "little")))
    return OsVersion(path, product, windows, context.text(key, "EditionID"), build, context.number(key, "UBR"),
                     context.text(key, "DisplayVersion") or context.text(key, "ReleaseId"),
                     context.text(key, "CSDVersion"), context.text(key, "RegisteredOwner"), from_unix(install_date),
                     install_date, time, install_time)


@report(name="os_version", title="Windows version and install dates", category="system",
        hive_types=["SOFTWARE", "SYSTEM"],
        keys=[r"Microsoft\Windows NT\CurrentVersion", r"Setup\Source OS*"], record=OsVersion,
        time_field="install_date")
def os_version(context: Context) -> Iterator[OsVersion]:
    pattern = r"Microsoft\Windows NT\CurrentVersion" if context.hive_type == "SOFTWARE" else r"Setup\Source OS*"
    for path, key in context.keys(pattern):
        with context.guard(path):
            found = os_version_of(context, path, key)
            if found is not None:
                yield found

