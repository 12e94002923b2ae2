"""tarnu.decode on bytes built here: one table per family of decoders, each with its layouts and its malformed
forms (cut short, counts that lie, bad signatures), and checks against the real samples where they hold the data."""

import datetime
import struct
from typing import Any, Callable, List, Optional, Sequence, Tuple

import pytest

import tarnu
from tarnu import databuilder as db
from tarnu import decode
from tarnu.hivebuilder import Key, build_hive

from conftest import OpenImage, sample_path

UTC = datetime.timezone.utc
T2012 = db.filetime(1333490818)          # 2012-04-03 22:06:58 UTC
WHEN_2012 = datetime.datetime(2012, 4, 3, 22, 6, 58, tzinfo=UTC)


def u16(*values: int) -> bytes:
    return struct.pack("<%dH" % len(values), *values)


def u32(*values: int) -> bytes:
    return struct.pack("<%dI" % len(values), *values)


def u64(*values: int) -> bytes:
    return struct.pack("<%dQ" % len(values), *values)


def utf16(text: str) -> bytes:
    return text.encode("utf-16-le")


def expected_notes(notes: Sequence[decode.Note], expected: Sequence[str]) -> None:
    """Each text of `expected` appears in the note of the same place (expected or found); a last "..." allows more
    notes after those."""
    if expected and expected[-1] == "...":
        expected = expected[:-1]
        notes = notes[:len(expected)]
    assert len(notes) == len(expected), notes
    for note, text in zip(notes, expected):
        assert text in note.expected + " | " + note.found, (note, text)


# ---- times, GUIDs, SIDs -------------------------------------------------------------------------------------------

@pytest.mark.parametrize("function, data, offset, state, value", [
    (decode.filetime, u64(T2012), 0, "set", WHEN_2012),
    (decode.filetime, b"xx" + u64(T2012), 2, "set", WHEN_2012),
    (decode.filetime, u64(0), 0, "not set", None),
    (decode.filetime, u64(0x7FFFFFFFFFFFFFFF), 0, "never", None),
    (decode.filetime, u64(2650467744000000000), 0, "invalid", None),                 # 10000-01-01
    (decode.fat_time, u32(db.fat(2012, 4, 3, 22, 6, 58)), 0, "set", WHEN_2012),
    (decode.fat_time, u32(db.fat(2012, 2, 29)), 0, "set", datetime.datetime(2012, 2, 29, tzinfo=UTC)),
    (decode.fat_time, u32(db.fat(2013, 2, 29)), 0, "invalid", None),
    (decode.fat_time, u32(db.fat(2012, 13, 1)), 0, "invalid", None),
    (decode.fat_time, u32(db.fat(2012, 0, 1)), 0, "invalid", None),
    (decode.fat_time, u32(0), 0, "not set", None),
    (decode.unix_time, u32(1333490818), 0, "set", WHEN_2012),
    (lambda d, o: decode.unix_time(d, o, 8), u64(1333490818), 0, "set", WHEN_2012),
    (lambda d, o: decode.unix_time(d, o, 8), u64(2 ** 63), 0, "invalid", None),
])
def test_instants(function: Callable[[bytes, int], Optional[decode.Time]], data: bytes, offset: int, state: str,
                  value: Optional[datetime.datetime]) -> None:
    time = function(data, offset)
    assert time is not None and time.state == state and time.value == value
    assert time.raw == int.from_bytes(data[offset:], "little")
    assert function(data[:-1], offset) is None


