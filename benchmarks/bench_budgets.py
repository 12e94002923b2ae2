"""What each call and command costs on small hives that name one record over and over (tarnu.hivebuilder.repeats).

    python benchmarks/bench_budgets.py [--small] [CASE...]

Each case builds its hive, then runs every call or command in a child process of its own and reads that process's
peak memory (the kernel's maximum resident size of the child) and its time. Printed per run: the peak above the
baseline, that peak as a multiple of the hive's size, the seconds per megabyte of hive, and the result (what the call
returned or raised, the command's exit code and output size). A call's baseline is an interpreter that opened the
hive; a command's is the same command on a hive with one empty key. The bound that every run must keep: a peak of at
most 4 times the hive's size plus 64 MiB, and at most a second per megabyte of hive. --small builds the tests' sizes
instead, for a quick look.
"""

import os
import subprocess
import sys
import tempfile
import threading
import time

from tarnu.hivebuilder import Key, build_hive, repeats

MIB = 1 << 20
# A run still going after this many seconds is stopped and reported so.
TIME_LIMIT = 120

# Each case: the shape that builds it, its full-size arguments, and the tests' smaller ones.
HIVES = {
    "value-names": (repeats.repeated_value_name, (20000, 20000), (2000, 2000)),
    "subkey-names": (repeats.repeated_subkey_name, (20000, 20000), (2000, 2000)),
    "lying-hashes": (repeats.lying_hashes, (9000, 60000), (900, 6000)),
    "decoy-chain": (repeats.decoy_chain, (400, 40, 2000), (100, 10, 1000)),
    "shared-data": (repeats.shared_value_list, (2100, 1 << 20), (210, 100 << 10)),
    "deleted-data": (repeats.repeated_deleted_data, (300, 256 << 10), (30, 25 << 10)),
    "deleted-chain": (repeats.deleted_key_chain, (3000, 200), (300, 200)),
}

# Python run in the child: {hive} is the hive's path. Each ends with what it found, printed.
DEEP = "\\\\".join(["a"] * 512)
CALLS = {
    "value-names": {
        "values()": "r = len(root.values())",
        "value_records()": "r = len(root.value_records())",
        "value(missing)": "r = root.value('missing')",
        "records()": "r = sum(1 for _ in tarnu.records(hive_path))",
    },
    "subkey-names": {
        "subkeys()": "r = len(root.subkeys())",
        "subkey(missing)": "r = root.subkey('missing')",
        "walk()": "r = sum(1 for _ in hive.walk())",
        "records()": "r = sum(1 for _ in tarnu.records(hive_path))",
    },
    "lying-hashes": {
        "key(a\\\\a...)": "r = hive.key('" + DEEP + "')",
        "subkey(a\\\\a...)": "r = root.subkey('" + DEEP + "')",
    },
    "decoy-chain": {
        "key(deep path)": "r = hive.key('\\\\'.join(['a' * len(root.subkeys()[0].name())] * 512))",
    },
    "shared-data": {
        "records()": "r = sum(1 for _ in tarnu.records(hive_path))",
        "walk values()": "r = sum(len(k.values()) for _, k in hive.walk())",
    },
    "deleted-data": {
        "deleted() raw_data": "r = sum(len(d.raw_data() or b'') for d in hive.deleted() if hasattr(d, 'raw_data'))",
    },
    "deleted-chain": {
        "deleted() path": "r = sum(len(d.path()) for d in hive.deleted() if hasattr(d, 'path'))",
    },
}
COMMANDS = {
    "value-names": [["dump"], ["export-reg"], ["search", "zzz"], ["timeline"]],
    "subkey-names": [["dump"], ["export-reg"], ["search", "zzz"]],
    "lying-hashes": [["get", "{hive}", DEEP.replace("\\\\", "\\"), "x"]],
    "decoy-chain": [["dump"]],
    "shared-data": [["dump"], ["search", "zzz"], ["export-reg"], ["dump", "--format", "csv"]],
    "deleted-data": [["deleted"], ["dump", "--deleted"]],
    "deleted-chain": [["deleted"], ["dump", "--deleted"]],
}

