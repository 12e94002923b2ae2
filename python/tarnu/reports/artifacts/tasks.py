"""Scheduled tasks from SOFTWARE's TaskCache (Vista+): each task's path, author, actions' owner and its times."""

from __future__ import annotations

import datetime
from typing import Iterator, NamedTuple, Optional

import tarnu.decode

from ..framework import Context, raw_of, report, time_of
from ..helpers import decoder_notes

TASK_CACHE = r"Microsoft\Windows NT\CurrentVersion\Schedule\TaskCache"


class Task(NamedTuple):
    key: str
    id: str
    path: Optional[str]
    uri: Optional[str]
    author: Optional[str]
    description: Optional[str]
    date: Optional[str]  # as the task's author wrote it
    hidden: Optional[bool]  # the Tree entry has no SD value; None without a Tree entry
    created: Optional[datetime.datetime]  # DynamicInfo: registered
    created_raw: Optional[int]
    last_run: Optional[datetime.datetime]
    last_run_raw: Optional[int]
    last_completed: Optional[datetime.datetime]  # 8+
    last_completed_raw: Optional[int]
    state: Optional[int]
    last_result: Optional[int]  # an HRESULT
    last_written: Optional[datetime.datetime]


@report(name="scheduled_tasks", title="Scheduled tasks (TaskCache)", category="persistence",
        hive_types=["SOFTWARE"], keys=[TASK_CACHE + r"\Tasks\*", TASK_CACHE + r"\Tree"], record=Task,
        time_field="created")
def scheduled_tasks(context: Context) -> Iterator[Task]:
    tree = context.key(TASK_CACHE + r"\Tree")
    for path, key in context.keys(TASK_CACHE + r"\Tasks\*"):
        task_path = context.text(key, "Path")
        hidden = None
        if tree is not None and task_path:
            entry = context.subkey(tree, task_path.strip("\\"))
            hidden = None if entry is None else context.raw(entry, "SD") is None
        data = context.raw(key, "DynamicInfo")
        info = None if data is None else tarnu.decode.dynamic_info(data)
        if info is not None:
            decoder_notes(context, path, "DynamicInfo", info.notes)
        created = None if info is None else info.created
        last_run = None if info is None else info.last_run
        completed = None if info is None else info.last_completed
        yield Task(path, key.name(), task_path, context.text(key, "URI"), context.text(key, "Author"),
                   context.text(key, "Description"), context.text(key, "Date"), hidden, time_of(created),
                   raw_of(created), time_of(last_run), raw_of(last_run), time_of(completed), raw_of(completed),
                   None if info is None else info.state, None if info is None else info.last_result,
                   context.last_written(key))
