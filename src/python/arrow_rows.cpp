// `tarnu.arrow(source, logs="auto", deleted=False, name=None, key="", batch_bytes=..., batch_rows=...)`: the rows of
// one hive as Arrow record batches, through the Arrow PyCapsule interface (`__arrow_c_stream__` and
// `__arrow_c_schema__`), so that pyarrow, polars, pandas and DuckDB take them without a Python object per row.
//
// The batches are made by the core (rows/arrow_stream.h) one at a time, at each `get_next` of the stream: a caller
// holding the interpreter lock lets go of it while the batch is made, and any other thread makes it as it is,
// without touching the interpreter. Each stream starts from the first row; the hive is opened once, by the first
// stream that reads a batch, and shared by every later one.
#include <mutex>

#include "python/binding.h"
#include "rows/arrow_stream.h"

namespace tarnu::py {
namespace {

PyTypeObject* arrow_rows_type = nullptr;

// The most bytes a batch may be given: far below what the 32-bit offsets of its text columns reach.
constexpr long long kMostBatchBytes = 1LL << 30;
constexpr long long kMostBatchRows = 1LL << 30;

// The hive of every stream of one object, opened at the first batch.
class HiveOnce {
public:
    explicit HiveOnce(ExportSource source) : source_(std::move(source)) {}
    Result<SharedHive> open() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!opened_) opened_.emplace(open_export_source(source_));
        return *opened_;
    }

private:
    std::mutex mutex_;
    ExportSource source_;
    std::optional<Result<SharedHive>> opened_;
};

struct ArrowRowsFields {
    std::shared_ptr<HiveOnce> hive;
    ArrowRowsOptions options;
    std::shared_ptr<ArrowRowCounts> counts = std::make_shared<ArrowRowCounts>();  // of the latest stream
};

struct ArrowRowsObject {
    PyObject_HEAD
    ArrowRowsFields fields;
};

ArrowRowsFields& fields_of(PyObject* self) { return reinterpret_cast<ArrowRowsObject*>(self)->fields; }

// Cleared once the interpreter has ended: a stream read after that never calls into it.
std::atomic<bool> interpreter_running{false};
void interpreter_ended() { interpreter_running = false; }

// Makes a batch without the interpreter lock: a thread that holds it lets go of it meanwhile. A thread the
// interpreter has never known holds no lock and touches nothing of the interpreter's.
void without_interpreter_lock(void (*work)(void*), void* context) {
    if (!interpreter_running || PyGILState_GetThisThreadState() == nullptr) {
        work(context);
        return;
    }
    const PyGILState_STATE state = PyGILState_Ensure();
    PyThreadState* saved = PyEval_SaveThread();
    work(context);
    PyEval_RestoreThread(saved);
    PyGILState_Release(state);
}

constexpr char kStreamCapsule[] = "arrow_array_stream";
constexpr char kSchemaCapsule[] = "arrow_schema";

// A capsule's struct is released unless its consumer has taken it (and cleared its release callback).
template <typename T, const char* Name>
void release_capsule(PyObject* capsule) {
    auto* item = static_cast<T*>(PyCapsule_GetPointer(capsule, Name));
    if (item == nullptr) return PyErr_Clear();
    if (item->release != nullptr) item->release(item);
    delete item;
}

// A capsule named `Name` holding `item`, or nullptr with the exception set and `item` released.
template <typename T, const char* Name>
PyObject* new_capsule(std::unique_ptr<T> item) {
    PyObject* capsule = PyCapsule_New(item.get(), Name, release_capsule<T, Name>);
    if (capsule == nullptr) {
        item->release(item.get());
        return nullptr;
    }
    item.release();
    return capsule;
}

PyObject* arrow_c_stream(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[1];
        // A requested schema is allowed to go unheeded: the rows come in their own schema.
        if (!parse_arguments("__arrow_c_stream__", args, kwargs, {"requested_schema"}, 0, argv)) return nullptr;
        ArrowRowsFields& fields = fields_of(self);
        auto rows = std::make_unique<ArrowRows>([hive = fields.hive] { return hive->open(); }, fields.options);
        fields.counts = rows->counts();
        auto stream = std::make_unique<ArrowArrayStream>();
        export_arrow_stream(std::move(rows), without_interpreter_lock, *stream);
        return new_capsule<ArrowArrayStream, kStreamCapsule>(std::move(stream));
    });
}

PyObject* arrow_c_schema(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const ArrowRowsFields& fields = fields_of(self);
        const ArrowBatchWriter writer(arrow_columns(fields.options.sources).view(), fields.options.hive_name);
        auto schema = std::make_unique<ArrowSchema>();
        export_schema(writer.schema(), *schema);
        return new_capsule<ArrowSchema, kSchemaCapsule>(std::move(schema));
    });
}

