// RegistryValue, ValueType and ValueData: snapshots of one value, its type and its decoded data. They own copies
// of everything they show and hold no reference to the hive.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "python/binding.h"

namespace tarnu::py {
namespace {

// ---- RegistryValue -------------------------------------------------------------------------------------------

// A value's type with its data and name, stored in one allocation with the object: the fixed fields, then the data
// bytes, then the name's UTF-8 bytes. Large data is kept in a bytes object instead, made once with the interpreter
// lock released, and `raw_data()` hands out that object itself: bytes cannot change, so a second copy of megabytes
// would buy nothing.
struct RegistryValueObject {
    PyObject_VAR_HEAD
    struct {
        ValueType type;
        uint32_t name_size : 31;
        uint32_t unnamed : 1;  // the value is the key's unnamed (default) one, whose name() is "(default)"
        size_t data_size;  // of the bytes stored with the object; 0 when `large` holds the data
        PyObject* large;   // a bytes object with large data, or null
    } fields;

    uint8_t* bytes() { return reinterpret_cast<uint8_t*>(this + 1); }
};

struct StoredValue {
    ValueType type;
    std::string_view name;
    Bytes data;
};

StoredValue value_of(PyObject* self) {
    auto* object = reinterpret_cast<RegistryValueObject*>(self);
    const uint8_t* bytes = object->bytes();
    const size_t data_size = object->fields.data_size;
    PyObject* large = object->fields.large;
    const Bytes data = large == nullptr ? Bytes(bytes, data_size) : bytes_of(large);
    return StoredValue{object->fields.type,
                       std::string_view(reinterpret_cast<const char*>(bytes + data_size), object->fields.name_size),
                       data};
}

void value_dealloc(PyObject* self) {
    Py_XDECREF(reinterpret_cast<RegistryValueObject*>(self)->fields.large);
    dealloc_object<RegistryValueObject>(self);
}

PyObject* value_name(PyObject* self, PyObject*) {
    const std::string_view name = value_of(self).name;
    return PyUnicode_DecodeUTF8(name.data(), static_cast<Py_ssize_t>(name.size()), "strict");
}
PyObject* value_value_type(PyObject* self, PyObject*) { return new_value_type(value_of(self).type); }

PyObject* value_data(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const StoredValue value = value_of(self);
        return new_value_data(value.type, value.data, self);
    });
}

PyObject* value_raw_data(PyObject* self, PyObject*) {
    PyObject* large = reinterpret_cast<RegistryValueObject*>(self)->fields.large;
    if (large == nullptr) return new_bytes(value_of(self).data);
    Py_INCREF(large);
    return large;
}

PyObject* value_data_size(PyObject* self, PyObject*) { return PyLong_FromSize_t(value_of(self).data.size()); }

PyObject* value_is_default(PyObject* self, PyObject*) {
    return PyBool_FromLong(reinterpret_cast<RegistryValueObject*>(self)->fields.unnamed);
}

PyObject* value_repr(PyObject* self) {
    return guarded([&] { return new_str("RegistryValue(name='" + std::string(value_of(self).name) + "')"); });
}

PyMethodDef value_methods[] = {
    {"name", value_name, METH_NOARGS, "name($self)\n--\n\nGet the value name"},
    {"value_type", value_value_type, METH_NOARGS, "value_type($self)\n--\n\nGet the value type"},
    {"data", value_data, METH_NOARGS, "data($self)\n--\n\nGet the parsed value data"},
    {"raw_data", value_raw_data, METH_NOARGS, "raw_data($self)\n--\n\nGet the raw value data as bytes"},
    {"data_size", value_data_size, METH_NOARGS, "data_size($self)\n--\n\nGet the data size in bytes"},
    {"is_default", value_is_default, METH_NOARGS,
     "is_default($self)\n--\n\nWhether this is the key's unnamed (default) value, not one stored under the name "
     "\"(default)\""},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot value_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for RegistryValue\n\n"
                                  "It stores owned copies of the value's name, type and data, so it does not "
                                  "depend on the lifetime of the hive.")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(value_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(value_repr)},
    {Py_tp_methods, value_methods},
    {0, nullptr},
};

// ---- ValueType -----------------------------------------------------------------------------------------------

struct ValueTypeObject {
    PyObject_HEAD
    struct {
        ValueType type;
    } fields;
};

