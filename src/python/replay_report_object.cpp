// ReplayReport and LogReport: what `Hive.open_with_logs` did with the primary and with each log, as read-only
// attributes. A ReplayReport shares the report with its hive; a LogReport holds a copy of one log's part.
#include "logs/replay_report.h"
#include "python/binding.h"
#include "utils/format.h"

namespace tarnu::py {
namespace {

struct ReplayReportObject {
    PyObject_HEAD
    struct {
        std::shared_ptr<const ReplayReport> report;
    } fields;
};

struct LogReportObject {
    PyObject_HEAD
    struct {
        LogReport log;
    } fields;
};

const ReplayReport& report_of(PyObject* self) { return *reinterpret_cast<ReplayReportObject*>(self)->fields.report; }
const LogReport& log_of(PyObject* self) { return reinterpret_cast<LogReportObject*>(self)->fields.log; }

PyObject* new_log_report(const LogReport& log) {
    return reinterpret_cast<PyObject*>(alloc_object<LogReportObject>(types.log_report, log));
}

PyObject* optional_number(const std::optional<uint32_t>& number) {
    if (!number) Py_RETURN_NONE;
    return PyLong_FromUnsignedLong(*number);
}

PyObject* optional_text(const std::string& text) {
    if (text.empty()) Py_RETURN_NONE;
    return new_str(text);
}

// A tuple of `items.size()` objects made by `make(item)`.
template <typename Items, typename Make>
PyObject* new_tuple(const Items& items, Make&& make) {
    PyObject* list = new_list(items, make);
    if (list == nullptr) return nullptr;
    PyObject* tuple = PyList_AsTuple(list);
    Py_DECREF(list);
    return tuple;
}

// Python's own repr of a text, quotes and escapes included.
std::string quoted(const std::string& text) {
    PyObject* object = new_str(text);
    PyObject* repr = object == nullptr ? nullptr : PyObject_Repr(object);
    PyObject* utf8 = repr == nullptr ? nullptr : PyUnicode_AsUTF8String(repr);
    std::string result = utf8 == nullptr ? "?" : PyBytes_AsString(utf8);
    Py_XDECREF(utf8);
    Py_XDECREF(repr);
    Py_XDECREF(object);
    PyErr_Clear();
    return result;
}

std::string sequences_text(const std::optional<uint32_t>& first, const std::optional<uint32_t>& last) {
    if (!first) return "None";
    return *first == *last ? dec(*first) : dec(*first) + ".." + dec(*last);
}

std::string log_repr_text(const LogReport& log) {
    std::string text = "LogReport(path=" + quoted(log.path) + ", kind=" + quoted(log.kind);
    if (!log.used) return text + ", used=False, reason=" + quoted(log.reason) + ")";
    text += ", used=True, sequences=" + sequences_text(log.first_sequence, log.last_sequence);
    if (log.entries_applied) text += ", entries=" + dec(*log.entries_applied);
    return text + ", pages=" + dec(log.pages_applied) + ", stop=" + quoted(log.stop) + ")";
}

// ---- ReplayReport --------------------------------------------------------------------------------------------

PyObject* report_primary_dirty(PyObject* self, void*) { return PyBool_FromLong(report_of(self).primary_dirty); }
PyObject* report_recovered(PyObject* self, void*) { return PyBool_FromLong(report_of(self).recovered); }
PyObject* report_base_block_from_log(PyObject* self, void*) {
    return PyBool_FromLong(report_of(self).base_block_from_log);
}
PyObject* report_first_sequence(PyObject* self, void*) { return optional_number(report_of(self).first_sequence); }
PyObject* report_last_sequence(PyObject* self, void*) { return optional_number(report_of(self).last_sequence); }
PyObject* report_placeholder_bins(PyObject* self, void*) {
    return guarded([&] {
        return new_tuple(report_of(self).placeholder_bins,
                         [](uint32_t position) { return PyLong_FromUnsignedLong(position); });
    });
}
PyObject* report_logs(PyObject* self, void*) {
    return guarded([&] { return new_tuple(report_of(self).logs, new_log_report); });
}

PyObject* report_repr(PyObject* self) {
    return guarded([&] {
        const ReplayReport& report = report_of(self);
        std::string text = std::string("ReplayReport(primary_dirty=") + (report.primary_dirty ? "True" : "False") +
                           ", recovered=" + (report.recovered ? "True" : "False") +
                           ", sequences=" + sequences_text(report.first_sequence, report.last_sequence);
        if (report.base_block_from_log) text += ", base_block_from_log=True";
        if (!report.placeholder_bins.empty()) text += ", placeholder_bins=" + dec(report.placeholder_bins.size());
        text += ", logs=[";
        for (size_t i = 0; i < report.logs.size(); ++i) text += (i ? ", " : "") + log_repr_text(report.logs[i]);
        return new_str(text + "])");
    });
}

PyGetSetDef report_getset[] = {
    {"primary_dirty", report_primary_dirty, nullptr,
     "Whether the primary was dirty: its sequence numbers differed or its base block could not be trusted", nullptr},
    {"recovered", report_recovered, nullptr,
     "Whether Windows logs were applied and the base block made clean (sequence numbers, size, checksum)", nullptr},
    {"base_block_from_log", report_base_block_from_log, nullptr,
     "Whether the primary's damaged base block was replaced by a log's copy of it", nullptr},
    {"first_sequence", report_first_sequence, nullptr,
     "Get the first sequence number that Windows recovery applied, or None", nullptr},
    {"last_sequence", report_last_sequence, nullptr,
     "Get the last sequence number that Windows recovery applied, or None", nullptr},
    {"placeholder_bins", report_placeholder_bins, nullptr,
     "Get the offsets (from the start of the hive bins data) of the empty bins put where recovery left a broken "
     "hive bin",
     nullptr},
    {"logs", report_logs, nullptr, "Get a LogReport for each log path given, in the order given", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot report_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Python wrapper for ReplayReport\n\n"
                    "What Hive.open_with_logs did. Each log is recognised by its bytes: 'blocks' (the reader's own "
                    "layout, \"HvLE\" header and \"DIRT\" blocks), 'old' or 'new' (Windows logs, file type 1/2 or "
                    "6), 'empty', 'not a log' or 'unreadable'. A dirty primary is recovered from its Windows logs "
                    "first, by Windows' rules (the logs ordered by sequence number whatever their slot, stale ones "
                    "skipped, entries applied while valid); a clean primary ignores them. The 'blocks' logs are "
                    "applied after that, in their sequence order.")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<ReplayReportObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(report_repr)},
    {Py_tp_getset, report_getset},
    {0, nullptr},
};

// ---- LogReport -----------------------------------------------------------------------------------------------

PyObject* log_path(PyObject* self, void*) { return new_str(log_of(self).path); }
PyObject* log_kind(PyObject* self, void*) { return new_str(log_of(self).kind); }
PyObject* log_used(PyObject* self, void*) { return PyBool_FromLong(log_of(self).used); }
PyObject* log_reason(PyObject* self, void*) { return optional_text(log_of(self).reason); }
PyObject* log_first_sequence(PyObject* self, void*) { return optional_number(log_of(self).first_sequence); }
PyObject* log_last_sequence(PyObject* self, void*) { return optional_number(log_of(self).last_sequence); }
PyObject* log_entries_applied(PyObject* self, void*) {
    return PyLong_FromSize_t(log_of(self).entries_applied.value_or(0));
}
PyObject* log_pages_applied(PyObject* self, void*) { return PyLong_FromSize_t(log_of(self).pages_applied); }
PyObject* log_stop_reason(PyObject* self, void*) { return optional_text(log_of(self).stop); }

PyObject* log_repr(PyObject* self) {
    return guarded([&] { return new_str(log_repr_text(log_of(self))); });
}

PyGetSetDef log_getset[] = {
    {"path", log_path, nullptr, "Get the path the log was given as", nullptr},
    {"kind", log_kind, nullptr,
     "Get what the file is: 'blocks', 'old', 'new', 'empty', 'not a log' or 'unreadable'", nullptr},
    {"used", log_used, nullptr, "Whether the replay read pages from this log", nullptr},
    {"reason", log_reason, nullptr, "Get why the log was not used, or None", nullptr},
    {"first_sequence", log_first_sequence, nullptr, "Get the first sequence number applied from it, or None", nullptr},
    {"last_sequence", log_last_sequence, nullptr, "Get the last sequence number applied from it, or None", nullptr},
    {"entries_applied", log_entries_applied, nullptr, "Get the number of entries applied (new format)", nullptr},
    {"pages_applied", log_pages_applied, nullptr,
     "Get the number of pages applied (512-byte units in the old format)", nullptr},
    {"stop_reason", log_stop_reason, nullptr, "Get why the replay of this log ended, or None if it was not used",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot log_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for LogReport\n\n"
                                  "What the replay made of one log file; see ReplayReport.")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<LogReportObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(log_repr)},
    {Py_tp_getset, log_getset},
    {0, nullptr},
};

}  // namespace

PyType_Spec replay_report_spec = {"builtins.ReplayReport", sizeof(ReplayReportObject), 0, Py_TPFLAGS_DEFAULT,
                                  report_slots};
PyType_Spec log_report_spec = {"builtins.LogReport", sizeof(LogReportObject), 0, Py_TPFLAGS_DEFAULT, log_slots};

PyObject* new_replay_report(std::shared_ptr<const ReplayReport> report) {
    return reinterpret_cast<PyObject*>(alloc_object<ReplayReportObject>(types.replay_report, std::move(report)));
}

}  // namespace tarnu::py