@pytest.mark.parametrize("function, words, state, fields", [
    (decode.systemtime, (2012, 4, 2, 3, 22, 6, 58, 125), "set", (2012, 4, 2, 3, 22, 6, 58, 125)),
    (decode.time_fields, (2012, 4, 3, 22, 6, 58, 125, 2), "set", (2012, 4, 2, 3, 22, 6, 58, 125)),
    # November, week 1, 02:00, Sunday: the TimeZoneInformation rule as Windows 7 stores it
    (decode.time_fields, (0, 11, 1, 2, 0, 0, 0, 0), "yearly", (0, 11, 0, 1, 2, 0, 0, 0)),
    (decode.systemtime, (0,) * 8, "not set", (0,) * 8),
    (decode.systemtime, (2012, 13, 0, 1, 0, 0, 0, 0), "invalid", (2012, 13, 0, 1, 0, 0, 0, 0)),
    (decode.systemtime, (2012, 4, 0, 31, 0, 0, 0, 0), "invalid", (2012, 4, 0, 31, 0, 0, 0, 0)),
    (decode.systemtime, (2012, 4, 9, 1, 0, 0, 0, 0), "invalid", (2012, 4, 9, 1, 0, 0, 0, 0)),
])
def test_calendar_times(function: Callable[[bytes], Optional[decode.CalendarTime]], words: Tuple[int, ...],
                        state: str, fields: Tuple[int, ...]) -> None:
    time = function(u16(*words))
    assert time is not None and time.state == state and time.raw == list(words)
    assert (time.year, time.month, time.weekday, time.day, time.hour, time.minute, time.second,
            time.milliseconds) == fields
    assert (time.value is not None) == (state == "set")
    if time.value is not None:
        assert time.value == datetime.datetime(2012, 4, 3, 22, 6, 58, 125000) and time.value.tzinfo is None
    assert function(u16(*words)[:15]) is None


@pytest.mark.parametrize("data, text, name", [
    (db.sid("S-1-5-32-544"), "S-1-5-32-544", "Administrators"),
    (db.sid("S-1-5-18") + b"pad", "S-1-5-18", "SYSTEM"),
    (db.sid("S-1-5-90-0-3"), "S-1-5-90-0-3", "DWM-3"),
    (db.sid("S-1-5-21-1-2-3-1001"), "S-1-5-21-1-2-3-1001", None),
    (bytes([1, 1, 0, 1, 0, 0, 0, 0]) + u32(7), "S-1-0x000100000000-7", None),
    (db.sid("S-1-5-32-544")[:-1], None, None),                    # cut short
    (b"\x02" + db.sid("S-1-5-18")[1:], None, None),                # revision 2
    (bytes([1, 16]) + bytes(6 + 64), None, None),                 # 16 sub-authorities
])
def test_sids(data: bytes, text: Optional[str], name: Optional[str]) -> None:
    assert decode.sid(data) == text
    assert (decode.sid_name(text) if text else None) == name


def test_guids() -> None:
    data = bytes.fromhex("3accbfb42cdb4c42b0297fe99a87c641")
    assert decode.guid(data) == "{B4BFCC3A-DB2C-424C-B029-7FE99A87C641}" == decode.guid(b"x" + data, 1)
    assert decode.guid(data[:15]) is None
    assert decode.guid_name("{b4bfcc3a-db2c-424c-b029-7fe99a87c641}") == "Desktop"
    assert decode.guid_name("{1AC14E77-02E7-4E5D-B744-2EB1AE5198B7}") == "System32"
    assert decode.guid_name("{00000000-0000-0000-0000-000000000000}") is None


# ---- security descriptors -----------------------------------------------------------------------------------------

KEY_DACL = db.acl([db.ace(0, 0, 0x20019, "S-1-5-32-545"), db.ace(0, 0x0A, 0x80000000, "S-1-5-32-545"),
                   db.ace(0, 0x10, 0xF003F, "S-1-5-21-1-2-3-1001"), db.ace(1, 0x03, 0x20006, "S-1-1-0")])
OBJECT = "{B4BFCC3A-DB2C-424C-B029-7FE99A87C641}"


