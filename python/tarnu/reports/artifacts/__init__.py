"""The built-in reports, one module per family; every module here is read for reports (tarnu.reports.catalogue)."""
