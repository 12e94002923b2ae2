"""Users: the profiles of SOFTWARE's ProfileList, the accounts of SAM, and the machine and domain SIDs of SAM
and SECURITY."""

from __future__ import annotations

import datetime
from typing import Iterator, List, NamedTuple, Optional

import tarnu.decode

from ..framework import Context, from_filetime, raw_of, report, time_of
from ..helpers import decoder_notes


class Profile(NamedTuple):
    key: str
    sid: str
    user: Optional[str]  # the last folder of the profile path
    profile_path: Optional[str]
    flags: Optional[int]
    state: Optional[int]
    ref_count: Optional[int]
    backup: bool  # a ".bak" key, left when Windows made a new profile for the SID
    load_time: Optional[datetime.datetime]  # LocalProfileLoadTime (10 1809+), or XP's ProfileLoadTime
    load_time_raw: Optional[int]
    unload_time: Optional[datetime.datetime]
    unload_time_raw: Optional[int]
    last_written: Optional[datetime.datetime]


def halves(context: Context, key: tarnu.RegistryKey, *prefixes: str) -> Optional[int]:
    """A FILETIME kept as two DWORDs, <prefix>Low and <prefix>High, from the first prefix that has both."""
    for prefix in prefixes:
        low, high = context.number(key, prefix + "Low"), context.number(key, prefix + "High")
        if low is not None and high is not None:
            return (high << 32) | low
    return None


@report(name="profile_list", title="User profiles", category="users", hive_types=["SOFTWARE"],
        keys=[r"Microsoft\Windows NT\CurrentVersion\ProfileList\*"], record=Profile, time_field="last_written")
def profile_list(context: Context) -> Iterator[Profile]:
    for path, key in context.keys(r"Microsoft\Windows NT\CurrentVersion\ProfileList\*"):
        name = key.name()
        image = context.text(key, "ProfileImagePath")
        loaded = halves(context, key, "LocalProfileLoadTime", "ProfileLoadTime")
        unloaded = halves(context, key, "LocalProfileUnloadTime", "ProfileUnloadTime")
        user = image.rstrip("\\").rsplit("\\", 1)[-1] if image else None
        yield Profile(path, name[:-4] if name.lower().endswith(".bak") else name, user, image,
                      context.number(key, "Flags"), context.number(key, "State"), context.number(key, "RefCount"),
                      name.lower().endswith(".bak"), from_filetime(loaded), loaded, from_filetime(unloaded),
                      unloaded, context.last_written(key))


class Account(NamedTuple):
    key: str
    rid: Optional[int]
    user_name: Optional[str]
    full_name: Optional[str]
    comment: Optional[str]
    account_flags: Optional[int]
    account_flag_names: List[str]
    disabled: Optional[bool]
    logon_count: Optional[int]
    bad_password_count: Optional[int]
    last_logon: Optional[datetime.datetime]
    last_logon_raw: Optional[int]
    last_failed_logon: Optional[datetime.datetime]
    last_failed_logon_raw: Optional[int]
    password_last_set: Optional[datetime.datetime]
    password_last_set_raw: Optional[int]
    account_expires: Optional[datetime.datetime]  # None for never (0 or 0x7FFFFFFFFFFFFFFF)
    account_expires_raw: Optional[int]
    password_hint: Optional[str]
    names_key_written: Optional[datetime.datetime]  # Users\Names\<name>: commonly when the account was made


@report(name="sam_accounts", title="Local accounts", category="users", hive_types=["SAM"],
        keys=[r"SAM\Domains\Account\Users\*", r"SAM\Domains\Account\Users\Names\*"], record=Account,
        time_field="last_logon")