@pytest.mark.parametrize("data, sddl, standard, notes", [
    (db.security_descriptor(owner="S-1-5-32-544", group="S-1-5-18", dacl=KEY_DACL),
     "O:BAG:SYD:(A;;KR;;;BU)(A;CIIO;GR;;;BU)(A;ID;KA;;;S-1-5-21-1-2-3-1001)(D;OICI;KW;;;WD)", True, []),
    (db.security_descriptor(owner="S-1-5-18", dacl=db.acl([]), control=0x9C14 | 0x0200),
     "O:SYD:PAIS:ARAINO_ACCESS_CONTROL", True, []),
    (db.security_descriptor(owner="S-1-5-18", control=0x9C14), "O:SYD:PAINO_ACCESS_CONTROLS:AINO_ACCESS_CONTROL",
     True, []),
    (db.security_descriptor(dacl=db.acl([db.ace(0, 0, 0x1F01FF, "S-1-3-0"), db.ace(0, 0, 0x11, "S-1-3-4"),
                                         db.ace(0, 0, 0xC0000000, "S-1-15-2-1")])),
     "D:(A;;0x1f01ff;;;CO)(A;;CCRP;;;OW)(A;;GWGR;;;AC)", True, []),
    (db.security_descriptor(dacl=db.acl([db.ace(5, 0, 0x100, "S-1-1-0", object_type=OBJECT),
                                         db.ace(7, 0, 0x10, "S-1-1-0", inherited_object_type=OBJECT)], revision=4)),
     "D:(OA;;CR;b4bfcc3a-db2c-424c-b029-7fe99a87c641;;WD)(OU;;RP;;b4bfcc3a-db2c-424c-b029-7fe99a87c641;WD)", True,
     []),
    (db.security_descriptor(sacl=db.acl([db.ace(0x11, 0, 1, "S-1-16-12288"), db.ace(2, 0xC0, 0, "S-1-5-11"),
                                         db.ace(0x15, 0x40, 0, "S-1-1-0")])),
     "S:(ML;;CC;;;HI)(AU;SAFA;;;;AU)(FL;TP;;;;WD)", True, []),
    (db.security_descriptor(dacl=db.acl([db.ace(0x0C, 0, 1, "S-1-1-0", data=b"artx"), db.ace(0x0E, 0, 1, "S-1-1-0")])),
     "D:(0x0C;;CC;;;WD)(0x0E;;;;;)", False, []),
    # malformed: cut short, a count that lies, an ACE size under 8, an owner past the end, revision 2
    (db.security_descriptor(owner="S-1-5-18")[:19], "", True, ["20 bytes"]),
    (db.security_descriptor(dacl=db.acl([db.ace(0, 0, 1, "S-1-1-0")], count=5)), "D:(A;;CC;;;WD)", True, ["ACE 1"]),
    (db.security_descriptor(dacl=db.acl([db.ace(0, 0, 1, "S-1-1-0", size=4)])), "D:", True, ["ACE size"]),
    (db.security_descriptor(dacl=db.acl([db.ace(0, 0, 1, "S-1-1-0")], size=400)), "D:(A;;CC;;;WD)", True,
     ["an ACL of 400 bytes"]),
    (db.security_descriptor(owner="S-1-5-18", group="S-1-5-18")[:-3], "O:SY", True, ["group SID"]),
    (db.security_descriptor(owner="S-1-5-18", revision=2), "", True, ["revision 1"]),
])
def test_security_descriptors(data: bytes, sddl: str, standard: bool, notes: List[str]) -> None:
    sd = decode.security_descriptor(data)
    assert (sd.sddl, sd.sddl_standard) == (sddl, standard)
    expected_notes(sd.notes, notes)


def test_security_descriptor_fields() -> None:
    sd = decode.security_descriptor(db.security_descriptor(
        owner="S-1-5-32-544", dacl=db.acl([db.ace(0x0B, 2, 4, "S-1-1-0", object_type=OBJECT, data=b"artx")]),
        sacl=db.acl([db.ace(0x04, 0, 1, "S-1-1-0")])))
    assert (sd.owner, sd.group, sd.control) == ("S-1-5-32-544", None, 0x8014)
    assert sd.dacl is not None and sd.sacl is not None
    (ace,) = sd.dacl.aces
    assert (ace.type_name, ace.flags, ace.mask, ace.object_flags, ace.object_type, ace.sid, ace.application_data) == (
        "ZA", 2, 4, 1, OBJECT, "S-1-1-0", b"artx")
    (raw,) = sd.sacl.aces
    assert raw.type_name is None and raw.mask is None and raw.body == u32(1) + db.sid("S-1-1-0")


def test_key_security(open_image: OpenImage) -> None:
    descriptor = db.security_descriptor(owner="S-1-5-32-544", group="S-1-5-18", dacl=KEY_DACL)
    hive = open_image(build_hive(Key("root", [Key("plain")], security=descriptor)))
    assert hive.root_key().security() == decode.security_descriptor(descriptor)
    assert hive.key("plain").security() is None or hive.key("plain").security_descriptor() is not None


