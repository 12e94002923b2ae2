"""A key's place in the tree: parent() and path(), and the walk over a key and everything below it."""

import pathlib
from typing import Callable, Dict, Iterable, List, Literal, Optional, Tuple, Type

import pytest

import tarnu
from conftest import sample_path
from tarnu.hivebuilder import NO_CELL, HiveBuilder, Key, build_hive, subkey_list, vk

OpenImage = Callable[[bytes], tarnu.Hive]
Errors = Literal["raise", "skip"]
# Cell offsets of the keys (and other cells) of a built hive, by name.
Offsets = Dict[str, int]


def chain(depth: int) -> Tuple[bytes, List[int]]:
    """A root with a chain of `depth` keys below it, k1 to k<depth>; returns (image, offsets from the root down)."""
    b = HiveBuilder()
    offsets = [b.reserve(80) for _ in range(depth + 1)]
    for level in range(depth, -1, -1):
        b.key("k%d" % level if level else "ROOT", subkeys=offsets[level + 1:level + 2],
              parent=offsets[level - 1] if level else 0, at=offsets[level], root=level == 0)
    return b.build(), offsets


def walked(walk: Iterable[Tuple[str, tarnu.RegistryKey]]) -> List[Tuple[str, str]]:
    return [(path, key.name()) for path, key in walk]


# ---- parent and path ----------------------------------------------------------------------------------------

def test_parent_and_path_of_deep_keys(open_image: OpenImage) -> None:
    image, offsets = chain(6)
    hive = open_image(image)
    key: Optional[tarnu.RegistryKey]
    key = hive.key("k1\\k2\\k3\\k4\\k5\\k6")
    assert (key.path(), key.cell_offset()) == ("k1\\k2\\k3\\k4\\k5\\k6", offsets[6])
    names = []
    while key is not None:
        names.append(key.name())
        key = key.parent()
    assert names == ["k6", "k5", "k4", "k3", "k2", "k1", "ROOT"]
    assert (hive.root_key().parent(), hive.root_key().path()) == (None, "")
    assert hive.key("K1\\K2").parent() == hive.key("k1")


@pytest.mark.parametrize("depth, message", [
    (512, None),
    (513, "Invalid format: Key at offset {at:#x} is more than 512 levels below the root"),
])
def test_path_depth_bound(open_image: OpenImage, depth: int, message: Optional[str]) -> None:
    image, offsets = chain(depth)
    hive = open_image(image)
    key = hive.key("\\".join("k%d" % level for level in range(1, 513)))
    if depth == 513:
        key = key.subkeys()[0]
    assert key.cell_offset() == offsets[-1]
    if message is None:
        assert key.path().count("\\") == depth - 1
    else:
        with pytest.raises(ValueError) as info:
            key.path()
        assert str(info.value) == message.format(at=offsets[-1])


def parent_damaged_hive(open_image: OpenImage,
                        parent_of: Callable[[Offsets], int]) -> Tuple[tarnu.RegistryKey, Offsets]:
    """Root -> A -> B, where B's parent offset is `parent_of(builder, offsets)`; returns (B, offsets)."""
    b = HiveBuilder()
    offsets = {"root": b.reserve(80), "A": b.reserve(77)}
    offsets["junk"] = b.cell(vk("x" * 60))
    offsets["B"] = b.key("B", parent=parent_of(offsets))
    b.key("A", subkeys=[offsets["B"]], parent=offsets["root"], at=offsets["A"])
    b.key("root", subkeys=[offsets["A"]], root=True, at=offsets["root"])
    return open_image(b.build()).key("A\\B"), offsets


@pytest.mark.parametrize("parent_of", [
    lambda o: o["junk"], lambda o: NO_CELL, lambda o: 0, lambda o: 0x7FFFFFF0,
], ids=["vk", "no-cell", "zero", "far"])
def test_parent_offset_that_is_no_key_node(open_image: OpenImage, parent_of: Callable[[Offsets], int]) -> None:
    key, offsets = parent_damaged_hive(open_image, parent_of)
    message = "Invalid format: Parent offset %#x of key at offset %#x does not lead to a key node" % (
        parent_of(offsets), offsets["B"])
    for call in (key.parent, key.path):
        with pytest.raises(ValueError) as info:
            call()
        assert str(info.value) == message


