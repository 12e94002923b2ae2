// From error kinds and internal faults to Python exceptions.
#include "python/binding.h"

namespace tarnu::py {
namespace {

// Raised for internal faults outside the key-reading methods. It derives from BaseException so that a broad
// `except Exception` in the caller does not swallow a broken process state.
PyObject* internal_fault_type = nullptr;

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
    const int os_code = error.kind() == ErrorKind::Io ? error.os_code() : 0;
    PyObject* type = os_code != 0 ? os_error_class(os_code)
                                  : (error.kind() == ErrorKind::Io ? PyExc_OSError : PyExc_ValueError);
    if (type == nullptr) return;
    if (os_code == 0) Py_INCREF(type);
    // The text may hold U+0000 (a signature found in the file), so it is passed with its length. The exception
    // has the message as its one argument, so its text is the message; only `errno` is added, since OSError
    // shows "[Errno n] strerror" instead of its argument once `strerror` is set as well.
    PyObject* message = new_str(text);
    PyObject* exception = message != nullptr ? PyObject_CallFunctionObjArgs(type, message, nullptr) : nullptr;
    Py_XDECREF(message);
    Py_DECREF(type);
    if (exception == nullptr) return;
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
