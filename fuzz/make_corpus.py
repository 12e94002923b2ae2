"""Write the seed corpus of every fuzz target: inputs made with the project's hive builder, plus the inputs kept
in fuzz/seeds/<target> (small files worth keeping from fuzz runs).

    python fuzz/make_corpus.py OUT_DIR      # writes OUT_DIR/<target>/<seed>

The seeds are kept small, so that the fuzzer spends its time on many short inputs: every record kind and storage
form appears at least once, well-formed and damaged. A new fuzz target adds its entry to TARGETS.
"""

import importlib.util
import pathlib
import shutil
import sys

HERE = pathlib.Path(__file__).resolve().parent
# The builder is loaded from its source folder rather than through the package, whose __init__ is the extension: a
# build tree may compile that with sanitizers or for libFuzzer, and a plain interpreter cannot load it then. Its
# modules import each other relatively, so it loads as a top-level package of its own.
_BUILDER = HERE.parent / "python" / "tarnu" / "hivebuilder"
_spec = importlib.util.spec_from_file_location("hivebuilder", _BUILDER / "__init__.py",
                                               submodule_search_locations=[str(_BUILDER)])
hb = importlib.util.module_from_spec(_spec)
sys.modules[_spec.name] = hb
_spec.loader.exec_module(hb)
repeats = importlib.import_module("hivebuilder.repeats")
_spec = importlib.util.spec_from_file_location("databuilder", HERE.parent / "python" / "tarnu" / "databuilder.py")
db = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(db)


def values():
    return [
        hb.Value("", hb.REG_SZ, "default"),
        hb.Value("sz", hb.REG_SZ, "text"),
        hb.Value("expand", hb.REG_EXPAND_SZ, "%SystemRoot%"),
        hb.Value("multi", hb.REG_MULTI_SZ, ["one", "two", ""]),
        hb.Value("bin", hb.REG_BINARY, bytes(range(40))),
        hb.Value("dword", hb.REG_DWORD, 7),
        hb.Value("be", hb.REG_DWORD_BIG_ENDIAN, 7),
        hb.Value("qword", hb.REG_QWORD, 2 ** 40),
        hb.Value("inline", hb.REG_BINARY, b"\x01\x02"),
        hb.Value("none", hb.REG_NONE, None),
        hb.Value("unknown", 0x1C, b"\xff" * 9),
        hb.Value("w\u00e9\u2122", hb.REG_LINK, "\\Registry\\Machine"),
    ]


def tree():
    kinds = ["lf", "lh", "li", "ri"]
    return hb.Key("root", [hb.Key("k%d" % i, [hb.Key("s%d" % j, class_name="c%d" % j) for j in range(5)],
                                  list_kind=kinds[i], chunk=2, leaf_kind="li")
                           for i in range(4)], values(), list_kind="ri", chunk=3)


def big_data(layout):
    b = hb.HiveBuilder()
    if layout == "windows":   # two full segments of 16344 data bytes and 4 alignment bytes, then a short one
        at = b.big_data(bytes(range(256)) * 130)
        size = 256 * 130
    else:                     # a declared size past 16344 over three short segments
        at = b.big_data(bytes(range(48)), segment_data=16, segment_payload=16)
        size = 20000
    b.key("root", values=[b.cell(hb.vk("big", data_size=size, data_offset=at, data_type=hb.REG_BINARY))], root=True)
    return b.build()


def version_1_3():
    # Before version 1.4 data of any size sits in one cell.
    return hb.build_hive(hb.Key("root", values=[hb.Value("large", hb.REG_BINARY, bytes(17000))]), minor_version=3)


def remnant_bins():
    # A bin left after the stated hive-bins data size, naming the position it had in an earlier, larger hive.
    b = hb.HiveBuilder()
    b.key("root", values=[b.value("v", hb.REG_DWORD, 1)], root=True)
    b.new_bin(offset=0x13B2000)
    return b.build(hive_bins_data_size=0x1000)


def repeated_segment():
    # One segment cell named by every entry of a big-data segment list.
    b = hb.HiveBuilder()
    segment = b.cell(bytes(hb.MAX_CELL_DATA))
    at = b.cell(hb.db(1000, b.cell(hb.value_list([segment] * 1000))))
    b.key("root", values=[b.cell(hb.vk("v", data_size=0x7FFFFFFF, data_offset=at))], root=True)
    return b.build()