@pytest.mark.parametrize("loop_to", ["A", "B"])
def test_parent_loop(open_image: OpenImage, loop_to: str) -> None:
    # B's parent is A and A's parent is B (or B itself): neither reaches the root.
    b = HiveBuilder()
    a_at, b_at = b.reserve(77), b.reserve(77)
    b.key("B", parent=a_at if loop_to == "A" else b_at, at=b_at)
    b.key("A", subkeys=[b_at], parent=b_at, at=a_at)
    b.key("root", subkeys=[a_at], root=True)
    key = open_image(b.build()).key("A\\B")
    parent = key.parent()
    assert parent is not None and parent.cell_offset() == (a_at if loop_to == "A" else b_at)
    with pytest.raises(ValueError) as info:
        key.path()
    assert str(info.value) == "Invalid format: Parents of key at offset %#x loop back to offset %#x" % (b_at, b_at)


# ---- walk ---------------------------------------------------------------------------------------------------

def test_walk_order_and_paths(open_image: OpenImage) -> None:
    root = Key("ROOT", [Key("b", [Key("x"), Key("a", [Key("deep")])], list_kind="li"), Key("a")],
               list_kind="li")
    hive = open_image(build_hive(root))
    expected = [("", "ROOT"), ("b", "b"), ("b\\x", "x"), ("b\\a", "a"), ("b\\a\\deep", "deep"), ("a", "a")]
    assert walked(hive.walk()) == expected
    assert walked(hive.root_key().walk()) == expected
    assert walked(hive.key("B").walk()) == [("", "b"), ("x", "x"), ("a", "a"), ("a\\deep", "deep")]
    assert walked(hive.key("a").walk(errors="skip")) == [("", "a")]
    for path, key in hive.walk():
        assert key.path() == path and hive.key(path) == key


def loop_hive(open_image: OpenImage) -> tarnu.Hive:
    """root -> A -> B; B's list names root, A and B again, then C; A's list names B twice."""
    b = HiveBuilder()
    root_at, a_at, b_at = b.reserve(80), b.reserve(80), b.reserve(80)
    c_at = b.key("C", parent=b_at)
    b.key("B", parent=a_at, at=b_at, list_kind="li", subkeys=[root_at, a_at, b_at, c_at])
    b.key("A", parent=root_at, at=a_at, list_kind="li", subkeys=[b_at, b_at])
    b.key("root", root=True, at=root_at, subkeys=[a_at])
    return open_image(b.build())


@pytest.mark.parametrize("errors", ["raise", "skip"])
def test_walk_enters_each_key_once(open_image: OpenImage, errors: Errors) -> None:
    hive = loop_hive(open_image)
    assert walked(hive.walk(errors=errors)) == [("", "root"), ("A", "A"), ("A\\B", "B"), ("A\\B\\C", "C")]
    # subkeys() still shows every entry
    assert [k.name() for k in hive.key("A\\B").subkeys()] == ["root", "A", "B", "C"]


def damaged_walk_hive(open_image: OpenImage) -> Tuple[tarnu.Hive, int]:
    """root -> [A, bad child, B -> [unknown list kind], C -> ri[li[D], bad list, li[E]]]."""
    b = HiveBuilder()
    bad_child = b.cell(vk("v" * 60))
    bad_list = b.cell(subkey_list("lx", []))
    d, e = b.key("D"), b.key("E")
    index = b.cell(subkey_list("ri", [b.cell(subkey_list("li", [d])), bad_list, b.cell(subkey_list("li", [e]))]))
    keys = [b.key("A"), bad_child, b.key("B", subkey_count=1, subkey_list_offset=bad_list),
            b.key("C", subkey_count=2, subkey_list_offset=index)]
    b.key("root", root=True, subkeys=keys, list_kind="li")
    return open_image(b.build()), bad_child


def test_walk_skips_what_it_cannot_read(open_image: OpenImage) -> None:
    hive, _ = damaged_walk_hive(open_image)
    assert walked(hive.walk(errors="skip")) == [("", "root"), ("A", "A"), ("B", "B"), ("C", "C"), ("C\\D", "D"),
                                                ("C\\E", "E")]
    with pytest.raises(ValueError):
        hive.root_key().subkeys()   # one bad child still fails subkeys()


