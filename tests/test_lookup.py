"""Finding keys: RegistryKey.subkey(path) and Hive.key(path), names compared as the registry compares them."""

import pathlib
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

import pytest

import tarnu
from conftest import sample_path
from tarnu.hivebuilder import (REG_DWORD, REG_SZ, HiveBuilder, Key, SubkeyEntry, Value, build_hive, lh_hash, nk,
                               subkey_list, vk)

OpenImage = Callable[[bytes], tarnu.Hive]

LIST_KINDS = [("lh", "lh"), ("lf", "lh"), ("li", "lh"), ("ri", "lh"), ("ri", "lf"), ("ri", "li")]


def tree(list_kind: str = "lh", leaf_kind: str = "lh") -> Key:
    """Root with ten keys, each with ten keys, each with one key "Leaf"; lists of the given kind."""
    def level(prefix: str, children: Callable[[], List[Key]]) -> List[Key]:
        return [Key("%s%d" % (prefix, i), children(), list_kind=list_kind, leaf_kind=leaf_kind, chunk=3)
                for i in range(10)]
    root = Key("ROOT", level("Set", lambda: level("Svc", lambda: [Key("Leaf")])), list_kind=list_kind,
               leaf_kind=leaf_kind, chunk=3)
    return root


def raises_not_found(call: Callable[[str], object], path: str) -> None:
    with pytest.raises(ValueError) as info:
        call(path)
    assert str(info.value) == "Not found: Key '%s'" % path


@pytest.mark.parametrize("list_kind, leaf_kind", LIST_KINDS)
def test_lookup_through_every_list_kind(open_image: OpenImage, list_kind: str, leaf_kind: str) -> None:
    root = tree(list_kind, leaf_kind)
    hive = open_image(build_hive(root))
    for i, j in [(0, 0), (3, 7), (9, 9)]:
        expected = root.subkeys[i].subkeys[j]
        for path in ["Set%d\\Svc%d" % (i, j), "SET%d\\svc%d" % (i, j), "sEt%d\\SvC%d\\" % (i, j)]:
            key = hive.key(path)
            assert (key.name(), key.cell_offset()) == ("Svc%d" % j, expected.offset)
            assert hive.root_key().subkey(path) == key
            assert hive.key("Set%d" % i).subkey("svc%d\\LEAF" % j).cell_offset() == expected.subkeys[0].offset
    for missing in ["Set10", "Set1\\Svc1\\Leaf\\More", "Svc1", "Set", "Set1\\Leaf"]:
        raises_not_found(hive.key, missing)


SMILE = "\U0001F600"


@pytest.mark.parametrize("stored, compressed, wanted, found", [
    ("Services", None, "SERVICES", True),
    ("caf\xe9", True, "CAF\xc9", True),            # Latin-1 stored in 8 bits
    ("caf\xe9", False, "CAF\xc9", True),           # the same text stored as UTF-16
    ("\xff", True, "\u0178", True),                # ÿ stored in 8 bits upper-cases past Latin-1
    ("\u03a9mega", False, "\u03c9MEGA", True),     # Ωmega
    ("weird\u2122", False, "WEIRD\u2122", True),
    ("\u01c6emal", False, "\u01c4EMAL", True),     # ǆ and Ǆ
    ("stra\xdfe", True, "STRASSE", False),         # no one-to-many mappings
    ("stra\xdfe", True, "STRA\xdfE", True),
    (SMILE + "x", False, SMILE + "X", True),
    ("\U00010428", False, "\U00010400", False),    # case pairs past the BMP are not folded
    ("text/plain", None, "TEXT/PLAIN", True),
    ("zero\0key", True, "ZERO\0KEY", True),
    ("Run", None, "Ru", False),
    ("Run", None, "Runs", False),
    ("Run", None, "R\xfcn", False),
])
@pytest.mark.parametrize("list_kind", ["lh", "lf", "li"])
def test_names_compare_as_the_registry_does(open_image: OpenImage, list_kind: str, stored: str,
                                            compressed: Optional[bool], wanted: str, found: bool) -> None:
    root = Key("root", [Key("Other"), Key(stored, compressed=compressed), Key("Zzz")], list_kind=list_kind)
    hive = open_image(build_hive(root))
    if found:
        assert hive.key(wanted).cell_offset() == root.subkeys[1].offset
        assert hive.key(wanted).name() == stored
    else:
        raises_not_found(hive.key, wanted)