ValueType type_of(PyObject* self) { return reinterpret_cast<ValueTypeObject*>(self)->fields.type; }

PyObject* type_type_name(PyObject* self, PyObject*) {
    return guarded([&] { return new_str(type_of(self).name()); });
}
PyObject* type_type_id(PyObject* self, PyObject*) { return PyLong_FromUnsignedLong(type_of(self).id); }
PyObject* type_str(PyObject* self) { return type_type_name(self, nullptr); }
PyObject* type_repr(PyObject* self) {
    return guarded([&] { return new_str("ValueType(" + type_of(self).name() + ")"); });
}

// A type equals its id (any int, the members of tarnu.RegType among them), its name and another ValueType of the
// same id; it hashes as its id does, so that it finds and is found by the id in sets and dicts.
PyObject* type_richcompare(PyObject* self, PyObject* other, int op) {
    return guarded([&]() -> PyObject* {
        if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
        const ValueType type = type_of(self);
        bool equal = false;
        if (Py_TYPE(other) == types.value_type) {
            equal = type_of(other).id == type.id;
        } else if (PyLong_Check(other)) {
            int overflow = 0;
            const long long id = PyLong_AsLongLongAndOverflow(other, &overflow);
            if (id == -1 && PyErr_Occurred()) return nullptr;
            equal = overflow == 0 && id == static_cast<long long>(type.id);
        } else if (PyUnicode_Check(other)) {
            equal = PyUnicode_CompareWithASCIIString(other, type.name().c_str()) == 0;  // type names are ASCII
        } else {
            Py_RETURN_NOTIMPLEMENTED;
        }
        return PyBool_FromLong((op == Py_EQ) == equal);
    });
}

Py_hash_t type_hash(PyObject* self) {
    // A non-negative int hashes as itself below the interpreter's hash modulus, which every 32-bit id is.
    return static_cast<Py_hash_t>(type_of(self).id);
}

PyObject* type_int(PyObject* self) { return type_type_id(self, nullptr); }

PyMethodDef type_methods[] = {
    {"type_name", type_type_name, METH_NOARGS,
     "type_name($self)\n--\n\nGet the type name as string (e.g., \"REG_SZ\", \"REG_DWORD\")"},
    {"type_id", type_type_id, METH_NOARGS, "type_id($self)\n--\n\nGet the numeric type ID"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot type_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for ValueType")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<ValueTypeObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(type_repr)},
    {Py_tp_str, reinterpret_cast<void*>(type_str)},
    {Py_tp_richcompare, reinterpret_cast<void*>(type_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(type_hash)},
    {Py_nb_int, reinterpret_cast<void*>(type_int)},
    {Py_nb_index, reinterpret_cast<void*>(type_int)},
    {Py_tp_methods, type_methods},
    {0, nullptr},
};

// ---- ValueData -----------------------------------------------------------------------------------------------

// The decoded data views the bytes of `owner` (the RegistryValue, or a bytes object), which it keeps alive.
struct ValueDataFields {
    PyObject* owner = nullptr;
    DecodedValue data;

    ~ValueDataFields() { Py_XDECREF(owner); }
};

struct ValueDataObject {
    PyObject_HEAD
    ValueDataFields fields;
};

const DecodedValue& data_of(PyObject* self) { return reinterpret_cast<ValueDataObject*>(self)->fields.data; }
ValueDataKind kind_of(PyObject* self) { return data_of(self).kind; }

PyObject* boolean(bool value) { return PyBool_FromLong(value ? 1 : 0); }

bool is_string(ValueDataKind kind) { return kind == ValueDataKind::String || kind == ValueDataKind::ExpandString; }
bool is_dword(ValueDataKind kind) { return kind == ValueDataKind::Dword || kind == ValueDataKind::DwordBigEndian; }

PyObject* data_is_none(PyObject* self, PyObject*) { return boolean(kind_of(self) == ValueDataKind::None); }
PyObject* data_is_string(PyObject* self, PyObject*) { return boolean(is_string(kind_of(self))); }
PyObject* data_is_binary(PyObject* self, PyObject*) { return boolean(kind_of(self) == ValueDataKind::Binary); }
PyObject* data_is_dword(PyObject* self, PyObject*) { return boolean(is_dword(kind_of(self))); }
PyObject* data_is_qword(PyObject* self, PyObject*) { return boolean(kind_of(self) == ValueDataKind::Qword); }
PyObject* data_is_multi_string(PyObject* self, PyObject*) {
    return boolean(kind_of(self) == ValueDataKind::MultiString);
}

// The data as its accessor gives it when `fits`, else ValueError `text`.
PyObject* data_as(PyObject* self, bool fits, const char* text) {
    if (fits) return new_value_object(data_of(self));
    PyErr_SetString(PyExc_ValueError, text);
    return nullptr;
}

PyObject* data_as_string(PyObject* self, PyObject*) {
    return data_as(self, is_string(kind_of(self)), "Not a string value");
}
PyObject* data_as_binary(PyObject* self, PyObject*) {
    return data_as(self, kind_of(self) == ValueDataKind::Binary, "Not a binary value");
}
PyObject* data_as_dword(PyObject* self, PyObject*) { return data_as(self, is_dword(kind_of(self)), "Not a DWORD value"); }
PyObject* data_as_qword(PyObject* self, PyObject*) {
    return data_as(self, kind_of(self) == ValueDataKind::Qword, "Not a QWORD value");
}
PyObject* data_as_multi_string(PyObject* self, PyObject*) {
    return data_as(self, kind_of(self) == ValueDataKind::MultiString, "Not a multi-string value");
}
PyObject* data_value(PyObject* self, PyObject*) { return new_value_object(data_of(self)); }

std::string hex_bytes(Bytes bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out = "[";
    out.reserve(bytes.size() * 4 + 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) out += ", ";
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xF];
    }
    out += "]";
    return out;
}

