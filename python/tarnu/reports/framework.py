"""What a report is and what it works with: ``Report`` (subclass it), the ``report`` decorator (for a function),
``ValuesReport`` (a table entry for "these values of these keys"), the ``Context`` a report reads the hive through,
and the ``Note`` and ``Result`` it produces.

A report never raises out of a run: the context turns a key or value that cannot be read into a note and gives
None in its place, ``Context.guard`` does the same for one entry's decoding, and the runner turns anything else a
report raises into a note that ends that report alone.
"""

from __future__ import annotations

import collections
import contextlib
import datetime
import fnmatch
import re
from typing import (Any, Callable, Dict, Iterable, Iterator, List, NamedTuple, Optional, Sequence, Tuple, Type,
                    Union, cast)

import tarnu

# The texts of Hive.hive_type() that reports name.
HIVE_TYPES = ("SYSTEM", "SOFTWARE", "SAM", "SECURITY", "NTUSER.DAT", "UsrClass.dat", "Amcache.hve", "BCD",
              "COMPONENTS", "DRIVERS", "DEFAULT")
CATEGORIES = ("execution", "persistence", "devices", "system", "users", "activity")

# Bounds on what one report reads, whatever the hive claims: keys matched by one key pattern, and subkeys taken
# from one key. Each is far above what a real hive holds at the places reports look.
MAX_MATCHES = 100_000
MAX_SUBKEYS = 100_000

_FILETIME_EPOCH = datetime.datetime(1601, 1, 1, tzinfo=datetime.timezone.utc)
_UNIX_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)


class Note(NamedTuple):
    """Something a report could not read: which report, at which key, and what."""

    report: str
    key: str
    text: str


class Result(NamedTuple):
    """One item of a run: the report's name and one of its records, or a Note."""

    report: str
    record: Any

    @property
    def is_note(self) -> bool:
        return isinstance(self.record, Note)


# ---- times --------------------------------------------------------------------------------------------------------