def hinted_hive(open_image: OpenImage, kind: str, entries: List[Any],
                names: Sequence[str] = ("Alpha", "Beta", "Gamma", "Caf\xe9")) -> Tuple[tarnu.Hive, Dict[str, int]]:
    """A root whose list of `kind` holds `entries`: (key name, hint or hash as stored) pairs, or names for "li"."""
    b = HiveBuilder()
    offsets = {name: b.key(name) for name in names}
    listed: List[SubkeyEntry]
    if kind == "li":
        listed = [offsets[name] for name in entries]
    else:
        listed = [(offsets[name], extra) for name, extra in entries]
    b.key("root", root=True, subkey_count=len(entries), subkey_list_offset=b.cell(subkey_list(kind, listed)))
    return open_image(b.build()), offsets


# A hash or hint only lets a lookup pass over a child; it never stands in for the name.
@pytest.mark.parametrize("kind, entries, wanted, expected", [
    ("lh", [("Alpha", "Alpha"), ("Beta", "Beta")], "BETA", "Beta"),
    ("lh", [("Alpha", lh_hash("BETA")), ("Beta", "Beta")], "beta", "Beta"),   # a collision is read and passed
    ("lh", [("Alpha", 0), ("Beta", 0)], "Beta", None),                        # a lying hash hides the key
    ("lh", [("Alpha", lh_hash("GAMMA"))], "Gamma", None),                     # never a key of another name
    ("lh", [("Caf\xe9", 0)], "CAF\xc9", "Caf\xe9"),                           # not trusted past ASCII
    ("lf", [("Alpha", b"Alph"), ("Beta", b"Beta")], "beta", "Beta"),
    ("lf", [("Alpha", b"beta"), ("Beta", b"BETA")], "Beta", "Beta"),          # hints compare without case
    ("lf", [("Alpha", b"Alph"), ("Beta", b"Zeta")], "Beta", None),            # a lying hint hides the key
    ("lf", [("Alpha", b"Gamm")], "Gamma", None),
    ("lf", [("Beta", b"Bet")], "Beta", None),                                 # so does a hint of a shorter name
    ("lf", [("Beta", b"Beta")], "Bet", None),                                 # the stored name goes on
    ("lf", [("Beta", b"\0abc")], "Beta", "Beta"),                             # a first byte 0 decides nothing
    ("lf", [("Beta", b"B\xe9ta")], "Beta", "Beta"),                           # nor does a byte past ASCII
    ("lf", [("Caf\xe9", b"Zzzz")], "caf\xe9", "Caf\xe9"),                     # nor a name past ASCII
    ("li", ["Alpha", "Beta"], "BETA", "Beta"),
])
def test_hints_and_hashes(open_image: OpenImage, kind: str, entries: List[Any], wanted: str,
                          expected: Optional[str]) -> None:
    hive, offsets = hinted_hive(open_image, kind, entries)
    if expected is None:
        raises_not_found(hive.key, wanted)
    else:
        assert hive.key(wanted).cell_offset() == offsets[expected]