std::string number_text(uint64_t number, int digits) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%" PRIu64 " (0x%0*" PRIX64 ")", number, digits, number);
    return buffer;
}

std::string data_text(const DecodedValue& data) {
    std::string out;
    switch (data.kind) {
        case ValueDataKind::None:
            return "(none)";
        case ValueDataKind::String:
        case ValueDataKind::ExpandString:
            append_utf8(data.text, out);
            return out;
        case ValueDataKind::Binary:
        case ValueDataKind::Other:
            return hex_bytes(data.bytes);
        case ValueDataKind::Dword:
        case ValueDataKind::DwordBigEndian:
            return number_text(data.number, 8);
        case ValueDataKind::Qword:
            return number_text(data.number, 16);
        case ValueDataKind::MultiString:
            for_each_piece(data.text, [&](const StoredText& piece) {
                if (!out.empty()) out += ", ";
                append_utf8(piece, out);
                return true;
            });
            return out;
    }
    return out;
}

PyObject* data_str(PyObject* self) {
    return guarded([&] { return new_str(data_text(data_of(self))); });
}

PyMethodDef data_methods[] = {
    {"is_none", data_is_none, METH_NOARGS, "is_none($self)\n--\n\nCheck if this is a None value"},
    {"is_string", data_is_string, METH_NOARGS, "is_string($self)\n--\n\nCheck if this is a String value"},
    {"is_binary", data_is_binary, METH_NOARGS, "is_binary($self)\n--\n\nCheck if this is a Binary value"},
    {"is_dword", data_is_dword, METH_NOARGS, "is_dword($self)\n--\n\nCheck if this is a DWORD value"},
    {"is_qword", data_is_qword, METH_NOARGS, "is_qword($self)\n--\n\nCheck if this is a QWORD value"},
    {"is_multi_string", data_is_multi_string, METH_NOARGS,
     "is_multi_string($self)\n--\n\nCheck if this is a MultiString value"},
    {"as_string", data_as_string, METH_NOARGS, "as_string($self)\n--\n\nGet as string (if applicable)"},
    {"as_binary", data_as_binary, METH_NOARGS, "as_binary($self)\n--\n\nGet as binary data (if applicable)"},
    {"as_dword", data_as_dword, METH_NOARGS, "as_dword($self)\n--\n\nGet as DWORD (if applicable)"},
    {"as_qword", data_as_qword, METH_NOARGS, "as_qword($self)\n--\n\nGet as QWORD (if applicable)"},
    {"as_multi_string", data_as_multi_string, METH_NOARGS,
     "as_multi_string($self)\n--\n\nGet as multi-string (if applicable)"},
    {"value", data_value, METH_NOARGS,
     "value($self)\n--\n\nGet the data as the Python object it stands for: str (REG_SZ, REG_EXPAND_SZ), list of str "
     "(REG_MULTI_SZ), int (the DWORD and QWORD types), bytes (REG_BINARY and every other type), None (REG_NONE, "
     "empty data)"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot data_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for ValueData")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<ValueDataObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(data_str)},
    {Py_tp_str, reinterpret_cast<void*>(data_str)},
    {Py_tp_methods, data_methods},
    {0, nullptr},
};

}  // namespace

