// From error kinds and internal faults to Python exceptions: the OSError subclasses for I/O failures, tarnu.HiveError
// and its subclasses for everything else a hive can be faulted for.
#include "python/binding.h"

namespace tarnu::py {
namespace {

// Raised for internal faults outside the key-reading methods. It derives from BaseException so that a broad
// `except Exception` in the caller does not swallow a broken process state.
PyObject* internal_fault_type = nullptr;

// The classes of hive errors, created once per process.
struct HiveErrorTypes {
    PyObject* hive_error;       // tarnu.HiveError(ValueError): every kind but Io
    PyObject* corrupt;          // tarnu.CorruptHiveError(HiveError): the hive's bytes are damaged
    PyObject* not_found;        // tarnu.NotFoundError(HiveError)
    PyObject* key_not_found;    // tarnu.KeyNotFoundError(NotFoundError)
    PyObject* value_not_found;  // tarnu.ValueNotFoundError(NotFoundError)
} hive_error_types{};

// The class an error of a kind other than Io is raised as (a borrowed reference).
PyObject* hive_error_class(const HiveError& error) {
    if (hive_error_types.hive_error == nullptr) return PyExc_ValueError;  // before the module is made
    switch (error.kind()) {
        case ErrorKind::NotFound: {
            const auto& missing = std::get<error_details::NotFound>(error.details());
            return missing.what == error_details::NotFound::What::Key ? hive_error_types.key_not_found
                                                                      : hive_error_types.value_not_found;
        }
        case ErrorKind::UnsupportedVersion:
        case ErrorKind::Io:  // raised as OSError before it comes here
            return hive_error_types.hive_error;
        case ErrorKind::InvalidSignature:
        case ErrorKind::InvalidFormat:
        case ErrorKind::InvalidOffset:
        case ErrorKind::InvalidCellSize:
        case ErrorKind::InvalidUtf16:
        case ErrorKind::HiveTooSmall:
        case ErrorKind::ChecksumMismatch:
        case ErrorKind::TruncatedData:
        case ErrorKind::InvalidSubkeyListType:
            break;
    }
    return hive_error_types.corrupt;
}

const char* kind_name(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::Io: return "Io";
        case ErrorKind::InvalidSignature: return "InvalidSignature";
        case ErrorKind::InvalidFormat: return "InvalidFormat";
        case ErrorKind::InvalidOffset: return "InvalidOffset";
        case ErrorKind::InvalidCellSize: return "InvalidCellSize";
        case ErrorKind::NotFound: return "NotFound";
        case ErrorKind::InvalidUtf16: return "InvalidUtf16";
        case ErrorKind::HiveTooSmall: return "HiveTooSmall";
        case ErrorKind::ChecksumMismatch: return "ChecksumMismatch";
        case ErrorKind::UnsupportedVersion: return "UnsupportedVersion";
        case ErrorKind::TruncatedData: return "TruncatedData";
        case ErrorKind::InvalidSubkeyListType: return "InvalidSubkeyListType";
    }
    return "Unknown";
}

// The Python object of one detail.
PyObject* detail_object(uint64_t value) { return PyLong_FromUnsignedLongLong(value); }
PyObject* detail_object(int64_t value) { return PyLong_FromLongLong(value); }
PyObject* detail_object(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}
PyObject* detail_object(Bytes bytes) {
    const auto* data = reinterpret_cast<const char*>(bytes.data());
    return PyBytes_FromStringAndSize(data, static_cast<Py_ssize_t>(bytes.size()));
}

// Sets `dict[name] = value`, stealing `value`; false with the exception set when that fails.
bool set_item(PyObject* dict, const char* name, PyObject* value) {
    const bool set = value != nullptr && PyDict_SetItemString(dict, name, value) == 0;
    Py_XDECREF(value);
    return set;
}

// The details of `error` as a new dict: its named fields, and for InvalidFormat the problem's name.
PyObject* details_dict(const HiveError& error) {
    PyObject* dict = PyDict_New();
    if (dict == nullptr) return nullptr;
    bool ok = error.problem() == nullptr || set_item(dict, "problem", PyUnicode_FromString(error.problem()));
    error.each_detail([&](const char* name, auto value) { ok = ok && set_item(dict, name, detail_object(value)); });
    if (ok) return dict;
    Py_DECREF(dict);
    return nullptr;
}

// The offset of `error` as an int, or None: a new reference.
PyObject* offset_object(const HiveError& error) {
    if (error.offset()) return PyLong_FromUnsignedLongLong(*error.offset());
    Py_INCREF(Py_None);
    return Py_None;
}

// Sets `kind`, `offset` and `details` of a new HiveError instance; false with the exception set when that fails.
bool set_hive_error_fields(PyObject* exception, const HiveError& error) {
    auto set = [exception](const char* name, PyObject* value) {  // steals `value`
        const bool done = value != nullptr && PyObject_SetAttrString(exception, name, value) == 0;
        Py_XDECREF(value);
        return done;
    };
    return set("kind", PyUnicode_InternFromString(kind_name(error.kind()))) && set("offset", offset_object(error)) &&
           set("details", details_dict(error));
}

constexpr char kFaultPrefix[] = "Internal error: ";

// The class Python itself raises for an error number: OSError picks its subclass (FileNotFoundError,
// PermissionError, ...) when it is made with the number and a text. A new reference, or nullptr.
PyObject* os_error_class(int os_code) {
    PyObject* probe = PyObject_CallFunction(PyExc_OSError, "is", os_code, "");
    if (probe == nullptr) return nullptr;
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(probe));
    Py_INCREF(type);
    Py_DECREF(probe);
    return type;
}