# ---- REG_LINK, resource lists, MRU lists --------------------------------------------------------------------------

@pytest.mark.parametrize("text, target, short_path", [
    ("\\REGISTRY\\MACHINE\\SYSTEM\\ControlSet001", "\\REGISTRY\\MACHINE\\SYSTEM\\ControlSet001",
     "HKLM\\SYSTEM\\ControlSet001"),
    ("\\Registry\\User\\S-1-5-18\0junk", "\\Registry\\User\\S-1-5-18", "HKU\\S-1-5-18"),
    ("\\REGISTRY\\MACHINEX", "\\REGISTRY\\MACHINEX", None),
    ("\\Device\\x\ud800y", "\\Device\\x\ufffdy", None),
])
def test_reg_link(text: str, target: str, short_path: Optional[str]) -> None:
    data = text.encode("utf-16-le", "surrogatepass") + b"\0"   # a trailing odd byte is dropped
    assert decode.reg_link(data) == decode.RegLink(target, short_path)


def partial(kind: int, flags: int, union: bytes, size: int) -> bytes:
    return bytes([kind, 1]) + u16(flags) + union.ljust(size - 4, b"\0")


def full(partials: List[bytes], interface: int = 1, count: Optional[int] = None) -> bytes:
    return u32(interface, 0) + u16(1, 1) + u32(len(partials) if count is None else count) + b"".join(partials)


@pytest.mark.parametrize("value_type, data, size, fields, notes", [
    (8, u32(1) + full([partial(1, 1, u64(0x3F8) + u32(8), 16)]), 16, {"start": 0x3F8, "length": 8}, []),
    (8, u32(1) + full([partial(2, 1, u16(5, 0) + u32(9) + u64(0xFF), 20)]), 20,
     {"level": 5, "group": 0, "vector": 9, "affinity": 0xFF}, []),
    (9, full([partial(7, 0x400, u64(1 << 32) + u32(3), 20)]), 20, {"start": 1 << 32, "length": 3 << 16}, []),
    (9, full([partial(5, 0, u32(3), 16) + b"abc"]), 16, {"data_size": 3, "data": b"abc"}, []),
    (9, full([partial(4, 0, u32(2, 0x60), 16)]) + b"x", 16, {"channel": 2, "port": 0x60},
     ["add up"]),
    (8, u32(1) + full([partial(3, 0, u64(1) + u32(2), 16)], count=40), 16, {"start": 1, "length": 2},
     ["add up", "room for 40"]),
    # Device-specific data pushes the next descriptor past the end, though the count fits the data without it.
    (9, full([partial(5, 0, u32(12), 16) + b"d" * 12, partial(1, 0, u64(1) + u32(2), 16)]).rstrip(b"\0")[:-4], 16,
     {"data_size": 12, "data": b"d" * 12}, ["add up", "partial descriptor"]),
])
def test_resource_lists(value_type: int, data: bytes, size: int, fields: Any, notes: List[str]) -> None:
    result = decode.resource_list(data, value_type)
    assert isinstance(result, decode.ResourceList)
    assert result.partial_size == size and result.lists[0].interface_name == "Isa"
    assert result.lists[0].partials[0].fields == fields
    expected_notes(result.notes, notes)


def test_requirements_list() -> None:
    port = bytes([1, 1, 1, 0]) + u16(1, 0) + u32(8, 1) + u64(0x100, 0x3FF)
    irq = bytes([8, 2, 1, 0]) + u16(1, 0) + u32(3, 15) + u16(1, 0) + u32(0) + u64(1)
    data = u32(0, 5, 0, 0, 0, 0, 0, 3) + u16(1, 1) + u32(2) + port + irq + u16(1, 1) + u32(9)
    result = decode.resource_list(data, 10)
    assert isinstance(result, decode.RequirementsList)
    assert (result.interface_name, result.alternative_count, len(result.alternatives)) == ("PCIBus", 3, 2)
    first, second = result.alternatives
    assert [r.fields for r in first.descriptors] == [
        {"length": 8, "alignment": 1, "minimum": 0x100, "maximum": 0x3FF},
        {"minimum": 3, "maximum": 15, "affinity_policy": 1, "group": 0, "priority_policy": 0,
         "targeted_processors": 1}]
    assert second.descriptors == []
    expected_notes(result.notes, ["room for 9"])
    with pytest.raises(ValueError):
        decode.resource_list(data, 3)


