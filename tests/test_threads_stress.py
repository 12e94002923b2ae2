"""Threads at once opening, walking, looking up and reading values, listing hive bins and saving: one shared hive,
fresh opens of the same file and different hives, for a bounded time. Every thread sees what one thread alone
sees, and every save writes the hive's exact bytes."""

import os
import pathlib
import threading
import time
from typing import Dict, List, Optional, Tuple

from tarnu import hivebuilder as hb
import tarnu

THREADS = 8
SECONDS = 2.0  # how long the threads keep going; a bound on the test's run time, not something it checks

# What snapshot() shows of one key: name, timestamp, values (name, type id, raw data, size, data as str), the raw
# data of each value looked up by name, and the names of the subkeys.
ValueRow = Tuple[str, int, bytes, int, str]
KeyRow = Tuple[str, Optional[int], List[ValueRow], List[bytes], List[str]]
Snapshot = Tuple[List[KeyRow], List[Tuple[int, int]], str]


def tree_image() -> bytes:
    kinds = ["lf", "lh", "li", "ri"]
    values = [hb.Value("sz", hb.REG_SZ, "text"), hb.Value("multi", hb.REG_MULTI_SZ, ["a", "b"]),
              hb.Value("dword", hb.REG_DWORD, 7), hb.Value("big", hb.REG_BINARY, bytes(range(256)) * 100),
              hb.Value("cell", hb.REG_BINARY, bytes(5000)), hb.Value("", hb.REG_QWORD, 2 ** 40)]
    children = [hb.Key("k%d" % i, [hb.Key("s%d" % j, values=values[j % 6:]) for j in range(12)],
                       list_kind=kinds[i % 4], chunk=5, timestamp=hb.filetime(1_000_000 + i))
                for i in range(12)]
    image: bytes = hb.build_hive(hb.Key("root", children, values, list_kind="ri", chunk=4))
    return image


def old_version_image() -> bytes:
    # Version 1.3: a large value in one cell.
    image: bytes = hb.build_hive(hb.Key("old", [hb.Key("x", values=[hb.Value("large", hb.REG_BINARY, bytes(40000))])]),
                                 minor_version=3)
    return image


def snapshot(hive: tarnu.Hive) -> Snapshot:
    """What a walk shows: each key with its values (read in a list and looked up by name) and subkeys, the hive
    bins and the base block."""
    keys: List[KeyRow] = []
    stack = [hive.root_key()]
    while stack:
        key = stack.pop()
        values = [(v.name(), v.value_type().type_id(), v.raw_data(), v.data_size(), str(v.data()))
                  for v in key.values()]
        found = [key.value(name).raw_data() for name, *_ in values]
        subkeys = key.subkeys()
        keys.append((key.name(), key.last_written_timestamp(), values, found, [k.name() for k in subkeys]))
        stack.extend(subkeys)
    return keys, [(h.offset, h.size) for h in hive.hbins()], repr(hive.base_block())


def test_threads_read_and_save_alike(tmp_path: pathlib.Path) -> None:
    files: Dict[str, str] = {}
    for name, image in [("tree", tree_image()), ("old", old_version_image()), ("small", hb.build_hive(hb.Key("s")))]:
        files[name] = str(tmp_path / name)
        with open(files[name], "wb") as f:
            f.write(image)
    expected = {name: snapshot(tarnu.Hive.open(path)) for name, path in files.items()}
    shared = {name: tarnu.Hive.open(path) for name, path in files.items()}
    names = sorted(files)
    barrier = threading.Barrier(THREADS)
    rounds = [0] * THREADS
    errors: List[Tuple[int, BaseException]] = []

    def run(index: int) -> None:
        try:
            barrier.wait()
            deadline = time.monotonic() + SECONDS
            while time.monotonic() < deadline:
                name = names[(index + rounds[index]) % len(names)]
                hive = shared[name] if rounds[index] % 2 else tarnu.Hive.open(files[name])
                assert snapshot(hive) == expected[name]
                target = str(tmp_path / "saved-{}-{}".format(index, rounds[index] % 3))
                hive.save(target)
                with open(target, "rb") as saved, open(files[name], "rb") as original:
                    assert saved.read() == original.read()
                rounds[index] += 1
        except BaseException as error:  # reported by the main thread
            errors.append((index, error))

    workers = [threading.Thread(target=run, args=(i,)) for i in range(THREADS)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    assert errors == []
    assert all(count > 0 for count in rounds)
    assert not [f for f in os.listdir(tmp_path) if f.startswith(".")]  # no temporary file of a save is left
