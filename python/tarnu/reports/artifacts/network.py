"""Networks: the TCP/IP interfaces of every control set (addresses, DHCP leases) and the network profiles of
SOFTWARE's NetworkList with when each network was first and last connected."""

from __future__ import annotations

import datetime
from typing import Dict, Iterator, List, NamedTuple, Optional, Tuple

import tarnu.decode

from ..framework import Context, from_unix, report
from ..helpers import control_set, fixed_times


class Interface(NamedTuple):
    key: str
    control_set: str
    interface: str  # the {GUID}
    dhcp: Optional[bool]
    ip_address: Optional[str]
    subnet_mask: Optional[str]
    gateway: Optional[str]
    dhcp_server: Optional[str]
    domain: Optional[str]
    name_servers: Optional[str]
    lease_obtained: Optional[datetime.datetime]
    lease_obtained_raw: Optional[int]
    lease_terminates: Optional[datetime.datetime]
    lease_terminates_raw: Optional[int]
    last_written: Optional[datetime.datetime]


@report(name="network_interfaces", title="Network interfaces and DHCP leases, in every control set",
        category="devices", hive_types=["SYSTEM"], keys=[r"ControlSet*\Services\Tcpip\Parameters\Interfaces\*"],
        record=Interface, time_field="lease_obtained")
def network_interfaces(context: Context) -> Iterator[Interface]:
    for path, key in context.keys(r"ControlSet*\Services\Tcpip\Parameters\Interfaces\*"):
        dhcp = context.number(key, "EnableDHCP")

        def first(*names: str) -> Optional[str]:
            for name in names:
                text = context.text(key, name)
                if text and text.strip() and text.strip() != "0.0.0.0":
                    return text.strip()
            return None

        obtained, terminates = context.number(key, "LeaseObtainedTime"), context.number(key, "LeaseTerminatesTime")
        yield Interface(path, control_set(path), key.name(), None if dhcp is None else dhcp == 1,
                        first("DhcpIPAddress", "IPAddress"), first("DhcpSubnetMask", "SubnetMask"),
                        first("DhcpDefaultGateway", "DefaultGateway"), first("DhcpServer"),
                        first("DhcpDomain", "Domain"), first("DhcpNameServer", "NameServer"), from_unix(obtained),
                        obtained, from_unix(terminates), terminates, context.last_written(key))


CATEGORY = {0: "public", 1: "private", 2: "domain"}
NAME_TYPE = {6: "wired", 23: "VPN", 71: "wireless", 243: "mobile broadband"}
NETWORK_LIST = r"Microsoft\Windows NT\CurrentVersion\NetworkList"


class NetworkProfile(NamedTuple):
    key: str
    profile: str  # the {GUID}
    name: Optional[str]
    description: Optional[str]
    category: Optional[str]
    kind: Optional[str]  # by NameType: wired, wireless, VPN, mobile broadband
    managed: Optional[bool]
    dns_suffix: Optional[str]  # from the profile's signature
    gateway_mac: Optional[str]
    first_connected_local: Optional[datetime.datetime]  # DateCreated: local time, as stored (no time zone)
    first_connected_raw: Optional[List[int]]
    last_connected_local: Optional[datetime.datetime]  # DateLastConnected: local time
    last_connected_raw: Optional[List[int]]
    last_written: Optional[datetime.datetime]


def signatures(context: Context) -> Dict[str, Tuple[Optional[str], Optional[str]]]:
    """(DNS suffix, default gateway MAC) by lower-cased profile GUID, from Signatures\\Managed and \\Unmanaged."""
    found: Dict[str, Tuple[Optional[str], Optional[str]]] = {}
    for _, key in context.keys(NETWORK_LIST + r"\Signatures\*\*"):
        guid = context.text(key, "ProfileGuid")
        mac = context.raw(key, "DefaultGatewayMac")
        if guid:
            found[guid.lower()] = (context.text(key, "DnsSuffix"),
                                   ":".join("{:02x}".format(b) for b in mac) if mac else None)
    return found


@report(name="network_profiles", title="Networks connected to (NetworkList, Vista+)", category="devices",
        hive_types=["SOFTWARE"], keys=[NETWORK_LIST + r"\Profiles\*", NETWORK_LIST + r"\Signatures\*\*"],
        record=NetworkProfile, time_field="last_written")
def network_profiles(context: Context) -> Iterator[NetworkProfile]:
    known = signatures(context)
    for path, key in context.keys(NETWORK_LIST + r"\Profiles\*"):
        dates = fixed_times(context, path, key, ("DateCreated", "DateLastConnected"), tarnu.decode.systemtime,
                            "a SYSTEMTIME")
        category, name_type, managed = (context.number(key, "Category"), context.number(key, "NameType"),
                                        context.number(key, "Managed"))
        suffix, mac = known.get(key.name().lower(), (None, None))
        yield NetworkProfile(path, key.name(), context.text(key, "ProfileName"), context.text(key, "Description"),
                             None if category is None else CATEGORY.get(category, str(category)),
                             None if name_type is None else NAME_TYPE.get(name_type, str(name_type)),
                             None if managed is None else managed == 1, suffix, mac,
                             dates[0] and dates[0].value, dates[0] and dates[0].raw,
                             dates[1] and dates[1].value, dates[1] and dates[1].raw, context.last_written(key))
