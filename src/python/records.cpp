// `tarnu.records(source, logs="auto", name=None)`: every key and value of a hive as flat `tarnu.Record` rows.
//
// The rows are made in batches: the core walk reads a batch of keys with their values, data and decoded data
// with the interpreter lock released, and the Python objects of the batch are made with it held. A hive that
// cannot be opened gives one error row; a part that cannot be read gives an error row where it was met, and the
// walk goes on.
#include <type_traits>
#include <variant>

#include "python/binding.h"
#include "rows/key_records.h"
#include "tree/lookup.h"
#include "tree/nodes.h"

namespace tarnu::py {
namespace {

PyTypeObject* record_type = nullptr;
PyTypeObject* records_type = nullptr;

// Rows of value keys per batch: enough to make the lock's release and the list's creation cheap per row.
constexpr size_t kRowsPerBatch = 2048;

enum RecordField : Py_ssize_t { kHive, kKey, kLastWritten, kValue, kType, kRaw, kData, kError, kFieldCount };

PyStructSequence_Field record_fields[] = {
    {"hive", "the hive's path as given (or the name passed), None for bytes without a name"},
    {"key", "the key's path from the root key (\"\" for the root), None when the hive could not be opened"},
    {"last_written", "the key's last-written time as a datetime in UTC, None for 0 or past the year 9999"},
    {"value", "the value's name (\"\" for the default value), None in the row of a key without values"},
    {"type", "the value's type number (1 for REG_SZ, ...), None without a value"},
    {"raw", "the value's data bytes, None without a value or when they could not be read"},
    {"data", "the decoded data: str, list of str (REG_MULTI_SZ), int (DWORD, QWORD) or bytes (other types); None "
             "for REG_NONE, without a value and when the data does not decode"},
    {"error", "what could not be read, in an error row (its other fields say where); None in every other row"},
    {nullptr, nullptr},
};

PyStructSequence_Desc record_desc = {
    "tarnu.Record",
    "One row of tarnu.records(): a value of a key, a key without values, or an error row.",
    record_fields,
    kFieldCount,
};

// A key of the batch with the decoded data of its values, or a problem met before it. The decoded data views the
// values' data, which stays where it is while the key moves: `key.values` keeps its storage.
struct BatchKey {
    KeyRecord key;
    std::vector<std::optional<DecodedValue>> decoded;
};
using BatchItem = std::variant<BatchKey, RecordProblem>;
// A batch that grows moves its items, so that the values' data, and the views of it, stay where they are.
static_assert(std::is_nothrow_move_constructible_v<BatchItem>);

struct RecordsFields {
    ExportSource source;
    SharedHive hive;
    std::unique_ptr<KeyRecords> walk;
    PyObject* hive_name = nullptr;  // shared by every row
    PyObject* batch = nullptr;      // a list of rows being handed out
    Py_ssize_t next = 0;
    bool opened = false;
    bool over = false;
    std::atomic<bool> busy{false};

