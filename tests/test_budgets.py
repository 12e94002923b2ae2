"""What one call may gather: hives that name one record over and over (tarnu.hivebuilder.repeats) end in the budget's
error or give a shared result, and lookups pass over names by their stored length without missing a match."""

from __future__ import annotations

from typing import Optional, Tuple

import pytest

import tarnu
from conftest import OpenImage
from tarnu.hivebuilder import HiveBuilder, Key, build_hive, repeats


def budget_text(what: str, offset: Optional[int], image: bytes, held: str = "hold",
                kind: str = "names and data") -> str:
    where = "" if offset is None else " at offset %#x" % offset
    return "Invalid format: %s%s %s more than %d bytes of %s, 2 times the hive's size" % (
        what, where, held, 2 * len(image), kind)


def raises_corrupt(call: object, message: str) -> None:
    with pytest.raises(tarnu.CorruptHiveError) as info:
        call()  # type: ignore[operator]
    assert str(info.value) == message


def test_values_that_repeat_one_long_name(open_image: OpenImage) -> None:
    image = repeats.repeated_value_name(2000, 2000)
    hive = open_image(image)
    root = hive.root_key()
    message = budget_text("Values of key", root.cell_offset(), image)
    raises_corrupt(root.values, message)
    raises_corrupt(root.value_records, message)
    assert root.value("V" * 2000).name() == "v" * 2000
    with pytest.raises(tarnu.ValueNotFoundError):
        root.value("v" * 1999)
    rows = list(tarnu.records(image))
    assert [(row.key, row.value, row.error) for row in rows] == [("", None, "values: " + message), ("", None, None)]


def test_subkeys_that_repeat_one_long_name(open_image: OpenImage) -> None:
    root = open_image(repeats.repeated_subkey_name(2000, 2000)).root_key()
    children = root.subkeys()
    assert len(children) == 2000 and all(child is children[0] for child in children)
    assert children[0].name() == "k" * 2000


def test_a_path_that_comes_back_past_lying_hashes(open_image: OpenImage) -> None:
    hive = open_image(repeats.lying_hashes(900, 6000))
    a = hive.key("a")
    for call in (hive.key, hive.root_key().subkey):
        with pytest.raises(tarnu.KeyNotFoundError):
            call("\\".join(["a"] * 512))
    with pytest.raises(tarnu.KeyNotFoundError):
        a.subkey("a")


def test_a_lookup_reads_at_most_twice_the_image(open_image: OpenImage) -> None:
    # Distinct keys down the path, each listing every decoy under the hash of the name looked for: no key comes back,
    # but every level decodes every decoy again.
    image = repeats.decoy_chain(100, 10, 1000)
    hive = open_image(image)
    root = hive.root_key()
    path = "\\".join(["a" * 1000] * 100)
    raises_corrupt(lambda: hive.key(path), budget_text("Lookup below key", root.cell_offset(), image, "reads",
                                                        "names and lists"))
    assert hive.key("\\".join(["A" * 1000] * 5)).name() == "a" * 1000


def test_a_walk_over_keys_that_share_their_values() -> None:
    image = repeats.shared_value_list(210, 100 << 10)
    rows = list(tarnu.records(image))
    root = tarnu.Hive.from_bytes(image).root_key()
    # The walk ends at the key where the budget ran out: its row, without values, after the error's.
    message = budget_text("Values of the keys walked from key", root.cell_offset(), image)
    assert [row.error for row in rows if row.error] == [message] and rows[-2].error == message
    assert (rows[-1].key, rows[-1].value) == (rows[-2].key, None) and len(rows) < 10
    assert sum(len(row.raw or b"") for row in rows) <= 2 * len(image)
    assert [len(key.values()) for key in root.subkeys()] == [1] * 210


@pytest.mark.parametrize("image, counts", [
    (repeats.repeated_deleted_data(30, 25 << 10), (0, 30)),
    (repeats.deleted_key_chain(300, 200), (300, 0)),
], ids=["data", "paths"])
def test_recovered_rows_that_repeat_cells(image: bytes, counts: Tuple[int, int]) -> None:
    stream = tarnu._export(image, "jsonl", sources="recovered")
    written = sum(len(chunk) for chunk in stream)
    assert stream.recovered_counts() == counts
    assert [message for _, message in stream.problems()] == [
        budget_text("Rows of deleted keys and values", None, image, kind="paths, names and data") +
        "; later rows have no path and no data"]
    assert written < 2 * 2 * len(image) + sum(counts) * 300


# Names whose stored length differs from the decoded one: U+0000 at the end and a byte-order mark.
@pytest.mark.parametrize("stored, compressed, found", [
    ("Run\0\0", True, True),
    ("Run\0\0", False, True),
    ("Run\0x", True, False),
    ("\ufeffRun", False, True),
    ("\ufeffRun\0", False, True),
    ("Ru", True, False),
    ("Runs", False, False),
])
def test_stored_lengths_that_can_still_match(open_image: OpenImage, stored: str, compressed: bool,
                                             found: bool) -> None:
    root = Key("root", [Key("Rux"), Key(stored, compressed=compressed), Key("Zzz")], list_kind="li")
    hive = open_image(build_hive(root))
    if found:
        assert hive.key("RUN").cell_offset() == root.subkeys[1].offset
    else:
        with pytest.raises(tarnu.KeyNotFoundError):
            hive.key("RUN")


def test_a_value_list_that_repeats_values_still_finds_each(open_image: OpenImage) -> None:
    b = HiveBuilder()
    first, second = b.value("a", 4, 1), b.value("b", 4, 2)
    b.key("root", root=True, values=[first, second] * 20 + [b.value("c", 4, 3)])
    root = open_image(b.build()).root_key()
    assert [root.value(name).data().as_dword() for name in "abc"] == [1, 2, 3]
