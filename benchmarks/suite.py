"""The benchmark suite: tarnu against the peer readers it can import, and against the object floor.

    python benchmarks/suite.py [--repeat N] [--python EXE] [--quick] [HIVE ...]

Every measurement runs in a fresh process (one per reader and hive), and the best of N runs counts. Hives: the
real samples of 1 MB or more in ../shared/hives when that folder exists, any HIVE named on the command line, and
large synthetic hives that the project's hive builder writes (hundreds of thousands of keys; values stored inline,
in one cell and as big data, of every common type). `--python` chooses the interpreter for the workers, e.g.
Debian's /usr/bin/python3, where the peers `hivex` and `pyregf` are installed; tarnu's abi3 build imports there
too (put its folder on PYTHONPATH).

Workloads:
- walk: every key's name and last-written time, every value's name, type, raw bytes and decoded data
  (benchmarks/readers.py), for tarnu and for each peer found;
- floor: the time Python alone needs to create the same objects from bytes prepared in advance (a str per key
  name, an int per time; per value a str, an int, a bytes and one decoded object);
- threads: a hive opened twice and walked twice on one thread, against two threads walking one each;
- memory: the peak resident memory a walk adds, against the hive's size;
- save: `Hive.save` against `shutil.copyfile` plus `os.fsync`;
- replay: a log of 10,000 pages replayed, against reading the primary and the log;
- dump: `tarnu dump` (JSON Lines of every value, written by the core) against hivex's walk, which writes nothing;
  and two dumps on two threads against the same two on one.
The table gives times and ratios; docs/performance.md keeps the ratios.
"""

import argparse
import json
import lzma
import os
import pathlib
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
SAMPLES = HERE.parent.parent / "shared" / "hives"
BIG_SAMPLES = ["SYSTEM.xz", "amcache.hve.xz"]


# ---- hives ---------------------------------------------------------------------------------------------------

