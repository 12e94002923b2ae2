"""Build the one stable-ABI wheel and prove that it serves every CPython 3.8+ on this machine.

    python tools/check_wheel.py [--wheel-dir DIR]

`pip wheel .`, run by the oldest CPython found (as cibuildwheel's cp38 builds do: the headers of the oldest
version are those the wheel is built against), must give exactly one wheel tagged cp38-abi3. That wheel is then
installed into a fresh virtual
environment for every CPython 3.8 or later found here (on PATH as python3.X, under pyenv, and /usr/bin/python3),
and each one imports it, builds a small hive with `tarnu.hivebuilder`, opens it and reads a value. Exits non-zero
if any interpreter fails.
"""

import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

SMOKE = r"""
import sys, tempfile, os, tarnu
from tarnu import hivebuilder as hb
root = hb.Key("ROOT", subkeys=[hb.Key("Software", values=[hb.Value("Version", hb.REG_SZ, "1.0")])])
path = os.path.join(tempfile.mkdtemp(), "smoke.hive")
open(path, "wb").write(hb.build_hive(root))
key = tarnu.Hive.open(path).root_key().subkeys()[0]
assert key.value("version").data().as_string() == "1.0", key
print("%d.%d ok" % sys.version_info[:2])
"""


def interpreters():
    """Every distinct CPython 3.8+ executable that can be found, keyed by its real path."""
    candidates = [shutil.which("python3.%d" % minor) for minor in range(8, 20)]
    pyenv = os.environ.get("PYENV_ROOT", os.path.expanduser("~/.pyenv"))
    candidates += sorted(glob.glob(os.path.join(pyenv, "versions", "3.*", "bin", "python3")))
    candidates += ["/usr/bin/python3", sys.executable]
    found = {}
    for exe in candidates:
        if not exe or not os.path.exists(exe):
            continue
        probe = subprocess.run([exe, "-c", "import sys, platform; print(platform.python_implementation(), "
                                "sys.version_info[0], sys.version_info[1])"], capture_output=True, text=True)
        if probe.returncode != 0:
            continue
        impl, major, minor = probe.stdout.split()
        if impl == "CPython" and (int(major), int(minor)) >= (3, 8):
            found.setdefault(os.path.realpath(exe), (int(major), int(minor)))
    return sorted(found.items(), key=lambda item: item[1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--wheel-dir", default=None)
    parser.add_argument("--build-python", default=None, help="the interpreter that builds the wheel (default: the "
                        "oldest CPython 3.8+ found)")
    args = parser.parse_args()
    wheel_dir = args.wheel_dir or tempfile.mkdtemp(prefix="tarnu-wheel-")
    found = interpreters()
    builder = args.build_python or (found[0][0] if found else sys.executable)
    print("built by:", builder)
    subprocess.run([builder, "-m", "pip", "wheel", ROOT, "--no-deps", "-q", "-w", wheel_dir], check=True)
    wheels = glob.glob(os.path.join(wheel_dir, "tarnu-*.whl"))
    if len(wheels) != 1 or "-cp38-abi3-" not in os.path.basename(wheels[0]):
        sys.exit("expected one cp38-abi3 wheel, found: %s" % [os.path.basename(w) for w in wheels])
    wheel = wheels[0]
    print("wheel:", os.path.basename(wheel))
    failures = 0
    for exe, version in found:
        venv = tempfile.mkdtemp(prefix="tarnu-venv-%d.%d-" % version)
        steps = [[exe, "-m", "venv", venv],
                 [os.path.join(venv, "bin", "python"), "-m", "pip", "install", "-q", "--no-index", wheel],
                 [os.path.join(venv, "bin", "python"), "-c", SMOKE]]
        for step in steps:
            result = subprocess.run(step, capture_output=True, text=True, cwd=venv)
            if result.returncode != 0:
                print("%d.%d FAILED (%s): %s" % (version + (exe, (result.stderr or result.stdout).strip()[-500:])))
                failures += 1
                break
        else:
            print("%s (%s)" % (result.stdout.strip(), exe))
        shutil.rmtree(venv, ignore_errors=True)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
