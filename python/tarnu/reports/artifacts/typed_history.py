"""What a user typed: paths into Explorer's address bar (TypedPaths), addresses into Internet Explorer (TypedURLs,
with the times of 8+ in TypedURLsTime) and searches in Explorer (WordWheelQuery, 7+)."""

from __future__ import annotations

import datetime
import re
from typing import Iterator, NamedTuple, Optional

from ..framework import Context, report
from ..helpers import filetime_at
from ..mru import ranked, text_of, utf16_head, value_records

TYPED_PATHS = r"Software\Microsoft\Windows\CurrentVersion\Explorer\TypedPaths"
TYPED_URLS = r"Software\Microsoft\Internet Explorer\TypedURLs"
TYPED_URLS_TIME = r"Software\Microsoft\Internet Explorer\TypedURLsTime"
WORD_WHEEL = r"Software\Microsoft\Windows\CurrentVersion\Explorer\WordWheelQuery"
# "url1" is the most recent entry, "url2" the one before...
_URL_NAME = re.compile(r"url([1-9][0-9]*)", re.IGNORECASE)


def url_rank(name: str) -> Optional[int]:
    """The rank of a urlN value: 0 for url1; None for another name."""
    found = _URL_NAME.fullmatch(name)
    return int(found.group(1)) - 1 if found else None


class TypedPath(NamedTuple):
    key: str
    rank: Optional[int]  # 0 for url1, the most recent
    value: str
    path: Optional[str]
    last_written: Optional[datetime.datetime]  # the key's: when the most recent path was typed


@report(name="typed_paths", title="Paths typed into Explorer's address bar (TypedPaths)", category="activity",
        hive_types=["NTUSER.DAT"], keys=[TYPED_PATHS], record=TypedPath, time_field="last_written")
def typed_paths(context: Context) -> Iterator[TypedPath]:
    key = context.key(TYPED_PATHS)
    if key is None:
        return
    path, written = context.path(key), context.last_written(key)
    for record in sorted(value_records(context, key), key=lambda r: (url_rank(r[0]) is None, url_rank(r[0]) or 0)):
        yield TypedPath(path, url_rank(record[0]), record[0], text_of(record), written)


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
    key = context.key(TYPED_URLS)
    if key is None:
        return
    times = context.key(TYPED_URLS_TIME)
    path, written = context.path(key), context.last_written(key)
    for record in sorted(value_records(context, key), key=lambda r: (url_rank(r[0]) is None, url_rank(r[0]) or 0)):
        stamp = None if times is None else context.raw(times, record[0])
        typed, typed_raw = filetime_at(stamp)
        if stamp is not None and typed_raw is None:
            context.note(context.path(times) if times is not None else path,
                         "{} holds {} bytes, not the 8 of a FILETIME".format(record[0], len(stamp)))
        yield TypedUrl(path, url_rank(record[0]), record[0], text_of(record), typed, typed_raw, written)


class SearchTerm(NamedTuple):
    key: str
    rank: Optional[int]
    value: str
    term: str
    last_written: Optional[datetime.datetime]  # the key's: when the most recent search was made


@report(name="word_wheel_query", title="Searches made in Explorer (WordWheelQuery)", category="activity",
        hive_types=["NTUSER.DAT"], keys=[WORD_WHEEL], record=SearchTerm, time_field="last_written")
def word_wheel_query(context: Context) -> Iterator[SearchTerm]:
    key = context.key(WORD_WHEEL)
    if key is None:
        return
    path, written = context.path(key), context.last_written(key)
    for rank, (value, _, raw, _) in ranked(context, path, value_records(context, key)):
        yield SearchTerm(path, rank, value, utf16_head(raw)[0], written)
