"""What recovering the keys and values outside the live tree costs compared with a full walk of a hive's live keys.

    python benchmarks/bench_deleted.py [HIVE...]

Without a path, a hive of about 20,000 live keys is built first, with records of every source recovery reads:
4,000 deleted keys in free cells (every other one inside a larger free cell, as Windows leaves freed neighbours
merged), 1,000 keys in allocated cells that nothing references, and 1,000 deleted keys past the stated end of the
hive bins data, behind a bin that names a position of an earlier hive; each of them keeps three values. The sample
SYSTEM hive is measured too when ../shared/hives is beside the project. The walk is Hive.walk(), which makes every
live key's path and RegistryKey object; the full walk is the benchmark suite's (benchmarks/readers.py: every key's
name and time, every value's name, type, raw and decoded data, as the recovery reads its records' values and
data). The recovery is Hive.deleted() followed by every recovered key's path and every recovered value's raw
data; the scan alone is Hive.deleted(). The cell walk (Hive.cells()) is shown beside them. Only ratios are
printed.
"""

import lzma
import os
import pathlib
import sys
import tempfile

import tarnu
from readers import READERS
from timing import best_of

SAMPLE = pathlib.Path(__file__).resolve().parents[2] / "shared" / "hives" / "SYSTEM.xz"


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
    for u in range(1000):  # allocated, named by no list: a hive that healed itself
        b.add(hb.Key("Orphan{:04}".format(u), values=values(u)), parent=groups[u % len(groups)])
    b.key("ROOT", root=True, at=root, subkeys=groups, list_kind="ri", chunk=64)
    for offset, after in doomed:
        b.delete_key(offset)
        if after is not None and b._bin_at(offset) is b._bin_at(after):
            b.coalesce(offset, after)
    # Past the stated end, bins left from an earlier hive: a first one that names another position, so that what
    # follows is read as remnants, then bins in place holding deleted keys.
    stated = b.new_bin(offset=0x4000000)
    b.new_bin()
    for r in range(1000):
        gone = hb.Key("Remnant{:04}".format(r), values=values(r))
        b.add(gone, parent=groups[r % len(groups)])
        b.delete_key(gone.offset)
    path = os.path.join(folder, "bench.hive")
    b.write(path, hive_bins_data_size=stated)
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


def measure(label, path):
    hive = tarnu.Hive.open(path)
    print("{}: {} live keys, {} recovered records and values with data, {} cells".format(
        label, walk(hive), recover(hive), cells(hive)))
    walked = best_of(5, lambda: walk(hive))
    recovered = best_of(5, lambda: recover(hive))
    scanned = best_of(5, lambda: hive.deleted())
    celled = best_of(5, lambda: cells(hive))
    print("  recovery / walk of the live keys: {:.2f}".format(recovered / walked))
    print("  scan alone (deleted()) / walk of the live keys: {:.2f}".format(scanned / walked))
    print("  recovery with a fresh hive each time / walk of the live keys: {:.2f}".format(
        best_of(5, lambda: recover(tarnu.Hive.open(path))) / walked))
    print("  walk over every cell / walk of the live keys: {:.2f}".format(celled / walked))
    walked_in_full = best_of(5, lambda: READERS["tarnu"](path))
    print("  recovery / full walk of the live keys and values: {:.2f}".format(recovered / walked_in_full))


def main(argv):
    with tempfile.TemporaryDirectory() as folder:
        paths = argv[1:]
        if not paths:
            paths = [build_hive(folder)]
            if SAMPLE.exists():
                paths.append(os.path.join(folder, "SYSTEM"))
                with open(paths[-1], "wb") as f:
                    f.write(lzma.decompress(SAMPLE.read_bytes()))
        for path in paths:
            measure(os.path.basename(path), path)


if __name__ == "__main__":
    main(sys.argv)