CHILD = """
import sys, time
import tarnu
hive_path = sys.argv[1]
hive = tarnu.Hive.open(hive_path)
root = hive.root_key()
start = time.perf_counter()
try:
    {call}
    r = repr(r)[:60]
except Exception as e:
    r = type(e).__name__ + ": " + str(e)[:110]
print(time.perf_counter() - start, r)
"""

# The interpreter's own peak: tarnu imported and the hive opened, nothing read.
BASELINE = CHILD.format(call="r = None")


def measure(argv, env, limit=TIME_LIMIT):
    """Runs a child; its peak memory (the kernel's account of it), its time and what it found or wrote. A child still
    running after `limit` seconds is stopped."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    timer = threading.Timer(limit, proc.kill)
    timer.start()
    head, written = b"", 0
    for chunk in iter(lambda: proc.stdout.read(1 << 16), b""):
        head, written = head or chunk[:200], written + len(chunk)
    _, status, usage = os.wait4(proc.pid, 0)
    timer.cancel()
    took = time.perf_counter() - start
    if took >= limit:
        return usage.ru_maxrss * 1024, took, "stopped after {} s".format(limit)
    err = proc.stderr.read().decode("utf-8", "replace").strip()
    peak = usage.ru_maxrss * 1024
    if argv[1] == "-c":
        fields = head.decode("utf-8", "replace").strip().split(" ", 1)
        return peak, float(fields[0]), fields[1] if len(fields) > 1 else err[-200:]
    code = os.waitstatus_to_exitcode(status)
    return peak, took, "exit {}, {:,} bytes out{}".format(code, written, (": " + err[-100:]) if code > 3 else "")


def command_line(command, path):
    """`python -m tarnu` with the command's words, the hive's path after the command's name unless it names it."""
    words = [w.replace("{hive}", path) for w in command]
    if "{hive}" not in command:
        words.insert(1, path)
    return [sys.executable, "-m", "tarnu"] + words + (["-q"] if command[0] != "get" else [])


def main(argv):
    small = "--small" in argv
    names = [a for a in argv[1:] if not a.startswith("--")] or list(HIVES)
    env = dict(os.environ)
    worst = 0.0
    with tempfile.TemporaryDirectory() as folder:
        # What a command costs on a hive with nothing in it: the interpreter, its imports, the command's own set-up.
        empty = os.path.join(folder, "empty.hive")
        with open(empty, "wb") as f:
            f.write(build_hive(Key("root")))
        for name in names:
            path = os.path.join(folder, name + ".hive")
            with open(path, "wb") as f:
                shape, full, smaller = HIVES[name]
                f.write(shape(*(smaller if small else full)))
            size = os.path.getsize(path)
            call_base, _, _ = measure([sys.executable, "-c", BASELINE, path], env)
            print("{}: {:,} bytes".format(name, size))
            runs = [(label, [sys.executable, "-c", CHILD.format(call=call), path], (call_base, 0.0))
                    for label, call in CALLS[name].items()]
            for command in COMMANDS[name]:
                label = "tarnu " + " ".join(c for c in command if "{" not in c and "\\" not in c)
                peaks, times, _ = zip(*(measure(command_line(command, empty), env) for _ in range(3)))
                runs.append((label, command_line(command, path), (max(peaks), min(times))))
            for label, child, (base_peak, base_time) in runs:
                peak, took, result = measure(child, env)
                above = max(0, peak - base_peak)
                bound = 4 * size + 64 * MIB
                per_mb = max(0.0, took - base_time) / (size / MIB)
                worst = max(worst, above / bound, per_mb)
                print("  {:<22} peak +{:7.1f} MiB ({:6.1f} x hive) {:6.2f} s/MB  {}{}".format(
                    label, above / MIB, above / size, per_mb, result,
                    "" if above <= bound and per_mb <= 1 else "  OVER"))
    print("worst: {:.2f} of the bound (1 s/MB; 4 x hive + 64 MiB)".format(worst))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
