"""The benchmark suite: tarnu against the peer readers it can import, against the object floor, and against plain
file and memory work. It prints the tables of docs/performance.md (ratios only; --times adds the seconds).

    python benchmarks/suite.py [--repeat N] [--python EXE] [--core EXE] [--quick] [--times] [--part P] [HIVE ...]

Every measurement runs in a fresh process, and the best of N runs counts. Walks are timed in CPU time of their
process, so that other work on a busy machine disturbs them less; file work and threads in wall-clock time. Hives:
the real samples of 1 MB or more in ../shared/hives when that folder exists, any HIVE named on the command line,
and large synthetic hives that the project's hive builder writes (hundreds of thousands of keys; values stored
inline, in one cell and as big data, of every common type). `--python` chooses the interpreter for the workers,
e.g. Debian's /usr/bin/python3 (or a venv over it), where the peers `hivex` and `pyregf` are installed; tarnu's abi3
build imports there too (put its folder on PYTHONPATH). `--core` names the C++ benchmark of the core (core_walk,
built beside the extension by CMake; found there by default).

Workloads:
- walk: every key's name and last-written time, every value's name, type, raw bytes and decoded data
  (benchmarks/readers.py): tarnu through its per-call API, tarnu through its bulk path (Hive.walk and
  RegistryKey.value_records), and each peer found;
- floor: the time Python alone needs to create the same objects from bytes prepared in advance (a str per key
  name, an int per time; per value a str, an int, a bytes and one decoded object);
- core: the C++ walk of every key and value (names decoded, data read) against one copy of the image in memory;
- memory: the peak resident memory a walk adds, less the hive's size;
- threads: the same work done twice on one thread, against once on each of two threads at once;
- save: Hive.save against shutil.copyfile plus os.fsync;
- replay: logs of 10,000 pages replayed (the existing log layout, and new-format Windows logs over a dirty primary),
  against reading the primary and the log;
- dump: `tarnu dump` (JSON Lines of every value, written by the core) against hivex's walk, which writes nothing;
  its export on two threads is one of the threads cases.
"""

import argparse
import json
import lzma
import os
import pathlib
import random
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
SAMPLES = HERE.parent.parent / "shared" / "hives"
BIG_SAMPLES = ["SYSTEM.xz", "amcache.hve.xz"]
MIB = 2 ** 20

# Goals, as ratios: the figures.
PER_CALL_GOAL = 0.6   # per-call walk / hivex's walk
BULK_GOAL = 1.3       # bulk walk / object floor
CORE_GOAL = 5.0       # C++ walk / one copy of the image
MEMORY_GOAL = 64      # MiB a walk may add beyond the image's size
SAVE_GOAL = 1.5       # Hive.save / (copyfile + fsync)
REPLAY_GOAL = 3.0     # replay / reading the files
DUMP_GOAL = 0.5       # tarnu dump's JSON Lines / hivex's walk, which writes nothing
WALK_THREADS_GOAL = 1.0
LARGE_THREADS_GOAL = 1.8


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
        hives[name] = write(folder, name, hb.build_hive(root))
    return hives


def large_data_hive(folder, quick):
    """A key with values of several MiB each, in big-data segments: the large reads of the threads cases."""
    from tarnu import hivebuilder as hb

    size = (1 if quick else 4) * MIB
    root = hb.Key("ROOT", values=[hb.Value("Big{}".format(i), hb.REG_BINARY, bytes([i]) * size) for i in range(4)])
    return write(folder, "large-data", hb.build_hive(root))


def sample_hives(folder):
    hives = {}
    for name in BIG_SAMPLES:
        source = SAMPLES / name
        if source.exists():
            hives[source.stem] = write(folder, source.stem, lzma.decompress(source.read_bytes()))
    return hives