// Sets attribute `name` of `object` to the number `value`; false with the exception set when that fails.
bool set_number(PyObject* object, const char* name, long value) {
    PyObject* number = PyLong_FromLong(value);
    const bool set = number != nullptr && PyObject_SetAttrString(object, name, number) == 0;
    Py_XDECREF(number);
    return set;
}

}  // namespace

const char* error_kind_name(ErrorKind kind) { return kind_name(kind); }

PyObject* new_str(const std::string& utf8) {
    return PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "strict");
}

void raise_error(const HiveError& error) {
    std::string text;
    try {
        text = error.message();
    } catch (...) {
        PyErr_NoMemory();
        return;
    }
    const bool io = error.kind() == ErrorKind::Io;
    const int os_code = io ? error.os_code() : 0;
    PyObject* type = os_code != 0 ? os_error_class(os_code) : (io ? PyExc_OSError : hive_error_class(error));
    if (type == nullptr) return;
    if (os_code == 0) Py_INCREF(type);
    // The text may hold U+0000 (a signature found in the file), so it is passed with its length. The exception
    // has the message as its one argument, so its text is the message. An OSError gets `errno` only, since it
    // shows "[Errno n] strerror" instead of its argument once `strerror` is set as well; a HiveError gets its kind,
    // offset and details.
    PyObject* message = new_str(text);
    PyObject* exception = message != nullptr ? PyObject_CallFunctionObjArgs(type, message, nullptr) : nullptr;
    Py_XDECREF(message);
    Py_DECREF(type);
    if (exception == nullptr) return;
    if (!io && !set_hive_error_fields(exception, error)) {
        Py_DECREF(exception);
        return;
    }
    if (os_code != 0 && !set_number(exception, "errno", os_code)) {
        Py_DECREF(exception);
        return;
    }
#ifdef _WIN32
    // As Python's own OSError on Windows: `winerror` is the Windows error code the message shows.
    if (error.windows_code() != 0 && !set_number(exception, "winerror", static_cast<long>(error.windows_code()))) {
        Py_DECREF(exception);
        return;
    }
#endif
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception)), exception);
    Py_DECREF(exception);
}

void raise_fault(FaultStyle style, const char* what) {
    if (PyErr_Occurred()) return;
    std::string text = std::string(kFaultPrefix) + (what != nullptr && *what ? what : "unknown error");
    PyObject* type = style == FaultStyle::RuntimeError || internal_fault_type == nullptr ? PyExc_RuntimeError
                                                                                        : internal_fault_type;
    PyErr_SetString(type, text.c_str());
}

bool create_error_types() {
    if (internal_fault_type == nullptr) {
        internal_fault_type = PyErr_NewExceptionWithDoc(
            "tarnu.InternalFault",
            "An internal failure of the tarnu module itself (for example, memory exhausted); not a property of the "
            "hive being read.",
            PyExc_BaseException, nullptr);
        if (internal_fault_type == nullptr) return false;
    }
    if (hive_error_types.hive_error != nullptr) return true;
    HiveErrorTypes made{};
    struct Entry {
        PyObject** slot;
        const char* name;
        const char* doc;
        PyObject* const* base;
    };
    const Entry entries[] = {
        {&made.hive_error, "tarnu.HiveError",
         "Something wrong with a hive or its data, or a key or value that is not there. `kind` names the error's kind "
         "(\"TruncatedData\", \"NotFound\", ...), `offset` is the cell offset (or hive-bins position) it concerns or "
         "None, and `details` holds its other fields by name.",
         &PyExc_ValueError},
        {&made.corrupt, "tarnu.CorruptHiveError",
         "The hive's bytes are damaged: a header, cell, record, list or name that cannot be what it claims.",
         &made.hive_error},
        {&made.not_found, "tarnu.NotFoundError", "A key or value that is not there.", &made.hive_error},
        {&made.key_not_found, "tarnu.KeyNotFoundError",
         "A key that is not there; `details[\"path\"]` is the path asked for.", &made.not_found},
        {&made.value_not_found, "tarnu.ValueNotFoundError",
         "A value that is not there; `details[\"name\"]` is the name asked for.", &made.not_found},
    };
    for (const Entry& entry : entries) {
        *entry.slot = PyErr_NewExceptionWithDoc(entry.name, entry.doc, *entry.base, nullptr);
        if (*entry.slot == nullptr) return false;
    }
    hive_error_types = made;
    return true;
}

bool add_error_types(PyObject* module) {
    const std::pair<const char*, PyObject*> classes[] = {
        {"HiveError", hive_error_types.hive_error},
        {"CorruptHiveError", hive_error_types.corrupt},
        {"NotFoundError", hive_error_types.not_found},
        {"KeyNotFoundError", hive_error_types.key_not_found},
        {"ValueNotFoundError", hive_error_types.value_not_found},
    };
    for (const auto& [name, type] : classes) {
        if (PyObject_SetAttrString(module, name, type) != 0) return false;
    }
    return true;
}

}  // namespace tarnu::py
