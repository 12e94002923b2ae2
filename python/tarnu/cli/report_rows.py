"""Report records as rows of (hive, artifact, key, time, fields), spelled as dump spells its rows: JSON Lines with
null, true/false and ISO-8601 UTC times; CSV with empty cells for null; and a table for reading on a terminal.

All the output of the report command goes through this module, so that it can move onto the core's row writers
in one place.
"""

from __future__ import annotations

import csv
import datetime
import io
import json
from typing import Any, Dict, Iterable, List, Sequence, Tuple

from tarnu.reports import Report, record_fields

COLUMNS = ("hive", "artifact", "key", "time", "fields")
CSV_HEADER = ",".join(COLUMNS) + "\r\n"

# The widest a table cell grows; longer text is cut with "...".
TABLE_CELL_WIDTH = 60


def plain(value: Any) -> Any:
    """A field's value as JSON holds it: times in ISO-8601 UTC with microseconds, bytes in hex, tuples as lists."""
    if isinstance(value, datetime.datetime):
        return value.isoformat(timespec="microseconds")
    if isinstance(value, (bytes, bytearray, memoryview)):
        return bytes(value).hex()
    if isinstance(value, (list, tuple)) and not hasattr(value, "_asdict"):
        return [plain(item) for item in value]
    if hasattr(value, "_asdict"):
        return {name: plain(item) for name, item in value._asdict().items()}
    if isinstance(value, dict):
        return {str(name): plain(item) for name, item in value.items()}
    return value


def csv_field(value: Any) -> str:
    """A cell of CSV as dump writes it: empty for null, true/false, a list as its JSON array."""
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, list):
        return json.dumps(value, ensure_ascii=False, separators=(",", ":"))
    return str(value)


def row(hive: str, report: Report, record: Any) -> Dict[str, Any]:
    """One record as a row: its key and its dating field apart, every other field under "fields"."""
    fields = {name: plain(value) for name, value in record_fields(record).items()}
    key = fields.pop("key", None)
    time = fields.get(report.time_field) if report.time_field else None
    return {"hive": hive, "artifact": report.name, "key": key, "time": time, "fields": fields}


def jsonl(rows: Sequence[Dict[str, Any]]) -> bytes:
    return "".join(json.dumps(r, ensure_ascii=False, separators=(",", ":")) + "\n" for r in rows).encode("utf-8")


def csv_rows(rows: Sequence[Dict[str, Any]]) -> bytes:
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\r\n")
    for r in rows:
        writer.writerow([csv_field(r[c]) if c != "fields" else json.dumps(r[c], ensure_ascii=False,
                                                                           separators=(",", ":"))
                         for c in COLUMNS])
    return out.getvalue().encode("utf-8")


def cell(value: Any) -> str:
    text = csv_field(value) if not isinstance(value, dict) else json.dumps(value, ensure_ascii=False)
    text = "".join(c if c.isprintable() else " " for c in text)
    return text if len(text) <= TABLE_CELL_WIDTH else text[:TABLE_CELL_WIDTH - 3] + "..."


def table(hive: str, report: Report, rows: Sequence[Dict[str, Any]]) -> bytes:
    """One report's rows of one hive as a titled table: a column per field, the key last."""
    if not rows:
        return b""
    names = list(rows[0]["fields"].keys())
    header = names + ["key"]
    lines = [[cell(r["fields"].get(n)) for n in names] + [cell(r["key"])] for r in rows]
    widths = [max(len(header[i]), *(len(line[i]) for line in lines)) for i in range(len(header))]

    def joined(cells: List[str]) -> str:
        return "  ".join(c.ljust(w) for c, w in zip(cells, widths)).rstrip()

    text = ["{}: {} ({})".format(hive, report.title, report.name), joined(header),
            joined(["-" * w for w in widths])]
    text.extend(joined(line) for line in lines)
    return ("\n".join(text) + "\n\n").encode("utf-8", "backslashreplace")


def formatted(hive: str, report: Report, records: Sequence[Any], format: str) -> bytes:
    rows = [row(hive, report, record) for record in records]
    if format == "csv":
        return csv_rows(rows)
    if format == "table":
        return table(hive, report, rows)
    return jsonl(rows)


def report_list(reports: Sequence[Report]) -> bytes:
    """The catalogue as --list shows it: name, category, hive types and title."""
    lines: List[Tuple[str, str, str, str]] = [("name", "category", "hive types", "title")]
    lines.extend((r.name, r.category, ", ".join(r.hive_types), r.title) for r in reports)
    widths = [max(len(line[i]) for line in lines) for i in range(3)]
    return "".join("{}  {}  {}  {}\n".format(*(line[i].ljust(widths[i]) for i in range(3)), line[3])
                   for line in lines).encode("utf-8")


# ---- timeline events ----------------------------------------------------------------------------------------------

_UNIX_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)


def events(results: Iterable[Tuple[Report, Any]]) -> List[Tuple[datetime.datetime, str]]:
    """The dated events of report records: (time, "key [artifact field]") for every field that holds a UTC
    time, ordered by time and then text. A record's last_written field is left out: the key time says it."""
    found = []
    for report, record in results:
        fields = record_fields(record)
        for name, value in fields.items():
            if isinstance(value, datetime.datetime) and value.tzinfo is not None and name != "last_written":
                found.append((value, "{} [{} {}]".format(fields.get("key") or "", report.name, name)))
    return sorted(found)


def bodyfile_name(text: str) -> str:
    """A name as the bodyfile's writer spells it: '|', line breaks and '%' as %XX."""
    return text.replace("%", "%25").replace("|", "%7C").replace("\n", "%0A").replace("\r", "%0D")


def timeline_events(hive: str, found: Sequence[Tuple[datetime.datetime, str]], format: str) -> bytes:
    """Events as lines of the timeline's bodyfile (the time as mtime) or as its CSV rows."""
    if format == "bodyfile":
        return "".join("0|{}:\\{}|0|0|0|0|0|0|{}|0|0\n".format(bodyfile_name(hive), bodyfile_name(text),
                                                               (time - _UNIX_EPOCH) // datetime.timedelta(seconds=1))
                       for time, text in found).encode("utf-8")
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\r\n")
    for time, text in found:
        writer.writerow([time.isoformat(timespec="microseconds"), hive, text])
    return out.getvalue().encode("utf-8")