def garbage_siblings_hive(open_image: OpenImage, kind: str, garbage: int = 200) -> Tuple[tarnu.Hive, int, int]:
    """The path A\\B\\C; beside B and C, `garbage` entries each, leading to a cell that is no key node."""
    b = HiveBuilder()
    junk = b.cell(vk("x" * 60))
    leaf = child = b.key("C")
    name = "C"
    for parent in ("B", "A"):
        named = [(junk, "Junk%03d" % i) for i in range(garbage)]
        named.insert(garbage // 2, (child, name))
        entries: List[SubkeyEntry] = [offset for offset, _ in named] if kind == "li" else list(named)
        child, name = b.key(parent, subkey_count=len(entries),
                            subkey_list_offset=b.cell(subkey_list(kind, entries))), parent
    entries = [(child, name)] if kind != "li" else [child]
    b.key("root", root=True, subkey_count=1, subkey_list_offset=b.cell(subkey_list(kind, entries)))
    return open_image(b.build()), junk, leaf


@pytest.mark.parametrize("kind", ["lh", "lf"])
def test_lookup_reads_one_node_per_level(open_image: OpenImage, kind: str) -> None:
    # Reading any node beside the path would fail the lookup: it reads one node per level.
    hive, _, leaf = garbage_siblings_hive(open_image, kind)
    assert hive.key("a\\b\\c").cell_offset() == leaf
    raises_not_found(hive.key, "A\\B\\Missing")


def test_lists_without_hints_read_every_node(open_image: OpenImage) -> None:
    hive, junk, leaf = garbage_siblings_hive(open_image, "li")
    assert hive.key("a\\b\\c").cell_offset() == leaf   # unreadable siblings do not hide a match
    with pytest.raises(ValueError) as info:
        hive.key("A\\B\\Missing")                    # but without a match their failure is the answer
    assert str(info.value) == "Invalid format: Expected 'nk' signature at offset %#x" % junk


def test_unreadable_lists_under_an_index(open_image: OpenImage) -> None:
    b = HiveBuilder()
    first, last = b.key("First"), b.key("Last")
    bad = b.cell(subkey_list("lx", []))
    index = b.cell(subkey_list("ri", [b.cell(subkey_list("li", [first])), bad,
                                      b.cell(subkey_list("lh", [(last, "Last")]))]))
    b.key("root", root=True, subkey_count=2, subkey_list_offset=index)
    hive = open_image(b.build())
    assert [hive.key(name).cell_offset() for name in ("first", "LAST")] == [first, last]
    with pytest.raises(ValueError, match=r"^Invalid subkey list type: \[108, 120\]$"):
        hive.key("Middle")


def test_subkey_count_zero_has_no_children(open_image: OpenImage) -> None:
    root = Key("root", [Key("A")], subkey_count=0)
    raises_not_found(open_image(build_hive(root)).key, "A")


@pytest.mark.parametrize("path", ["", "\\", "\\\\", "A\\B", "\\A\\B", "A\\B\\", "\\\\A\\\\\\B\\\\", "a\\\\b"])
def test_empty_components_are_ignored(open_image: OpenImage, path: str) -> None:
    root = Key("root", [Key("A", [Key("B")])])
    hive = open_image(build_hive(root))
    expected = root.offset if path.strip("\\") == "" else root.subkeys[0].subkeys[0].offset
    assert hive.key(path).cell_offset() == expected
    assert hive.root_key().subkey(path).cell_offset() == expected


def test_slash_is_part_of_a_name(open_image: OpenImage) -> None:
    root = Key("root", [Key("text/plain", [Key("x")]), Key("text", [Key("plain")])])
    hive = open_image(build_hive(root))
    assert hive.key("TEXT/PLAIN\\X").path() == "text/plain\\x"
    assert hive.key("text\\plain").path() == "text\\plain"
    raises_not_found(hive.key, "text/plain/x")


def test_paths_that_come_back_or_pass_512_names_lead_nowhere(open_image: OpenImage) -> None:
    # A key whose list names itself: every level past the first leads back to a key the path passed, and no key
    # lies 513 levels deep.
    b = HiveBuilder()
    at = b.reserve(80)
    b.key("A", at=at, subkey_count=1, subkey_list_offset=b.cell(subkey_list("lh", [(at, "A")])))
    b.key("root", root=True, subkeys=[at])
    hive = open_image(b.build())
    assert hive.key("a").cell_offset() == at
    for depth in (2, 512, 513):
        raises_not_found(hive.key, "\\".join(["a"] * depth))
        raises_not_found(hive.key("A").subkey, "\\".join(["a"] * (depth - 1)))


def test_first_match_in_stored_order(open_image: OpenImage) -> None:
    root = Key("root", [Key("dup"), Key("DUP")], list_kind="li")
    hive = open_image(build_hive(root))
    assert hive.key("Dup").cell_offset() == root.subkeys[0].offset


def system_like(select: Optional[Value] = Value("Current", REG_DWORD, 2), extra: Sequence[Key] = ()) -> Key:
    def control_set(n: int) -> Key:
        return Key("ControlSet%03d" % n, [Key("Services", [Key("Tcpip", values=[Value("Set", REG_DWORD, n)])])])
    select_key = [Key("Select", values=[select])] if select is not None else []
    return Key("ROOT", [control_set(1), control_set(2)] + select_key + list(extra))


@pytest.mark.parametrize("root, path, expected", [
    (system_like(), "CurrentControlSet\\Services\\Tcpip", "ControlSet002\\Services\\Tcpip"),
    (system_like(), "\\currentcontrolset\\SERVICES", "ControlSet002\\Services"),
    (system_like(), "CurrentControlSet", "ControlSet002"),
    (system_like(Value("Current", REG_DWORD, 1)), "CurrentControlSet\\Services", "ControlSet001\\Services"),
    (system_like(extra=[Key("CurrentControlSet", [Key("Services")])]), "CurrentControlSet\\Services",
     "CurrentControlSet\\Services"),
    (system_like(Value("Current", REG_DWORD, 3)), "CurrentControlSet", None),
    (system_like(Value("Current", REG_SZ, "1")), "CurrentControlSet", None),
    (system_like(Value("Other", REG_DWORD, 1)), "CurrentControlSet", None),
    (system_like(None), "CurrentControlSet", None),
    (system_like(), "Select\\CurrentControlSet", None),
])
def test_current_control_set(open_image: OpenImage, root: Key, path: str, expected: Optional[str]) -> None:
    hive = open_image(build_hive(root))
    if expected is None:
        raises_not_found(hive.key, path)
    else:
        assert hive.key(path).path() == expected


def test_current_control_set_only_from_the_hive(open_image: OpenImage) -> None:
    hive = open_image(build_hive(system_like()))
    raises_not_found(hive.root_key().subkey, "CurrentControlSet")


@pytest.mark.parametrize("call, name", [
    (lambda h, *a, **k: h.key(*a, **k), "Hive.key"),
    (lambda h, *a, **k: h.root_key().subkey(*a, **k), "RegistryKey.subkey"),
])
@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, "{}() missing 1 required positional argument: 'path'"),
    (("a", "b"), {}, "{}() takes 1 positional arguments but 2 were given"),
    ((), {"name": "a"}, "{}() got an unexpected keyword argument 'name'"),
    ((b"a",), {}, "argument 'path': expected str, got bytes"),
])
def test_lookup_argument_errors(open_image: OpenImage, call: Callable[..., tarnu.RegistryKey], name: str,
                                args: Tuple[object, ...], kwargs: Dict[str, object], message: str) -> None:
    hive = open_image(build_hive(Key("root", [Key("a")])))
    assert call(hive, path="A").name() == "a"
    with pytest.raises(TypeError) as info:
        call(hive, *args, **kwargs)
    assert str(info.value) == message.format(name)


