// Argument taking for methods with arguments, with the interpreter's own wording for every mistake.
#include <algorithm>

#include "python/binding.h"

#include <vector>

namespace tarnu::py {
namespace {

std::string type_name(PyObject* object) {
    std::string name = "object";
    PyObject* text = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__");
    if (text != nullptr) {
        PyObject* bytes = PyUnicode_Check(text) ? PyUnicode_AsUTF8String(text) : nullptr;
        if (bytes != nullptr) {
            name = PyBytes_AsString(bytes);
            Py_DECREF(bytes);
        }
        Py_DECREF(text);
    }
    PyErr_Clear();
    return name;
}

PyObject* type_error(const std::string& text) {
    PyErr_SetString(PyExc_TypeError, text.c_str());
    return nullptr;
}

}  // namespace

bool parse_arguments(const char* function, PyObject* args, PyObject* kwargs, std::initializer_list<const char*> names,
                     size_t required, PyObject** out, size_t positional) {
    const std::vector<const char*> params(names);
    const std::string fn = std::string(function) + "()";
    const size_t given = args != nullptr ? static_cast<size_t>(PyTuple_Size(args)) : 0;
    for (size_t i = 0; i < params.size(); ++i) out[i] = nullptr;
    positional = std::min(positional, params.size());

    if (given > positional) {
        std::string takes = required == positional
                                ? std::to_string(positional)
                                : "from " + std::to_string(required) + " to " + std::to_string(positional);
        type_error(fn + " takes " + takes + " positional arguments but " + std::to_string(given) +
                   (given == 1 ? " was given" : " were given"));
        return false;
    }
    for (size_t i = 0; i < given; ++i) out[i] = PyTuple_GetItem(args, static_cast<Py_ssize_t>(i));

    if (kwargs != nullptr) {
        PyObject* key;
        PyObject* value;
        Py_ssize_t pos = 0;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            size_t index = params.size();
            for (size_t i = 0; i < params.size(); ++i) {
                if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, params[i]) == 0) {
                    index = i;
                    break;
                }
            }
            if (index == params.size()) {
                PyObject* repr = PyObject_Str(key);
                PyObject* bytes = repr != nullptr ? PyUnicode_AsUTF8String(repr) : nullptr;
                std::string name = bytes != nullptr ? PyBytes_AsString(bytes) : "?";
                Py_XDECREF(bytes);
                Py_XDECREF(repr);
                PyErr_Clear();
                type_error(fn + " got an unexpected keyword argument '" + name + "'");
                return false;
            }
            if (out[index] != nullptr) {
                type_error(fn + " got multiple values for argument '" + params[index] + "'");
                return false;
            }
            out[index] = value;
        }
    }

    std::vector<const char*> missing;
    for (size_t i = 0; i < required; ++i) {
        if (out[i] == nullptr) missing.push_back(params[i]);
    }
    if (!missing.empty()) {
        std::string list;
        for (size_t i = 0; i < missing.size(); ++i) {
            if (i > 0) list += (i + 1 == missing.size()) ? (missing.size() > 2 ? ", and " : " and ") : ", ";
            list += std::string("'") + missing[i] + "'";
        }
        type_error(fn + " missing " + std::to_string(missing.size()) + " required positional argument" +
                   (missing.size() == 1 ? "" : "s") + ": " + list);
        return false;
    }
    return true;
}

bool text_argument(const char* name, PyObject* value, std::string& out) {
    if (!PyUnicode_Check(value)) {
        type_error(std::string("argument '") + name + "': expected str, got " + type_name(value));
        return false;
    }
    // A str that cannot be encoded (a lone surrogate) raises the interpreter's own UnicodeEncodeError.
    PyObject* bytes = PyUnicode_AsUTF8String(value);
    if (bytes == nullptr) return false;
    char* data = nullptr;
    Py_ssize_t size = 0;
    PyBytes_AsStringAndSize(bytes, &data, &size);
    out.assign(data, static_cast<size_t>(size));
    Py_DECREF(bytes);
    return true;
}

bool path_argument(const char* name, PyObject* value, std::string& out) {
    // bytes stay refused, as they always were; an os.PathLike gives its path through __fspath__.
    if (PyUnicode_Check(value) || PyBytes_Check(value) || !PyObject_HasAttrString(value, "__fspath__")) {
        return text_argument(name, value, out);
    }
    PyObject* path = PyOS_FSPath(value);
    if (path == nullptr) return false;
    bool ok = false;
    if (PyUnicode_Check(path)) {
        ok = text_argument(name, path, out);
    } else {
        type_error(std::string("argument '") + name + "': expected str, got " + type_name(path) + " from " +
                   type_name(value));
    }
    Py_DECREF(path);
    return ok;
}

bool bytes_argument(const char* name, PyObject* value, ByteBuffer& out) {
    auto copy = [&](const char* data, Py_ssize_t size) {
        out.assign(reinterpret_cast<const uint8_t*>(data), reinterpret_cast<const uint8_t*>(data) + size);
    };
    if (PyBytes_Check(value)) {
        copy(PyBytes_AsString(value), PyBytes_Size(value));
        return true;
    }
    if (PyByteArray_Check(value)) {
        copy(PyByteArray_AsString(value), PyByteArray_Size(value));
        return true;
    }
    // The limited API of 3.8 has no buffer protocol: other bytes-like objects are copied through bytes(). A
    // memoryview is made first because it refuses what is not bytes-like, where bytes(5) would make five zeros.
    PyObject* view = PyMemoryView_FromObject(value);
    if (view == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
        PyErr_Clear();
        type_error(std::string("argument '") + name + "': expected a bytes-like object, got " + type_name(value));
        return false;
    }
    PyObject* bytes = PyObject_Bytes(view);
    Py_DECREF(view);
    if (bytes == nullptr) return false;
    copy(PyBytes_AsString(bytes), PyBytes_Size(bytes));
    Py_DECREF(bytes);
    return true;
}

bool flag_argument(PyObject* value, bool& out) {
    out = false;
    if (value == nullptr) return true;
    const int truth = PyObject_IsTrue(value);
    if (truth < 0) return false;
    out = truth != 0;
    return true;
}

bool offset_argument(const char* name, PyObject* value, uint32_t& out) {
    if (!PyLong_Check(value) || PyBool_Check(value)) {
        type_error(std::string("argument '") + name + "': expected int, got " + type_name(value));
        return false;
    }
    const unsigned long long number = PyLong_AsUnsignedLongLong(value);
    if (PyErr_Occurred() != nullptr || number > 0xFFFFFFFFull) {
        PyErr_Clear();
        PyObject* text = PyObject_Str(value);
        if (text == nullptr) return false;
        PyErr_Format(PyExc_ValueError, "argument '%s': expected an offset from 0 to 0xffffffff, got %U", name, text);
        Py_DECREF(text);
        return false;
    }
    out = static_cast<uint32_t>(number);
    return true;
}

bool walk_errors_argument(PyObject* value, WalkErrors& out) {
    out = WalkErrors::Raise;
    if (value == nullptr) return true;
    std::string text;
    if (!text_argument("errors", value, text)) return false;
    if (text == "raise" || text == "skip") {
        out = text == "raise" ? WalkErrors::Raise : WalkErrors::Skip;
        return true;
    }
    PyErr_SetString(PyExc_ValueError, ("argument 'errors': expected 'raise' or 'skip', got '" + text + "'").c_str());
    return false;
}

}  // namespace tarnu::py