def cycles():
    # A key that lists itself among its children, an index list that names itself, and a value list that names
    # one value again and again.
    b = hb.HiveBuilder()
    root = b.reserve(len(hb.nk("root")))
    ri = b.reserve(12)
    b.fill(ri, hb.subkey_list("ri", [ri, ri]))
    child = b.key("child", subkey_list_offset=ri, subkey_count=1)
    b.key("root", root=True, at=root, subkeys=[child, root], values=[b.value("v", hb.REG_SZ, "x" * 100)] * 200)
    return b.build()


def free_cells():
    # Every record in a free cell (positive size), which the reader reads alike.
    b = hb.HiveBuilder()
    value = b.cell(hb.vk("v", data_size=8, data_offset=b.cell(b"freedata", free=True)), free=True)
    root = b.cell(hb.nk("root", root=True, value_count=1, value_list_offset=b.cell(hb.value_list([value]), free=True)),
                  free=True)
    return b.build(root_cell_offset=root)


def log(pages_per_block):
    """A log of the existing layout: blocks of pages, the last page of each running past its block's 4096 bytes."""
    blocks = []
    for n in pages_per_block:
        entries = [(48 + 8 * i, b"p%03d" % i) for i in range(n - 1)] + [(4096, bytes(range(256)) * 17)]
        blocks.append(entries)
    return hb.log_file(7, blocks)


def hive_seeds():
    return {
        "root.hiv": hb.build_hive(hb.Key("root")),
        "tree.hiv": hb.build_hive(tree()),
        "big_data_windows.hiv": big_data("windows"),
        "big_data_short.hiv": big_data("short"),
        "version_1_3.hiv": version_1_3(),
        "remnant_bins.hiv": remnant_bins(),
        "repeated_segment.hiv": repeated_segment(),
        "cycles.hiv": cycles(),
        "free_cells.hiv": free_cells(),
        "log_one_block.log": log([3]),
        "log_blocks.log": log([1, 5, 2]),
        "log_bad_entries.log": hb.log_file(1, [[(0, b"regf"), (100, b"x" * 8, 0), (200, b"y", 70000)]]),
    }


def budget_seeds():
    """Hives that name one record over and over, each a few times larger than the bound of the calls that meet it
    would allow if every reference were copied: the fuzzer grows them from there."""
    seeds = dict(hive_seeds())
    seeds.update({
        "value_names.hiv": repeats.repeated_value_name(2000, 4000),
        "subkey_names.hiv": repeats.repeated_subkey_name(1000, 4000),
        "lying_hashes.hiv": repeats.lying_hashes(200, 2000),
        "decoy_chain.hiv": repeats.decoy_chain(20, 4, 200),
        "shared_values.hiv": repeats.shared_value_list(40, 8000),
        "deleted_data.hiv": repeats.repeated_deleted_data(40, 4000),
        "deleted_chain.hiv": repeats.deleted_key_chain(60, 100),
    })
    return seeds


def deleted_tree():
    # A deleted key with values of every storage and a class name, and a deleted subtree below it.
    b = hb.HiveBuilder()
    root = b.reserve(len(hb.nk("root")))
    doomed = b.add(hb.Key("gone", [hb.Key("child", [hb.Key("grandchild")])], values(), class_name="cls"), parent=root)
    big = b.value("big", hb.REG_BINARY, bytes(range(256)) * 80)
    b.key("root", root=True, at=root, values=[b.value("live", hb.REG_DWORD, 1)])
    b.delete_key(doomed)
    b.delete_value(big)
    return b.build()


def merged_free_space():
    # Deleted records inside one larger free cell, a reused key node and reused data cells.
    b = hb.HiveBuilder()
    root = b.reserve(len(hb.nk("root")))
    first = b.cell(bytes(40))
    top = hb.Key("top", [hb.Key("mid", [hb.Key("leaf")])], [hb.Value("v", hb.REG_SZ, "data" * 10)])
    doomed = b.add(top, parent=root)
    b.key("root", root=True, at=root)
    b.delete_key(doomed)
    b.reuse(doomed, b"\xab" * 8)
    b.free(first)
    b.coalesce(first, doomed)
    b.coalesce(doomed + 16)
    return b.build()


