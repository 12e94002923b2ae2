"""Key nodes, key names, the key cache and the RegistryKey class."""

import gc
import pathlib
import threading
from typing import Any, Callable, Dict, List, Optional, Tuple

import pytest

import tarnu
from conftest import sample_path, stored_at
from tarnu.hivebuilder import (HiveBuilder, Key, NO_CELL, NkFields, build_hive, filetime, nk,
                         subkey_list, vk)

OpenImage = Callable[[bytes], tarnu.Hive]
# What walk() shows of one key: its path, repr, subkey and value counts, and last-written timestamp.
Row = Tuple[str, str, int, int, Optional[int]]


def exact(payload: bytes) -> int:
    """Size field making the cell's payload exactly ``payload`` (no rounding slack)."""
    return -(4 + len(payload))


def key_reader(open_image: OpenImage, payload: bytes, *, size: Optional[int] = None,
               as_child: bool = False) -> Tuple[Callable[[], tarnu.RegistryKey], int]:
    """Store ``payload`` as the root key node, or as the only child of a root
    placed at a later offset; return (function reading it, its cell offset)."""
    b = HiveBuilder()
    if not as_child:
        b.root = at = b.cell(payload, size=size)
        hive = open_image(b.build())
        return hive.root_key, at
    b.cell(bytes(60))  # keeps the node away from the first cell position
    at = b.cell(payload, size=size)
    b.key("root", root=True, subkeys=[at])
    hive = open_image(b.build())
    return (lambda: hive.root_key().subkeys()[0]), at


def walk(key: tarnu.RegistryKey, path: str = "") -> List[Row]:
    """Everything a key tree shows, depth-first."""
    path += "\\" + key.name()
    rows = [(path, repr(key), key.subkey_count(), key.value_count(),
             key.last_written_timestamp())]
    for child in key.subkeys():
        rows += walk(child, path)
    return rows


def count_keys(root: tarnu.RegistryKey) -> int:
    count, stack = 0, [root]
    while stack:
        count += 1
        stack.extend(stack.pop().subkeys())
    return count


# ---- names ----------------------------------------------------------------------------------------------------

SMILE = "\U0001F600"


@pytest.mark.parametrize("fields, expected", [
    (dict(name=b"", compressed=True), ""),
    (dict(name=b"", compressed=False), ""),
    # name_length 0 reads no name bytes at all, whatever follows the node
    (dict(name=b"abc", compressed=True, name_length=0), ""),
    (dict(name=b"\x00\xd8x", compressed=False, name_length=0), ""),
    # compressed names: one byte per character, Latin-1
    (dict(name=b"Run\0\0", compressed=True), "Run"),
    (dict(name=b"caf\xe9", compressed=True), "caf\xe9"),
    (dict(name=b"\xe4\xf6\xfc\xdf", compressed=True), "\xe4\xf6\xfc\xdf"),
    (dict(name=b"\xc3\xa9", compressed=True), "\xc3\xa9"),  # never read as UTF-8
    (dict(name=bytes(range(0x80, 0x100)), compressed=True), bytes(range(0x80, 0x100)).decode("latin-1")),
    (dict(name=b"a\0b\0", compressed=True), "a\0b"),
    (dict(name=b"\0\0", compressed=True), ""),
    (dict(name=b"caf\xe9", flags=0xFFFF), "caf\xe9"),  # only bit 0x20 decides
    # UTF-16 names, byte-order mark chooses the encoding
    (dict(name=b"A\0\0\0", compressed=False), "A"),
    (dict(name=b"A\0\0\0B\0", compressed=False), "A\0B"),
    (dict(name=b"\xff\xfeA\0", compressed=False), "A"),
    (dict(name=b"\xfe\xff\0A\0\0", compressed=False), "A"),
    (dict(name=b"\xef\xbb\xbfA", compressed=False), "A"),
    (dict(name=b"\xef\xbb\xbf\xc3\xa9\0", compressed=False), "\xe9"),
    (dict(name=b"\xff\xfe", compressed=False), ""),
    (dict(name=b"\xfe\xff", compressed=False), ""),
    (dict(name=b"\xff\xfe\xff\xfe", compressed=False), "\ufeff"),  # only the first mark is dropped
    (dict(name=SMILE.encode("utf-16-le"), compressed=False), SMILE),
    (dict(name=b"\xfe\xff" + SMILE.encode("utf-16-be"), compressed=False), SMILE),
    (dict(name="weird\u2122".encode("utf-16-le"), flags=0xFFDF), "weird\u2122"),
    # names on either side of eight bytes, which the decoders read at a time, and UTF-16 characters whose bytes
    # are each below 0x80 without being ASCII
    *[(dict(name=text.encode("latin-1"), compressed=True), text)
      for text in ["abcdefg", "abcdefgh", "abcdefghi", "abcdefghijklmnop\xe9", "\xe9abcdefghijklmnop"]],
    *[(dict(name=text.encode("utf-16-le"), compressed=False), text)
      for text in ["abc", "abcd", "abcde", "\u2121", "\u0100", "x\u4141", "abcdefg\u0101", "\u2121bcdefgh"]],
    *[(dict(name=b"\xfe\xff" + text.encode("utf-16-be"), compressed=False), text)
      for text in ["abcd", "\u2121", "\u0100", "abc\u4141"]],
])
def test_key_name_decoding(open_image: OpenImage, fields: Dict[str, Any], expected: str) -> None:
    read, _ = key_reader(open_image, nk(**fields))
    key = read()
    assert key.name() == expected
    assert repr(key) == "RegistryKey(name='%s', subkeys=0, values=0)" % expected


