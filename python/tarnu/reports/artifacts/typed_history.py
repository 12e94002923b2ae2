"""What a user typed: paths into Explorer's address bar (TypedPaths), addresses into Internet Explorer (TypedURLs,
with the times of 8+ in TypedURLsTime) and searches in Explorer (WordWheelQuery, 7+)."""

from __future__ import annotations

import datetime
import re
from typing import Iterator, List, NamedTuple, Optional

import tarnu

from ..framework import Context, report
from ..helpers import filetime_at
from ..mru import Entry, mru_keys, text_of, utf16_head, value_records

TYPED_PATHS = r"Software\Microsoft\Windows\CurrentVersion\Explorer\TypedPaths"
TYPED_URLS = r"Software\Microsoft\Internet Explorer\TypedURLs"
TYPED_URLS_TIME = r"Software\Microsoft\Internet Explorer\TypedURLsTime"
WORD_WHEEL = r"Software\Microsoft\Windows\CurrentVersion\Explorer\WordWheelQuery"
# "url1" is the most recent entry, "url2" the one before...
_URL_NAME = re.compile(r"url([1-9][0-9]*)", re.IGNORECASE)


def by_url_number(context: Context, key: tarnu.RegistryKey) -> List[Entry]:
    """The values of a key of urlN values with their ranks (0 for url1, the most recent), in that order; values of
    other names after them, unranked."""
    entries: List[Entry] = []
    for record in value_records(context, key):
        found = _URL_NAME.fullmatch(record[0])
        entries.append((int(found.group(1)) - 1 if found else None, record))
    return sorted(entries, key=lambda entry: (entry[0] is None, entry[0] or 0))


class TypedPath(NamedTuple):
    key: str
    rank: Optional[int]  # 0 for url1, the most recent
    value: str
    path: Optional[str]
    last_written: Optional[datetime.datetime]  # the key's: when the most recent path was typed


@report(name="typed_paths", title="Paths typed into Explorer's address bar (TypedPaths)", category="activity",
        hive_types=["NTUSER.DAT"], keys=[TYPED_PATHS], record=TypedPath, time_field="last_written")
def typed_paths(context: Context) -> Iterator[TypedPath]:
    for path, key in context.keys(TYPED_PATHS):
        for rank, record in by_url_number(context, key):
            yield TypedPath(path, rank, record[0], text_of(record), context.last_written(key))


class TypedUrl(NamedTuple):
    key: str
    rank: Optional[int]  # 0 for url1, the most recent
    value: str
    url: Optional[str]
    typed: Optional[datetime.datetime]  # 8+: TypedURLsTime's value of the same name
    typed_raw: Optional[int]
    last_written: Optional[datetime.datetime]  # the key's: when the most recent address was typed


@report(name="typed_urls", title="Addresses typed into Internet Explorer (TypedURLs)", category="activity",
        hive_types=["NTUSER.DAT"], keys=[TYPED_URLS, TYPED_URLS_TIME], record=TypedUrl, time_field="typed")
def typed_urls(context: Context) -> Iterator[TypedUrl]:
    times = context.key(TYPED_URLS_TIME)
    for path, key in context.keys(TYPED_URLS):
        for rank, record in by_url_number(context, key):
            stamp = None if times is None else context.raw(times, record[0])
            typed, typed_raw = filetime_at(stamp)
            if stamp is not None and typed_raw is None:
                context.note(TYPED_URLS_TIME, "{} holds {} bytes, not the 8 of a FILETIME".format(record[0],
                                                                                                 len(stamp)))
            yield TypedUrl(path, rank, record[0], text_of(record), typed, typed_raw, context.last_written(key))


class SearchTerm(NamedTuple):
    key: str
    rank: Optional[int]
    value: str
    term: str
    last_written: Optional[datetime.datetime]  # the key's: when the most recent search was made


@report(name="word_wheel_query", title="Searches made in Explorer (WordWheelQuery)", category="activity",
        hive_types=["NTUSER.DAT"], keys=[WORD_WHEEL], record=SearchTerm, time_field="last_written")
def word_wheel_query(context: Context) -> Iterator[SearchTerm]:
    for path, _, written, entries in mru_keys(context, WORD_WHEEL):
        for rank, (value, _, raw, _) in entries:
            yield SearchTerm(path, rank, value, utf16_head(raw)[0], written)
