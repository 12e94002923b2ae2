"""Carving hives, fragments and logs out of images (tarnu.carve, tarnu carve), on images laid out here from builder
hives, and on the real carving samples when they are there."""

import json
import os
import pathlib
import random
from typing import Callable, Dict, List, Optional, Tuple

import pytest

import tarnu
from conftest import TarnuCommand, WriteFile, sample_path
from tarnu import hivebuilder as hb

# (kind, offset, size, stated_size, cut_short, bins_offset) of each item found.
Item = Tuple[str, int, int, int, bool, Optional[int]]

PAGE = 4096
# A hive of three 4096-byte bins, its root key in the first.
HIVE = hb.build_hive(hb.Key("ROOT", [hb.Key("K%d" % i, values=[hb.Value("v", hb.REG_BINARY, bytes([i]) * 3000)])
                                     for i in range(3)]))
BINS = [HIVE[PAGE * (i + 1):PAGE * (i + 2)] for i in range(3)]
SIZE = len(HIVE) - PAGE
OLD_LOG = hb.old_format_log([(0, BINS[0])], hive_bins_data_size=SIZE)
NEW_LOG = hb.new_format_log(5, [dict(pages=[(0, BINS[0])], hive_bins_data_size=SIZE)], hive_bins_data_size=SIZE)


def laid_out(length: int, *parts: Tuple[int, bytes], fill: int = 0x5A) -> bytes:
    """An image of `length` bytes of `fill` (or longer, to hold the parts) with each part at its offset."""
    image = bytearray([fill]) * length
    for offset, data in parts:
        image[offset:offset + len(data)] = data
    return bytes(image)


def items(found: List[tarnu.Carved]) -> List[Item]:
    return [(c.kind, c.offset, c.size, c.stated_size, c.cut_short, c.bins_offset) for c in found]


LAYOUTS: Dict[str, Tuple[bytes, bool, List[Item]]] = {
    "hive at a sector": (laid_out(3 * 512 + len(HIVE) + 1000, (1536, HIVE)), False,
                         [("hive", 1536, len(HIVE), SIZE, False, 0)]),
    "hive cut short": (laid_out(512, (512, HIVE[:-PAGE])), False, [("hive", 512, len(HIVE) - PAGE, SIZE, True, 0)]),
    "fragment cut by a hive": (laid_out(0, (0, BINS[1][:512]), (512, HIVE)), False,
                               [("fragment", 0, 512, 2 * PAGE, True, PAGE), ("hive", 512, len(HIVE), SIZE, False, 0)]),
    "fragment on a disk": (laid_out(20 * 512, (512 * 7, b"".join(BINS))), False,
                           [("fragment", 512 * 7, SIZE, SIZE, False, 0)]),
    "fragment apart and out of order in memory": (
        laid_out(9 * PAGE, (PAGE, BINS[2]), (3 * PAGE, BINS[0]), (6 * PAGE, BINS[1])), True,
        [("fragment", PAGE, 6 * PAGE, SIZE, False, 0)]),
    "logs of both formats": (laid_out(10 * PAGE, (512, OLD_LOG), (512 + 2 * PAGE, NEW_LOG)), False,
                             [("log-old", 512, len(OLD_LOG), SIZE, False, None),
                              ("log-new", 512 + 2 * PAGE, len(NEW_LOG), SIZE, False, None)]),
    "hive cut by a bin not its own": (laid_out(0, (0, HIVE[:2 * PAGE]), (2 * PAGE, BINS[2])), False,
                                      [("hive", 0, 2 * PAGE, SIZE, True, 0),
                                       ("fragment", 2 * PAGE, PAGE, SIZE, False, 2 * PAGE)]),
    "bins that overlap in memory": (laid_out(5 * PAGE, (PAGE, BINS[0]), (3 * PAGE, BINS[0])), True,
                                    [("fragment", PAGE, PAGE, PAGE, False, 0),
                                     ("fragment", 3 * PAGE, PAGE, PAGE, False, 0)]),
    "new-format log cut short": (laid_out(0, (0, NEW_LOG[:-512])), False,
                                 [("log-new", 0, len(NEW_LOG) - 512, SIZE, True, None)]),
    "garbage": (random.Random(7).getrandbits(8 * 64 * PAGE).to_bytes(64 * PAGE, "little"), False, []),
}


