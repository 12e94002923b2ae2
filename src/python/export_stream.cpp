// `tarnu._export(...)`, the exporter behind the command's dump, timeline and export-reg: an iterator of bytes
// chunks of one format, made by the core with the interpreter lock released, and `tarnu._logs_beside(path)`.
#include "logs/logs_beside.h"
#include "python/binding.h"
#include "rows/exporter.h"
#include "tree/key_path.h"
#include "tree/lookup.h"

namespace tarnu::py {
namespace {

PyTypeObject* stream_type = nullptr;

// Bytes of output per chunk: large enough that handing a chunk to Python costs little per byte.
constexpr size_t kChunkTarget = 256 * 1024;

struct StreamFields {
    SharedHive hive;
    std::unique_ptr<Exporter> exporter;
    bool more = true;
    std::atomic<bool> busy{false};
};

struct StreamObject {
    PyObject_HEAD
    StreamFields fields;
};

StreamFields& stream_of(PyObject* self) { return reinterpret_cast<StreamObject*>(self)->fields; }

PyObject* stream_next(PyObject* self) {
    StreamFields& fields = stream_of(self);
    IteratorClaim claim(fields.busy, "export");
    if (!claim.claimed()) return nullptr;
    return guarded([&]() -> PyObject* {
        std::string chunk;
        while (chunk.empty() && fields.more) {
            fields.more = without_gil([&] { return fields.exporter->fill(chunk, kChunkTarget); });
        }
        if (chunk.empty()) return nullptr;
        return PyBytes_FromStringAndSize(chunk.data(), static_cast<Py_ssize_t>(chunk.size()));
    });
}

PyObject* stream_problems(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        std::vector<RecordProblem> problems = stream_of(self).exporter->records().take_problems();
        return new_list(problems, [](const RecordProblem& problem) -> PyObject* {
            PyObject* path = new_str(problem.path);
            PyObject* message = path != nullptr ? new_str(problem.message) : nullptr;
            PyObject* pair = message != nullptr ? PyTuple_Pack(2, path, message) : nullptr;
            Py_XDECREF(path);
            Py_XDECREF(message);
            return pair;
        });
    });
}

PyObject* stream_counts(PyObject* self, PyObject*) {
    const KeyRecords& records = stream_of(self).exporter->records();
    return Py_BuildValue("(nnn)", static_cast<Py_ssize_t>(records.keys()), static_cast<Py_ssize_t>(records.values()),
                         static_cast<Py_ssize_t>(records.skipped()));
}

PyMethodDef stream_methods[] = {
    {"problems", stream_problems, METH_NOARGS,
     "problems($self)\n--\n\nGet the (key path, message) pairs of what could not be read since the last call"},
    {"counts", stream_counts, METH_NOARGS, "counts($self)\n--\n\nGet (keys, values, parts skipped) so far"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot stream_slots[] = {
    {Py_tp_doc, const_cast<char*>("Iterator over the bytes chunks of one export")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<StreamObject>)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(stream_next)},
    {Py_tp_methods, stream_methods},
    {0, nullptr},
};

PyType_Spec stream_spec = {"builtins.ExportStream", sizeof(StreamObject), 0, Py_TPFLAGS_DEFAULT, stream_slots};

bool choice_argument(const char* name, PyObject* value, std::initializer_list<const char*> choices, size_t& out) {
    out = 0;
    if (value == nullptr) return true;
    std::string text;
    if (!text_argument(name, value, text)) return false;
    size_t index = 0;
    for (const char* choice : choices) {
        if (text == choice) {
            out = index;
            return true;
        }
        ++index;
    }
    PyErr_Format(PyExc_ValueError, "argument '%s': unknown choice '%s'", name, text.c_str());
    return false;
}

// The exporter over the key at `path` and every key below it.
Result<std::unique_ptr<Exporter>> start_export(const Hive& hive, const std::string& path, const ExportOptions& options) {
    TARNU_TRY(std::optional<KeyNode> start, find_key_from_root(hive, path));
    if (!start) return HiveError::key_not_found(path);
    TARNU_TRY(std::string start_path, key_path(hive, *start));
    return std::make_unique<Exporter>(hive, std::move(*start), std::move(start_path), options);
}

PyObject* export_function(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[10];
        if (!parse_arguments("_export", args, kwargs,
                             {"source", "format", "logs", "name", "key", "binary", "prefix", "strict", "header",
                              "deleted"},
                             2, argv)) {
            return nullptr;
        }
        ExportSource source;
        ExportOptions options;
        size_t format = 0, binary = 0;
        std::string key, prefix;
        if (!export_source_argument("_export", argv[0], argv[2], argv[3], source) ||
            !choice_argument("format", argv[1], {"count", "jsonl", "csv", "bodyfile", "timeline-csv", "reg"}, format) ||
            (argv[4] != nullptr && !text_argument("key", argv[4], key)) ||
            !choice_argument("binary", argv[5], {"hex", "base64"}, binary) ||
            (argv[6] != nullptr && !text_argument("prefix", argv[6], prefix))) {
            return nullptr;
        }
        const int strict = argv[7] != nullptr ? PyObject_IsTrue(argv[7]) : 0;
        const int header = argv[8] != nullptr ? PyObject_IsTrue(argv[8]) : 1;
        const int deleted = argv[9] != nullptr ? PyObject_IsTrue(argv[9]) : 0;
        if (strict < 0 || header < 0 || deleted < 0) return nullptr;
        options.format = static_cast<ExportFormat>(format);
        options.binary = static_cast<BinaryText>(binary);
        options.hive_name = source.name;
        options.reg_prefix = std::move(prefix);
        options.stop_at_first_problem = strict != 0;
        options.header = header != 0;
        options.deleted_columns = deleted != 0;
        auto* self = alloc_object<StreamObject>(stream_type);
        if (self == nullptr) return nullptr;
        StreamFields& fields = self->fields;
        auto started = without_gil([&]() -> Result<std::unique_ptr<Exporter>> {
            TARNU_TRY(fields.hive, open_export_source(source));
            return start_export(*fields.hive, key, options);
        });
        if (!started.ok()) {
            Py_DECREF(self);
            raise_error(started.error());
            return nullptr;
        }
        fields.exporter = std::move(started).value();
        return reinterpret_cast<PyObject*>(self);
    });
}