@pytest.mark.parametrize("function, data, names, ranked, unranked, notes", [
    (decode.mru_list, "cab", None, ["c", "a", "b"], [], []),
    (decode.mru_list, "cAbc?", ["a", "b", "c", "d", "MRUList"], ["c", "a", "b"], ["d"], ["c again", "0x3f"]),
    (decode.mru_list, "zb", ["b"], ["b"], [], ["named z"]),
    (decode.mru_list_ex, u32(2, 0, 1, 0xFFFFFFFF, 7), None, ["2", "0", "1"], [], []),
    (decode.mru_list_ex, u32(2, 5, 2, 0xFFFFFFFF), ["0", "2", "MRUListEx", "NodeSlot"], ["2"], ["0"],
     ["named 5", "2 again"]),
    (decode.mru_list_ex, u32(1) + b"\x00", None, ["1"], [], ["end marker"]),
])
def test_mru_lists(function: Any, data: Any, names: Optional[List[str]], ranked: List[str], unranked: List[str],
                   notes: List[str]) -> None:
    order = function(data, names)
    assert (order.ranked, order.unranked) == (ranked, unranked)
    expected_notes(order.notes, notes)


# ---- shell items --------------------------------------------------------------------------------------------------

MY_COMPUTER = "{20D04FE0-3AEA-1069-A2D8-08002B30309D}"


def delegate(short: str, long: str) -> bytes:
    entry = db.file_entry(short)
    block = db.beef0004(long)
    body = b"\0" + u16(0) + b"CFSF" + entry + db.guid("{5E591A74-DF96-48D3-8D67-1733BCEE28BA}") \
        + db.guid("{DFFACDC5-679F-4156-8947-C5C76BC0B67F}") + block + u16(0)
    return db.item(0x74, body)


@pytest.mark.parametrize("items, path, kinds, notes", [
    ([db.root_folder(MY_COMPUTER), db.volume("C:\\"), db.file_entry("USERS", long_name="Users"),
      db.file_entry("NOTES~1.TXT", long_name="notes.txt", directory=False, version=3)],
     "My Computer\\C:\\Users\\notes.txt", ["root folder", "volume", "file entry", "file entry"], []),
    ([db.root_folder(MY_COMPUTER), db.file_entry("Ünï", unicode=True, version=8)], "My Computer\\Ünï",
     ["root folder", "file entry"], []),
    ([db.item(0x2E, b"\x80" + db.guid("{088E3905-0323-4B02-9826-5D99428E115F}")), db.file_entry("a.txt")],
     "Downloads\\a.txt", ["volume", "file entry"], []),
    ([db.item(0xC3, b"\x01\xc0\\\\wsl$\\Ubuntu\0about\0note\0"), db.file_entry("home")], "\\\\wsl$\\Ubuntu\\home",
     ["network location", "file entry"], []),
    ([db.item(0x71, bytes(11) + db.guid("{21EC2020-3AEA-1069-A2DD-08002B30309D}"))], "All Control Panel Items",
     ["control panel item"], []),
    ([db.item(0x01, b"\0" + u32(0x39DE2184, 5))], "System and Security", ["control panel category"], []),
    ([db.item(0x1F, b"\0" + u16(0) + u32(0xF5A6B710) + u16(0) + b"/E:\\".ljust(20, b"\0"))], "E:\\",
     ["removable drive"], []),
    ([db.item(0x00, b"\0" + u16(24) + u32(0x23FEBBEE) + u16(0, 16)
              + db.guid("{374DE290-123F-4565-9164-39C4925E467B}"))],
     "Downloads", ["users property view"], []),
    ([delegate("JOHN", "John")], "John", ["delegate"], []),
    ([db.item(0x61, b"\x80" + u16(0) + utf16("ftp://host/dir\0"))], "ftp://host/dir", ["URI"], []),
    ([db.item(0x99, b"???"), db.file_entry("x")], "<unknown 0x99>\\x", ["unknown", "file entry"], []),
    ([db.file_entry("x"), u16(2)], "x", ["file entry"], ["item size"]),
    ([db.file_entry("x"), u16(400) + b"\x31"], "x", ["file entry"], ["item size"]),
    ([db.item(0x31, b"\0" + u32(0))], "<unknown 0x31>", ["file entry"], ["14 bytes"]),
])
def test_shell_items(items: List[bytes], path: str, kinds: List[str], notes: List[str]) -> None:
    result = decode.shell_items(db.item_list(items))
    assert result.path == path and [item.kind for item in result.items] == kinds
    expected_notes(result.notes, notes)


