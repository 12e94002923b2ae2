"""Reports: answers to an analyst's first questions of a hive (what the machine is called, what starts at boot,
which USB devices were attached...), as typed records.

    for result in tarnu.reports.run(hive):
        if result.is_note:
            print("could not read:", result.record)
        else:
            print(result.report, result.record)

``catalogue()`` lists the reports: each has a name, a title, a category, the hive types it applies to
(``Hive.hive_type()``), the keys it reads and the record type it yields (a NamedTuple whose ``key`` field says
where the record came from; times are aware UTC datetimes). ``run(hive, names)`` runs those that apply; a report
meeting damaged data yields what it can read and notes the rest. docs/reports.md shows how to add a report: a
module with a Report subclass or a decorated function, or a ValuesReport table entry, in a folder passed as
``folders=`` (the command's --reports), or in an installed package's ``tarnu.reports`` entry point.
"""

from .catalogue import ENTRY_POINT_GROUP, applicable, catalogue, load_folder, reports_in, run, select
from .framework import (CATEGORIES, HIVE_TYPES, MAX_MATCHES, MAX_SUBKEYS, Context, Note, Report, Result,
                        ValuesReport, from_filetime, from_unix, raw_of, record_fields, report, run_report, time_of)

__all__ = [
    "CATEGORIES", "HIVE_TYPES", "MAX_MATCHES", "MAX_SUBKEYS", "ENTRY_POINT_GROUP", "Context", "Note", "Report",
    "Result", "ValuesReport", "report", "catalogue", "select", "applicable", "run", "run_report", "load_folder",
    "reports_in",
    "from_filetime", "from_unix", "time_of", "raw_of", "record_fields",
]