@pytest.mark.parametrize("as_child", [False, True])
@pytest.mark.parametrize("raw", [
    b"\x00\xd8", b"\x00\xdc", b"\x00\xd8A\x00", b"A\x00\x00\xd8", b"\x00\xdc\x00\xd8",
    b"\x00\xdc\x00\xdc",
    b"A\x00B", b"\xff\xfeA", b"\xef\xbb\xbf", b"\xef\xbb\xbf\xff",
    b"\xef\xbb\xbf\xed\xa0\x80\x00",  # a surrogate spelled in UTF-8
    b"\xef\xbb\xbf\xc0\x80\x00",      # an overlong NUL
    b"\xfe\xff\xd8\x00",
])
def test_invalid_utf16_name(open_image: OpenImage, raw: bytes, as_child: bool) -> None:
    read, at = key_reader(open_image, nk(raw, compressed=False), as_child=as_child)
    for _ in range(2):  # a failed read is not cached: it fails again alike
        with pytest.raises(ValueError) as info:
            read()
        assert str(info.value) == "Invalid UTF-16 string at offset %#x" % at


@pytest.mark.parametrize("as_child", [False, True])
@pytest.mark.parametrize("payload, message", [
    (nk("x")[:75], "Truncated data at offset {at:#x}: expected 76 bytes, got 75 bytes"),
    (vk("x" * 60)[:75], "Truncated data at offset {at:#x}: expected 76 bytes, got 75 bytes"),
    (bytes(75), "Truncated data at offset {at:#x}: expected 76 bytes, got 75 bytes"),
    (b"", "Truncated data at offset {at:#x}: expected 76 bytes, got 0 bytes"),
    (vk("x" * 60), "Invalid format: Expected 'nk' signature at offset {at:#x}"),
    (nk("x", signature=b"kn"), "Invalid format: Expected 'nk' signature at offset {at:#x}"),
    (nk("x", signature=b"NK"), "Invalid format: Expected 'nk' signature at offset {at:#x}"),
    (subkey_list("lh", [0] * 10), "Invalid format: Expected 'nk' signature at offset {at:#x}"),
    (nk(b"ab", name_length=3), "Truncated data at offset {at:#x}: expected 79 bytes, got 78 bytes"),
    (nk(b"ab", name_length=0xFFFF), "Truncated data at offset {at:#x}: expected 65611 bytes, got 78 bytes"),
])
def test_unreadable_key_node(open_image: OpenImage, payload: bytes, message: str, as_child: bool) -> None:
    read, at = key_reader(open_image, payload, size=exact(payload), as_child=as_child)
    for _ in range(2):
        with pytest.raises(ValueError) as info:
            read()
        assert str(info.value) == message.format(at=at)