PyObject* logs_beside_function(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[1];
        std::string path;
        if (!parse_arguments("_logs_beside", args, kwargs, {"path"}, 1, argv)) return nullptr;
        if (!path_argument("path", argv[0], path)) return nullptr;
        const LogsBeside logs = without_gil([&] { return logs_beside(path); });
        PyObject* pair[2] = {};
        const std::optional<std::string>* found[2] = {&logs.log1, &logs.log2};
        for (int i = 0; i < 2; ++i) {
            pair[i] = *found[i] ? new_str(**found[i]) : (Py_INCREF(Py_None), Py_None);
            if (pair[i] == nullptr) {
                Py_XDECREF(pair[0]);
                return nullptr;
            }
        }
        PyObject* result = PyTuple_Pack(2, pair[0], pair[1]);
        Py_DECREF(pair[0]);
        Py_DECREF(pair[1]);
        return result;
    });
}

PyMethodDef functions[] = {
    {"_export", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(export_function)),
     METH_VARARGS | METH_KEYWORDS,
     "_export(source, format, logs='auto', name=None, key='', binary='hex', prefix='', strict=False, header=True, "
     "deleted=False)\n--\n\n"
     "Export the key at path key and every key below it as bytes chunks of one format: 'jsonl', 'csv', "
     "'bodyfile', 'timeline-csv', 'reg' (UTF-16LE) or 'count' (none). The source and logs are taken as "
     "records() takes them; a hive that cannot be opened or a key that is not there raises. With strict=True the "
     "export ends before the key where something could not be read; problems() says what. header=False leaves "
     "out the header line of a CSV format; deleted=True adds the columns deleted, path_complete and offset to "
     "JSON Lines and CSV rows. Used by the tarnu command."},
    {"_logs_beside", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(logs_beside_function)),
     METH_VARARGS | METH_KEYWORDS,
     "_logs_beside(path)\n--\n\nGet the paths of HIVE.LOG1 and HIVE.LOG2 beside a hive (names matched without "
     "regard to ASCII case), each None when there is none"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool add_export_stream(PyObject* module) {
    if (stream_type == nullptr) {
        stream_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&stream_spec));
        if (stream_type == nullptr) return false;
    }
    PyObject* module_name = PyModule_GetNameObject(module);
    if (module_name == nullptr) return false;
    bool ok = true;
    for (PyMethodDef* def = functions; ok && def->ml_name != nullptr; ++def) {
        PyObject* function = PyCFunction_NewEx(def, nullptr, module_name);
        ok = function != nullptr && PyObject_SetAttrString(module, def->ml_name, function) == 0;
        Py_XDECREF(function);
    }
    Py_DECREF(module_name);
    return ok;
}

}  // namespace tarnu::py
