"""Reports that are plain "these values of these keys": one ValuesReport entry each."""

from __future__ import annotations

from ..framework import ValuesReport

TABLE = [
    ValuesReport(name="computer_name", title="Computer name, in every control set", category="system",
                 hive_types=["SYSTEM"], keys=[r"ControlSet*\Control\ComputerName\ComputerName"],
                 values=["ComputerName"]),
]
