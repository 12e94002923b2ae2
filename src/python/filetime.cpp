// FILETIME to datetime. The datetime C API is not part of the limited API, so the object is made by calling the
// datetime class, with the date and time of day worked out here and timezone.utc as its zone; both objects are
// looked up once and kept for the life of the process.
#include <cinttypes>
#include <cstdio>

#include "python/binding.h"

namespace tarnu::py {
namespace {

PyObject* datetime_class = nullptr;
PyObject* utc = nullptr;

constexpr uint64_t kTicksPerMicrosecond = 10;
constexpr uint64_t kMicrosecondsPerDay = 86400000000;
// Days from 1601-01-01, where FILETIMEs start, to 1970-01-01.
constexpr int64_t kDaysFrom1601To1970 = 134774;
// The first FILETIME past 9999-12-31 23:59:59.999999, the last moment a datetime holds: the days from 1601-01-01
// to 10000-01-01 in 100-nanosecond ticks.
constexpr uint64_t kFirstFiletimePastDatetime = 3067671ull * kMicrosecondsPerDay * kTicksPerMicrosecond;

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

struct CivilDate {
    int64_t year;
    unsigned month, day;
};

// The proleptic Gregorian date `days` days after 1970-01-01 (H. Hinnant's days-to-civil algorithm).
CivilDate civil_from_days(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned shifted_month = (5 * day_of_year + 2) / 153;
    const unsigned day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    const unsigned month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    return CivilDate{static_cast<int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

}  // namespace

PyObject* new_utc_datetime(uint64_t filetime) {
    if (filetime == 0) Py_RETURN_NONE;
    if (filetime >= kFirstFiletimePastDatetime) {
        char text[128];
        std::snprintf(text, sizeof text, "FILETIME %" PRIu64 " lies past 9999-12-31, the last day a datetime holds",
                      filetime);
        PyErr_SetString(PyExc_ValueError, text);
        return nullptr;
    }
    if (!load_datetime()) return nullptr;
    const uint64_t micros = filetime / kTicksPerMicrosecond;
    const uint64_t of_day = micros % kMicrosecondsPerDay;
    const CivilDate date = civil_from_days(static_cast<int64_t>(micros / kMicrosecondsPerDay) - kDaysFrom1601To1970);
    const uint64_t seconds = of_day / 1000000;
    return PyObject_CallFunction(datetime_class, "iiiiiiiO", static_cast<int>(date.year),
                                 static_cast<int>(date.month), static_cast<int>(date.day),
                                 static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                                 static_cast<int>(seconds % 60), static_cast<int>(of_day % 1000000), utc);
}

PyObject* new_unix_timestamp(uint64_t filetime) {
    constexpr uint64_t kTicksPerSecond = 10000000;
    constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
    if (filetime == 0) Py_RETURN_NONE;
    return PyLong_FromLongLong(static_cast<int64_t>(filetime / kTicksPerSecond) - kSecondsFrom1601To1970);
}

}  // namespace tarnu::py
