"""Hive types told from the root key's children, with the file name and root name as tie-breakers, and the paths
analysts paste (HKLM\\SYSTEM\\..., HKCU\\..., HKCR\\...) looked up in the hive of the right type."""

from __future__ import annotations

import pathlib
from typing import List, Optional

import pytest

import tarnu
from conftest import OpenImage, TarnuCommand, WriteFile, sample_path, system_keys, typed_hive
from tarnu import hivebuilder as hb


def keys(*names: str) -> List[hb.Key]:
    return [hb.Key(name) for name in names]


USER = keys("AppEvents", "Console", "Control Panel", "Environment", "Software")

TYPES = [
    (system_keys(), "", "ROOT", "SYSTEM", None),
    (keys("Select", "ControlSet002", "MountedDevices"), "", "ROOT", "SYSTEM", None),
    (keys("Microsoft", "Classes", "Policies", "Clients"), "", "ROOT", "SOFTWARE", None),
    (keys("SAM"), "", "ROOT", "SAM", None),
    (keys("SAM", "Other"), "", "ROOT", "unknown", None),
    (keys("Cache", "Policy", "RXACT"), "", "ROOT", "SECURITY", None),
    (USER, "\\??\\C:\\Users\\x\\ntuser.dat", "ROOT", "NTUSER.DAT", None),
    (USER, "\\Windows\\System32\\Config\\DEFAULT", "ROOT", "DEFAULT", None),
    (keys("*", ".txt", "CLSID", "Local Settings"), "", "S-1-5-21-1-2-3-1001_Classes", "UsrClass.dat", None),
    (keys("Root"), "\\AppCompat\\Programs\\Amcache.hve", "{11517B7C-E79D-4E20-961B-75A811715ADD}", "Amcache.hve",
     None),
    (keys("Description", "Objects"), "", "NewStoreRoot", "BCD", None),
    (keys("CanonicalData", "DerivedData"), "", "ROOT", "COMPONENTS", None),
    (keys("DriverDatabase"), "", "ROOT", "DRIVERS", None),
    # The content decides over a file name that says otherwise, and says so.
    (system_keys(), "emRoot\\System32\\Config\\SOFTWARE", "ROOT", "SYSTEM", "file name"),
    (keys("Microsoft", "Classes"), "", "S-1-5-21-1_Classes", "SOFTWARE", "root key's name"),
    # Without telling children, the root name or the file name tells the type, and that is noted.
    (keys("Empty"), "", "x_Classes", "UsrClass.dat", "alone"),
    (keys("Empty"), "SYSTEM", "ROOT", "SYSTEM", "alone"),
    ([], "", "ROOT", "unknown", None),
]


@pytest.mark.parametrize("children, file_name, root, expected, note", TYPES)
def test_hive_type(open_image: OpenImage, children: List[hb.Key], file_name: str, root: str, expected: str,
                   note: Optional[str]) -> None:
    hive = typed_hive(open_image, *children, file_name=file_name, root=root)
    assert hive.hive_type() == expected
    found = hive.hive_type_note()
    assert (found is None) if note is None else (found is not None and note in found)


def test_the_command_shows_the_type_and_takes_pasted_paths(tarnu_command: TarnuCommand,
                                                           write_file: WriteFile) -> None:
    path = write_file(bytes(hb.build_hive(hb.Key("ROOT", system_keys(hb.Key("Control"))))))
    assert b"hive type: SYSTEM\n" in tarnu_command("info", path).stdout
    listed = tarnu_command("ls", path, "HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001")
    assert listed.returncode == 0 and b"Control" in listed.stdout


def software() -> List[hb.Key]:
    return [hb.Key("Microsoft", [hb.Key("Windows")]), hb.Key("Classes", [hb.Key(".txt")])]


def user() -> List[hb.Key]:
    return [hb.Key("Software", [hb.Key("Microsoft")]), hb.Key("Environment")]


PATHS = [
    (system_keys(hb.Key("Control")), "HKLM\\SYSTEM\\ControlSet001\\Control", "ControlSet001\\Control"),
    (system_keys(hb.Key("Control")), "hkey_local_machine\\system\\CurrentControlSet\\Control",
     "ControlSet001\\Control"),
    (system_keys(hb.Key("Control")), "HKLM\\SYSTEM", ""),
    (system_keys(hb.Key("Hardware Profiles", [hb.Key("0001", [hb.Key("Software")])])), "HKCC\\Software",
     "ControlSet001\\Hardware Profiles\\0001\\Software"),
    (software(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows", "Microsoft\\Windows"),
    (software(), "HKCR\\.txt", "Classes\\.txt"),
    ([hb.Key("SAM", [hb.Key("Domains")])], "HKLM\\SAM\\SAM\\Domains", "SAM\\Domains"),
    (user(), "HKCU\\Software\\Microsoft", "Software\\Microsoft"),
    (user(), "HKEY_USERS\\S-1-5-21-1-2-3-1001\\Environment", "Environment"),
    (keys("*", "CLSID", ".txt"), "HKU\\S-1-5-21-1-2-3-1001_Classes\\.txt", ".txt"),
    (keys("*", "CLSID", ".txt"), "HKCU\\Software\\Classes\\CLSID", "CLSID"),
    (keys("*", "CLSID", ".txt"), "HKCR\\CLSID", "CLSID"),
    # A key whose name is a root's keeps its meaning.
    (keys("HKLM", "Other"), "HKLM", "HKLM"),
]


@pytest.mark.parametrize("children, path, expected", PATHS)
def test_pasted_paths(open_image: OpenImage, children: List[hb.Key], path: str, expected: str) -> None:
    assert typed_hive(open_image, *children).key(path).path() == expected


@pytest.mark.parametrize("children, path, message", [
    (system_keys(), "HKLM\\SOFTWARE\\Microsoft", "the path is for a SOFTWARE hive; this one is SYSTEM"),
    (software(), "HKCU\\Software", "the path is for a NTUSER.DAT hive; this one is SOFTWARE"),
    (user(), "HKCR\\.txt", "the path is for a SOFTWARE hive; this one is NTUSER.DAT"),
    (system_keys(), "HKLM\\SYSTEM\\Missing", None),
    (system_keys(), "HKLM\\HARDWARE\\DESCRIPTION", None),
])
def test_pasted_paths_that_lead_nowhere(open_image: OpenImage, children: List[hb.Key], path: str,
                                        message: Optional[str]) -> None:
    with pytest.raises(tarnu.KeyNotFoundError) as raised:
        typed_hive(open_image, *children).key(path)
    expected = "Not found: Key '{}'".format(path) + ("" if message is None else " ({})".format(message))
    assert str(raised.value) == expected


@pytest.mark.parametrize("name, expected", [("SYSTEM.xz", "SYSTEM"), ("NTUSER.DAT.xz", "NTUSER.DAT"),
                                            ("amcache.hve.xz", "Amcache.hve")])
def test_samples(samples_dir: pathlib.Path, name: str, expected: str) -> None:
    hive = tarnu.Hive.open(sample_path(name, samples_dir))
    assert hive.hive_type() == expected and hive.hive_type_note() is None