def test_walk_raises_the_first_failure_and_ends(open_image: OpenImage) -> None:
    hive, bad_child = damaged_walk_hive(open_image)
    walk = hive.walk()
    assert walked([next(walk), next(walk)]) == [("", "root"), ("A", "A")]
    with pytest.raises(ValueError) as info:
        next(walk)
    assert str(info.value) == "Invalid format: Expected 'nk' signature at offset %#x" % bad_child
    assert list(walk) == []
    with pytest.raises(ValueError, match=r"^Invalid subkey list type: \[108, 120\]$"):
        list(hive.key("B").walk())


@pytest.mark.parametrize("errors", ["raise", "skip"])
def test_walk_depth_bound(open_image: OpenImage, errors: Errors) -> None:
    # The root and k1 to k512 are walked; k512 is not entered, so k513 is not reached.
    image, offsets = chain(513)
    walk = open_image(image).walk(errors=errors)
    seen = [next(walk) for _ in range(513)]
    assert (seen[-1][0].count("\\"), seen[-1][1].cell_offset()) == (511, offsets[512])
    if errors == "skip":
        assert list(walk) == []
    else:
        with pytest.raises(ValueError) as info:
            next(walk)
        assert str(info.value) == ("Invalid format: Key at offset %#x lies more than 512 levels below the walk's "
                                   "first key" % offsets[512])


def test_walk_bounds_the_entries_of_all_lists(open_image: OpenImage) -> None:
    # Five keys name one 3000-entry list each; past the second, they name more entries than the image has words.
    b = HiveBuilder()
    leaf = b.key("leaf")
    shared = b.cell(subkey_list("li", [leaf] * 3000))
    fans = [b.key("fan%d" % i, subkey_count=1, subkey_list_offset=shared) for i in range(5)]
    b.key("root", root=True, subkeys=fans, list_kind="li")
    image = b.build()
    assert 2 * 3000 + 5 <= len(image) // 4 < 3 * 3000 + 5
    hive = open_image(image)
    walk = hive.walk()
    assert [path for path, _ in (next(walk) for _ in range(5))] == ["", "fan0", "fan0\\leaf", "fan1", "fan2"]
    with pytest.raises(ValueError) as info:
        next(walk)
    assert str(info.value) == ("Invalid format: Subkey lists below key at offset %#x name more entries than "
                               "the hive holds" % fans[2])
    assert [path for path, _ in hive.walk(errors="skip")] == ["", "fan0", "fan0\\leaf", "fan1", "fan2", "fan3",
                                                               "fan4"]


def test_walk_iterator(open_image: OpenImage) -> None:
    hive = open_image(build_hive(Key("root", [Key("a")])))
    walk = hive.walk()
    assert iter(walk) is walk
    path, key = next(walk)
    assert (path, key) == ("", hive.root_key())
    cls = type(walk)
    assert (cls.__name__, cls.__module__) == ("KeyWalk", "builtins")
    with pytest.raises(TypeError, match="^No constructor defined$"):
        cls()
    assert not hasattr(tarnu, "KeyWalk")


@pytest.mark.parametrize("call", [lambda h, **k: h.walk(**k), lambda h, **k: h.root_key().walk(**k)])
@pytest.mark.parametrize("value, kind, message", [
    ("bogus", ValueError, "argument 'errors': expected 'raise' or 'skip', got 'bogus'"),
    ("RAISE", ValueError, "argument 'errors': expected 'raise' or 'skip', got 'RAISE'"),
    (1, TypeError, "argument 'errors': expected str, got int"),
    (None, TypeError, "argument 'errors': expected str, got NoneType"),
])
def test_walk_errors_argument(open_image: OpenImage, call: Callable[..., "tarnu.KeyWalk"], value: object,
                              kind: Type[Exception], message: str) -> None:
    hive = open_image(build_hive(Key("root")))
    with pytest.raises(kind) as info:
        call(hive, errors=value)
    assert str(info.value) == message


# ---- real hives -----------------------------------------------------------------------------------------------

@pytest.mark.parametrize("name, keys", [
    ("minimal", 1), ("special", 4), ("rlenvalue_test_hive", 2),
    ("NTUSER.DAT.xz", 1812), ("SYSTEM.xz", 30756), ("amcache.hve.xz", 2105),
])
def test_sample_walks_and_paths(samples_dir: pathlib.Path, name: str, keys: int) -> None:
    hive = tarnu.Hive.open(sample_path(name, samples_dir))
    seen = list(hive.walk())
    assert len(seen) == keys
    assert len({key for _, key in seen}) == keys
    for path, key in seen:
        assert key.path() == path
        assert hive.key(path) == key