def test_file_entry_fields() -> None:
    modified = db.fat(2011, 4, 1, 4, 52, 38)
    data = db.item_list([db.file_entry("REPORT~1.DOC", long_name="report.docx", directory=False, size=1234,
                                       modified=modified, attributes=0x20, version=9)])
    (item,) = decode.shell_items(data).items
    assert item.name == "report.docx"
    assert (item.fields["file_size"], item.fields["attributes"], item.fields["primary_name"]) == (1234, 0x20,
                                                                                                    "REPORT~1.DOC")
    time = item.fields["modified"]
    assert isinstance(time, decode.Time) and time.value == datetime.datetime(2011, 4, 1, 4, 52, 38, tzinfo=UTC)
    (block,) = item.extension_blocks
    assert (block.signature, block.version, block.fields["long_name"]) == (0xBEEF0004, 9, "report.docx")


# ---- AppCompatCache -----------------------------------------------------------------------------------------------

ENTRIES = [("\\??\\C:\\Windows\\a.exe", T2012, 2), ("\\??\\C:\\b.exe", 0, 0)]


def xp_cache() -> bytes:
    header = u32(0xDEADBEEF, 2, 2).ljust(400, b"\0")
    slots = [utf16(p).ljust(528, b"\0") + u64(t, 99, T2012) for p, t, _ in ENTRIES]
    return header + slots[0] + bytes(552) + slots[1]


def counted_cache(signature: int, wide: bool, tails: List[bytes], count: Optional[int] = None) -> bytes:
    size = 32 if wide else 24
    at = 8 + size * len(ENTRIES)
    body, strings = b"", b""
    for (path, time, _), tail in zip(ENTRIES, tails):
        text = utf16(path)
        where = at + len(strings)
        head = u16(len(text), len(text) + 2) + (u32(0) + u64(where) if wide else u32(where))
        body += head + u64(time) + tail
        strings += text + b"\0\0"
    return u32(signature, len(ENTRIES) if count is None else count) + body + strings


@pytest.mark.parametrize("data, layout, executed, sizes, notes", [
    (xp_cache(), "XP", [None, None], [99, 99], []),
    (counted_cache(0xBADC0FFE, False, [u64(4096), u64(10)]), "2003 32-bit", [None, None], [4096, 10], []),
    (counted_cache(0xBADC0FFE, True, [u32(2, 0), u32(0, 1)]), "Vista 64-bit", [True, False], [None, None], []),
    (db.shim_cache_7(ENTRIES), "7 32-bit", [True, False], [None, None], []),
    (db.shim_cache_7(ENTRIES, wide=True), "7 64-bit", [True, False], [None, None], []),
    (db.shim_cache_7(ENTRIES, count=1000), "7 32-bit", [True, False], [None, None], ["room for 1000", "..."]),
    (db.shim_cache_chained([(p, t) for p, t, _ in ENTRIES], "8.0"), "8.0", [None, None], [None, None], []),
    (db.shim_cache_chained([(p, t) for p, t, _ in ENTRIES], "8.1"), "8.1", [None, None], [None, None], []),
    (db.shim_cache_chained([(p, t) for p, t, _ in ENTRIES], "10"), "10", [None, None], [None, None], []),
    (db.shim_cache_chained([(p, t) for p, t, _ in ENTRIES], "10")[:-3], "10", [None], [None],
     ["an entry of at most"]),
    (db.shim_cache_chained([(p, t) for p, t, _ in ENTRIES], "10").replace(b"10ts", b"xxts", 2).replace(
        b"xxts", b"10ts", 1), "10", [None], [None], ["signature"]),
])
def test_appcompatcache(data: bytes, layout: str, executed: List[Optional[bool]], sizes: List[Optional[int]],
                        notes: List[str]) -> None:
    cache = decode.appcompatcache(data)
    assert cache.layout == layout
    # Entries past those built are what a lying count reads from the strings after them.
    assert [e.executed for e in cache.entries][:len(executed)] == executed
    assert [e.file_size for e in cache.entries][:len(sizes)] == sizes
    assert [e.path for e in cache.entries][:len(executed)] == [p for p, _, _ in ENTRIES][:len(executed)]
    assert cache.entries[0].modified == decode.Time(T2012, "set", WHEN_2012)
    expected_notes(cache.notes, notes)


