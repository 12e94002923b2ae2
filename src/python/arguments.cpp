// Argument taking for methods with arguments, with the interpreter's own wording for every mistake.
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
                     size_t required, PyObject** out) {
    const std::vector<const char*> params(names);
    const std::string fn = std::string(function) + "()";
    const size_t given = args != nullptr ? static_cast<size_t>(PyTuple_Size(args)) : 0;
    for (size_t i = 0; i < params.size(); ++i) out[i] = nullptr;

    if (given > params.size()) {
        std::string takes = required == params.size()
                                ? std::to_string(params.size())
                                : "from " + std::to_string(required) + " to " + std::to_string(params.size());
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

}  // namespace tarnu::py
