"""How much faster Hive.key finds a deep key than scanning subkey lists by hand.

    python benchmarks/bench_lookup.py [SYSTEM]

The hand scan is the one the README once showed: at each level, every child is read and its name compared with
str.lower(). Hive.key compares names as the registry does and uses the name hashes of "lh" lists to read one key
node per level, hash collisions aside. That is checked here too: in a copy of the hive every sibling of the keys on
the path is made unreadable, and the path and a missing name at each level are looked up again; reading any of
those siblings would turn "not found" into an error. It runs on a built hive of about 20,000 keys and, when given
or when ../shared/hives is beside the project, on the sample SYSTEM hive (ControlSet001\\Services\\Tcpip).
Only ratios and counts are printed.
"""

import lzma
import os
import pathlib
import sys
import tempfile
import time

import tarnu

SAMPLE = pathlib.Path(__file__).resolve().parents[2] / "shared" / "hives" / "SYSTEM.xz"


def build_hive(folder):
    from tarnu import hivebuilder as hb

    def service(s, i):
        params = [hb.Key("Param{:02}".format(p)) for p in range(40)] if i % 100 == 7 else []
        return hb.Key("Service{:04}".format(i), params)

    sets = [hb.Key("Set{:02}".format(s), [service(s, i) for i in range(1000)], list_kind="ri", chunk=256)
            for s in range(20)]
    path = os.path.join(folder, "lookup.hive")
    with open(path, "wb") as f:
        f.write(hb.build_hive(hb.Key("ROOT", sets)))
    return path


def scan(key, path):
    """The hand scan: every child of every level on the way is read. Returns the key and the nodes read."""
    read = 0
    for part in path.split("\\"):
        children = key.subkeys()
        read += len(children)
        key = next(k for k in children if k.name().lower() == part.lower())
    return key, read


def best_of(runs, count, fn):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        for _ in range(count):
            fn()
        times.append((time.perf_counter() - start) / count)
    return min(times)


def siblings_left_unread(image, path):
    """How many siblings of the keys on `path` were made unreadable, and whether Hive.key then still finds the
    path and says "not found" for a missing name at each level (so it read none of them)."""
    hive = tarnu.Hive.from_bytes(image)
    damaged = bytearray(image)
    key, parts, count = hive.root_key(), path.split("\\"), 0
    for part in parts:
        target = hive.key(key.path() + "\\" + part)
        for child in key.subkeys():
            if child != target:
                position = 4096 + child.cell_offset() + 4
                damaged[position:position + 2] = b"xx"  # no longer a key node
                count += 1
        key = target
    hive = tarnu.Hive.from_bytes(damaged)
    try:
        found = hive.key(path).path().lower() == path.lower()
    except ValueError:
        found = False
    missing = ["\\".join(parts[:level] + ["NoSuchKeyHere"]) for level in range(len(parts))]
    for name in missing:
        try:
            hive.key(name)
            return count, False
        except ValueError as error:
            if not str(error).startswith("Not found: "):
                return count, False
    return count, found


def compare(label, hive, path, image):
    root = hive.root_key()
    found, read = scan(root, path)
    assert hive.key(path) == found
    levels = len(path.split("\\"))
    by_hand = best_of(5, 20, lambda: scan(root, path))
    lookup = best_of(5, 2000, lambda: hive.key(path))
    unread, holds = siblings_left_unread(image, path)
    print("{}: {} ({} levels)".format(label, path, levels))
    print("  key nodes read: hand scan {}; Hive.key {} ({} siblings on the way made unreadable: {})".format(
        read, levels, unread, "none of them read" if holds else "SOME WERE READ"))
    print("  hand scan / Hive.key: {:.1f}".format(by_hand / lookup))


def main(argv):
    with tempfile.TemporaryDirectory() as folder:
        built = build_hive(folder)
        compare("built hive", tarnu.Hive.open(built), "Set13\\Service0707\\Param33", pathlib.Path(built).read_bytes())
        if len(argv) > 1:
            image = pathlib.Path(argv[1]).read_bytes()
        elif SAMPLE.exists():
            image = lzma.decompress(SAMPLE.read_bytes())
        else:
            return
        compare("SYSTEM", tarnu.Hive.from_bytes(image), "ControlSet001\\Services\\Tcpip", image)


if __name__ == "__main__":
    main(sys.argv)