@pytest.mark.parametrize("name", LAYOUTS)
def test_layouts(name: str, write_file: WriteFile, tmp_path: pathlib.Path) -> None:
    image, memory, expected = LAYOUTS[name]
    out = tmp_path / "out"
    out.mkdir()
    found = tarnu.carve(write_file(image), out, memory=memory)
    assert items(found) == expected
    assert items(tarnu.carve(write_file(image), memory=memory)) == expected  # and the same with nothing written
    index = [json.loads(line) for line in (out / "carve.jsonl").read_text().splitlines()]
    assert [(row["kind"], row["offset"], row["file"]) for row in index] == \
        [(c.kind, c.offset, os.path.basename(c.path or "")) for c in found]
    for carved in found:
        assert carved.path is not None
        written = pathlib.Path(carved.path).read_bytes()
        if carved.kind != "fragment":
            assert written == image[carved.offset:carved.offset + carved.size]
            assert carved.checksum_ok is True
            continue
        hive = tarnu.Hive.open(carved.path)  # a fragment opens, its cells list, and its bins sit at their offsets
        assert carved.checksum_ok is None and list(hive.cells())
        assert sum(b.size for b in hive.hbins()) == carved.stated_size  # the bins and the gaps' empty bins walk
        for b in hive.hbins():
            if carved.cut_short or b.offset < (carved.bins_offset or 0):  # a gap or a cut bin: not the hive's bytes
                continue
            assert written[PAGE + b.offset:PAGE + b.offset + PAGE] == BINS[b.offset // PAGE]
    if name.endswith("in memory"):
        assert tarnu.Hive.open(found[0].path or "").root_key().name() == "ROOT"


def fake_bins(count: int, seed: int, pages: int = 0x1FF00) -> bytes:
    """Plausible hbin headers, one every 512 bytes, with offsets anywhere in the first `pages` pages of a hive."""
    rng = random.Random(seed)
    return b"".join((hb.hbin_header(rng.randrange(0, pages) * PAGE) + (-8).to_bytes(4, "little", signed=True))
                    .ljust(512, b"\0") for _ in range(count))


@pytest.mark.parametrize("memory", [False, True])
@pytest.mark.parametrize("pages", [0x1FF00, 1])
def test_fake_bins_give_bounded_output(memory: bool, pages: int, write_file: WriteFile,
                                       tmp_path: pathlib.Path) -> None:
    image = fake_bins(4000, seed=1, pages=pages) + HIVE
    found = tarnu.carve(write_file(image), tmp_path, memory=memory)
    assert found[-1][:3] == ("hive", 4000 * 512, len(HIVE))
    assert len(found) <= len(image) // 512
    made = sum(os.stat(c.path).st_size - c.size for c in found if c.path is not None)
    assert made <= 256 * 2 ** 20 + 2 * len(image)
    # Offsets far into a hive reach the bound at once: the fragments past it are reported but not written.
    assert any(c.path is None for c in found) == (pages > 1)


@pytest.mark.parametrize("head, memory", [
    (b"PAGEDU64", True), (b"PAGEDUMP", True), (b"EMiL", True),
    (b"\x7fELF\x02\x01\x01" + bytes(9) + b"\x04\x00", True), (b"\x7fELF\x02\x01\x01" + bytes(9) + b"\x02\x00", False),
    (bytes(510) + b"\x55\xaa", False), (b"", False),
])
def test_carve_mode(head: bytes, memory: bool, write_file: WriteFile) -> None:
    guessed, why = tarnu.carve_mode(write_file(head.ljust(PAGE, b"\0") if head else b""))
    assert guessed is memory and why


@pytest.mark.parametrize("call, error", [
    (lambda folder: tarnu.carve(folder + "/missing"), FileNotFoundError),
    (lambda folder: tarnu.carve(folder + "/image", folder + "/missing"), FileNotFoundError),
    (lambda folder: tarnu.carve(folder + "/image", folder), FileExistsError),  # never writes over a file
    (lambda folder: tarnu.carve(folder + "/image", memory="yes"), TypeError),  # type: ignore[arg-type]
])
def test_carve_errors(call: Callable[[str], object], error: type, tmp_path: pathlib.Path) -> None:
    (tmp_path / "image").write_bytes(laid_out(512, (0, HIVE)))
    (tmp_path / "hive-0x0.regf").write_bytes(b"evidence")
    (tmp_path / "carve.jsonl").unlink(missing_ok=True)
    with pytest.raises(error):
        call(str(tmp_path))
    assert (tmp_path / "hive-0x0.regf").read_bytes() == b"evidence"


def test_command(tarnu_command: TarnuCommand, write_file: WriteFile, tmp_path: pathlib.Path) -> None:
    first = write_file(laid_out(512, (512, HIVE)), "first.img")
    second = write_file(LAYOUTS["logs of both formats"][0], "second.img")
    result = tarnu_command("carve", first, second, "-o", tmp_path / "out")
    assert result.returncode == 0 and result.stdout == b""
    assert result.stderr.decode().splitlines()[-1] == "tarnu: 2 images, 3 files written to {}".format(tmp_path / "out")
    assert sorted(os.listdir(tmp_path / "out" / "second.img")) == ["carve.jsonl", "log-new-0x2200.log",
                                                                  "log-old-0x200.log"]
    for folder, code in [(tmp_path / "out", 2), (tmp_path / "first.img" / "sub", 2), (tmp_path / "new", 0)]:
        result = tarnu_command("carve", "-q", first, "-o", folder)
        assert result.returncode == code and (result.stderr == b"") == (code == 0)
    fakes = write_file(fake_bins(8, seed=2))  # fragments stated far into a hive: past the bound, not written
    result = tarnu_command("carve", "--memory", fakes, "-o", tmp_path / "fakes")
    assert result.returncode == 3 and b"not written" in result.stderr


@pytest.mark.parametrize("name, expected", [
    ("512.img.xz", [("hive", 512, 8192, 4096, False, 0)]),
    ("HiveAndFragments.img.xz", [("fragment", 0, 512, 4096, True, 0), ("hive", 512, 147456, 143360, False, 0),
                                 ("fragment", 147968, 12288, 12288, False, 0),
                                 ("fragment", 262144, 512, 12288, True, 8192)]),
])
def test_real_samples(name: str, expected: List[Item], samples_dir: pathlib.Path, tmp_path: pathlib.Path) -> None:
    found = tarnu.carve(sample_path("recovery/carving/" + name, samples_dir), tmp_path)
    assert items(found) == expected
    for carved in found:
        assert list(tarnu.Hive.open(carved.path or "").cells())