def test_appcompatcache_entries_sharing_one_path() -> None:
    # Four entries naming one long path: together they may copy no more than the value holds.
    path = utf16("x" * 500)
    records = b"".join(u16(len(path), len(path) + 2) + u32(256) + u64(T2012) + u32(2, 0, 0, 0) for _ in range(4))
    cache = decode.appcompatcache(u32(0xBADC0FEE, 4).ljust(128, b"\0") + records + path)
    assert [len(e.path) for e in cache.entries] == [500, 0, 0, 0]
    expected_notes(cache.notes, ["shared between entries"])


@pytest.mark.parametrize("data", [b"", b"\x01\x02", bytes(range(40))])
def test_appcompatcache_unknown_layout(data: bytes) -> None:
    cache = decode.appcompatcache(data)
    assert (cache.layout, cache.entries, cache.head) == ("unknown", [], " ".join("%02x" % b for b in data[:16]))
    assert len(cache.notes) == 1


# ---- fixed records ------------------------------------------------------------------------------------------------

@pytest.mark.parametrize("data, version, expected, notes", [
    (db.userassist5(14, 21, 420000, T2012), None, (5, 14, 21, 420000, WHEN_2012), []),
    (u32(0, 6) + u64(T2012), None, (3, 6, None, None, WHEN_2012), []),
    (db.userassist5(14, 21, 420000, T2012)[:30], 5, (5, 14, 21, 420000, None), ["72 bytes"]),
    (bytes(20), None, (0, None, None, None, None), ["version 3"]),
])
def test_userassist(data: bytes, version: Optional[int], expected: Tuple[Any, ...], notes: List[str]) -> None:
    e = decode.userassist_entry(data, version)
    assert (e.version, e.run_count, e.focus_count, e.focus_time_ms, e.last_run and e.last_run.value) == expected
    expected_notes(e.notes, notes)
    assert decode.rot13("HRZR_EHACNGU:P:\\Jvaqbjf") == "UEME_RUNPATH:C:\\Windows"


@pytest.mark.parametrize("function, data, expected", [
    (decode.bam_entry, u64(T2012, 0) + u32(1, 2), (WHEN_2012, 1, 2, b"")),
    (decode.bam_entry, u64(T2012) + b"rest", (WHEN_2012, None, None, b"rest")),
    (decode.startup_approved, u32(3) + u64(T2012), (3, False, WHEN_2012)),
    (decode.dynamic_info, u32(3) + u64(T2012, 0) + u32(1, 0x80070002) + u64(T2012), (3, WHEN_2012, 0x80070002,
                                                                                     WHEN_2012)),
    (decode.dynamic_info, u32(3) + u64(T2012, 0) + u32(1, 0), (3, WHEN_2012, 0, None)),
])
def test_fixed_records(function: Any, data: bytes, expected: Tuple[Any, ...]) -> None:
    record = function(data)
    fields: Tuple[Any, ...]
    if isinstance(record, decode.BamEntry):
        fields = (record.last_run and record.last_run.value, record.packaged, record.version, record.rest)
    elif isinstance(record, decode.StartupApproved):
        fields = (record.state, record.enabled, record.changed and record.changed.value)
    else:
        fields = (record.version, record.created.value, record.last_result,
                  record.last_completed and record.last_completed.value)
    assert fields == expected and record.notes == []
    assert function(data[:3]).notes