PyObject* arrow_counts(PyObject* self, PyObject*) {
    const ArrowRowCounts& counts = *fields_of(self).counts;
    return Py_BuildValue("(nnn)", static_cast<Py_ssize_t>(counts.keys.load()),
                         static_cast<Py_ssize_t>(counts.values.load()), static_cast<Py_ssize_t>(counts.skipped.load()));
}

PyMethodDef arrow_rows_methods[] = {
    {"__arrow_c_stream__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(arrow_c_stream)),
     METH_VARARGS | METH_KEYWORDS,
     "__arrow_c_stream__($self, requested_schema=None)\n--\n\nA PyCapsule 'arrow_array_stream' of the rows from the "
     "first; the rows keep their own schema whatever is requested"},
    {"__arrow_c_schema__", arrow_c_schema, METH_NOARGS,
     "__arrow_c_schema__($self)\n--\n\nA PyCapsule 'arrow_schema' of the rows' schema"},
    {"counts", arrow_counts, METH_NOARGS,
     "counts($self)\n--\n\nGet (keys, values, error rows) that the latest stream has read so far; the keys and values "
     "are the live walk's"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot arrow_rows_slots[] = {
    {Py_tp_doc, const_cast<char*>("The rows of one hive as Arrow record batches, through the Arrow PyCapsule "
                                  "interface")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<ArrowRowsObject>)},
    {Py_tp_methods, arrow_rows_methods},
    {0, nullptr},
};

PyType_Spec arrow_rows_spec = {"builtins.ArrowRows", sizeof(ArrowRowsObject), 0, Py_TPFLAGS_DEFAULT,
                               arrow_rows_slots};

// A whole number from `low` to `high` for the argument `name` of arrow().
bool count_argument(const char* name, PyObject* value, long long low, long long high, size_t& out) {
    if (value == nullptr) return true;
    if (!PyLong_Check(value) || PyBool_Check(value)) {
        PyErr_Format(PyExc_TypeError, "arrow() argument '%s': expected an int", name);
        return false;
    }
    const long long number = PyLong_AsLongLong(value);
    if (number == -1 && PyErr_Occurred() != nullptr) PyErr_Clear();
    if (number < low || number > high) {
        PyErr_Format(PyExc_ValueError, "argument '%s': expected %lld to %lld", name, low, high);
        return false;
    }
    out = static_cast<size_t>(number);
    return true;
}

PyObject* arrow_function(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[7];
        if (!parse_arguments("arrow", args, kwargs,
                             {"source", "logs", "deleted", "name", "key", "batch_bytes", "batch_rows"}, 1, argv)) {
            return nullptr;
        }
        ExportSource source;
        ArrowRowsOptions options;
        if (!export_source_argument("arrow", argv[0], argv[1], argv[3], source) ||
            (argv[4] != nullptr && !text_argument("key", argv[4], options.key)) ||
            !count_argument("batch_bytes", argv[5], 1, kMostBatchBytes, options.batch_bytes) ||
            !count_argument("batch_rows", argv[6], 1, kMostBatchRows, options.batch_rows)) {
            return nullptr;
        }
        const int deleted = argv[2] != nullptr ? PyObject_IsTrue(argv[2]) : 0;
        if (deleted < 0) return nullptr;
        options.sources = deleted != 0 ? RowSources::LiveThenRecovered : RowSources::Live;
        options.hive_name = source.name;
        auto* self = alloc_object<ArrowRowsObject>(arrow_rows_type);
        if (self == nullptr) return nullptr;
        self->fields.hive = std::make_shared<HiveOnce>(std::move(source));
        self->fields.options = std::move(options);
        return reinterpret_cast<PyObject*>(self);
    });
}

PyMethodDef arrow_definition = {
    "arrow", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(arrow_function)), METH_VARARGS | METH_KEYWORDS,
    "arrow(source, logs='auto', deleted=False, name=None, key='', batch_bytes=8388608, batch_rows=65536)\n--\n\n"
    "The rows of one hive as Arrow record batches, for pyarrow, polars, pandas or DuckDB through the Arrow PyCapsule "
    "interface (__arrow_c_stream__): the rows of records() with the data in columns by its shape (data_text, "
    "data_list, data_number) and the type by name, and with deleted=True the rows of what recovery finds after the "
    "live ones, with the columns deleted, path_complete, offset and source. key starts the walk at that key. The "
    "source and logs are taken as records() takes them. Each batch is made by the core without the interpreter lock "
    "and holds at most batch_rows rows and batch_bytes bytes of buffers (a larger row makes a batch of its own)."};

}  // namespace

bool add_arrow(PyObject* module) {
    if (arrow_rows_type == nullptr) {
        arrow_rows_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&arrow_rows_spec));
        if (arrow_rows_type == nullptr) return false;
        interpreter_running = true;
        if (Py_AtExit(interpreter_ended) != 0) interpreter_running = false;
    }
    return add_module_function(module, &arrow_definition);
}

}  // namespace tarnu::py
