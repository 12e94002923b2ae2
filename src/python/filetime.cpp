// FILETIME to datetime. The datetime C API is not part of the limited API, so the object is made by calling the
// datetime class, with the date and time of day worked out by the core (utils/filetime.h) and timezone.utc as its
// zone; both objects are looked up once and kept for the life of the process.
#include <cinttypes>
#include <cstdio>

#include "python/binding.h"
#include "utils/filetime.h"

namespace tarnu::py {
namespace {

PyObject* datetime_class = nullptr;
PyObject* utc = nullptr;

bool load_datetime() {
    if (utc != nullptr) return true;
    PyObject* module = PyImport_ImportModule("datetime");
    if (module == nullptr) return false;
    PyObject* klass = PyObject_GetAttrString(module, "datetime");
    PyObject* timezone = klass != nullptr ? PyObject_GetAttrString(module, "timezone") : nullptr;
    PyObject* zone = timezone != nullptr ? PyObject_GetAttrString(timezone, "utc") : nullptr;
    Py_XDECREF(timezone);
    Py_DECREF(module);
    if (zone == nullptr) {
        Py_XDECREF(klass);
        return false;
    }
    datetime_class = klass;
    utc = zone;
    return true;
}

}  // namespace

PyObject* new_utc_datetime(uint64_t filetime) {
    if (filetime == 0) Py_RETURN_NONE;
    if (filetime >= kFirstFiletimePastYear9999) {
        char text[128];
        std::snprintf(text, sizeof text, "FILETIME %" PRIu64 " lies past 9999-12-31, the last day a datetime holds",
                      filetime);
        PyErr_SetString(PyExc_ValueError, text);
        return nullptr;
    }
    if (!load_datetime()) return nullptr;
    const UtcTime t = utc_from_filetime(filetime);
    return PyObject_CallFunction(datetime_class, "iiiiiiiO", static_cast<int>(t.year), static_cast<int>(t.month),
                                 static_cast<int>(t.day), static_cast<int>(t.hour), static_cast<int>(t.minute),
                                 static_cast<int>(t.second), static_cast<int>(t.microsecond), utc);
}

PyObject* new_unix_timestamp(uint64_t filetime) {
    constexpr uint64_t kTicksPerSecond = 10000000;
    constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
    if (filetime == 0) Py_RETURN_NONE;
    return PyLong_FromLongLong(static_cast<int64_t>(filetime / kTicksPerSecond) - kSecondsFrom1601To1970);
}

}  // namespace tarnu::py