PyType_Spec registry_value_spec = {"builtins.RegistryValue", sizeof(RegistryValueObject), 1, Py_TPFLAGS_DEFAULT,
                                   value_slots};
PyType_Spec value_type_spec = {"builtins.ValueType", sizeof(ValueTypeObject), 0, Py_TPFLAGS_DEFAULT, type_slots};
PyType_Spec value_data_spec = {"builtins.ValueData", sizeof(ValueDataObject), 0, Py_TPFLAGS_DEFAULT, data_slots};

PyObject* new_registry_value_unwritten(const ValueKey& value, size_t size, uint8_t*& into) {
    // Large data goes into its own bytes object; the rest is stored with the object.
    PyObject* large = nullptr;
    if (is_large(size)) {
        large = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
        if (large == nullptr) return nullptr;
    }
    const size_t stored = large == nullptr ? size : 0;
    const size_t items = stored + value.name.size();
    // Allocated without being zero-filled (unlike PyType_GenericAlloc): the caller writes every data byte.
    auto* object = static_cast<RegistryValueObject*>(PyObject_Malloc(sizeof(RegistryValueObject) + items));
    if (object == nullptr) {
        Py_XDECREF(large);
        return PyErr_NoMemory();
    }
    PyObject_InitVar(reinterpret_cast<PyVarObject*>(object), types.registry_value, static_cast<Py_ssize_t>(items));
    object->fields.type = value.value_type;
    object->fields.name_size = static_cast<uint32_t>(value.name.size()) & 0x7FFFFFFF;
    object->fields.unnamed = value.name_length == 0 ? 1 : 0;
    object->fields.data_size = stored;
    object->fields.large = large;
    uint8_t* bytes = object->bytes();
    if (!value.name.empty()) std::memcpy(bytes + stored, value.name.data(), value.name.size());
    into = large == nullptr ? bytes : reinterpret_cast<uint8_t*>(PyBytes_AsString(large));
    return reinterpret_cast<PyObject*>(object);
}

PyObject* new_registry_value(const ValueKey& value, Bytes data) {
    uint8_t* into = nullptr;
    PyObject* object = new_registry_value_unwritten(value, data.size(), into);
    if (object != nullptr && !data.empty()) {
        auto copy = [&] { std::memcpy(into, data.data(), data.size()); };
        is_large(data.size()) ? without_gil(copy) : copy();
    }
    return object;
}

PyObject* new_value_type(ValueType type) {
    return guarded([&] { return reinterpret_cast<PyObject*>(alloc_object<ValueTypeObject>(types.value_type, type)); });
}

PyObject* new_value_data(ValueType type, Bytes data, PyObject* owner) {
    // Decoded straight into the new object (large data with the lock released: nobody else sees the object yet); a
    // failure drops the object and raises the decoding's error.
    auto* object = alloc_object<ValueDataObject>(types.value_data);
    if (object == nullptr) return nullptr;
    Py_INCREF(owner);
    object->fields.owner = owner;
    auto decode = [&] { return decode_value_data(type, data); };
    auto decoded = is_large(data.size()) ? without_gil(decode) : decode();
    if (!decoded.ok()) {
        Py_DECREF(object);
        raise_error(decoded.error());
        return nullptr;
    }
    object->fields.data = decoded.value();
    return reinterpret_cast<PyObject*>(object);
}