def replay_cases(folder):
    """Two primaries with logs of 10,000 pages spread over their bins: the existing log layout, and a new-format
    Windows log (entries of 100 pages, each hashed with Marvin32) over a dirty primary. Returns
    {name: (primary, log)}."""
    from tarnu import hivebuilder as hb

    def image(**base_block_fields):
        builder = hb.HiveBuilder()
        builder.add(hb.Key("ROOT", [hb.Key("Sub{}".format(i), values=[hb.Value("v", hb.REG_DWORD, i)])
                                    for i in range(50)]), root=True)
        for _ in range(32):
            builder.new_bin(MIB)
        return builder.build(**base_block_fields)

    def pages(data):
        rng = random.Random(1)
        count = len(data) // 4096
        return [(at, data[at:at + 4096]) for at in (rng.randrange(1, count) * 4096 for _ in range(10_000))]

    clean = image()
    entries = pages(clean)
    log = hb.log_file(1, [entries[i:i + 1000] for i in range(0, len(entries), 1000)])
    dirty = image(primary_sequence=11, secondary_sequence=10)
    bins_size = len(dirty) - 4096
    relative = [(at - 4096, data) for at, data in pages(dirty)]
    windows = hb.new_format_log(10, [dict(pages=relative[i:i + 100], hive_bins_data_size=bins_size)
                                     for i in range(0, len(relative), 100)], hive_bins_data_size=bins_size)
    return {"log layout": (write(folder, "replay.hive", clean), write(folder, "replay.LOG1", log)),
            "Windows log": (write(folder, "dirty.hive", dirty), write(folder, "dirty.LOG1", windows))}


def write(folder, name, data, flush=False):
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(data)
        if flush:  # on disk, so that its pages are clean and can be put out of the page cache
            f.flush()
            os.fsync(f.fileno())
    return path


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


def open_plain(path):
    """What Hive.open asks of the system, from Python's own calls (each gives the lock away): open, fstat, a read
    of the base block, and a mapping of the whole file that nothing touches."""
    import mmap

    fd = os.open(path, os.O_RDONLY)
    try:
        size = os.fstat(fd).st_size
        os.read(fd, 4096)
        mmap.mmap(fd, size, access=mmap.ACCESS_READ).close()
    finally:
        os.close(fd)


