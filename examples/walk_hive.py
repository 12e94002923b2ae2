"""Walk a registry hive and print its header, hive bins, keys and values.

    python examples/walk_hive.py [HIVE [LOG1 [LOG2]]]

Without a path, a small sample hive is built in a temporary folder first (with the test suite's hive builder),
so the walk can be tried on a fresh checkout. With log paths, their dirty pages are replayed onto the hive before
the walk, and the replay's report is printed.
"""

import os
import sys
import tempfile
from typing import List

import tarnu


def build_sample(folder: str) -> str:
    from tarnu import hivebuilder as hb

    software = hb.Key("Software", subkeys=[
        hb.Key("Tarnu", values=[
            hb.Value("", hb.REG_SZ, "default text"),
            hb.Value("Version", hb.REG_SZ, "0.1.0"),
            hb.Value("Path", hb.REG_EXPAND_SZ, r"%ProgramFiles%\Tarnu"),
            hb.Value("Features", hb.REG_MULTI_SZ, ["keys", "values", "logs"]),
            hb.Value("Enabled", hb.REG_DWORD, 1),
            hb.Value("InstallTime", hb.REG_QWORD, 133000000000000000),
            hb.Value("Blob", hb.REG_BINARY, bytes(range(12))),
            hb.Value("Large", hb.REG_BINARY, b"\xAB" * 40000),
        ]),
    ])
    system = hb.Key("System", subkeys=[hb.Key("Service{:03}".format(i), values=[hb.Value("Start", hb.REG_DWORD, i % 5)])
                                       for i in range(6)], list_kind="ri", chunk=4)
    root = hb.Key("ROOT", subkeys=[software, system])
    path = os.path.join(folder, "sample.hive")
    with open(path, "wb") as f:
        f.write(hb.build_hive(root, file_name=b"sample.hive"))
    return path


def show_value(value: tarnu.RegistryValue, indent: str) -> None:
    try:
        data = str(value.data())
    except ValueError as error:
        data = "<undecodable: {}>".format(error)
    if len(data) > 70:
        data = data[:67] + "..."
    print("{}{} [{}, {} bytes] = {}".format(indent, value.name(), value.value_type(), value.data_size(), data))


def written(key: tarnu.RegistryKey) -> str:
    try:
        when = key.last_written()
    except ValueError:  # a FILETIME past the year 9999
        return "FILETIME {}".format(key.last_written_filetime())
    return when.isoformat() if when is not None else "-"


def walk(hive: tarnu.Hive) -> None:
    # Keys that cannot be read are passed over; the walk's paths show where each key sits.
    for path, key in hive.walk(errors="skip"):
        indent = "  " * (path.count("\\") + 1 if path else 0)
        print("{}{}  ({})".format(indent, key.name(), written(key)))
        try:
            values = key.values()
        except ValueError as error:
            print("{}  . <values unreadable: {}>".format(indent, error))
            continue
        for value in values:
            show_value(value, indent + "  . ")


def main(argv: List[str]) -> None:
    with tempfile.TemporaryDirectory() as folder:
        path = argv[1] if len(argv) > 1 else build_sample(folder)
        logs = argv[2:4]
        hive = tarnu.Hive.open_with_logs(path, *logs) if logs else tarnu.Hive.open(path)
        base = hive.base_block()
        print(hive)
        print(base, "file name:", repr(base.file_name))
        if hive.replay_report() is not None:
            print(hive.replay_report())
        elif base.is_dirty:
            print("dirty: the latest changes are in the transaction logs beside the hive")
        bins = hive.hbins()
        print("{} hive bins: {}{}".format(len(bins), ", ".join(map(repr, bins[:3])), ", ..." if len(bins) > 3 else ""))
        walk(hive)
        if len(argv) <= 1:
            # Keys are found by path; names compare as the registry compares them, without regard to case.
            key = hive.key("SOFTWARE\\tarnu")
            parent = key.parent()
            print("lookup:", key.path(), "version", key.value("version").data(), "parent",
                  parent.name() if parent is not None else None)


if __name__ == "__main__":
    main(sys.argv)