def synthetic_hives(folder, quick):
    """Large hives written by the hive builder; returns {name: path}."""
    from tarnu import hivebuilder as hb

    keys = 20_000 if quick else 300_000

    def leaf(i):
        return hb.Key("Key{:06}".format(i), values=[
            hb.Value("DisplayName", hb.REG_SZ, "service number {}".format(i)),
            hb.Value("Start", hb.REG_DWORD, i % 5),
        ])

    groups = [hb.Key("Group{:04}".format(g), subkeys=[leaf(g * 100 + i) for i in range(100)])
              for g in range(keys // 100)]
    many_keys = hb.Key("ROOT", subkeys=groups, list_kind="ri", chunk=512)

    def mixed(i):
        return hb.Key("Item{:05}".format(i), values=[
            hb.Value("", hb.REG_SZ, "default {}".format(i)),
            hb.Value("Path", hb.REG_EXPAND_SZ, r"%SystemRoot%\System32\item{}.dll".format(i)),
            hb.Value("Tags", hb.REG_MULTI_SZ, ["alpha", "beta", "gamma{}".format(i)]),
            hb.Value("Flags", hb.REG_DWORD, i),
            hb.Value("Stamp", hb.REG_QWORD, 132223104000000000 + i),
            hb.Value("Small", hb.REG_BINARY, bytes([i % 256]) * 3),
            hb.Value("Blob", hb.REG_BINARY, bytes([i % 251]) * 200),
            hb.Value("Large", hb.REG_BINARY, bytes([i % 241]) * 40_000) if i % 50 == 0 else
            hb.Value("Medium", hb.REG_BINARY, bytes([i % 239]) * 3000),
        ])

    items = 2_000 if quick else 30_000
    values = hb.Key("ROOT", subkeys=[hb.Key("Bucket{:03}".format(b), subkeys=[mixed(b * 100 + i) for i in range(100)])
                                     for b in range(items // 100)], list_kind="lf")
    hives = {}
    for name, root in (("synthetic-keys", many_keys), ("synthetic-values", values)):
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(hb.build_hive(root))
        hives[name] = path
    return hives


def sample_hives(folder):
    hives = {}
    for name in BIG_SAMPLES:
        source = SAMPLES / name
        if source.exists():
            target = os.path.join(folder, source.stem)
            with open(target, "wb") as f:
                f.write(lzma.decompress(source.read_bytes()))
            hives[source.stem] = target
    return hives


# ---- workers (run in a child process) ---------------------------------------------------------------------------

def rss_now():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def peak_rss():
    # VmHWM belongs to this process's own address space; getrusage's figure would also carry the parent's peak
    # from before the exec.
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return 0


def floor_materials(path):
    """Everything a walk hands out, as raw bytes prepared in advance (read with tarnu, outside the timing)."""
    import tarnu

    m = {"key_names": [], "times": [], "value_names": [], "types": [], "raw": [], "text": [], "multi": [],
         "numbers": [], "binary": []}
    stack = [tarnu.Hive.open(path).root_key()]
    while stack:
        key = stack.pop()
        m["key_names"].append(key.name().encode("utf-8"))
        m["times"].append((key.last_written_timestamp() or 0).to_bytes(8, "little", signed=True))
        for v in key.values():
            kind = v.value_type().type_id()
            raw = v.raw_data()
            m["value_names"].append(v.name().encode("utf-8"))
            m["types"].append(kind.to_bytes(4, "little"))
            m["raw"].append(bytearray(raw))
            group = {1: "text", 2: "text", 7: "multi", 4: "numbers", 5: "numbers", 11: "numbers"}.get(kind, "binary")
            m[group].append(bytearray(raw) if group == "binary" else bytes(raw))
        stack.extend(reversed(key.subkeys()))
    return m


def floor_walk(m):
    """Creates the objects of a walk from the prepared bytes, in bulk from C (map over builtins, each object
    dropped as soon as it is made, as a streaming walk drops it), so that it measures object creation and as little
    interpretation as possible: the least any reader returning these objects must spend."""
    from collections import deque
    from itertools import repeat
    from operator import methodcaller

    utf16 = methodcaller("decode", "utf-16-le", "replace")
    little = repeat("little")
    for made in (map(bytes.decode, m["key_names"]), map(int.from_bytes, m["times"], little),
                 map(bytes.decode, m["value_names"]), map(int.from_bytes, m["types"], little),
                 map(bytes, m["raw"]), map(utf16, m["text"]), map(utf16, m["multi"]),
                 map(int.from_bytes, m["numbers"], little), map(bytes, m["binary"])):
        deque(made, maxlen=0)


def worker(args):
    import time

    sys.path.insert(0, str(HERE))
    import readers

    out = {}
    if args[0] == "walk":
        reader, path = args[1], args[2]
        before = rss_now()
        start = time.perf_counter()
        out["keys"], out["values"] = readers.READERS[reader](path)
        out["seconds"] = time.perf_counter() - start
        out["rss"] = peak_rss() - before
    elif args[0] == "floor":
        import gc

        materials = floor_materials(args[1])
        # The prepared bytes are not part of the cost: keep the collector from scanning them again and again.
        gc.collect()
        gc.freeze()
        start = time.perf_counter()
        floor_walk(materials)
        out["seconds"] = time.perf_counter() - start
    elif args[0] == "threads":
        import threading

        walk = readers.READERS["tarnu"]
        paths = args[1:3]
        start = time.perf_counter()
        for p in paths:
            walk(p)
        out["sequential"] = time.perf_counter() - start
        threads = [threading.Thread(target=walk, args=(p,)) for p in paths]
        start = time.perf_counter()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        out["parallel"] = time.perf_counter() - start
    elif args[0] == "save":
        import shutil

        import tarnu

        path, folder = args[1], args[2]
        hive = tarnu.Hive.open(path)
        start = time.perf_counter()
        hive.save(os.path.join(folder, "saved"))
        out["save"] = time.perf_counter() - start
        start = time.perf_counter()
        target = os.path.join(folder, "copied")
        shutil.copyfile(path, target)
        with open(target, "rb+") as f:
            os.fsync(f.fileno())
        out["copy"] = time.perf_counter() - start
    elif args[0] == "replay":
        import tarnu

        primary, log = args[1], args[2]
        start = time.perf_counter()
        tarnu.Hive.open_with_logs(primary, log)
        out["replay"] = time.perf_counter() - start
        start = time.perf_counter()
        for p in (primary, log):
            with open(p, "rb") as f:
                f.read()
        out["read"] = time.perf_counter() - start
    elif args[0] == "dump":
        from tarnu.cli import main as command

        start = time.perf_counter()
        command(["dump", "-q", "--no-logs", args[1], "-o", os.devnull])
        out["seconds"] = time.perf_counter() - start
    elif args[0] == "dump-threads":
        import threading

        import tarnu

        def dump(path):
            for _ in tarnu._export(path, "jsonl", logs=None):
                pass

        start = time.perf_counter()
        for p in args[1:3]:
            dump(p)
        out["sequential"] = time.perf_counter() - start
        threads = [threading.Thread(target=dump, args=(p,)) for p in args[1:3]]
        start = time.perf_counter()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        out["parallel"] = time.perf_counter() - start
    print(json.dumps(out))


# ---- driver -----------------------------------------------------------------------------------------------------

def run(python, *args):
    result = subprocess.run([python, __file__, "--worker", *args], capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError("worker {} failed:\n{}".format(args, result.stderr.strip()))
    return json.loads(result.stdout)


def best(python, repeat, *args, key="seconds"):
    runs = [run(python, *args) for _ in range(repeat)]
    return min(runs, key=lambda r: r[key])


def readers_in(python):
    code = "import sys; sys.path.insert(0, %r); import readers; print(' '.join(n for n in readers.READERS if readers.available(n)))"
    out = subprocess.run([python, "-c", code % str(HERE)], capture_output=True, text=True)
    return out.stdout.split()


def replay_case(folder):
    """A primary and a log of 10,000 one-page entries over its bins (the existing log layout)."""
    from tarnu import hivebuilder as hb

    root = hb.Key("ROOT", subkeys=[hb.Key("K{:05}".format(i), values=[hb.Value("V", hb.REG_SZ, "x" * 64)])
                                   for i in range(20_000)], list_kind="lf")
    image = hb.build_hive(root)
    bins = len(image) - 4096
    pages = [(4096 + (i * 4096) % bins, image[4096 + (i * 4096) % bins:][:4096]) for i in range(10_000)]
    blocks = [hb.dirt_block(pages[i:i + 1000]) for i in range(0, len(pages), 1000)]
    primary, log = os.path.join(folder, "replay.hive"), os.path.join(folder, "replay.LOG1")
    with open(primary, "wb") as f:
        f.write(image)
    with open(log, "wb") as f:
        f.write(hb.log_file(2, blocks))
    return primary, log


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("hives", nargs="*")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--python", default=sys.executable)
    parser.add_argument("--quick", action="store_true", help="small synthetic hives, one run each")
    parser.add_argument("--worker", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if args.worker:
        return worker(args.worker)
    repeat = 1 if args.quick else args.repeat
    names = readers_in(args.python)
    print("interpreter: {}; readers: {}; best of {}".format(args.python, ", ".join(names), repeat))
    with tempfile.TemporaryDirectory() as folder:
        hives = sample_hives(folder)
        hives.update({os.path.basename(p): p for p in args.hives})
        hives.update(synthetic_hives(folder, args.quick))
        print("\n{:18} {:>9} {:>8} {:>8} {:>10} {:>9}".format("hive", "reader", "keys", "values", "seconds",
                                                               "x tarnu"))
        for hive, path in hives.items():
            results = {}
            for reader in names:
                results[reader] = best(args.python, repeat, "walk", reader, path)
            floor = best(args.python, repeat, "floor", path)
            base = results["tarnu"]["seconds"]
            for reader, r in results.items():
                print("{:18} {:>9} {:>8} {:>8} {:>10.4f} {:>9.2f}".format(
                    hive, reader, r["keys"], r["values"], r["seconds"], r["seconds"] / base))
            print("{:18} {:>9} {:>8} {:>8} {:>10.4f} {:>9.2f}".format(hive, "floor", "", "", floor["seconds"],
                                                                       floor["seconds"] / base))
            size = os.path.getsize(path)
            print("{:18} memory: a walk adds {:.1f} MiB of peak RSS to a {:.1f} MiB hive (image + {:.1f} MiB)".format(
                hive, results["tarnu"]["rss"] / 2**20, size / 2**20, (results["tarnu"]["rss"] - size) / 2**20))

        largest = max(hives.values(), key=os.path.getsize)
        threads = best(args.python, repeat, "threads", largest, largest, key="parallel")
        print("\nthreads: two walks on two threads / the same two on one thread: {:.2f} (throughput {:.2f}x)".format(
            threads["parallel"] / threads["sequential"], threads["sequential"] / threads["parallel"]))
        save = best(args.python, repeat, "save", largest, folder, key="save")
        print("save: Hive.save / (copyfile + fsync): {:.2f}".format(save["save"] / save["copy"]))
        primary, log = replay_case(folder)
        replay = best(args.python, repeat, "replay", primary, log, key="replay")
        print("replay of 10,000 pages / reading the primary and the log: {:.2f}".format(
            replay["replay"] / replay["read"]))

        if "hivex" in names:
            for hive, path in hives.items():
                dump = best(args.python, repeat, "dump", path)
                walk = best(args.python, repeat, "walk", "hivex", path)
                print("{}: tarnu dump (JSON Lines) / hivex's walk: {:.2f}".format(hive, dump["seconds"] / walk["seconds"]))
        threads = best(args.python, repeat, "dump-threads", largest, largest, key="parallel")
        print("dump: two on two threads / the same two on one thread: {:.2f} (throughput {:.2f}x)".format(
            threads["parallel"] / threads["sequential"], threads["sequential"] / threads["parallel"]))


if __name__ == "__main__":
    main()