def test_lookup_of_an_unreadable_root(open_image: OpenImage) -> None:
    b = HiveBuilder()
    b.root = b.cell(nk("x")[:70], size=-74)
    with pytest.raises(ValueError, match=r"^Truncated data at offset 0x20: expected 76 bytes, got 70 bytes$"):
        open_image(b.build()).key("x")


# ---- real hives -----------------------------------------------------------------------------------------------

def test_sample_system_lookups(samples_dir: pathlib.Path) -> None:
    hive = tarnu.Hive.open(sample_path("SYSTEM.xz", samples_dir))
    tcpip = hive.key("ControlSet001\\Services\\Tcpip")
    assert (tcpip.name(), tcpip.path()) == ("Tcpip", "ControlSet001\\services\\Tcpip")
    assert hive.key("CurrentControlSet\\Services\\TCPIP") == tcpip
    lsa = hive.key("ControlSet001\\Control\\Lsa")
    assert [lsa.subkey(name).class_name() for name in ("JD", "Skew1", "GBG", "Data")] == \
        ["67cd88ed", "8df2db5b", "e770d1f4", "b6cf2e27"]


def test_sample_special_names(samples_dir: pathlib.Path) -> None:
    hive = tarnu.Hive.open(sample_path("special", samples_dir))
    assert [hive.key(name).name() for name in ("ABCD_\xc4\xd6\xdc\xdf", "WEIRD\u2122", "ZERO\0KEY")] == \
        ["abcd_\xe4\xf6\xfc\xdf", "weird\u2122", "zero\0key"]