    ~RecordsFields() {
        Py_XDECREF(hive_name);
        Py_XDECREF(batch);
    }
};

struct RecordsObject {
    PyObject_HEAD
    RecordsFields fields;
};

RecordsFields& records_of(PyObject* self) { return reinterpret_cast<RecordsObject*>(self)->fields; }

// Without the lock: opens the hive on the first call, then reads keys until the batch holds enough rows.
std::vector<BatchItem> read_batch(RecordsFields& fields) {
    std::vector<BatchItem> items;
    if (!fields.opened) {
        fields.opened = true;
        auto hive = open_export_source(fields.source);
        auto root = hive.ok() ? parse_key_node(*hive.value(), hive.value()->base_block.root_cell_offset)
                              : Result<KeyNode>(hive.error());
        if (!root.ok()) {
            fields.over = true;
            items.emplace_back(RecordProblem{std::string(), root.error().message()});
            return items;
        }
        fields.hive = std::move(hive).value();
        fields.walk = std::make_unique<KeyRecords>(*fields.hive, std::move(root).value(), std::string());
    }
    size_t rows = 0;
    while (rows < kRowsPerBatch) {
        std::optional<KeyRecord> key = fields.walk->next();
        for (RecordProblem& problem : fields.walk->take_problems()) items.emplace_back(std::move(problem));
        if (!key) {
            fields.over = true;
            break;
        }
        BatchKey item{std::move(*key), {}};
        item.decoded.reserve(item.key.values.size());
        for (const KeyValue& value : item.key.values) {
            std::optional<DecodedValue> decoded;
            if (value.readable) {
                auto data = decode_value_data(value.key.value_type, value.data.view());
                if (data.ok()) decoded = data.value();
            }
            item.decoded.push_back(decoded);
        }
        rows += std::max<size_t>(1, item.key.values.size());
        items.emplace_back(std::move(item));
    }
    return items;
}

// A Record of the given fields (new references, nullptr for None); consumes them all, even on failure.
PyObject* new_record(std::initializer_list<std::pair<RecordField, PyObject*>> given) {
    PyObject* row = PyStructSequence_New(record_type);
    bool failed = row == nullptr;
    PyObject* items[kFieldCount] = {};
    for (const auto& [field, object] : given) {
        items[field] = object;
        failed = failed || object == nullptr;
    }
    if (failed) {
        for (const auto& [field, object] : given) Py_XDECREF(object);
        Py_XDECREF(row);
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < kFieldCount; ++i) {
        PyObject* item = items[i];
        if (item == nullptr) {
            item = Py_None;
            Py_INCREF(item);
        }
        PyStructSequence_SetItem(row, i, item);
    }
    return row;
}

PyObject* shared(PyObject* object) {
    Py_INCREF(object);
    return object;
}

// Appends the rows of one batch item to `list`.
bool append_rows(RecordsFields& fields, BatchItem& item, PyObject* list) {
    auto append = [&](PyObject* row) {
        if (row == nullptr) return false;
        const bool ok = PyList_Append(list, row) == 0;
        Py_DECREF(row);
        return ok;
    };
    if (auto* problem = std::get_if<RecordProblem>(&item)) {
        PyObject* key = fields.hive ? new_str(problem->path) : shared(Py_None);
        return append(new_record({{kHive, shared(fields.hive_name)}, {kKey, key}, {kError, new_str(problem->message)}}));
    }
    BatchKey& batch_key = std::get<BatchKey>(item);
    const KeyRecord& key = batch_key.key;
    PyObject* path = new_str(key.path);
    PyObject* time = new_utc_datetime(key.last_written);
    if (time == nullptr && PyErr_ExceptionMatches(PyExc_ValueError)) {
        PyErr_Clear();  // a time past the year 9999
        time = shared(Py_None);
    }
    bool ok = path != nullptr && time != nullptr;
    if (ok && key.values.empty()) {
        ok = append(new_record({{kHive, shared(fields.hive_name)}, {kKey, shared(path)}, {kLastWritten, shared(time)}}));
    }
    for (size_t i = 0; ok && i < key.values.size(); ++i) {
        const KeyValue& value = key.values[i];
        const std::string_view name = record_value_name(value.key);
        const std::optional<DecodedValue>& decoded = batch_key.decoded[i];
        PyObject* raw = value.readable ? new_bytes(value.data.view()) : shared(Py_None);
        PyObject* data = raw == nullptr ? nullptr : decoded ? new_value_object(*decoded, raw) : shared(Py_None);
        ok = append(new_record({{kHive, shared(fields.hive_name)},
                                {kKey, shared(path)},
                                {kLastWritten, shared(time)},
                                {kValue, new_str(std::string(name))},
                                {kType, PyLong_FromUnsignedLong(value.key.value_type.id)},
                                {kRaw, raw},
                                {kData, data}}));
    }
    Py_XDECREF(path);
    Py_XDECREF(time);
    return ok;
}

PyObject* records_next(PyObject* self) {
    RecordsFields& fields = records_of(self);
    IteratorClaim claim(fields.busy, "records iterator");
    if (!claim.claimed()) return nullptr;
    return guarded([&]() -> PyObject* {
        while (fields.batch == nullptr || fields.next == PyList_Size(fields.batch)) {
            Py_CLEAR(fields.batch);
            fields.next = 0;
            if (fields.over) return nullptr;
            std::vector<BatchItem> items = without_gil([&] { return read_batch(fields); });
            PyObject* list = PyList_New(0);
            if (list == nullptr) return nullptr;
            for (BatchItem& item : items) {
                if (!append_rows(fields, item, list)) {
                    Py_DECREF(list);
                    return nullptr;
                }
            }
            fields.batch = list;
        }
        PyObject* row = PyList_GetItem(fields.batch, fields.next++);
        Py_INCREF(row);
        return row;
    });
}

PyType_Slot records_slots[] = {
    {Py_tp_doc, const_cast<char*>("Iterator over the Record rows of one hive")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<RecordsObject>)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(records_next)},
    {0, nullptr},
};

PyType_Spec records_spec = {"builtins.Records", sizeof(RecordsObject), 0, Py_TPFLAGS_DEFAULT, records_slots};

PyObject* records(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[3];
        if (!parse_arguments("records", args, kwargs, {"source", "logs", "name"}, 1, argv)) return nullptr;
        auto* self = alloc_object<RecordsObject>(records_type);
        if (self == nullptr) return nullptr;
        RecordsFields& fields = self->fields;
        if (!export_source_argument("records", argv[0], argv[1], argv[2], fields.source)) {
            Py_DECREF(self);
            return nullptr;
        }
        fields.hive_name = fields.source.name ? new_str(*fields.source.name) : shared(Py_None);
        if (fields.hive_name == nullptr) {
            Py_DECREF(self);
            return nullptr;
        }
        return reinterpret_cast<PyObject*>(self);
    });
}

