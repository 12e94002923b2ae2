// What `tarnu.records` and `tarnu._export` read: a hive file (with the logs beside it, none, or the ones named), a
// bytes-like image or an open Hive, and the name its rows carry.
#include "logs/logs_beside.h"
#include "logs/replay.h"
#include "python/binding.h"

namespace tarnu::py {
namespace {

bool logs_argument(const char* function, PyObject* value, ExportSource& out) {
    out.logs = ExportSource::Logs::Beside;
    if (value == nullptr) return true;
    if (value == Py_None) {
        out.logs = ExportSource::Logs::None;
        return true;
    }
    if (PyUnicode_Check(value)) {
        std::string text;
        if (!text_argument("logs", value, text)) return false;
        if (text == "auto") return true;
        PyErr_SetString(PyExc_ValueError, ("argument 'logs': expected 'auto', None or a list of paths, got '" + text +
                                           "'").c_str());
        return false;
    }
    PyObject* items = PySequence_List(value);
    if (items == nullptr) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s() argument 'logs': expected 'auto', None or a list of paths", function);
        return false;
    }
    const Py_ssize_t count = PyList_Size(items);
    bool ok = count <= 2;
    if (!ok) PyErr_SetString(PyExc_ValueError, "argument 'logs': at most two log paths");
    for (Py_ssize_t i = 0; ok && i < count; ++i) {
        std::string path;
        ok = path_argument("logs", PyList_GetItem(items, i), path);
        if (ok) out.log_paths.push_back(std::move(path));
    }
    Py_DECREF(items);
    out.logs = ExportSource::Logs::Given;
    return ok;
}

}  // namespace

bool export_source_argument(const char* function, PyObject* source, PyObject* logs, PyObject* name,
                            ExportSource& out) {
    if (name != nullptr && name != Py_None) {
        std::string text;
        if (!text_argument("name", name, text)) return false;
        out.name = std::move(text);
    }
    if (!logs_argument(function, logs, out)) return false;
    if (const SharedHive* hive = hive_of_object(source)) {
        out.hive = *hive;
        return true;
    }
    if (PyUnicode_Check(source) || PyObject_HasAttrString(source, "__fspath__")) {
        std::string path;
        if (!path_argument("source", source, path)) return false;
        if (!out.name) out.name = path;
        out.path = std::move(path);
        return true;
    }
    if (!bytes_argument("source", source, out.image)) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s() argument 'source': expected a path, a bytes-like object or a Hive",
                     function);
        return false;
    }
    return true;
}

Result<SharedHive> open_export_source(ExportSource& source) {
    if (source.hive) return source.hive;
    if (!source.path) return build_hive(HiveImage::from_buffer(std::move(source.image)));
    LogsBeside logs;
    if (source.logs == ExportSource::Logs::Beside) logs = logs_beside(*source.path);
    if (source.logs == ExportSource::Logs::Given) {
        if (!source.log_paths.empty()) logs.log1 = source.log_paths[0];
        if (source.log_paths.size() > 1) logs.log2 = source.log_paths[1];
    }
    TARNU_TRY(OpenedHive opened, open_hive_file(*source.path, logs));
    return std::move(opened.hive);
}

}  // namespace tarnu::py
