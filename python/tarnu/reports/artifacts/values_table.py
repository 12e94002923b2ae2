"""Reports that are plain "these values of these keys": one ValuesReport entry each."""

from __future__ import annotations

from ..framework import ValuesReport

TABLE = [
    ValuesReport(name="computer_name", title="Computer name, in every control set", category="system",
                 hive_types=["SYSTEM"], keys=[r"ControlSet*\Control\ComputerName\ComputerName"],
                 values=["ComputerName"]),
    ValuesReport(name="appinit_dlls", title="AppInit DLLs, loaded into every process that loads user32",
                 category="persistence", hive_types=["SOFTWARE"],
                 keys=[r"Microsoft\Windows NT\CurrentVersion\Windows",
                       r"Wow6432Node\Microsoft\Windows NT\CurrentVersion\Windows"],
                 values=["AppInit_DLLs", "LoadAppInit_DLLs", "RequireSignedAppInit_DLLs"]),
    ValuesReport(name="lsa_packages", title="LSA authentication, notification and security packages",
                 category="persistence", hive_types=["SYSTEM"],
                 keys=[r"ControlSet*\Control\Lsa", r"ControlSet*\Control\Lsa\OSConfig"],
                 values=["Authentication Packages", "Notification Packages", "Security Packages"]),
    ValuesReport(name="boot_execute", title="Programs the session manager runs at boot", category="persistence",
                 hive_types=["SYSTEM"], keys=[r"ControlSet*\Control\Session Manager"],
                 values=["BootExecute", "SetupExecute", "Execute", "S0InitialCommand"]),
    ValuesReport(name="control_sets", title="Control sets: current, default, failed, last known good",
                 category="system", hive_types=["SYSTEM"], keys=["Select"],
                 values=["Current", "Default", "Failed", "LastKnownGood"]),
]