def test_vk_at_root_offset_0x20(open_image: OpenImage) -> None:
    read, at = key_reader(open_image, vk("x" * 56))
    assert at == 0x20
    with pytest.raises(ValueError, match=r"^Invalid format: Expected 'nk' signature at offset 0x20$"):
        read()


@pytest.mark.parametrize("name_length, expected", [(2, "ab"), (8, "ab")])
def test_name_may_use_the_cells_slack(open_image: OpenImage, name_length: int, expected: str) -> None:
    # 78-byte node in an 88-byte cell: the name may run into the zeroed slack
    read, _ = key_reader(open_image, nk(b"ab", name_length=name_length))
    assert read().name() == expected


def test_root_offset_outside_the_image(open_image: OpenImage) -> None:
    with pytest.raises(ValueError, match=r"^Invalid offset 0xffffffff \(hive size: 0x0\)$"):
        open_image(build_hive(Key("r"), root_cell_offset=NO_CELL)).root_key()


# ---- repeated reads -------------------------------------------------------------------------------------------

def test_repeated_reads_agree(open_image: OpenImage) -> None:
    hive = open_image(build_hive(Key("root", [Key("a\xe9", [Key("x")]), Key("b\u2122")])))
    first, second = walk(hive.root_key()), walk(hive.root_key())
    assert first == second
    assert [row[0] for row in first] == ["\\root", "\\root\\a\xe9", "\\root\\a\xe9\\x", "\\root\\b\u2122"]
    assert hive.root_key() is not hive.root_key()


def test_each_hive_reads_its_own_image(open_image: OpenImage) -> None:
    # same layout, same offsets, different names
    one = open_image(build_hive(Key("root", [Key("one")])))
    two = open_image(build_hive(Key("root", [Key("two")])))
    assert [k.name() for k in one.root_key().subkeys()] == ["one"]
    assert [k.name() for k in two.root_key().subkeys()] == ["two"]
    assert [k.name() for k in one.root_key().subkeys()] == ["one"]


def test_children_are_read_anew_on_every_call(write_file: Callable[[bytes], str]) -> None:
    # Rewrites name bytes of the file under an open hive: nothing is cached, so a node whose read
    # failed is read anew, and so is a node read before.
    root = Key("root", [Key("good"), Key("AB", compressed=False), Key("fresh")])
    path = write_file(build_hive(root))
    good, bad, fresh = (stored_at(k) for k in root.subkeys)

    def patch(offset: int, raw: bytes) -> None:
        with open(path, "r+b") as f:
            f.seek(4096 + offset + 4 + 76)
            f.write(raw)

    patch(bad, b"\x00\xd8")  # "A" becomes an unpaired surrogate
    top = tarnu.Hive.open(path).root_key()
    for _ in range(2):
        with pytest.raises(ValueError, match="^Invalid UTF-16 string at offset %#x$" % bad):
            top.subkeys()   # reads "good", then fails on the second child
    patch(good, b"GOOD")
    patch(fresh, b"FRESH")
    patch(bad, b"A\x00")
    names = [k.name() for k in top.subkeys()]
    if names[2] != "FRESH":
        pytest.skip("file changes do not show through an open hive here")
    assert names == ["GOOD", "AB", "FRESH"]
    assert [k.name() for k in tarnu.Hive.open(path).root_key().subkeys()] == ["GOOD", "AB", "FRESH"]


# ---- RegistryKey ------------------------------------------------------------------------------------------------

def test_methods_repr_and_stored_counts(open_image: OpenImage) -> None:
    b = HiveBuilder()
    child = b.key("x")
    lst = b.cell(subkey_list("li", [child]))
    b.key("Run", root=True, subkey_count=3, subkey_list_offset=lst, value_count=2)
    key = open_image(b.build()).root_key()
    assert (key.name(), key.subkey_count(), key.value_count()) == ("Run", 3, 2)
    assert repr(key) == "RegistryKey(name='Run', subkeys=3, values=2)"
    assert [k.name() for k in key.subkeys()] == ["x"]   # the count is not checked
    assert key.subkey_count() == 3
    assert not isinstance(key.name, str) and callable(key.name)


