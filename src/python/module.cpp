// The module: its one entry point, the class registry and the exported names.
#include "python/binding.h"

namespace tarnu::py {

Types types{};

bool add_module_function(PyObject* module, PyMethodDef* definition) {
    PyObject* module_name = PyModule_GetNameObject(module);
    PyObject* function = module_name != nullptr ? PyCFunction_NewEx(definition, nullptr, module_name) : nullptr;
    Py_XDECREF(module_name);
    const bool ok = function != nullptr && PyObject_SetAttrString(module, definition->ml_name, function) == 0;
    Py_XDECREF(function);
    return ok;
}

PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "No constructor defined");
    return nullptr;
}

namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "tarnu",
    "Python module definition",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The module is created once per process; a second initialisation in the same interpreter hands it out again.
PyObject* cached_module = nullptr;
// The module table of the interpreter that created it, to recognise a second interpreter.
PyObject* owning_modules = nullptr;

bool create_types() {
    struct Entry {
        PyTypeObject** slot;
        PyType_Spec* type_spec;
    };
    const Entry entries[] = {
        {&types.hive, &hive_spec},
        {&types.replay_report, &replay_report_spec},
        {&types.log_report, &log_report_spec},
        {&types.registry_key, &registry_key_spec},
        {&types.registry_value, &registry_value_spec},
        {&types.value_data, &value_data_spec},
        {&types.value_type, &value_type_spec},
        {&types.base_block, &base_block_spec},
        {&types.hbin_header, &hbin_header_spec},
        {&types.key_walk, &key_walk_spec},
        {&types.cell, &cell_spec},
        {&types.cell_walk, &cell_walk_spec},
        {&types.deleted_key, &deleted_key_spec},
        {&types.deleted_value, &deleted_value_spec},
    };
    for (const Entry& entry : entries) {
        if (*entry.slot != nullptr) continue;
        *entry.slot = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(entry.type_spec));
        if (*entry.slot == nullptr) return false;
    }
    return create_error_types();
}

// Sets `name` on the module and appends it to `__all__`. Steals nothing: `value` is borrowed.
bool export_name(PyObject* module, const char* name, PyObject* value) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all == nullptr) {
        PyErr_Clear();
        all = PyList_New(0);
        if (all == nullptr || PyObject_SetAttrString(module, "__all__", all) != 0) {
            Py_XDECREF(all);
            return false;
        }
    }
    PyObject* text = PyUnicode_FromString(name);
    bool ok = text != nullptr && PyList_Append(all, text) == 0 && PyObject_SetAttrString(module, name, value) == 0;
    Py_XDECREF(text);
    Py_DECREF(all);
    return ok;
}

PyObject* initialise() {
    PyObject* modules = PyImport_GetModuleDict();
    if (cached_module != nullptr) {
        if (modules != owning_modules) {
            PyErr_SetString(PyExc_ImportError, "tarnu cannot be loaded in more than one interpreter per process");
            return nullptr;
        }
        Py_INCREF(cached_module);
        return cached_module;
    }
    if (!create_types()) return nullptr;
    PyObject* module = PyModule_Create(&module_definition);
    if (module == nullptr) return nullptr;
    const std::pair<const char*, PyObject*> exported[] = {
        {"Hive", reinterpret_cast<PyObject*>(types.hive)},
        {"RegistryKey", reinterpret_cast<PyObject*>(types.registry_key)},
        {"RegistryValue", reinterpret_cast<PyObject*>(types.registry_value)},
        {"ValueData", reinterpret_cast<PyObject*>(types.value_data)},
        {"ValueType", reinterpret_cast<PyObject*>(types.value_type)},
        {"BaseBlock", reinterpret_cast<PyObject*>(types.base_block)},
        {"HbinHeader", reinterpret_cast<PyObject*>(types.hbin_header)},
    };
    for (const auto& [name, value] : exported) {
        if (!export_name(module, name, value)) {
            Py_DECREF(module);
            return nullptr;
        }
    }
    // Classes a caller may test results against, kept out of __all__.
    const std::pair<const char*, PyTypeObject*> attributes[] = {
        {"Cell", types.cell},
        {"DeletedKey", types.deleted_key},
        {"DeletedValue", types.deleted_value},
    };
    for (const auto& [name, type] : attributes) {
        if (PyObject_SetAttrString(module, name, reinterpret_cast<PyObject*>(type)) != 0) {
            Py_DECREF(module);
            return nullptr;
        }
    }
    PyObject* version = PyUnicode_FromString("0.1.0");
    bool ok = version != nullptr && export_name(module, "__version__", version) && add_records(module) &&
              add_export_stream(module) && add_arrow(module) && add_log_description(module) && add_decoders(module) &&
              add_carve(module) && add_error_types(module) && add_value_types(module);
    Py_XDECREF(version);
    if (!ok) {
        Py_DECREF(module);
        return nullptr;
    }
    Py_INCREF(module);
    cached_module = module;
    owning_modules = modules;
    return module;
}

}  // namespace
}  // namespace tarnu::py

// The entry point, exported by name. PyMODINIT_FUNC cannot be used: Python 3.8's headers leave the symbol's
// visibility to the build, which hides every symbol it does not mark, so a module built against them would
// have no entry point.
#if defined(_WIN32)
#define TARNU_EXPORT __declspec(dllexport)
#else
#define TARNU_EXPORT __attribute__((visibility("default")))
#endif
extern "C" TARNU_EXPORT PyObject* PyInit_tarnu(void) {
    return tarnu::py::guarded([] { return tarnu::py::initialise(); });
}