def sam_accounts(context: Context) -> Iterator[Account]:
    names = {}
    for _, key in context.keys(r"SAM\Domains\Account\Users\Names\*"):
        names[key.name().lower()] = key.last_written()
    for path, key in context.keys(r"SAM\Domains\Account\Users\*"):
        if key.name().lower() == "names":
            continue
        f_data, v_data = context.raw(key, "F"), context.raw(key, "V")
        if f_data is None and v_data is None:
            continue
        f = None if f_data is None else tarnu.decode.sam_f(f_data)
        v = None if v_data is None else tarnu.decode.sam_v(v_data)
        if f is not None:
            decoder_notes(context, path, "F", f.notes)
        if v is not None:
            decoder_notes(context, path, "V", v.notes)
        rid = f.rid if f is not None and f.rid is not None else int(key.name(), 16) if _is_hex(key.name()) else None
        flags = None if f is None else f.account_control
        user = None if v is None else v.user_name
        yield Account(path, rid, user, None if v is None else v.full_name, None if v is None else v.comment,
                      flags, [] if f is None else f.account_control_names,
                      None if flags is None else bool(flags & 0x1),
                      None if f is None else f.logon_count, None if f is None else f.bad_password_count,
                      time_of(f and f.last_logon), raw_of(f and f.last_logon),
                      time_of(f and f.last_failed_logon), raw_of(f and f.last_failed_logon),
                      time_of(f and f.password_last_set), raw_of(f and f.password_last_set),
                      time_of(f and f.account_expires), raw_of(f and f.account_expires),
                      _hint(context, key), names.get((user or "").lower()))


def _is_hex(text: str) -> bool:
    return bool(text) and all(c in "0123456789abcdefABCDEF" for c in text)


def _hint(context: Context, key: tarnu.RegistryKey) -> Optional[str]:
    data = context.raw(key, "UserPasswordHint")
    return None if not data else data[:len(data) // 2 * 2].decode("utf-16-le", "replace").split("\0", 1)[0]


class DomainSid(NamedTuple):
    key: str
    domain: str  # "account domain" (the machine), "primary domain" (joined), "DNS domain", "machine"
    name: Optional[str]
    sid: Optional[str]
    next_rid: Optional[int]  # SAM: the RID the next account will get


def _counted_name(data: Optional[bytes]) -> Optional[str]:
    """A name stored as u16 length, u16 maximum, u32 offset, then UTF-16 (Policy\\PolAcDmN and its kin)."""
    if data is None or len(data) < 8:
        return None
    length = int.from_bytes(data[0:2], "little")
    offset = int.from_bytes(data[4:8], "little")
    text = data[offset:offset + length] if 8 <= offset <= len(data) else b""
    return text[:len(text) // 2 * 2].decode("utf-16-le", "replace").split("\0", 1)[0] or None


@report(name="sids", title="Machine and domain SIDs", category="users", hive_types=["SECURITY", "SAM"],
        keys=[r"Policy\PolAcDmS", r"Policy\PolAcDmN", r"Policy\PolPrDmS", r"Policy\PolPrDmN", r"Policy\PolDnDDN",
              r"SAM\Domains\Account"], record=DomainSid)
def sids(context: Context) -> Iterator[DomainSid]:
    if context.hive_type == "SAM":
        account = context.key(r"SAM\Domains\Account")
        if account is None:
            return
        v, f = context.raw(account, "V"), context.raw(account, "F")
        next_rid = int.from_bytes(f[0x48:0x4C], "little") if f is not None and len(f) >= 0x4C else None
        yield DomainSid(context.path(account), "machine", None,
                        None if v is None else tarnu.decode.machine_sid(v), next_rid)
        return
    for domain, sid_key, name_key in (("account domain", "PolAcDmS", "PolAcDmN"),
                                      ("primary domain", "PolPrDmS", "PolPrDmN"), ("DNS domain", None, "PolDnDDN")):
        sid_at = None if sid_key is None else context.key("Policy\\" + sid_key)
        name_at = context.key("Policy\\" + name_key)
        if sid_at is None and name_at is None:
            continue
        data = None if sid_at is None else context.raw(sid_at, "(default)")
        sid = tarnu.decode.sid(data) if data else None
        name = None if name_at is None else _counted_name(context.raw(name_at, "(default)"))
        yield DomainSid(context.path(sid_at or name_at), domain, name, sid, None)  # type: ignore[arg-type]
