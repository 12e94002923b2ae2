"""Each built-in report on a builder-made hive holding its artifact, damaged artifacts as notes, and the real SYSTEM
sample where it holds the data."""

from __future__ import annotations

import datetime
import pathlib
import struct
from typing import Any, Callable, Dict, List

import pytest

import tarnu
from conftest import (WHEN, WHEN_TIME, OpenImage, check_no_report_stops, check_notes, check_report, ft, nested,
                      ntuser, report_results, sample_path, software, system_keys, typed_hive, utf16)
from tarnu import databuilder as db
from tarnu import hivebuilder as hb

V = hb.Value
UTC = datetime.timezone.utc


def system(*keys: hb.Key) -> List[hb.Key]:
    return system_keys(*keys)


CURRENT = "Microsoft\\Windows NT\\CurrentVersion"


def sam_f(rid: int, flags: int, logons: int) -> bytes:
    return (struct.pack("<HH4x", 2, 1) + ft() + bytes(8) + ft(WHEN - 86400) + struct.pack("<Q", 0x7FFFFFFFFFFFFFFF)
            + bytes(8) + struct.pack("<IIIHHHH", rid, 513, flags, 0, 0, 0, logons) + bytes(12))


def sam_v(name: str, comment: str) -> bytes:
    parts = [b"", utf16(name), b"", utf16(comment)] + [b""] * 13
    table, data = b"", b""
    for part in parts:
        table += struct.pack("<III", len(data), len(part), 0)
        data += part + bytes(-len(part) % 4)
    return table + data


def device_7(pid: int, data: bytes) -> hb.Key:
    return hb.Key("{:08x}".format(pid), [hb.Key("00000000", values=[V("Type", hb.REG_BINARY, b"\x10\0\0\0"),
                                                                    V("Data", hb.REG_BINARY, data)])])


def device_8(pid: int, data: bytes) -> hb.Key:
    return hb.Key("{:04x}".format(pid), values=[V("", 0xFFFF0010, data)])


def usbstor(layout: Callable[[int, bytes], hb.Key], serial: str) -> hb.Key:
    times = hb.Key("{83da6326-97a6-4088-9453-a1923f573b29}", [layout(0x65, ft()), layout(0x66, ft(WHEN + 60))])
    instance = hb.Key(serial, [hb.Key("Properties", [times])],
                      [V("FriendlyName", hb.REG_SZ, "HP v100w USB Device")])
    return nested("Enum\\USBSTOR\\Disk&Ven_HP&Prod_v100w&Rev_1024", instance)


def dynamic_info() -> bytes:
    return struct.pack("<I", 3) + ft() + ft(WHEN + 3600) + struct.pack("<II", 0, 0x41301) + ft(WHEN + 3601)


