// Log files on their own: `tarnu.find_logs(path)`, the logs beside a hive as the command and
// `Hive.open_recovered` find them, and `tarnu._describe_log(path)`, a log file described without a primary, as a
// dict: what it is, whether it is usable and why not, and what its format reads in it (the command's `info` on a
// log file).
#include "hive/file_io.h"
#include "logs/log_format.h"
#include "logs/logs_beside.h"
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

PyObject* find_logs_function(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[1];
        std::string path;
        if (!parse_arguments("find_logs", args, kwargs, {"path"}, 1, argv)) return nullptr;
        if (!path_argument("path", argv[0], path)) return nullptr;
        const LogsBeside logs = without_gil([&] { return logs_beside(path); });
        std::vector<std::string> found;
        for (const std::optional<std::string>* log : {&logs.log1, &logs.log2}) {
            if (*log) found.push_back(**log);
        }
        return new_list(found, [](const std::string& log) { return new_str(log); });
    });
}

PyMethodDef find_logs_definition = {
    "find_logs", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(find_logs_function)),
    METH_VARARGS | METH_KEYWORDS,
    "find_logs(path)\n--\n\nGet the paths of the transaction logs beside a hive, as Hive.open_recovered and the "
    "tarnu command replay them: HIVE.LOG1 (or, without one, the HIVE.LOG of older Windows), then HIVE.LOG2, each a "
    "regular file whose name matches in any letter case"};

PyMethodDef describe_log_definition = {
    "_describe_log", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(describe_log_function)),
    METH_VARARGS | METH_KEYWORDS,
    "_describe_log(path)\n--\n\nDescribe a log file on its own, without a primary: a dict of its kind (a format's "
    "name, 'empty' or 'not a log'), whether it is usable and the reason if not, the sequence numbers of its header, "
    "the hive bins data size it states, the entries and pages it holds (None where its format has none or they "
    "cannot be read) and why their reading stopped. Used by the tarnu command."};

}  // namespace

bool add_log_description(PyObject* module) {
    return add_module_function(module, &describe_log_definition) && add_module_function(module, &find_logs_definition) &&
           add_survey(module);
}

}  // namespace tarnu::py