def test_sam_records() -> None:
    f = bytearray(80)
    struct.pack_into("<HHIQ", f, 0, 2, 1, 0, T2012)
    struct.pack_into("<QQIIIHHHH", f, 32, 0x7FFFFFFFFFFFFFFF, 0, 500, 513, 0x211, 1, 0, 0, 6)
    record = decode.sam_f(bytes(f))
    assert (record.rid, record.logon_count, record.account_control_names) == (500, 6, [
        "disabled", "normal account", "password never expires"])
    assert record.last_logon and record.last_logon.value == WHEN_2012
    assert record.account_expires and record.account_expires.state == "never"
    assert decode.sam_f(bytes(f[:50])).rid is None

    descriptor = db.security_descriptor(owner="S-1-5-32-544")
    name, comment = utf16("Administrator"), utf16("Built-in account")
    parts = [(0, len(descriptor)), (len(descriptor), len(name)), (0, 0),
             (len(descriptor) + len(name), len(comment))] + [(0, 0)] * 13
    v = b"".join(u32(offset, length, 0) for offset, length in parts) + descriptor + name + comment
    record_v = decode.sam_v(v)
    assert (record_v.user_name, record_v.full_name, record_v.comment) == ("Administrator", "", "Built-in account")
    assert record_v.security and record_v.security.sddl == "O:BA" and record_v.notes == []
    cut = decode.sam_v(v[:-4])
    assert cut.comment == "" and len(cut.notes) == 1
    assert decode.machine_sid(b"\0" * 9 + db.sid("S-1-5-21-10-20-30") + b"\0") == "S-1-5-21-10-20-30"
    assert decode.machine_sid(bytes(30)) is None


def test_time_zones_and_mounted_devices() -> None:
    tzi = decode.tzi(struct.pack("<iii", 300, 0, -60) + u16(0, 11, 0, 1, 2, 0, 0, 0) + u16(0, 3, 0, 2, 2, 0, 0, 0))
    assert (tzi.bias, tzi.daylight_bias, tzi.notes) == (300, -60, [])
    assert tzi.standard_date and (tzi.standard_date.month, tzi.standard_date.day, tzi.standard_date.state) == (
        11, 1, "yearly")
    assert len(decode.tzi(bytes(20)).notes) == 1
    assert decode.mounted_device(u32(0x1234) + u64(1048576)) == decode.MountedDevice("mbr", 0x1234, 1048576, None,
                                                                                      None)
    assert decode.mounted_device(b"DMIO:ID:" + db.guid(OBJECT)).partition_guid == OBJECT
    assert decode.mounted_device(utf16("\\??\\USBSTOR#Disk")).path == "\\??\\USBSTOR#Disk"


# ---- the real samples ---------------------------------------------------------------------------------------------

def test_sample_appcompatcache(samples_dir: Any) -> None:
    hive = tarnu.Hive.open(sample_path("SYSTEM.xz", samples_dir))
    for control_set in ("ControlSet001", "ControlSet002"):
        key = hive.key(control_set + "\\Control\\Session Manager\\AppCompatCache")
        cache = decode.appcompatcache(key.value("AppCompatCache").raw_data())
        assert (cache.layout, cache.header_count, len(cache.entries), cache.notes) == ("7 32-bit", 330, 330, [])
        assert sum(1 for e in cache.entries if e.executed) == 238
        assert all(e.path.startswith("\\??\\") for e in cache.entries)


def test_sample_security_descriptors(samples_dir: Any) -> None:
    hive = tarnu.Hive.open(sample_path("SYSTEM.xz", samples_dir))
    for _, key in hive.walk():
        sd = key.security()
        assert sd is not None and sd.notes == [] and sd.sddl_standard and sd.sddl.startswith("O:")


def test_sample_userassist(samples_dir: Any) -> None:
    hive = tarnu.Hive.open(sample_path("NTUSER.DAT.xz", samples_dir))
    root = hive.key("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist")
    entries = [(decode.rot13(v.name()), decode.userassist_entry(v.raw_data(), 5))
               for guid in root.subkeys() for v in guid.subkey("Count").values()]
    assert len([name for name, _ in entries if name != "UEME_CTLSESSION"]) == 31
    welcome = dict(entries)["{0139D44E-6AFE-49F2-8690-3DAFCAE6FFB8}\\Accessories\\Welcome Center.lnk"]
    assert welcome.run_count == 14 and welcome.last_run is not None
    assert welcome.last_run.value and welcome.last_run.value.replace(microsecond=0) == WHEN_2012
