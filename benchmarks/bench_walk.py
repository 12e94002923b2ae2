"""How much a full walk of a hive costs compared with creating the Python objects it returns.

    python benchmarks/bench_walk.py [HIVE]

Without a path, a hive of about 20,000 keys and 60,000 values is built first. The walk (Hive.walk, which also
makes each key's path) reads every key's name, counts, timestamp and values, and every value's name, type, raw
data and decoded data. The baseline
creates the same number of Python objects of the same kinds (a str per name, a bytes per data, ints, lists) from
data already in memory, which is the least any reader returning those objects must spend. Only ratios are printed.
"""

import os
import sys
import tempfile
import threading
import time

import tarnu


def build_hive(folder):
    from tarnu import hivebuilder as hb

    def leaf(i):
        return hb.Key("Key{:05}".format(i), values=[
            hb.Value("Name", hb.REG_SZ, "value number {}".format(i)),
            hb.Value("Start", hb.REG_DWORD, i),
            hb.Value("Blob", hb.REG_BINARY, bytes([i % 256]) * 24),
        ])

    groups = [hb.Key("Group{:03}".format(g), subkeys=[leaf(g * 100 + i) for i in range(100)]) for g in range(200)]
    root = hb.Key("ROOT", subkeys=groups, list_kind="ri", chunk=64)
    path = os.path.join(folder, "bench.hive")
    with open(path, "wb") as f:
        f.write(hb.build_hive(root))
    return path


def walk(hive, sink):
    for _, key in hive.walk():
        sink.append((key.name(), key.subkey_count(), key.value_count(), key.last_written_timestamp()))
        for value in key.values():
            try:
                data = value.data()
            except ValueError:
                data = None
            sink.append((value.name(), value.value_type().type_id(), value.raw_data(), data))


def baseline(records):
    """Creates objects like the walk's from in-memory data: the floor for any reader returning them."""
    sink = []
    for name, number, blob in records:
        if blob is None:
            sink.append((str(name, "utf-8"), number, number, number))
            sink.append([])
        else:
            sink.append((str(name, "utf-8"), number, bytes(blob), int.from_bytes(blob[:4], "little")))
    return sink


def best_of(runs, fn):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


def main(argv):
    with tempfile.TemporaryDirectory() as folder:
        path = argv[1] if len(argv) > 1 else build_hive(folder)
        hive = tarnu.Hive.open(path)
        sink = []
        walk(hive, sink)
        # (name as UTF-8, a number, data bytes or None for a key) for every key and value the walk returned.
        records = [(r[0].encode("utf-8"), r[1], r[2] if isinstance(r[2], bytes) else None) for r in sink]
        print("hive: {} keys and values read".format(len(sink)))

        cold = best_of(1, lambda: walk(tarnu.Hive.open(path), []))
        warm = best_of(5, lambda: walk(hive, []))
        floor = best_of(5, lambda: baseline(records))
        opened = best_of(20, lambda: tarnu.Hive.open(path))
        print("walk with a cold key cache / object-creation floor: {:.2f}".format(cold / floor))
        print("walk with a warm key cache / object-creation floor: {:.2f}".format(warm / floor))
        print("opening the hive / warm walk: {:.4f}".format(opened / warm))

        def walk_in_threads(count):
            threads = [threading.Thread(target=walk, args=(hive, [])) for _ in range(count)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()

        one = best_of(3, lambda: walk_in_threads(1))
        two = best_of(3, lambda: walk_in_threads(2))
        # Each call does under a microsecond of hive work, so threads mostly take turns at the interpreter lock;
        # this shows what the hand-over costs rather than any parallel speed-up.
        print("two threads walking at once / one thread walking: {:.2f} (2.00 = taking turns)".format(two / one))


if __name__ == "__main__":
    main(sys.argv)