# (root children, report, the records' fields checked: every record of the report, in order, must hold these)
CASES: List[Any] = [
    (system(nested("Control\\ComputerName\\ComputerName", values=[V("ComputerName", hb.REG_SZ, "WKS-1")])),
     "computer_name", [{"key": "ControlSet001\\Control\\ComputerName\\ComputerName", "computer_name": "WKS-1"}]),
    (system(nested("Control\\TimeZoneInformation", values=[
        V("Bias", hb.REG_DWORD, 300), V("DaylightBias", hb.REG_DWORD, 0xFFFFFFC4),
        V("StandardStart", hb.REG_BINARY, bytes.fromhex("00000b00010002000000000000000000")),
        V("DaylightStart", hb.REG_BINARY, bytes.fromhex("00000300020002000000000000000000")),
        V("TimeZoneKeyName", hb.REG_SZ, utf16("Eastern Standard Time") + b"\0\0" + b"\x00\xd8" * 3)])),
     "time_zone", [{"time_zone": "Eastern Standard Time", "bias": 300, "daylight_bias": -60,
                    "standard_start": "first Sunday of November, 02:00",
                    "daylight_start": "second Sunday of March, 02:00"}]),
    (system(nested("Control\\Windows", values=[V("ShutdownTime", hb.REG_BINARY, ft())])), "last_shutdown",
     [{"shutdown": WHEN_TIME, "shutdown_raw": db.filetime(WHEN)}]),
    ([*system(), hb.Key("Setup", [hb.Key("Source OS (Updated on 7/12/2017 07:18:28)", values=[
        V("ProductName", hb.REG_SZ, "Windows 10 Pro"), V("CurrentBuildNumber", hb.REG_SZ, "15063"),
        V("InstallDate", hb.REG_DWORD, WHEN)])])], "os_version",
     [{"windows": "10", "build": "15063", "install_date": WHEN_TIME, "install_date_raw": WHEN}]),
    (software(nested(CURRENT, values=[V("ProductName", hb.REG_SZ, "Windows 10 Pro"),
                                      V("CurrentBuildNumber", hb.REG_SZ, "22631"),
                                      V("DisplayVersion", hb.REG_SZ, "23H2"),
                                      V("InstallTime", hb.REG_QWORD, db.filetime(WHEN))])),
     "os_version", [{"windows": "11", "release": "23H2", "install_time": WHEN_TIME}]),
    (software(nested(CURRENT + "\\ProfileList\\S-1-5-21-1-2-3-1001.bak", values=[
        V("ProfileImagePath", hb.REG_EXPAND_SZ, "C:\\Users\\alice"),
        V("LocalProfileLoadTimeLow", hb.REG_DWORD, db.filetime(WHEN) & 0xFFFFFFFF),
        V("LocalProfileLoadTimeHigh", hb.REG_DWORD, db.filetime(WHEN) >> 32)])),
     "profile_list", [{"sid": "S-1-5-21-1-2-3-1001", "user": "alice", "backup": True, "load_time": WHEN_TIME}]),
    ([hb.Key("SAM", [nested("Domains\\Account\\Users", hb.Key("000001F4", values=[
        V("F", hb.REG_BINARY, sam_f(500, 0x211, 6)), V("V", hb.REG_BINARY, sam_v("Administrator", "Built-in"))]),
        nested("Names\\Administrator", values=[V("", 500, b"")]))])],
     "sam_accounts", [{"rid": 500, "user_name": "Administrator", "comment": "Built-in", "logon_count": 6,
                       "disabled": True, "last_logon": WHEN_TIME, "account_expires": None,
                       "account_expires_raw": 0x7FFFFFFFFFFFFFFF}]),
    ([hb.Key("Policy", [hb.Key("PolAcDmS", values=[V("", 0, db.sid("S-1-5-21-10-20-30"))]),
                        hb.Key("PolAcDmN", values=[V("", 0, struct.pack("<HHI", 18, 20, 8) + utf16("WORKGROUP"))])]),
      hb.Key("RXACT")],
     "sids", [{"domain": "account domain", "name": "WORKGROUP", "sid": "S-1-5-21-10-20-30"}]),
    (software(nested("Microsoft\\Windows\\CurrentVersion\\Uninstall", hb.Key("App", values=[
        V("DisplayName", hb.REG_SZ, "App"), V("InstallDate", hb.REG_SZ, "20170712")]), hb.Key("KB1"))),
     "installed_programs", [{"name": "App", "installed": datetime.datetime(2017, 7, 12, tzinfo=UTC),
                             "installed_from": "InstallDate"}]),
    (system(nested("Services\\BITS", hb.Key("Parameters", values=[
        V("ServiceDll", hb.REG_EXPAND_SZ, "%SystemRoot%\\System32\\qmgr.dll")]), values=[
        V("Type", hb.REG_DWORD, 0x20), V("Start", hb.REG_DWORD, 2), V("DelayedAutostart", hb.REG_DWORD, 1)])),
     "services", [{"name": "BITS", "kind": "service", "start_name": "automatic (delayed)",
                   "type_names": ["shared process"], "service_dll": "%SystemRoot%\\System32\\qmgr.dll"}]),
    (ntuser(hb.Key("Software", [hb.Key("Microsoft", [
        nested("Windows\\CurrentVersion\\Run", values=[V("", hb.REG_SZ, "a.exe")]),
        nested("Windows NT\\CurrentVersion\\Windows", values=[V("Load", hb.REG_SZ, "b.exe")])])])),
     "run_keys", [{"name": "(default)", "command": "a.exe"}, {"name": "Load", "command": "b.exe"}]),
    (software(nested(CURRENT + "\\Winlogon", values=[V("Shell", hb.REG_SZ, "explorer.exe, evil.exe")])),
     "winlogon", [{"name": "Shell", "unusual": True}]),
    (software(nested(CURRENT + "\\Image File Execution Options", hb.Key("sethc.exe", values=[
        V("Debugger", hb.REG_SZ, "cmd.exe")]), hb.Key("plain.exe"))),
     "image_file_execution_options", [{"executable": "sethc.exe", "debugger": "cmd.exe"}]),
    (system(nested("Control\\Session Manager\\AppCertDlls", values=[V("x", hb.REG_SZ, "c:\\x.dll")])),
     "appcert_dlls", [{"name": "x", "dll": "c:\\x.dll"}]),
    (system(nested("Control\\Lsa", values=[V("Security Packages", hb.REG_MULTI_SZ, ["kerberos", "evil"])])),
     "lsa_packages", [{"security_packages": ["kerberos", "evil"], "authentication_packages": None}]),
    (ntuser(nested("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run", values=[
        V("a", hb.REG_BINARY, struct.pack("<I", 3) + ft())])),
     "startup_approved", [{"name": "a", "enabled": False, "changed": WHEN_TIME}]),
    (software(nested(CURRENT + "\\Schedule\\TaskCache", hb.Key("Tasks", [hb.Key("{0}", values=[
        V("Path", hb.REG_SZ, "\\Evil"), V("DynamicInfo", hb.REG_BINARY, dynamic_info())])]),
        hb.Key("Tree", [hb.Key("Evil", values=[V("Id", hb.REG_SZ, "{0}")])]))),
     "scheduled_tasks", [{"path": "\\Evil", "hidden": True, "created": WHEN_TIME,
                          "last_run": WHEN_TIME + datetime.timedelta(hours=1), "last_result": 0x41301}]),
    ([*system(usbstor(device_7, "AA951D0000007252&0")), hb.Key("MountedDevices", values=[
        V("\\DosDevices\\E:", hb.REG_BINARY, utf16("_??_USBSTOR#Disk&Ven_HP#AA951D0000007252&0#{53f56307}"))])],
     "usb_storage", [{"vendor": "HP", "product": "v100w", "revision": "1024", "serial": "AA951D0000007252&0",
                      "serial_generated": False, "drive": "E:", "first_install": WHEN_TIME,
                      "last_arrival": WHEN_TIME + datetime.timedelta(minutes=1)}]),
    (system(usbstor(device_8, "7&2a&0")), "usb_storage",
     [{"serial_generated": True, "first_install": WHEN_TIME, "friendly_name": "HP v100w USB Device"}]),
    (system(nested("Enum\\USB\\VID_03F0&PID_3207\\AA95", values=[V("Service", hb.REG_SZ, "USBSTOR")])),
     "usb_devices", [{"vendor_id": "03F0", "product_id": "3207", "serial": "AA95", "service": "USBSTOR"}]),
    ([*system(), hb.Key("MountedDevices", values=[V("\\DosDevices\\C:", hb.REG_BINARY,
                                                    bytes.fromhex("3ea0be5c") + struct.pack("<Q", 1048576))])],
     "mounted_devices", [{"kind": "mbr", "disk_signature": "5cbea03e", "partition_offset": 1048576}]),
    (system(nested("Services\\Tcpip\\Parameters\\Interfaces\\{6AAF}", values=[
        V("EnableDHCP", hb.REG_DWORD, 1), V("DhcpIPAddress", hb.REG_SZ, "192.168.1.123"),
        V("LeaseObtainedTime", hb.REG_DWORD, WHEN)])),
     "network_interfaces", [{"dhcp": True, "ip_address": "192.168.1.123", "lease_obtained": WHEN_TIME}]),
    (software(nested(CURRENT + "\\NetworkList", hb.Key("Profiles", [hb.Key("{P}", values=[
        V("ProfileName", hb.REG_SZ, "Home"), V("Category", hb.REG_DWORD, 1), V("NameType", hb.REG_DWORD, 71),
        V("DateLastConnected", hb.REG_BINARY, struct.pack("<8H", 2012, 4, 2, 3, 22, 6, 58, 0))])]),
        nested("Signatures\\Unmanaged\\0101", values=[V("ProfileGuid", hb.REG_SZ, "{P}"),
                                                      V("DefaultGatewayMac", hb.REG_BINARY, bytes(range(6)))]))),
     "network_profiles", [{"name": "Home", "category": "private", "kind": "wireless",
                           "gateway_mac": "00:01:02:03:04:05",
                           "last_connected_local": datetime.datetime(2012, 4, 3, 22, 6, 58)}]),
]