PyMethodDef records_function = {
    "records", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(records)), METH_VARARGS | METH_KEYWORDS,
    "records(source, logs='auto', name=None)\n--\n\n"
    "Iterate over every key and value of a hive as flat tarnu.Record rows (hive, key, last_written, value, type, "
    "raw, data, error), depth-first from the root key, children in stored order: one row per value, and one row "
    "with value None for a key without values.\n\n"
    "source is a path (str or os.PathLike), a bytes-like hive image or a Hive. With logs='auto' the transaction "
    "logs beside a path (HIVE.LOG1, HIVE.LOG2, in any letter case) are replayed; None replays none; a list of up "
    "to two paths replays those. name is the rows' hive field (by default the path, or None).\n\n"
    "Nothing is raised for the hive: one that cannot be opened gives a single error row (key None), and a part "
    "that cannot be read gives an error row with the key's path where it was met, after which the walk goes on.",
};

}  // namespace

bool add_records(PyObject* module) {
    if (record_type == nullptr) {
        record_type = PyStructSequence_NewType(&record_desc);
        if (record_type == nullptr) return false;
    }
    if (records_type == nullptr) {
        records_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&records_spec));
        if (records_type == nullptr) return false;
    }
    PyObject* module_name = PyModule_GetNameObject(module);
    PyObject* function = module_name != nullptr ? PyCFunction_NewEx(&records_function, nullptr, module_name) : nullptr;
    Py_XDECREF(module_name);
    bool ok = function != nullptr && PyObject_SetAttrString(module, "records", function) == 0 &&
              PyObject_SetAttrString(module, "Record", reinterpret_cast<PyObject*>(record_type)) == 0;
    Py_XDECREF(function);
    return ok;
}

}  // namespace tarnu::py
