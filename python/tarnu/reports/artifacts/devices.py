"""Devices and volumes: USB storage (USBSTOR) and USB devices of every control set with the connection times that
Windows records, and the volumes of MountedDevices."""

from __future__ import annotations

import datetime
import re
from typing import Dict, Iterator, NamedTuple, Optional, Tuple

import tarnu
import tarnu.decode

from ..framework import Context, report
from ..helpers import (DEVICE_TIMES, FIRST_INSTALL, INSTALL_DATE, LAST_ARRIVAL, LAST_REMOVAL, control_set,
                       device_property, filetime_at)

Times = Tuple[Optional[datetime.datetime], Optional[int]]


def device_times(context: Context, path: str, instance: tarnu.RegistryKey) -> Dict[int, Times]:
    """The install, first install, last arrival and last removal times that the instance's properties hold."""
    found: Dict[int, Times] = {}
    for pid in (INSTALL_DATE, FIRST_INSTALL, LAST_ARRIVAL, LAST_REMOVAL):
        data = device_property(context, instance, DEVICE_TIMES, pid)
        found[pid] = filetime_at(data)
        if data is not None and found[pid][1] is None:
            context.note(path, "device property {:#x} holds {} bytes, not the 8 of a FILETIME".format(pid, len(data)))
    return found


class UsbStorage(NamedTuple):
    key: str
    control_set: str
    device_type: Optional[str]  # "Disk", "CdRom"
    vendor: Optional[str]
    product: Optional[str]
    revision: Optional[str]
    serial: str  # the instance key's name
    serial_generated: bool  # "&" as its second character: Windows made it up, the device reported none
    friendly_name: Optional[str]
    container_id: Optional[str]
    drive: Optional[str]  # the \DosDevices\X: that MountedDevices maps to this serial, if any
    first_install: Optional[datetime.datetime]  # property 0x65
    first_install_raw: Optional[int]
    install_date: Optional[datetime.datetime]  # property 0x64
    install_date_raw: Optional[int]
    last_arrival: Optional[datetime.datetime]  # property 0x66 (8+)
    last_arrival_raw: Optional[int]
    last_removal: Optional[datetime.datetime]  # property 0x67 (8+)
    last_removal_raw: Optional[int]
    last_written: Optional[datetime.datetime]


_PARTS = re.compile(r"^(?P<type>[^&]*)(?:&Ven_(?P<ven>[^&]*))?(?:&Prod_(?P<prod>[^&]*))?(?:&Rev_(?P<rev>[^&]*))?",
                    re.IGNORECASE)


def drive_letters(context: Context) -> Dict[str, str]:
    """Lower-cased device paths of MountedDevices' drive letters, by letter value name."""
    mounted = context.key("MountedDevices")
    letters: Dict[str, str] = {}
    if mounted is None:
        return letters
    for value in context.values(mounted):
        if not value.name().lower().startswith("\\dosdevices\\"):
            continue
        data = context.raw(mounted, value.name())
        if data and len(data) > 24:
            decoded = tarnu.decode.mounted_device(data)
            if decoded.path:
                letters[decoded.path.lower()] = value.name()[len("\\DosDevices\\"):]
    return letters


@report(name="usb_storage", title="USB storage devices (USBSTOR), in every control set", category="devices",
        hive_types=["SYSTEM"], keys=[r"ControlSet*\Enum\USBSTOR\*\*", "MountedDevices"], record=UsbStorage,
        time_field="first_install")
def usb_storage(context: Context) -> Iterator[UsbStorage]:
    letters = drive_letters(context)
    for path, instance in context.keys(r"ControlSet*\Enum\USBSTOR\*\*"):
        device = path.split("\\")[-2]
        parts = _PARTS.match(device)
        serial = instance.name()
        times = device_times(context, path, instance)
        drive = next((letter for device_path, letter in letters.items() if serial.lower() in device_path), None)
        yield UsbStorage(path, control_set(path), parts and parts["type"], parts and parts["ven"],
                         parts and parts["prod"], parts and parts["rev"], serial, serial[1:2] == "&",
                         context.text(instance, "FriendlyName"), context.text(instance, "ContainerID"), drive,
                         *times[FIRST_INSTALL], *times[INSTALL_DATE], *times[LAST_ARRIVAL], *times[LAST_REMOVAL],
                         context.last_written(instance))


class UsbDevice(NamedTuple):
    key: str
    control_set: str
    vendor_id: Optional[str]
    product_id: Optional[str]
    serial: str
    description: Optional[str]  # DeviceDesc
    service: Optional[str]
    parent_id_prefix: Optional[str]
    first_install: Optional[datetime.datetime]
    first_install_raw: Optional[int]
    install_date: Optional[datetime.datetime]
    install_date_raw: Optional[int]
    last_arrival: Optional[datetime.datetime]
    last_arrival_raw: Optional[int]
    last_removal: Optional[datetime.datetime]
    last_removal_raw: Optional[int]
    last_written: Optional[datetime.datetime]


_IDS = re.compile(r"VID_(?P<vid>[0-9A-F]{4}).*?PID_(?P<pid>[0-9A-F]{4})", re.IGNORECASE)


@report(name="usb_devices", title="USB devices (Enum\\USB), in every control set", category="devices",
        hive_types=["SYSTEM"], keys=[r"ControlSet*\Enum\USB\*\*"], record=UsbDevice, time_field="first_install")
def usb_devices(context: Context) -> Iterator[UsbDevice]:
    for path, instance in context.keys(r"ControlSet*\Enum\USB\*\*"):
        ids = _IDS.search(path.split("\\")[-2])
        times = device_times(context, path, instance)
        yield UsbDevice(path, control_set(path), ids and ids["vid"], ids and ids["pid"], instance.name(),
                        context.text(instance, "DeviceDesc"), context.text(instance, "Service"),
                        context.text(instance, "ParentIdPrefix"), *times[FIRST_INSTALL], *times[INSTALL_DATE],
                        *times[LAST_ARRIVAL], *times[LAST_REMOVAL], context.last_written(instance))


class MountedVolume(NamedTuple):
    key: str
    name: str  # \DosDevices\C:, \??\Volume{GUID}, #{GUID}
    kind: str  # "mbr", "gpt" or "path"
    disk_signature: Optional[str]  # MBR: 8 hex digits
    partition_offset: Optional[int]  # MBR: bytes
    partition_guid: Optional[str]  # GPT
    device: Optional[str]  # "path": the device, such as _??_USBSTOR#Disk&Ven_...#<serial>&0#{...}


@report(name="mounted_devices", title="Mounted volumes and drive letters", category="devices",
        hive_types=["SYSTEM"], keys=["MountedDevices"], record=MountedVolume)
def mounted_devices(context: Context) -> Iterator[MountedVolume]:
    key = context.key("MountedDevices")
    if key is None:
        return
    path = context.path(key)
    for value in context.values(key):
        data = context.raw(key, value.name())
        if data is None:
            continue
        decoded = tarnu.decode.mounted_device(data)
        signature = None if decoded.disk_signature is None else "{:08x}".format(decoded.disk_signature)
        yield MountedVolume(path, value.name(), decoded.kind, signature, decoded.partition_offset,
                            decoded.partition_guid, decoded.path)