@pytest.mark.parametrize("fields", [
    dict(subkey_count=0, subkey_list_offset=0x12345678),
    dict(subkey_count=0, subkey_list_offset=0x40),      # lands on some other cell
    dict(subkey_count=7, subkey_list_offset=NO_CELL),
    dict(subkey_count=7, subkey_list_offset=0),
])
def test_keys_without_readable_list_have_no_subkeys(open_image: OpenImage, fields: NkFields) -> None:
    key = open_image(build_hive(Key("k", **fields))).root_key()
    assert key.subkeys() == []
    assert key.subkey_count() == fields["subkey_count"]


def test_name_is_shown_unescaped_and_counts_unsigned(open_image: OpenImage) -> None:
    key = open_image(build_hive(Key("it's\\", subkey_count=0xFFFFFFFF, value_count=0x80000000,
                                    subkey_list_offset=NO_CELL))).root_key()
    assert repr(key) == "RegistryKey(name='it's\\', subkeys=4294967295, values=2147483648)"
    assert (key.subkey_count(), key.value_count()) == (4294967295, 2147483648)


def test_one_unreadable_child_fails_subkeys(open_image: OpenImage) -> None:
    b = HiveBuilder()
    a, c = b.key("a"), b.key("c")
    bad = b.cell(vk("v" * 60))
    b.key("root", root=True, subkeys=[a, bad, c])
    key = open_image(b.build()).root_key()
    with pytest.raises(ValueError) as info:
        key.subkeys()
    assert str(info.value) == "Invalid format: Expected 'nk' signature at offset %#x" % bad


@pytest.mark.parametrize("ticks, expected", [
    (0, None),
    (1, -11644473600),
    (9_999_999, -11644473600),
    (116444736000000000, 0),
    (116444736009999999, 0),
    (116444736010000000, 1),
    (filetime(1577836800), 1577836800),
    (0xFFFFFFFFFFFFFFFF, 1844674407370 - 11644473600),
])
def test_last_written_timestamp(open_image: OpenImage, ticks: int, expected: Optional[int]) -> None:
    key = open_image(build_hive(Key("k", last_written=ticks))).root_key()
    assert key.last_written_timestamp() == expected


def test_key_outlives_its_hive(open_image: OpenImage) -> None:
    hive = open_image(build_hive(Key("root", [Key("a", [Key("b")], last_written=filetime(5))])))
    root = hive.root_key()
    child = root.subkeys()[0]
    del hive
    gc.collect()
    assert [k.name() for k in child.subkeys()] == ["b"]
    del root
    gc.collect()
    assert child.subkeys()[0].subkeys() == []
    assert child.last_written_timestamp() == 5


@pytest.mark.parametrize("method, signature, doc", [
    ("name", "($self)", "Get the key name"),
    ("subkey_count", "($self)", "Get the number of subkeys"),
    ("value_count", "($self)", "Get the number of values"),
    ("subkeys", "($self)", "Get all subkeys"),
    ("values", "($self)", "Get all values"),
    ("value", "($self, name)", "Get a specific value by name"),
    ("last_written_timestamp", "($self)",
     "Get the last write timestamp as Unix timestamp (seconds since epoch)"),
])
def test_method_docs(method: str, signature: str, doc: str) -> None:
    function = getattr(tarnu.RegistryKey, method)
    assert (function.__text_signature__, function.__doc__) == (signature, doc)


def test_class_surface() -> None:
    assert tarnu.RegistryKey.__doc__.startswith("Python wrapper for RegistryKey\n\n")  # type: ignore[union-attr]
    assert len(tarnu.RegistryKey.__doc__) > len("Python wrapper for RegistryKey\n\n")  # type: ignore[arg-type]
    with pytest.raises(TypeError, match="^No constructor defined$"):
        tarnu.RegistryKey()