@pytest.mark.parametrize("children, name, expected", CASES, ids=[case[1] for case in CASES])
def test_report(open_image: OpenImage, children: List[hb.Key], name: str, expected: List[Dict[str, Any]]) -> None:
    check_report(typed_hive(open_image, *children), name, expected)


# Damaged artifacts: the report yields what it can and notes the rest.
DAMAGED: List[Any] = [
    (system(nested("Control\\Windows", values=[V("ShutdownTime", hb.REG_BINARY, b"\1\2\3\4")])), "last_shutdown",
     0, "not the 8 of a FILETIME"),
    ([hb.Key("SAM", [nested("Domains\\Account\\Users\\000003E9", values=[V("F", hb.REG_BINARY, b"\2\0\1\0"),
                                                                       V("V", hb.REG_BINARY, bytes(10))])])],
     "sam_accounts", 1, "F: at offset"),
    (software(nested(CURRENT + "\\Schedule\\TaskCache\\Tasks\\{0}", values=[V("DynamicInfo", hb.REG_BINARY, b"\3")])),
     "scheduled_tasks", 1, "DynamicInfo: at offset"),
    (system(nested("Enum\\USBSTOR\\Disk&Ven_X\\T&0\\Properties\\{83da6326-97a6-4088-9453-a1923f573b29}\\0065",
                   values=[V("", 0xFFFF0010, b"\1\2\3")])),
     "usb_storage", 1, "device property 0x65 holds 3 bytes"),
    (software(nested("Microsoft\\Windows\\CurrentVersion\\Uninstall\\App", values=[
        V("DisplayName", hb.REG_SZ, "App"), V("InstallDate", hb.REG_SZ, "2017-07-12")])),
     "installed_programs", 1, "is not a date"),
    (system(nested("Control\\TimeZoneInformation", values=[V("StandardStart", hb.REG_BINARY, b"\0" * 5)])),
     "time_zone", 1, "not the 16 of a rule"),
]


