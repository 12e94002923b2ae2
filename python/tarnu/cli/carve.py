"""carve: hives, hive fragments and transaction logs found in disk or partition images, unallocated space and memory
dumps (tarnu.carve), each written into a folder with the index carve.jsonl."""

from __future__ import annotations

import argparse
import os
import stat
from typing import Dict, List, Tuple

import tarnu

from .run import EXIT_USAGE, CommandError, Run, plural, reason


def _inside(path: str, folder: str) -> bool:
    """Whether `path` is `folder` or lies below it (both real paths)."""
    return path == folder or path.startswith(folder.rstrip(os.sep) + os.sep)


def check_folder(folder: str, images: List[str]) -> None:
    """Refuses a folder that is an input or inside one, that is not a folder, or that already holds files."""
    real = os.path.realpath(folder)
    for image in images:
        if _inside(real, os.path.realpath(image)):
            raise CommandError("refusing to write into {}: it is the input {} or inside it".format(folder, image),
                               EXIT_USAGE)
    if os.path.exists(folder) and not os.path.isdir(folder):
        raise CommandError("refusing to write into {}: it is not a folder".format(folder), EXIT_USAGE)
    if os.path.isdir(folder) and os.listdir(folder):
        raise CommandError("refusing to write into {}: it is not empty".format(folder), EXIT_USAGE)


def targets(folder: str, images: List[str]) -> List[str]:
    """The folder for each image: `folder` itself for one image, else a folder in it named after each image."""
    if len(images) == 1:
        return [folder]
    seen: Dict[str, int] = {}
    found = []
    for image in images:
        name = os.path.basename(os.path.realpath(image)) or "image"
        seen[name] = seen.get(name, 0) + 1
        found.append(os.path.join(folder, name if seen[name] == 1 else "{}-{}".format(name, seen[name])))
    return found


def mode(args: argparse.Namespace, image: str) -> Tuple[bool, str]:
    """Memory or disk for `image`, and why: as told, else as carve_mode() judges its first bytes (a pipe is not
    probed, since that would use up what carve() then reads)."""
    if args.memory or args.disk:
        return bool(args.memory), "as told"
    if stat.S_ISFIFO(os.stat(image).st_mode):
        return False, "a pipe is read once and not probed; --memory says otherwise"
    return tarnu.carve_mode(image)


def counts(found: List[tarnu.Carved]) -> str:
    kinds = [kind for kind in ("hive", "fragment", "log-old", "log-new") if any(c.kind == kind for c in found)]
    if not kinds:
        return "nothing found"
    return ", ".join(plural(sum(1 for c in found if c.kind == kind), kind) for kind in kinds)


def carve(run: Run, args: argparse.Namespace) -> None:
    check_folder(args.folder, args.images)
    try:
        os.makedirs(args.folder, exist_ok=True)
    except OSError as error:
        raise CommandError("cannot write {}: {}".format(args.folder, reason(error)))
    written = 0
    for image, target in zip(args.images, targets(args.folder, args.images)):
        try:
            memory, why = mode(args, image)
            os.makedirs(target, exist_ok=True)
            found = tarnu.carve(image, target, memory=memory)
        except (OSError, ValueError) as error:
            run.fail("{}: {}".format(image, reason(error)))
            continue
        run.hives += 1
        written += sum(1 for c in found if c.path is not None)
        run.message("tarnu: {}: {} ({}): {}".format(image, "memory" if memory else "disk", why, counts(found)))
        unwritten = [c for c in found if c.path is None]
        if unwritten:
            run.skipped += len(unwritten)
            run.warn("{}: {} not written: they would make the output much larger than the image (the first at "
                     "offset {:#x})".format(image, plural(len(unwritten), "fragment"), unwritten[0].offset))
    if run.hives:
        run.message("tarnu: {}, {} written to {}".format(plural(run.hives, "image"), plural(written, "file"),
                                                         args.folder))


def add_parsers(commands: "argparse._SubParsersAction[argparse.ArgumentParser]", common: argparse.ArgumentParser,
                many: argparse.ArgumentParser) -> None:
    p = commands.add_parser(
        "carve", help="hives, fragments and logs carved out of disk images and memory dumps",
        description="Scan disk or partition images, unallocated space or memory dumps for hives (a base block at a "
                    "512-byte boundary with its hive bins), fragments (hive bins without their base block, each "
                    "written as a hive that opens) and transaction logs (old and new format), and write each into "
                    "DIR, a new or empty folder, with the index carve.jsonl (one JSON object per item: kind, "
                    "offset, size, stated_size, cut_short, checksum_ok, bins_offset, file). With several images, "
                    "each gets a folder in DIR named after it. Each image is read once, front to back.")
    p.add_argument("images", nargs="+", metavar="IMAGE")
    p.add_argument("-o", "--output", dest="folder", required=True, metavar="DIR")
    which = p.add_mutually_exclusive_group()
    which.add_argument("--memory", action="store_true",
                       help="a memory dump: hive bins at any 4096-byte page, apart or out of order")
    which.add_argument("--disk", action="store_true", help="a disk: hive bins in runs at 512-byte sectors")
    p.add_argument("-q", "--quiet", action="store_true", help="no warnings or summary on stderr")
    p.set_defaults(handler=carve, strict=False)
