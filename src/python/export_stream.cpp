// `tarnu._export(...)`, the exporter behind the command's dump, deleted, timeline and export-reg: an iterator of bytes
// chunks of one format, made by the core with the interpreter lock released; `tarnu._export_header(...)`, the header
// that several hives' exports share; and `tarnu._logs_beside(path)`.
#include "logs/logs_beside.h"
#include "python/binding.h"
#include "rows/exporter.h"
#include "rows/row_writer.h"
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
        std::vector<RecordProblem> problems = stream_of(self).exporter->take_problems();
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
    const Exporter& exporter = *stream_of(self).exporter;
    return Py_BuildValue("(nnn)", static_cast<Py_ssize_t>(exporter.keys()), static_cast<Py_ssize_t>(exporter.values()),
                         static_cast<Py_ssize_t>(exporter.skipped()));
}

PyObject* stream_recovered_counts(PyObject* self, PyObject*) {
    const Exporter& exporter = *stream_of(self).exporter;
    return Py_BuildValue("(nn)", static_cast<Py_ssize_t>(exporter.recovered_keys()),
                         static_cast<Py_ssize_t>(exporter.recovered_values()));
}

PyMethodDef stream_methods[] = {
    {"problems", stream_problems, METH_NOARGS,
     "problems($self)\n--\n\nGet the (key path, message) pairs of what could not be read since the last call"},
    {"counts", stream_counts, METH_NOARGS,
     "counts($self)\n--\n\nGet (keys, values, parts skipped) so far: the keys and values of the live walk, the "
     "parts skipped of every source"},
    {"recovered_counts", stream_recovered_counts, METH_NOARGS,
     "recovered_counts($self)\n--\n\nGet (keys, value rows) of what recovery found, written so far"},
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

// The options that _export and _export_header share: format, binary, sources (or deleted) and spreadsheet.
bool format_options(PyObject* format, PyObject* binary, PyObject* sources, PyObject* deleted, PyObject* spreadsheet,
                    ExportOptions& options) {
    size_t format_index = 0, binary_index = 0, sources_index = 0;
    if (!choice_argument("format", format, {"count", "jsonl", "csv", "bodyfile", "timeline-csv", "reg"},
                         format_index) ||
        !choice_argument("binary", binary, {"hex", "base64"}, binary_index) ||
        !choice_argument("sources", sources, {"live", "live+recovered", "recovered"}, sources_index)) {
        return false;
    }
    const int with_deleted = deleted != nullptr ? PyObject_IsTrue(deleted) : 0;
    const int for_spreadsheet = spreadsheet != nullptr ? PyObject_IsTrue(spreadsheet) : 0;
    if (with_deleted < 0 || for_spreadsheet < 0) return false;
    options.format = static_cast<ExportFormat>(format_index);
    options.binary = static_cast<BinaryText>(binary_index);
    options.sources = static_cast<RowSources>(sources_index);
    if (with_deleted != 0) {
        if (sources != nullptr && options.sources != RowSources::LiveThenRecovered) {
            PyErr_SetString(PyExc_ValueError, "deleted=True is sources='live+recovered'; give one of them");
            return false;
        }
        options.sources = RowSources::LiveThenRecovered;
    }
    options.spreadsheet = for_spreadsheet != 0;
    if (options.spreadsheet && options.format != ExportFormat::Csv && options.format != ExportFormat::TimelineCsv) {
        PyErr_SetString(PyExc_ValueError, "spreadsheet=True applies to the CSV formats only");
        return false;
    }
    return true;
}

PyObject* export_function(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[12];
        if (!parse_arguments("_export", args, kwargs,
                             {"source", "format", "logs", "name", "key", "binary", "prefix", "strict", "header",
                              "deleted", "sources", "spreadsheet"},
                             2, argv)) {
            return nullptr;
        }
        ExportSource source;
        ExportOptions options;
        std::string key, prefix;
        if (!export_source_argument("_export", argv[0], argv[2], argv[3], source) ||
            !format_options(argv[1], argv[5], argv[10], argv[9], argv[11], options) ||
            (argv[4] != nullptr && !text_argument("key", argv[4], key)) ||
            (argv[6] != nullptr && !text_argument("prefix", argv[6], prefix))) {
            return nullptr;
        }
        const int strict = argv[7] != nullptr ? PyObject_IsTrue(argv[7]) : 0;
        const int header = argv[8] != nullptr ? PyObject_IsTrue(argv[8]) : 1;
        if (strict < 0 || header < 0) return nullptr;
        options.hive_name = source.name;
        options.reg_prefix = std::move(prefix);
        options.stop_at_first_problem = strict != 0;
        options.header = header != 0;
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

PyObject* export_header_function(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[3];
        if (!parse_arguments("_export_header", args, kwargs, {"format", "sources", "spreadsheet"}, 1, argv)) {
            return nullptr;
        }
        ExportOptions options;
        if (!format_options(argv[0], nullptr, argv[1], nullptr, argv[2], options)) return nullptr;
        const std::string header = export_header(options);
        return PyBytes_FromStringAndSize(header.data(), static_cast<Py_ssize_t>(header.size()));
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
     "deleted=False, sources='live', spreadsheet=False)\n--\n\n"
     "Export rows as bytes chunks of one format: 'jsonl', 'csv', 'bodyfile', 'timeline-csv', 'reg' (UTF-16LE) or "
     "'count' (none). sources says which rows: 'live' (the key at path key and every key below it), "
     "'recovered' (what Hive.deleted() finds, in its order) or 'live+recovered' (the one after the other; "
     "deleted=True says the same); with recovered rows, JSON Lines and CSV rows have the columns deleted, "
     "path_complete and offset too. The source and logs are taken as records() takes them; a hive that cannot be "
     "opened or a key that is not there raises. With strict=True the export ends before the key where something "
     "could not be read; problems() says what. header=False leaves out the header line of a CSV format; "
     "spreadsheet=True writes a CSV format for spreadsheet programs. Used by the tarnu command."},
    {"_export_header", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(export_header_function)),
     METH_VARARGS | METH_KEYWORDS,
     "_export_header(format, sources='live', spreadsheet=False)\n--\n\n"
     "Get the bytes that _export(..., header=True) writes first and header=False leaves out: the byte-order mark of "
     "a spreadsheet CSV and the header line of a CSV format; b'' for the other formats."},
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
