"""What carving an image costs compared with reading it.

    python benchmarks/bench_carve.py [MIB]

An image of MIB mebibytes (default 512) is written once to a temporary folder: random bytes with a builder hive,
its bins alone (a fragment) or a log of either format laid in every 16 MiB, at a sector boundary. Carving it is
timed against a plain sequential read of the same file (`readinto` in 1 MiB chunks), both from the page cache:
the scan alone (nothing written), as a disk and as memory, and with its outputs written to another temporary
folder, where creating each file costs what the file system asks. Only ratios are printed.
"""

import os
import random
import sys
import tempfile

import tarnu
from tarnu import hivebuilder as hb
from timing import best_of

MIB = 1 << 20


def structures():
    """A hive of a few hundred keys, its bins alone (a fragment), and a log of each format for it."""
    root = hb.Key("ROOT", [hb.Key("Key{:04}".format(i), values=[hb.Value("v", hb.REG_SZ, "value {}".format(i) * 4)])
                           for i in range(300)])
    hive = hb.build_hive(root)
    size = len(hive) - hb.BASE_BLOCK_SIZE
    pages = hb.changed_pages(b"", hive)[:4]
    return [hive, hive[hb.BASE_BLOCK_SIZE:],
            hb.old_format_log(pages, hive_bins_data_size=size),
            hb.new_format_log(3, [dict(pages=pages, hive_bins_data_size=size)], hive_bins_data_size=size)]


def write_image(path, mebibytes):
    rng = random.Random(1)
    found = structures()
    with open(path, "wb") as f:
        for i in range(mebibytes // 16):
            chunk = bytearray(rng.getrandbits(8 * 16 * MIB).to_bytes(16 * MIB, "little"))
            piece = found[i % len(found)]
            at = 512 * rng.randrange(0, (16 * MIB - len(piece)) // 512)
            chunk[at:at + len(piece)] = piece
            f.write(chunk)


def read_all(path):
    buffer = bytearray(MIB)
    with open(path, "rb", buffering=0) as f:
        while f.readinto(buffer):
            pass


def carve(path, folder):
    out = tempfile.mkdtemp(dir=folder)
    return len(tarnu.carve(path, out))


def main(argv):
    mebibytes = int(argv[1]) if len(argv) > 1 else 512
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "image.raw")
        write_image(path, mebibytes)
        print("image: {} MiB, {} items carved".format(mebibytes, carve(path, folder)))
        runs = [("sequential read in 1 MiB chunks", lambda: read_all(path)),
                ("carve as a disk, nothing written", lambda: tarnu.carve(path, memory=False)),
                ("carve as memory, nothing written", lambda: tarnu.carve(path, memory=True)),
                ("carve as a disk, outputs written", lambda: carve(path, folder))]
        # Rounds of every run in turn, the best of each kept, so that load from elsewhere falls on all alike.
        best = [min(times) for times in zip(*[[best_of(1, run) for _, run in runs] for _ in range(9)])]
        for (what, _), time in zip(runs[1:], best[1:]):
            print("{} / {}: {:.2f}".format(what, runs[0][0], time / best[0]))


if __name__ == "__main__":
    main(sys.argv)