def thread_work(case, args):
    """The work of one thread in a threads case: a function of the thread's number (0 or 1)."""
    if case == "control":
        import hashlib

        data = bytes(64 * MIB)
        return lambda i: hashlib.sha256(data).digest()

    if case == "control-interpreter":
        def interpret(i):
            # Python code alone: like a walk, it holds the interpreter lock throughout.
            names = {}
            for n in range(1_500_000):
                names[n & 1023] = str(n)
        return interpret
    if case == "control-memory":
        import zlib

        data = bytes(range(256)) * (32 * MIB // 256)

        def copy_out(i):
            # Stored blocks: deflate copies the data into a new buffer and sums it, without the lock.
            for _ in range(4):
                zlib.compress(data, 0)
        return copy_out
    if case == "control-open":
        def open_many_plain(i):
            for _ in range(2000):
                open_plain(args[0])
        return open_many_plain
    if case == "control-write":
        data = pathlib.Path(args[0]).read_bytes()

        def write_out(i):
            # The image from memory into a new file, not flushed, which then goes again: what the page cache alone
            # allows. Every call starts from the same state.
            path = os.path.join(args[1], "written-{}".format(i))
            with open(path, "wb") as out:
                out.write(data)
            os.unlink(path)
        return write_out
    if case in ("open-cold", "control-open-cold"):
        def evict(path):
            # Clean pages of a file on disk leave the page cache at this request (not on tmpfs, which has no disk).
            fd = os.open(path, os.O_RDONLY)
            try:
                os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
            finally:
                os.close(fd)

        opener = open_plain
        if case == "open-cold":
            import tarnu

            opener = tarnu.Hive.open

        def open_cold(i):
            path = args[1 + i]  # each thread's own copy
            for _ in range(100):
                evict(path)
                opener(path)
        return open_cold
    if case == "control-save":
        import shutil

        def copy_and_flush(i):
            target = os.path.join(args[1], "copied-{}".format(i))
            shutil.copyfile(args[0], target)
            with open(target, "rb+") as copied:
                os.fsync(copied.fileno())
        return copy_and_flush

    import tarnu

    sys.path.insert(0, str(HERE))
    import readers

    if case in ("walk", "walk-bulk"):
        walk = readers.READERS["tarnu" if case == "walk" else "tarnu-bulk"]

        def walk_four_times(i):
            # Long enough that starting and joining the threads does not count.
            for _ in range(4):
                walk(args[0])
        return walk_four_times
    if case == "open":
        def open_many(i):
            for _ in range(2000):
                tarnu.Hive.open(args[0])
        return open_many
    if case == "replay":
        return lambda i: tarnu.Hive.open_with_logs(args[0], args[1])
    if case == "save":
        hive = tarnu.Hive.open(args[0])
        return lambda i: hive.save(os.path.join(args[1], "saved-{}".format(i)))
    if case == "hbins":
        def list_bins(i):
            # A fresh mapping each time: the first look at each bin may have to fault its page in.
            for _ in range(20):
                tarnu.Hive.open(args[0]).hbins()
        return list_bins
    if case == "dump":
        def dump(i):
            for _ in tarnu._export(args[0], "jsonl", logs=None):
                pass
        return dump
    if case == "large-data":
        key = tarnu.Hive.open(args[0]).root_key()

        def read_all(i):
            for value in key.values():
                value.raw_data()
        return read_all
    raise ValueError(case)


def worker(args):
    import time

    sys.path.insert(0, str(HERE))
    import readers

    out = {}
    if args[0] == "walk":
        reader, path = args[1], args[2]
        before = rss_now()
        start = time.process_time()
        out["keys"], out["values"] = readers.READERS[reader](path)
        out["seconds"] = time.process_time() - start
        out["rss"] = peak_rss() - before
    elif args[0] == "floor":
        import gc

        materials = floor_materials(args[1])
        # The prepared bytes are not part of the cost: keep the collector from scanning them again and again.
        gc.collect()
        gc.freeze()
        start = time.process_time()
        floor_walk(materials)
        out["seconds"] = time.process_time() - start
    elif args[0] == "threads":
        import threading

        work = thread_work(args[1], args[2:])
        work(0)  # once before timing: files in the page cache, code and allocator warm
        start, cpu = time.perf_counter(), time.process_time()
        work(0)
        work(1)
        out["sequential"], out["sequential_cpu"] = time.perf_counter() - start, time.process_time() - cpu
        threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
        start, cpu = time.perf_counter(), time.process_time()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        out["parallel"], out["parallel_cpu"] = time.perf_counter() - start, time.process_time() - cpu
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

        start = time.process_time()
        command(["dump", "-q", "--no-logs", args[1], "-o", os.devnull])
        out["seconds"] = time.process_time() - start
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


def core_program(named):
    if named:
        return named
    import tarnu

    found = pathlib.Path(tarnu.__file__).resolve().parent.parent / "core_walk"
    return str(found) if found.exists() else None


def core_ratio(program, path, repeat):
    runs = []
    for _ in range(repeat):
        out = subprocess.run([program, path, "10"], capture_output=True, text=True, check=True)
        runs.append(json.loads(out.stdout))
    cold = min(r["walk"] for r in runs) / min(r["copy"] for r in runs)
    warm = min(r["walk_warm"] for r in runs) / min(r["copy_warm"] for r in runs)
    return cold, warm


def table(header, rows):
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join("---" for _ in header) + "|")
    for row in rows:
        print("| " + " | ".join(str(cell) for cell in row) + " |")
    print()