@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, "RegistryKey.value() missing 1 required positional argument: 'name'"),
    (("a", "b"), {}, "RegistryKey.value() takes 1 positional arguments but 2 were given"),
    ((), {"nme": "a"}, "RegistryKey.value() got an unexpected keyword argument 'nme'"),
    (("a",), {"name": "a"}, "RegistryKey.value() got multiple values for argument 'name'"),
])
def test_value_argument_errors(open_image: OpenImage, args: Tuple[str, ...], kwargs: Dict[str, str],
                               message: str) -> None:
    key = open_image(build_hive(Key("k"))).root_key()
    with pytest.raises(TypeError) as info:
        key.value(*args, **kwargs)
    assert str(info.value) == message


@pytest.mark.parametrize("bad", [b"a", 1, None])
def test_value_name_must_be_str(open_image: OpenImage, bad: object) -> None:
    key = open_image(build_hive(Key("k"))).root_key()
    with pytest.raises(TypeError, match="^argument 'name': "):
        key.value(bad)  # type: ignore[arg-type]


def test_methods_check_their_receiver(open_image: OpenImage) -> None:
    hive = open_image(build_hive(Key("k")))
    for method in ("name", "subkeys", "last_written_timestamp"):
        with pytest.raises(TypeError):
            getattr(tarnu.RegistryKey, method)(hive)


# ---- threads --------------------------------------------------------------------------------------------------

def walk_in_threads(hive: tarnu.Hive, threads: int = 8) -> List[Optional[List[Row]]]:
    shared_root = hive.root_key()
    barrier = threading.Barrier(threads)
    results: List[Optional[List[Row]]] = [None] * threads
    errors: List[BaseException] = []

    def run(i: int) -> None:
        try:
            barrier.wait()
            results[i] = walk(shared_root if i % 2 else hive.root_key())
        except BaseException as error:  # reported by the main thread
            errors.append(error)

    workers = [threading.Thread(target=run, args=(i,)) for i in range(threads)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    assert errors == []
    return results


def tree_image() -> bytes:
    kinds = ["lf", "lh", "li", "ri"]
    children = [Key("k%d" % i, [Key("s%d_%d" % (i, j), last_written=filetime(j)) for j in range(60)],
                    list_kind=kinds[i % 4], chunk=16, leaf_kind=kinds[(i // 4) % 3])
                for i in range(40)]
    image: bytes = build_hive(Key("root", children, list_kind="ri", chunk=7))
    return image


@pytest.mark.parametrize("source", ["built", "SYSTEM.xz"])
def test_threads_walk_one_hive(write_file: Callable[[bytes], str], samples_dir: pathlib.Path, source: str) -> None:
    path = write_file(tree_image()) if source == "built" else sample_path(source, samples_dir)
    expected = walk(tarnu.Hive.open(path).root_key())
    assert len(expected) == (2441 if source == "built" else 30756)
    # a fresh hive, so the threads fill its cache while racing each other
    results = walk_in_threads(tarnu.Hive.open(path), threads=8 if source == "built" else 4)
    assert all(result == expected for result in results)


# ---- real hives -----------------------------------------------------------------------------------------------

@pytest.mark.parametrize("name, keys", [
    ("minimal", 1), ("special", 4), ("rlenvalue_test_hive", 2),
    ("NTUSER.DAT.xz", 1812), ("amcache.hve.xz", 2105),
])
def test_real_hive_key_counts(samples_dir: pathlib.Path, name: str, keys: int) -> None:
    assert count_keys(tarnu.Hive.open(sample_path(name, samples_dir)).root_key()) == keys


def test_special_key_names(samples_dir: pathlib.Path) -> None:
    root = tarnu.Hive.open(sample_path("special", samples_dir)).root_key()
    assert root.name() == "$$$PROTO.HIV"
    assert [k.name() for k in root.subkeys()] == ["abcd_\xe4\xf6\xfc\xdf", "weird\u2122", "zero\0key"]