def near_records():
    # Free cells holding records with one field wrong each, and parents that loop.
    b = hb.HiveBuilder()
    b.key("root", root=True)
    for payload in (hb.nk("x", parent=0x21), hb.nk("x", parent=0x20, name_length=300),
                    hb.vk("x", data_size=0x80000008), hb.vk("x", data_size=40, data_offset=0x23)):
        b.cell(payload, free=True)
    one, two = b.reserve(len(hb.nk("one"))), b.reserve(len(hb.nk("two")))
    b.fill(one, hb.nk("one", parent=two), free=True)
    b.fill(two, hb.nk("two", parent=one), free=True)
    return b.build()


def outside_tree():
    """A key in allocated cells that nothing names, and past the stated end a bin of an earlier hive whose records
    name cells by that hive's offsets, then a value key without its size field."""
    b = hb.HiveBuilder()
    root = b.reserve(len(hb.nk("root")))
    b.add(hb.Key("orphan", values=[hb.Value("v", hb.REG_SZ, "text")]), parent=root)
    b.key("root", root=True, at=root)
    stated = b.new_bin(offset=0x80000)
    data = b.cell("left".encode("utf-16-le"))
    value = b.cell(hb.vk("v", data_size=8, data_offset=data - stated + 0x80000, data_type=hb.REG_SZ))
    values = b.cell(hb.value_list([value - stated + 0x80000]))
    b.cell(hb.nk("gone", parent=0x80020, value_count=1, value_list_offset=values - stated + 0x80000), free=True)
    b.append_raw(bytes(8) + hb.vk("", data_size=4 | hb.INLINE_FLAG, data_offset=1, data_type=hb.REG_DWORD)
                 + bytes(4068))
    return b.build(hive_bins_data_size=stated)


def cut_tree():
    """grown_hive() with the first block of its second bin zeroed (header and all), and the file cut short."""
    image = bytearray(grown_hive())
    image[8192:12288] = bytes(4096)
    return bytes(image[:-1024])


def recovery_seeds():
    seeds = {name: data for name, data in hive_seeds().items() if name.endswith(".hiv")}
    seeds.update({
        "deleted_tree.hiv": deleted_tree(),
        "merged_free_space.hiv": merged_free_space(),
        "near_records.hiv": near_records(),
        "outside_tree.hiv": outside_tree(),
        "cut_tree.hiv": cut_tree(),
    })
    return seeds


def from_bytes_seeds():
    seeds = {name: data for name, data in hive_seeds().items() if name.endswith(".hiv")}
    image = hb.build_hive(tree())
    seeds["bad_checksum.hiv"] = image[:508] + bytes(4) + image[512:]
    seeds["version_2_0.hiv"] = hb.build_hive(hb.Key("root"), major_version=2)
    seeds["short.hiv"] = image[:4095]
    return seeds


# --------------------------------------------------------------------------
# Log targets. Their inputs begin with a 4-byte control header (fuzz/log_replay.h): flags, a skew, and with
# TWO_LOGS the first log's length in 512-byte units. The logs rewrite the hive bins of the target's small primary
# with those of a builder hive, whose root key sits at 0x20 as the primary's does.
# --------------------------------------------------------------------------

RAW, DAMAGED_PRIMARY, CLEAN_PRIMARY, TWO_LOGS, KEEP_NUMBERS, KEEP_SECOND_HASH = 1, 2, 4, 8, 16, 32


