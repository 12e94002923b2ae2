// tarnu._describe_log(path): a log file described on its own, without a primary, as a dict: what it is, whether
// it is usable and why not, and what its format reads in it. For the command's `info` on a log file.
#include "hive/file_io.h"
#include "logs/log_format.h"
#include "python/binding.h"

namespace tarnu::py {
namespace {

PyObject* none() { Py_RETURN_NONE; }

template <typename Number>
PyObject* optional_number(const std::optional<Number>& number) {
    return number ? PyLong_FromUnsignedLongLong(*number) : none();
}

PyObject* optional_text(const std::string& text) { return text.empty() ? none() : new_str(text); }

PyObject* number_tuple(const std::vector<uint32_t>& numbers) {
    PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(numbers.size()));
    for (size_t i = 0; tuple != nullptr && i < numbers.size(); ++i) {
        PyObject* number = PyLong_FromUnsignedLong(numbers[i]);
        if (number == nullptr) {
            Py_CLEAR(tuple);
            break;
        }
        PyTuple_SetItem(tuple, static_cast<Py_ssize_t>(i), number);
    }
    return tuple;
}

// Sets `key` of `dict` to `value`, a new reference that this releases; false with the exception set on failure.
bool set_item(PyObject* dict, const char* key, PyObject* value) {
    if (value == nullptr) return false;
    const bool ok = PyDict_SetItemString(dict, key, value) == 0;
    Py_DECREF(value);
    return ok;
}

PyObject* new_description(const DescribedLog& described) {
    const RecognisedFile& recognised = described.recognised;
    const LogDescription& description = described.description;
    PyObject* dict = PyDict_New();
    if (dict == nullptr) return nullptr;
    const bool usable = recognised.format != nullptr && recognised.reason.empty();
    const bool ok = set_item(dict, "kind", new_str(recognised.kind)) &&
                    set_item(dict, "usable", PyBool_FromLong(usable)) &&
                    set_item(dict, "reason", optional_text(recognised.reason)) &&
                    set_item(dict, "sequences", number_tuple(description.sequences)) &&
                    set_item(dict, "hive_bins_data_size", optional_number(description.hive_bins_data_size)) &&
                    set_item(dict, "entries", optional_number(description.entries)) &&
                    set_item(dict, "pages", optional_number(description.pages)) &&
                    set_item(dict, "stop", optional_text(description.stop));
    if (!ok) Py_CLEAR(dict);
    return dict;
}

PyObject* describe_log_function(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[1];
        std::string path;
        if (!parse_arguments("_describe_log", args, kwargs, {"path"}, 1, argv)) return nullptr;
        if (!path_argument("path", argv[0], path)) return nullptr;
        return respond(without_gil([&]() -> Result<DescribedLog> {
                           TARNU_TRY(ByteBuffer file, read_whole_file(path));
                           return describe_log(file);
                       }),
                       new_description);
    });
}

PyMethodDef describe_log_definition = {
    "_describe_log", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(describe_log_function)),
    METH_VARARGS | METH_KEYWORDS,
    "_describe_log(path)\n--\n\nDescribe a log file on its own, without a primary: a dict of its kind (a format's "
    "name, 'empty' or 'not a log'), whether it is usable and the reason if not, the sequence numbers of its header, "
    "the hive bins data size it states, the entries and pages it holds (None where its format has none or they "
    "cannot be read) and why their reading stopped. Used by the tarnu command."};

}  // namespace

bool add_log_description(PyObject* module) {
    PyObject* module_name = PyModule_GetNameObject(module);
    PyObject* function =
        module_name != nullptr ? PyCFunction_NewEx(&describe_log_definition, nullptr, module_name) : nullptr;
    Py_XDECREF(module_name);
    const bool ok = function != nullptr && PyObject_SetAttrString(module, "_describe_log", function) == 0;
    Py_XDECREF(function);
    return ok;
}

}  // namespace tarnu::py
