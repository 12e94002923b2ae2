// From error kinds and internal faults to Python exceptions.
#include "python/binding.h"

namespace tarnu::py {
namespace {

// Raised for internal faults outside the key-reading methods. It derives from BaseException so that a broad
// `except Exception` in the caller does not swallow a broken process state.
PyObject* internal_fault_type = nullptr;

constexpr char kFaultPrefix[] = "Internal error: ";

}  // namespace

PyObject* new_str(const std::string& utf8) {
    return PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "strict");
}

void raise_error(const HiveError& error) {
    PyObject* type = error.kind() == ErrorKind::Io ? PyExc_OSError : PyExc_ValueError;
    std::string text;
    try {
        text = error.message();
    } catch (...) {
        PyErr_NoMemory();
        return;
    }
    // The text may hold U+0000 (a signature found in the file), so it is passed with its length.
    PyObject* message = new_str(text);
    if (message == nullptr) return;
    PyObject* exception = PyObject_CallFunctionObjArgs(type, message, nullptr);
    Py_DECREF(message);
    if (exception == nullptr) return;
    PyErr_SetObject(type, exception);
    Py_DECREF(exception);
}

void raise_fault(FaultStyle style, const char* what) {
    if (PyErr_Occurred()) return;
    std::string text = std::string(kFaultPrefix) + (what != nullptr && *what ? what : "unknown error");
    PyObject* type = style == FaultStyle::RuntimeError || internal_fault_type == nullptr ? PyExc_RuntimeError
                                                                                        : internal_fault_type;
    PyErr_SetString(type, text.c_str());
}

bool create_internal_fault_type() {
    if (internal_fault_type != nullptr) return true;
    internal_fault_type = PyErr_NewExceptionWithDoc(
        "tarnu.InternalFault",
        "An internal failure of the tarnu module itself (for example, memory exhausted); not a property of the "
        "hive being read.",
        PyExc_BaseException, nullptr);
    return internal_fault_type != nullptr;
}

}  // namespace tarnu::py