def control(*logs, flags=0, skew=0):
    """The input of a log target: the control header, then one or two logs."""
    if len(logs) == 2:
        assert len(logs[0]) % 512 == 0
        flags |= TWO_LOGS
    return bytes([flags, skew & 0xFF]) + (len(logs[0]) // 512).to_bytes(2, "little") + b"".join(logs)


def grown_hive():
    """A hive of three bins: the tree, every kind of value, and data that fills a bin of its own."""
    root = tree()
    root.values.append(hb.Value("fill", hb.REG_BINARY, bytes(range(256)) * 20))
    return hb.build_hive(root)


def bins_pages(image):
    """The hive bins data of ``image`` as (offset, data) pages of 4096 bytes."""
    return hb.changed_pages(b"", image)


class LogPages:
    """What the log seeds write: the one-bin tree hive's page (``small``), the three-bin hive's pages (``pages``)
    and hive bins data size (``size``), and the small page followed by a bin whose signature is broken."""

    def __init__(self):
        self.small = bins_pages(hb.build_hive(tree()))
        grown = grown_hive()
        self.pages = bins_pages(grown)
        self.size = len(grown) - hb.BASE_BLOCK_SIZE
        self.broken = self.small + [(4096, b"nbih" + bytes(4092))]


def new_format_seeds():
    made = LogPages()
    pages, size = made.pages, made.size
    return {
        "one_entry.log": control(hb.new_format_log(40, [dict(pages=made.small, hive_bins_data_size=4096)])),
        "chain_then_stale.log": control(hb.new_format_log(7, [
            dict(pages=pages[:1], hive_bins_data_size=size),
            dict(pages=pages[1:], hive_bins_data_size=size, flags=1),
            dict(pages=pages[:1], hive_bins_data_size=size, sequence=3),
        ]), flags=KEEP_NUMBERS),
        "two_logs.log": control(hb.new_format_log(10, [dict(pages=pages[:2], hive_bins_data_size=size)]),
                                hb.new_format_log(11, [dict(pages=pages[2:], hive_bins_data_size=size)])),
        "two_logs_later_first.log": control(hb.new_format_log(11, [dict(pages=pages[2:], hive_bins_data_size=size)]),
                                            hb.new_format_log(10, [dict(pages=pages[:2], hive_bins_data_size=size)]),
                                            skew=1),
        "damaged_primary.log": control(hb.new_format_log(5, [dict(pages=pages, hive_bins_data_size=size)]),
                                       flags=DAMAGED_PRIMARY),
        "damaged_primary_two_logs.log": control(
            hb.new_format_log(6, [dict(pages=pages[2:], hive_bins_data_size=size)]),
            hb.new_format_log(5, [dict(pages=pages[:2], hive_bins_data_size=size)]), flags=DAMAGED_PRIMARY),
        "second_hash_fails.log": control(hb.new_format_log(5, [dict(pages=pages[:1], hive_bins_data_size=size),
                                                               dict(pages=pages[1:], hive_bins_data_size=size, hash2=5)]),
                                         flags=KEEP_SECOND_HASH),
        "wrapping_numbers.log": control(hb.new_format_log(0xFFFFFFFF, [
            dict(pages=pages[:2], hive_bins_data_size=size), dict(pages=pages[2:], hive_bins_data_size=size, sequence=0)
        ])),
        "stale.log": control(hb.new_format_log(3, [dict(pages=pages, hive_bins_data_size=size)]), skew=-2),
        "clean_primary.log": control(hb.new_format_log(3, [dict(pages=pages, hive_bins_data_size=size)]),
                                     flags=CLEAN_PRIMARY),
        "placeholder_bin.log": control(hb.new_format_log(9, [dict(pages=made.broken, hive_bins_data_size=8192)])),
        "several_pages_per_entry.log": control(hb.new_format_log(2, [
            dict(pages=[(0, pages[0][1][:512]), (512, pages[0][1][512:4096])] + pages[1:], hive_bins_data_size=size)],
            align=512)),
    }


def old_format_seeds():
    made = LogPages()
    pages, size = made.pages, made.size
    return {
        "one_log.log": control(hb.old_format_log(made.small, hive_bins_data_size=4096)),
        "grown.log": control(hb.old_format_log(pages, hive_bins_data_size=size)),
        "units.log": control(hb.old_format_log([(512, pages[0][1][512:1024]), (2048, pages[0][1][2048:3072])]
                                               + pages[1:], hive_bins_data_size=size)),
        "second_log_newer.log": control(hb.old_format_log(pages[:1], hive_bins_data_size=size),
                                        hb.old_format_log(pages, hive_bins_data_size=size), skew=1),
        "damaged_primary.log": control(hb.old_format_log(pages, hive_bins_data_size=size), flags=DAMAGED_PRIMARY),
        "type_2.log": control(hb.old_format_log(pages, hive_bins_data_size=size, file_type=2)),
        "units_missing.log": control(hb.old_format_log(pages, hive_bins_data_size=size)[:-2048]),
        "broken_bin.log": control(hb.old_format_log(made.broken, hive_bins_data_size=8192)),
    }


def blocks_seeds():
    grown = grown_hive()
    whole = [[(0, grown[:4096]), (4096, grown[4096:8192])], [(8192, grown[8192:])]]
    return {
        "one_block.log": control(log([3])),
        "blocks.log": control(log([1, 5, 2])),
        "bad_entries.log": control(hb.log_file(1, [[(0, b"regf"), (100, b"x" * 8, 0), (200, b"y", 70000)]])),
        "whole_hive.log": control(hb.log_file(4, whole)),
        "two_logs.log": control(hb.log_file(9, whole[1:]), hb.log_file(8, whole[:1])),
        "growth.log": control(hb.log_file(1, [[(0x21000, b"far")]])),
    }


# --------------------------------------------------------------------------
# Carving. Small images with each structure the carver finds, laid at sector and page boundaries.
# --------------------------------------------------------------------------

def laid_out(length, *parts, fill=0x5A):
    image = bytearray([fill]) * length
    for offset, data in parts:
        image[offset:offset + len(data)] = data
    return bytes(image)


def carve_seeds():
    made = LogPages()
    hive = grown_hive()
    bins = [data for _, data in made.pages]
    size = made.size
    old = hb.old_format_log(made.pages[:1], hive_bins_data_size=size)
    new = hb.new_format_log(4, [dict(pages=made.pages[:1], hive_bins_data_size=size)], hive_bins_data_size=size)
    return {
        "hive.img": laid_out(512, (512, hive)),
        "hive_cut.img": laid_out(512, (512, hive[:-4096])),
        "fragment_then_hive.img": laid_out(0, (0, bins[1][:512]), (512, hive)),
        "fragment_run.img": laid_out(1024, (1024, b"".join(bins))),
        "pages_out_of_order.img": laid_out(4096 * 7, (4096, bins[2]), (4096 * 3, bins[0]), (4096 * 5, bins[1])),
        "logs.img": laid_out(512, (512, old), (512 + 3 * 4096, new)),
        "fake_bins.img": b"".join((hb.hbin_header(0x1000 * i) + b"\xf8\xff\xff\xff").ljust(512, b"\0")
                                  for i in range(16)),
        "crash_dump.img": b"PAGEDU64".ljust(4096, b"\0") + b"".join(bins),
    }


# --------------------------------------------------------------------------
# The decoders target: the first byte chooses the decoder (fuzz/fuzz_decoders.cpp), the rest is its data.
# --------------------------------------------------------------------------

(SECURITY, SHELL, SHIM, RESOURCES, FULL_RESOURCE, REQUIREMENTS, MRU, MRU_EX, LINK, USERASSIST, USERASSIST_3, BAM,
 STARTUP, DYNAMIC, SAM_F, SAM_V, MACHINE_SID, TZI, MOUNTED, SID) = range(20)


def decoder_seeds():
    dacl = db.acl([db.ace(0, 0x02, 0xF003F, "S-1-5-18"), db.ace(0, 0x0A, 0x80000000, "S-1-5-32-545"),
                   db.ace(0x05, 0, 0x10, "S-1-1-0", object_type="{B4BFCC3A-DB2C-424C-B029-7FE99A87C641}"),
                   db.ace(0x09, 0, 0x1, "S-1-5-11", data=b"artx\x00"), db.ace(0x0E, 0, 0x1, "S-1-5-11")])
    sacl = db.acl([db.ace(0x11, 0, 0x1, "S-1-16-12288"), db.ace(0x02, 0xC0, 0xC0000, "S-1-5-32-544")])
    descriptor = db.security_descriptor(owner="S-1-5-32-544", group="S-1-5-21-1-2-3-513", dacl=dacl, sacl=sacl)
    shell = db.item_list([db.root_folder("{20D04FE0-3AEA-1069-A2D8-08002B30309D}"), db.volume("C:\\"),
                          db.file_entry("USERS", long_name="Users"),
                          db.file_entry("A.TXT", long_name="a.txt", directory=False, version=3)])
    network = db.item_list([db.item(0xC3, b"\x01\xc0\\\\wsl$\\Ubuntu\x00desc\x00comment\x00")])
    shim_entries = [("\\??\\C:\\Windows\\a.exe", db.filetime(1300000000), 2), ("\\??\\C:\\b.exe", 0, 0)]
    partial = bytes([3, 1, 0, 0]) + (0xF0000).to_bytes(8, "little") + (0x1000).to_bytes(4, "little")
    full = (1).to_bytes(4, "little") + bytes(4) + (1).to_bytes(2, "little") + (1).to_bytes(2, "little")
    requirement = bytes([1, 1, 1, 0]) + bytes(4) + (8).to_bytes(4, "little") + (1).to_bytes(4, "little") + bytes(16)
    seeds = {
        "descriptor": (SECURITY, descriptor),
        "descriptor_short": (SECURITY, descriptor[:60]),
        "descriptor_null_dacl": (SECURITY, db.security_descriptor(owner="S-1-5-18", control=0x9C14)),
        "shell_items": (SHELL, shell),
        "shell_network": (SHELL, network),
        "shell_cut": (SHELL, shell[:-9]),
        "shim_7": (SHIM, db.shim_cache_7(shim_entries)),
        "shim_7_wide": (SHIM, db.shim_cache_7(shim_entries, wide=True, count=9)),
        "shim_10": (SHIM, db.shim_cache_chained([(p, t) for p, t, _ in shim_entries], "10")),
        "shim_8_1": (SHIM, db.shim_cache_chained([(p, t) for p, t, _ in shim_entries], "8.1")),
        "resources": (RESOURCES, (1).to_bytes(4, "little") + full + partial),
        "full_resource": (FULL_RESOURCE, full + partial),
        "requirements": (REQUIREMENTS, (72).to_bytes(4, "little") + bytes(24) + (1).to_bytes(4, "little")
                         + bytes(4) + (1).to_bytes(4, "little") + requirement),
        "mru": (MRU, b"a\x00b\x00c\x00cab"),
        "mru_ex": (MRU_EX, b"0\x001\x002\x00\x00" + bytes.fromhex("0200000000000000ffffffff")),
        "link": (LINK, "\\REGISTRY\\MACHINE\\SYSTEM\\ControlSet001".encode("utf-16-le")),
        "userassist": (USERASSIST, db.userassist5(14, 21, 420000, db.filetime(1333490818))),
        "userassist_3": (USERASSIST_3, bytes(4) + (6).to_bytes(4, "little") + db.filetime(1).to_bytes(8, "little")),
        "bam": (BAM, db.filetime(1500000000).to_bytes(8, "little") + bytes(8) + bytes([0, 0, 0, 0, 2, 0, 0, 0])),
        "startup": (STARTUP, (3).to_bytes(4, "little") + db.filetime(1500000000).to_bytes(8, "little")),
        "dynamic": (DYNAMIC, (3).to_bytes(4, "little") + bytes(32)),
        "sam_f": (SAM_F, bytes(80)),
        "sam_v": (SAM_V, bytes(0xCC) + descriptor),
        "machine_sid": (MACHINE_SID, bytes(8) + db.sid("S-1-5-21-1-2-3")),
        "tzi": (TZI, bytes(12) + bytes.fromhex("00000b00000001000200000000000000") + bytes(16)),
        "mounted": (MOUNTED, b"DMIO:ID:" + bytes(16)),
        "sid": (SID, db.sid("S-1-5-90-0-1")),
    }
    return {name: bytes([kind]) + data for name, (kind, data) in seeds.items()}


# Seeds by fuzz target.
TARGETS = {
    "fuzz_recovery": recovery_seeds,
    "fuzz_hive": hive_seeds,
    "fuzz_export": hive_seeds,
    "fuzz_budgets": budget_seeds,
    "fuzz_from_bytes": from_bytes_seeds,
    "fuzz_new_format_log": new_format_seeds,
    "fuzz_old_format_log": old_format_seeds,
    "fuzz_blocks_log": blocks_seeds,
    "fuzz_carve": carve_seeds,
    "fuzz_decoders": decoder_seeds,
}


def main(out):
    out = pathlib.Path(out)
    for target, seeds in TARGETS.items():
        folder = out / target
        if folder.exists():
            shutil.rmtree(folder)
        folder.mkdir(parents=True)
        for name, data in seeds().items():
            (folder / name).write_bytes(data)
        kept = HERE / "seeds" / target
        for path in sorted(kept.iterdir()) if kept.is_dir() else []:
            shutil.copyfile(path, folder / path.name)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_corpus.py OUT_DIR")
    main(sys.argv[1])