namespace {

// tarnu.RegType and the REG_* constants are made at their first use, through the module's __getattr__ (and listed by
// its __dir__ before then): making an IntEnum costs more than all the rest of the module's import.
bool is_value_type_name(PyObject* name) {
    if (PyUnicode_CompareWithASCIIString(name, "RegType") == 0) return true;
    for (uint32_t id = kRegNone; id <= kRegQword; ++id) {
        if (PyUnicode_CompareWithASCIIString(name, ValueType{id}.name().c_str()) == 0) return true;
    }
    return false;
}

// Sets RegType and its members on the module, unless another thread did so meanwhile.
bool make_value_types(PyObject* module) {
    // enum.IntEnum("RegType", [("REG_NONE", 0), ...], module="tarnu").
    PyObject* members = PyList_New(0);
    bool ok = members != nullptr;
    for (uint32_t id = kRegNone; ok && id <= kRegQword; ++id) {
        PyObject* member = Py_BuildValue("(sI)", ValueType{id}.name().c_str(), id);
        ok = member != nullptr && PyList_Append(members, member) == 0;
        Py_XDECREF(member);
    }
    PyObject* enum_module = ok ? PyImport_ImportModule("enum") : nullptr;
    PyObject* int_enum = enum_module != nullptr ? PyObject_GetAttrString(enum_module, "IntEnum") : nullptr;
    PyObject* args = int_enum != nullptr ? Py_BuildValue("(sO)", "RegType", members) : nullptr;
    PyObject* kwargs = args != nullptr ? Py_BuildValue("{ss}", "module", "tarnu") : nullptr;
    PyObject* reg_type = kwargs != nullptr ? PyObject_Call(int_enum, args, kwargs) : nullptr;
    PyObject* names = PyModule_GetDict(module);  // borrowed
    ok = reg_type != nullptr && names != nullptr;
    if (ok && PyDict_GetItemString(names, "RegType") == nullptr) {
        for (uint32_t id = kRegNone; ok && id <= kRegQword; ++id) {
            const std::string name = ValueType{id}.name();
            PyObject* member = PyObject_GetAttrString(reg_type, name.c_str());
            ok = member != nullptr && PyDict_SetItemString(names, name.c_str(), member) == 0;
            Py_XDECREF(member);
        }
        // RegType last: its presence says that the members are there too.
        ok = ok && PyDict_SetItemString(names, "RegType", reg_type) == 0;
    }
    Py_XDECREF(reg_type);
    Py_XDECREF(kwargs);
    Py_XDECREF(args);
    Py_XDECREF(int_enum);
    Py_XDECREF(enum_module);
    Py_XDECREF(members);
    return ok;
}

PyObject* module_getattr(PyObject* module, PyObject* name) {
    if (is_value_type_name(name) && make_value_types(module)) {
        PyObject* found = PyDict_GetItem(PyModule_GetDict(module), name);  // borrowed
        if (found != nullptr) {
            Py_INCREF(found);
            return found;
        }
    }
    if (PyErr_Occurred() == nullptr) PyErr_Format(PyExc_AttributeError, "module 'tarnu' has no attribute '%U'", name);
    return nullptr;
}

// The names that dir() would list without these two functions, RegType and its members among them.
PyObject* module_dir(PyObject* module, PyObject*) {
    PyObject* names = PyDict_Keys(PyModule_GetDict(module));
    if (names == nullptr) return nullptr;
    for (const char* own : {"__getattr__", "__dir__"}) {
        PyObject* name = PyUnicode_FromString(own);
        const Py_ssize_t at = name != nullptr ? PySequence_Index(names, name) : -1;
        Py_XDECREF(name);
        if (at >= 0 && PySequence_DelItem(names, at) != 0) break;
        if (at < 0 && PyErr_ExceptionMatches(PyExc_ValueError)) PyErr_Clear();
    }
    bool ok = PyErr_Occurred() == nullptr;
    const bool made = PyDict_GetItemString(PyModule_GetDict(module), "RegType") != nullptr;
    for (uint32_t id = kRegNone; ok && !made && id <= kRegQword + 1; ++id) {
        PyObject* name = PyUnicode_FromString(id <= kRegQword ? ValueType{id}.name().c_str() : "RegType");
        ok = name != nullptr && PyList_Append(names, name) == 0;
        Py_XDECREF(name);
    }
    if (ok) return names;
    Py_DECREF(names);
    return nullptr;
}

PyMethodDef module_getattr_method = {"__getattr__", reinterpret_cast<PyCFunction>(module_getattr), METH_O, nullptr};
PyMethodDef module_dir_method = {"__dir__", reinterpret_cast<PyCFunction>(module_dir), METH_NOARGS, nullptr};

}  // namespace

bool add_value_types(PyObject* module) {
    for (PyMethodDef* method : {&module_getattr_method, &module_dir_method}) {
        PyObject* function = PyCFunction_NewEx(method, module, nullptr);
        const bool ok = function != nullptr && PyObject_SetAttrString(module, method->ml_name, function) == 0;
        Py_XDECREF(function);
        if (!ok) return false;
    }
    return true;
}

}  // namespace tarnu::py
