"""What recovering deleted keys and values costs compared with a full walk of a hive's live keys.

    python benchmarks/bench_deleted.py [HIVE]

Without a path, a hive of about 20,000 live keys and 4,000 deleted ones is built first: each deleted key keeps
three values, and every other one lies inside a larger free cell, as Windows leaves freed neighbours merged. The
walk is Hive.walk(), which makes every live key's path and RegistryKey object; the full walk is the benchmark
suite's (benchmarks/readers.py: every key's name and time, every value's name, type, raw and decoded data, as the
recovery reads its records' values and data). The recovery is Hive.deleted() followed by every deleted key's path
and every deleted value's raw data. The cell walk (Hive.cells()) is shown beside them. Only ratios are printed.
"""

import os
import sys
import tempfile

import tarnu
from readers import READERS
from timing import best_of


def build_hive(folder):
    from tarnu import hivebuilder as hb

    def values(i):
        return [hb.Value("Name", hb.REG_SZ, "value number {}".format(i)),
                hb.Value("Start", hb.REG_DWORD, i),
                hb.Value("Blob", hb.REG_BINARY, bytes([i % 256]) * 24)]

    b = hb.HiveBuilder()
    root = b.reserve(len(hb.nk("ROOT")))
    groups, doomed = [], []
    for g in range(200):
        group = hb.Key("Group{:03}".format(g), [hb.Key("Key{:05}".format(g * 100 + i), values=values(i))
                                                for i in range(100)])
        groups.append(b.add(group, parent=root))
        for d in range(20):
            gone = hb.Key("Deleted{:05}".format(g * 20 + d), values=values(d))
            doomed.append((b.add(gone, parent=groups[-1]), b.cell(b"") if d % 2 else None))
    b.key("ROOT", root=True, at=root, subkeys=groups, list_kind="ri", chunk=64)
    for offset, after in doomed:
        b.delete_key(offset)
        if after is not None and b._bin_at(offset) is b._bin_at(after):
            b.coalesce(offset, after)
    path = os.path.join(folder, "bench.hive")
    b.write(path)
    return path


def walk(hive):
    return sum(1 for _ in hive.walk(errors="skip"))


def recover(hive):
    found = 0
    for record in hive.deleted():
        found += 1
        if isinstance(record, tarnu.DeletedKey):
            record.path()
            found += sum(1 for value in record.values() if value.raw_data() is not None)
        else:
            record.raw_data()
    return found


def cells(hive):
    return sum(1 for _ in hive.cells())


def main(argv):
    with tempfile.TemporaryDirectory() as folder:
        path = argv[1] if len(argv) > 1 else build_hive(folder)
        hive = tarnu.Hive.open(path)
        print("hive: {} live keys, {} deleted records and values with data, {} cells".format(
            walk(hive), recover(hive), cells(hive)))
        walked = best_of(5, lambda: walk(hive))
        recovered = best_of(5, lambda: recover(hive))
        celled = best_of(5, lambda: cells(hive))
        print("recovery of deleted keys and values / walk of the live keys: {:.2f}".format(recovered / walked))
        print("recovery with a fresh hive each time / walk of the live keys: {:.2f}".format(
            best_of(5, lambda: recover(tarnu.Hive.open(path))) / walked))
        print("walk over every cell / walk of the live keys: {:.2f}".format(celled / walked))
        walked_in_full = best_of(5, lambda: READERS["tarnu"](path))
        print("recovery of deleted keys and values / full walk of the live keys and values: {:.2f}".format(
            recovered / walked_in_full))


if __name__ == "__main__":
    main(sys.argv)