def from_filetime(raw: Optional[int]) -> Optional[datetime.datetime]:
    """A FILETIME as an aware UTC datetime; None for 0, for "never" (0x7FFFFFFFFFFFFFFF) and past the year 9999."""
    if not raw or raw >= 0x7FFFFFFFFFFFFFFF:
        return None
    try:
        return _FILETIME_EPOCH + datetime.timedelta(microseconds=raw // 10)
    except OverflowError:
        return None


def from_unix(seconds: Optional[int]) -> Optional[datetime.datetime]:
    """Unix seconds as an aware UTC datetime; None for 0 and out of range."""
    if not seconds:
        return None
    try:
        return _UNIX_EPOCH + datetime.timedelta(seconds=seconds)
    except OverflowError:
        return None


def time_of(time: Optional[tarnu.decode.Time]) -> Optional[datetime.datetime]:
    """The moment of a decoded time whose state is "set"."""
    return time.value if time is not None and time.state == "set" else None


def raw_of(time: Optional[tarnu.decode.Time]) -> Optional[int]:
    return None if time is None else time.raw


# ---- the context --------------------------------------------------------------------------------------------------

_WILDCARD = re.compile(r"[*?\[]")

# Value names match after folding A-Z onto a-z and nothing else, as RegistryKey.value matches them.
_ASCII_FOLD = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz")


def folded(name: str) -> str:
    return name.lower() if name.isascii() else name.translate(_ASCII_FOLD)

# REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ.
_STRING_TYPES = (1, 2, 7)


def lenient_text(data: bytes) -> str:
    """UTF-16LE up to the first NUL code unit, a trailing odd byte dropped, unpaired surrogates replaced."""
    units = data[:len(data) // 2 * 2]
    for at in range(0, len(units), 2):
        if units[at] == 0 and units[at + 1] == 0:
            units = units[:at]
            break
    return units.decode("utf-16-le", "replace")


class Context:
    """A report's view of one hive: keys by path or pattern, values by name, and the notes made so far."""

    def __init__(self, hive: tarnu.Hive, report: str, hive_type: str) -> None:
        self.hive = hive
        self.report = report
        self.hive_type = hive_type
        self.notes: List[Note] = []
        self._last: Optional[Tuple[tarnu.RegistryKey, Dict[str, Tuple[int, bytes, Any]]]] = None

    def note(self, key: str, text: str) -> None:
        self.notes.append(Note(self.report, key, text))

    @contextlib.contextmanager
    def guard(self, key: str) -> Iterator[None]:
        """Turns what the block raises into a note at `key`: one bad entry never stops the others."""
        try:
            yield
        except Exception as error:  # noqa: BLE001 - data is attacker-controlled; any failure is one note
            self.note(key, "{}: {}".format(type(error).__name__, error))

    def key(self, path: str) -> Optional[tarnu.RegistryKey]:
        """The key at `path` below the root (see Hive.key); None when absent, and a note when it cannot be read."""
        try:
            return self.hive.key(path)
        except tarnu.NotFoundError:
            return None
        except ValueError as error:
            self.note(path, str(error))
            return None

    def subkey(self, key: tarnu.RegistryKey, name: str) -> Optional[tarnu.RegistryKey]:
        try:
            return key.subkey(name)
        except tarnu.NotFoundError:
            return None
        except ValueError as error:
            self.note(self.path(key), str(error))
            return None

    def subkeys(self, key: tarnu.RegistryKey) -> List[tarnu.RegistryKey]:
        """The children of `key`, at most MAX_SUBKEYS of them; [] and a note when they cannot be read."""
        try:
            children = key.subkeys()
        except ValueError as error:
            self.note(self.path(key), str(error))
            return []
        if len(children) > MAX_SUBKEYS:
            self.note(self.path(key), "{} subkeys; the first {} are read".format(len(children), MAX_SUBKEYS))
            del children[MAX_SUBKEYS:]
        return children

    def keys(self, pattern: str) -> Iterator[Tuple[str, tarnu.RegistryKey]]:
        """(path, key) of every key whose path matches `pattern`: names joined by backslashes, each may hold the
        wildcards * ? [...] and matches without regard to ASCII letter case. At most MAX_MATCHES keys."""
        names = [name for name in pattern.split("\\") if name]
        # Each level keeps the keys matched so far with their paths; the pattern's length bounds the depth.
        start = 0
        while start < len(names) and not _WILDCARD.search(names[start]):
            start += 1
        first = self.key("\\".join(names[:start]))
        if first is None:
            return
        level = [(self.path(first), first)]
        for name in names[start:]:
            following: List[Tuple[str, tarnu.RegistryKey]] = []
            wildcard = _WILDCARD.search(name) is not None
            for path, key in level:
                below = path + "\\" if path else ""
                if wildcard:
                    wanted = name.lower()
                    following.extend((below + child.name(), child) for child in self.subkeys(key)
                                     if fnmatch.fnmatchcase(child.name().lower(), wanted))
                else:
                    child = self.subkey(key, name)
                    if child is not None:
                        following.append((below + child.name(), child))
                if len(following) >= MAX_MATCHES:
                    self.note(pattern, "more than {} keys match; the first are read".format(MAX_MATCHES))
                    del following[MAX_MATCHES:]
                    break
            level = following
        yield from level

    def path(self, key: tarnu.RegistryKey) -> str:
        try:
            return key.path()
        except ValueError:
            return key.name()

    def _table(self, key: tarnu.RegistryKey) -> Dict[str, Tuple[int, bytes, Any]]:
        """(type, stored bytes, decoded data) of the key's values by folded name, read in one call and kept for
        the key asked about last: reports ask for several values of one key in a row."""
        if self._last is not None and self._last[0] is key:
            return self._last[1]
        table: Dict[str, Tuple[int, bytes, Any]] = {}
        try:
            records = key.value_records()
        except ValueError as error:
            self.note(self.path(key), str(error))
            records = []
        for name, type_id, raw, data in records:
            table.setdefault(folded(name), (type_id, raw, data))  # the first, as RegistryKey.value
        self._last = (key, table)
        return table

    def value(self, key: tarnu.RegistryKey, name: str) -> Any:
        """The decoded data of the value `name` (str, list of str, int, bytes or None, as ValueData.value() gives
        it; "(default)" names the unnamed value); None when the key has no such value or its data does not
        decode."""
        found = self._table(key).get(folded(name))
        return None if found is None else found[2]

    def raw(self, key: tarnu.RegistryKey, name: str) -> Optional[bytes]:
        """The stored bytes of the value `name`; None when there is no such value."""
        found = self._table(key).get(folded(name))
        return None if found is None else found[1]

    def text(self, key: tarnu.RegistryKey, name: str) -> Optional[str]:
        """The value `name` as text: a string as it is, a list joined with spaces, a number in decimal. String data
        that does not decode (leftover memory after the terminator, a lone surrogate) is cut at its first NUL and
        decoded leniently."""
        found = self._table(key).get(folded(name))
        if found is None:
            return None
        type_id, raw, data = found
        if data is None and raw and type_id in _STRING_TYPES:
            return lenient_text(raw)
        if data is None or isinstance(data, bytes):
            return None
        if isinstance(data, list):
            return " ".join(data)
        return str(data)

    def number(self, key: tarnu.RegistryKey, name: str) -> Optional[int]:
        """The value `name` when it is a DWORD or QWORD."""
        data = self.value(key, name)
        return data if isinstance(data, int) else None

    def values(self, key: tarnu.RegistryKey) -> List[tarnu.RegistryValue]:
        try:
            return key.values()
        except ValueError as error:
            self.note(self.path(key), str(error))
            return []

    def last_written(self, key: tarnu.RegistryKey) -> Optional[datetime.datetime]:
        return key.last_written()


# ---- reports --------------------------------------------------------------------------------------------------------

class Report:
    """A report: its name (as the command's --artifact takes it), a title, a category of CATEGORIES, the hive
    types of HIVE_TYPES it applies to, the key patterns it reads (below the hive's root, as Context.keys takes
    them), the record type it yields and the field of it that dates a record (None when none does).

    Subclasses set these as class attributes and implement ``records``; a subclass in a report module is found
    by itself.
    """

    name: str = ""
    title: str = ""
    category: str = ""
    hive_types: Tuple[str, ...] = ()
    keys: Tuple[str, ...] = ()
    record: Optional[type] = None
    time_field: Optional[str] = None

    def records(self, context: Context) -> Iterable[Any]:
        """The records of one hive; a Note may be yielded among them, or made with context.note()."""
        raise NotImplementedError

    def check(self) -> None:
        """Raises ValueError when the report's description is incomplete or names an unknown type or category."""
        where = "report {!r}".format(self.name or type(self).__name__)
        if not self.name or not re.fullmatch(r"[a-z0-9_]+", self.name):
            raise ValueError("{}: the name is lower-case letters, digits and '_'".format(where))
        if self.category not in CATEGORIES:
            raise ValueError("{}: category {!r} is not one of {}".format(where, self.category, ", ".join(CATEGORIES)))
        unknown = [t for t in self.hive_types if t not in HIVE_TYPES]
        if not self.hive_types or unknown:
            raise ValueError("{}: hive types {!r}: expected some of {}".format(where, list(self.hive_types),
                                                                                ", ".join(HIVE_TYPES)))

    def __repr__(self) -> str:
        return "<report {} ({})>".format(self.name, ", ".join(self.hive_types))


RecordsFunction = Callable[[Context], Iterable[Any]]


class FunctionReport(Report):
    """A report made by the ``report`` decorator from a function of a Context."""

    def __init__(self, function: RecordsFunction, **description: Any) -> None:
        self.function = function
        for field, value in description.items():
            setattr(self, field, tuple(value) if field in ("hive_types", "keys") else value)
        self.__doc__ = function.__doc__

    def records(self, context: Context) -> Iterable[Any]:
        return self.function(context)


def report(*, name: str, title: str, category: str, hive_types: Sequence[str], keys: Sequence[str] = (),
           record: Optional[type] = None, time_field: Optional[str] = None) -> Callable[[RecordsFunction], Report]:
    """Makes a report of a function that takes a Context and yields records."""

    def make(function: RecordsFunction) -> Report:
        return FunctionReport(function, name=name, title=title, category=category, hive_types=hive_types,
                              keys=keys, record=record, time_field=time_field)

    return make


def field_name(value_name: str) -> str:
    """A value name as a record field: "ComputerName" -> "computer_name", "(default)" -> "default"."""
    text = re.sub(r"(?<=[a-z0-9])(?=[A-Z])", "_", value_name.strip("()"))
    text = re.sub(r"[^0-9A-Za-z]+", "_", text).strip("_").lower()
    return text if text and not text[0].isdigit() else "v_" + text


class ValuesReport(Report):
    """The declarative report: for every key matching one of `keys`, one record with the key's path, its
    last-written time and the data of each of `values` (None where a value is absent). Keys holding none of the
    values are left out. The record type is a NamedTuple named after the report."""

    def __init__(self, *, name: str, title: str, category: str, hive_types: Sequence[str], keys: Sequence[str],
                 values: Sequence[str]) -> None:
        self.name = name
        self.title = title
        self.category = category
        self.hive_types = tuple(hive_types)
        self.keys = tuple(keys)
        self.values = tuple(values)
        self.check()
        self.fields = [field_name(v) for v in self.values]
        typename = "".join(part.title() for part in name.split("_"))
        columns = ["key", "last_written"] + self.fields
        self.make: Type[Any] = collections.namedtuple(typename, columns)  # type: ignore[misc]
        self.record = self.make
        self.time_field = "last_written"

    def records(self, context: Context) -> Iterator[Any]:
        for pattern in self.keys:
            for path, key in context.keys(pattern):
                data = [context.value(key, value) for value in self.values]
                if all(item is None for item in data):
                    continue
                yield self.make(path, context.last_written(key), *data)


def run_report(hive: tarnu.Hive, hive_type: str, report: Report) -> Iterator[Result]:
    """The results of one report; whatever it raises becomes a note that ends it, after what it yielded."""
    context = Context(hive, report.name, hive_type)
    try:
        for item in report.records(context):
            while context.notes:
                yield Result(report.name, context.notes.pop(0))
            yield Result(report.name, item)
    except Exception as error:  # noqa: BLE001 - one report's failure never stops the others
        context.note("", "the report stopped: {}: {}".format(type(error).__name__, error))
    for note in context.notes:
        yield Result(report.name, note)


RecordLike = Union[Tuple[Any, ...], Any]


def record_fields(record: RecordLike) -> Dict[str, Any]:
    """The fields of a record by name, for a NamedTuple or a dataclass."""
    as_dict = getattr(record, "_asdict", None)
    if as_dict is not None:
        return dict(as_dict())
    import dataclasses

    if dataclasses.is_dataclass(record) and not isinstance(record, type):
        return {f.name: getattr(record, f.name) for f in dataclasses.fields(record)}
    return dict(vars(record))