def ratio(value, goal=None, at_most=True):
    text = "{:.2f}".format(value)
    if goal is not None:
        met = value <= goal if at_most else value >= goal
        text += "" if met else " (goal {} {})".format("≤" if at_most else "≥", goal)
    return text


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("hives", nargs="*")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--python", default=sys.executable)
    parser.add_argument("--core", help="the core_walk program (default: beside the tarnu package being imported)")
    parser.add_argument("--quick", action="store_true", help="small synthetic hives, one run each")
    parser.add_argument("--times", action="store_true", help="print the seconds as well")
    parser.add_argument("--part", choices=["walks", "threads", "files", "dump"], action="append",
                        help="run only this part (may be given more than once)")
    parser.add_argument("--worker", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if args.worker:
        return worker(args.worker)
    repeat = 1 if args.quick else args.repeat
    names = readers_in(args.python)
    core = core_program(args.core)
    print("interpreter: {}; readers: {}; core: {}; best of {}\n".format(args.python, ", ".join(names), core, repeat))
    with tempfile.TemporaryDirectory() as folder:
        hives = sample_hives(folder)
        hives.update({os.path.basename(p): p for p in args.hives})
        hives.update(synthetic_hives(folder, args.quick))
        parts = args.part or ["walks", "threads", "files", "dump"]
        if "walks" in parts:
            walks(args, names, core, hives, repeat)
        if "threads" in parts:
            threads(args, hives, folder, repeat)
        if "files" in parts:
            file_work(args, hives, folder, repeat)
        if "dump" in parts and "hivex" in names:
            dumps(args, hives, repeat)


def walks(args, names, core, hives, repeat):
    peers = [n for n in names if not n.startswith("tarnu")]
    print("Walks: each reader's time / the object floor's; tarnu's per-call walk / hivex's; the core alone / one copy "
          "of the image; peak RSS a tarnu walk adds beyond the image's size.\n")
    header = ["hive", "MiB", "keys", "values", "tarnu per-call", "tarnu bulk"] + peers + \
        ["per-call / hivex", "core / copy", "RSS − image (MiB)"]
    rows, times = [], []
    for hive, path in hives.items():
        results = {reader: best(args.python, repeat, "walk", reader, path) for reader in names}
        floor = best(args.python, repeat, "floor", path)["seconds"]
        size = os.path.getsize(path)
        tarnu = results["tarnu"]
        hivex = results.get("hivex")
        rss = max(results[r]["rss"] for r in ("tarnu", "tarnu-bulk") if r in results)
        row = [hive, "{:.1f}".format(size / MIB), tarnu["keys"], tarnu["values"],
               ratio(tarnu["seconds"] / floor), ratio(results["tarnu-bulk"]["seconds"] / floor, BULK_GOAL)]
        row += [ratio(results[p]["seconds"] / floor) for p in peers]
        row.append(ratio(tarnu["seconds"] / hivex["seconds"], PER_CALL_GOAL) if hivex else "-")
        if core:
            cold, warm = core_ratio(core, path, repeat)
            row.append("{} (in cache: {:.2f})".format(ratio(cold, CORE_GOAL), warm))
        else:
            row.append("-")
        row.append(ratio((rss - size) / MIB, MEMORY_GOAL))
        rows.append(row)
        times.append([hive, "{:.4f}".format(floor)] + ["{:.4f}".format(results[r]["seconds"]) for r in names])
    table(header, rows)
    if args.times:
        table(["hive", "floor"] + names, times)


def threads(args, hives, folder, repeat):
    print("Threads: the work twice on one thread / once on each of two threads at once (throughput of two threads; "
          "2.00 is twice as fast). The control rows do the same kind of work without tarnu: what the machine and the "
          "interpreter allow at the time (on a shared machine the second core is often busy). The CPU time the two threads spend against the one thread's shows what "
          "working side by side costs in itself (1.00: nothing), whatever else the machine is doing.\n")
    largest = max(hives.values(), key=os.path.getsize)
    walked = hives.get("SYSTEM", largest)
    primary, log = replay_cases(folder)["Windows log"]
    # One copy of the walked hive for each thread, put out of the page cache before every open.
    cold = [write(folder, "cold-{}".format(i), pathlib.Path(walked).read_bytes(), flush=True) for i in range(2)]
    cases = [
        ("control, no tarnu: hashlib.sha256 of 64 MiB (what two threads gain on this machine now)", "control", [],
         None),
        ("control, no tarnu: Python code alone, which holds the lock (what a walk can gain)", "control-interpreter",
         [], None),
        ("walk (per-call), 4 times", "walk", [walked], WALK_THREADS_GOAL),
        ("walk (bulk), 4 times", "walk-bulk", [walked], WALK_THREADS_GOAL),
        ("control, no tarnu: os.open, os.fstat, os.read of 4 KiB and mmap of the hive, 2000 times", "control-open",
         [walked], None),
        ("Hive.open, 2000 times", "open", [walked], LARGE_THREADS_GOAL),
        ("control, no tarnu: the same of a hive just put out of the page cache, 100 times",
         "control-open-cold", [walked] + cold, None),
        ("Hive.open of a hive just put out of the page cache, 100 times", "open-cold",
         [walked] + cold, LARGE_THREADS_GOAL),
        ("Hive.open_with_logs, 10,000 pages", "replay", [primary, log], LARGE_THREADS_GOAL),
        ("control, no tarnu: shutil.copyfile and os.fsync of the largest hive", "control-save", [largest, folder],
         None),
        ("control, no tarnu: the largest hive written from memory to a new file, not flushed (the page cache "
         "alone)", "control-write", [largest, folder], None),
        ("Hive.save", "save", [largest, folder], LARGE_THREADS_GOAL),
        ("Hive.open and hbins, {:.0f} MiB, 20 times".format(os.path.getsize(largest) / MIB), "hbins", [largest],
         LARGE_THREADS_GOAL),
        ("control, no tarnu: zlib.compress of 32 MiB, stored, 4 times (copying large data into new memory)",
         "control-memory", [], None),
        ("values() and raw_data() of 4 large values", "large-data", [large_data_hive(folder, args.quick)],
         LARGE_THREADS_GOAL),
        ("tarnu dump's export (JSON Lines), core only", "dump", [walked], LARGE_THREADS_GOAL),
    ]
    rows = []
    for label, case, case_args, goal in cases:
        r = best(args.python, repeat, "threads", case, *case_args, key="parallel")
        rows.append([label, ratio(r["sequential"] / r["parallel"], goal, at_most=False),
                     ratio(r["parallel_cpu"] / r["sequential_cpu"])] +
                    (["{:.4f}".format(r["sequential"]), "{:.4f}".format(r["parallel"])] if args.times else []))
    table(["work", "two threads", "CPU time, two threads / one"] +
          (["one thread s", "two threads s"] if args.times else []), rows)


def file_work(args, hives, folder, repeat):
    print("File work: tarnu's time / the plain file work's.\n")
    rows = []
    for hive in sorted(hives, key=lambda h: os.path.getsize(hives[h]))[-2:]:
        r = best(args.python, repeat, "save", hives[hive], folder, key="save")
        rows.append(["Hive.save of {} / copyfile + fsync".format(hive), ratio(r["save"] / r["copy"], SAVE_GOAL)])
    for name, (primary, log) in replay_cases(folder).items():
        r = best(args.python, repeat, "replay", primary, log, key="replay")
        rows.append(["open_with_logs, 10,000 pages ({}) / reading both files".format(name),
                     ratio(r["replay"] / r["read"], REPLAY_GOAL)])
    table(["work", "ratio"], rows)



def dumps(args, hives, repeat):
    print("\nDump: `tarnu dump` of the whole hive as JSON Lines (to the null device) / hivex's walk (CPU time).\n")
    rows = []
    for hive, path in hives.items():
        dump = best(args.python, repeat, "dump", path)
        walk = best(args.python, repeat, "walk", "hivex", path)
        rows.append([hive, ratio(dump["seconds"] / walk["seconds"], DUMP_GOAL)])
    table(["hive", "dump / hivex walk"], rows)


if __name__ == "__main__":
    main()