@pytest.mark.parametrize("children, name, count, note", DAMAGED, ids=[case[1] for case in DAMAGED])
def test_damaged_artifacts_become_notes(open_image: OpenImage, children: List[hb.Key], name: str, count: int,
                                        note: str) -> None:
    check_notes(typed_hive(open_image, *children), name, count, note)


def test_the_system_sample(samples_dir: pathlib.Path) -> None:
    hive = tarnu.Hive.open(sample_path("SYSTEM.xz", samples_dir))
    names = {r.key.split("\\")[0]: r.computer_name for r in report_results(hive, "computer_name")[0]}
    assert names == {"ControlSet001": "WKS-WIN732BITA", "ControlSet002": "WIN-V5T3CSP8U4H"}
    shutdowns = report_results(hive, "last_shutdown")[0]
    assert [r.shutdown.replace(microsecond=0) for r in shutdowns] == [
        datetime.datetime(2012, 4, 4, 1, 58, 40, tzinfo=UTC)] * 2
    services = report_results(hive, "services")[0]
    assert [sum(r.control_set == s for r in services) for s in ("ControlSet001", "ControlSet002")] == [467, 466]
    usb = report_results(hive, "usb_storage")[0]
    assert [(r.control_set, r.vendor, r.product, r.revision, r.serial) for r in usb] == [
        (s, "HP", "v100w", "1024", "AA951D0000007252&0") for s in ("ControlSet001", "ControlSet002")]
    assert all(r.first_install == datetime.datetime(2011, 4, 1, 4, 52, 38, 686000, tzinfo=UTC) for r in usb)


@pytest.mark.parametrize("seed", range(3))
def test_no_report_stops_on_data_of_the_wrong_shape(open_image: OpenImage, seed: int) -> None:
    check_no_report_stops(open_image, CASES, seed)
