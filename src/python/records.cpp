// `tarnu.records(source, logs="auto", name=None)`: every key and value of a hive as flat `tarnu.Record` rows.
//
// The rows are those of the live walk (rows/row_source.h), with the columns of the row model that records() has
// (rows/row.h), made in batches: the core reads a batch of keys with their values, data and decoded data with the
// interpreter lock released, and the Python objects of the batch are made with it held. A batch ends at the key that
// brings it to kRowsPerBatch rows or kDataPerBatch bytes of data, paths and names. A hive that cannot be opened gives
// one error row; a part that cannot be read gives an error row where it was met, and the walk goes on.
#include <memory>
#include <type_traits>
#include <utility>

#include "python/binding.h"
#include "rows/row_source.h"
#include "tree/lookup.h"
#include "tree/nodes.h"

namespace tarnu::py {
namespace {

PyTypeObject* record_type = nullptr;
PyTypeObject* records_type = nullptr;

// Rows and data bytes per batch: enough to make the lock's release and the list's creation cheap per row, few
// enough that a batch's rows stay in the processor's cache while they are made into Records (more rows per batch
// are slower), and that a batch of large data holds little memory at once.
constexpr size_t kRowsPerBatch = 512;
constexpr size_t kDataPerBatch = size_t{4} << 20;

// The columns of a Record, in its order, and what each holds in Python.
const ColumnList kRecordColumns = columns_of({ColumnSet::Rows, ColumnSet::Records});

const char* record_field_doc(Column column) {
    switch (column) {
        case Column::Hive: return "the hive's path as given (or the name passed), None for bytes without a name";
        case Column::Key:
            return "the key's path from the root key (\"\" for the root), None when the hive could not be opened";
        case Column::LastWritten:
            return "the key's last-written time as a datetime in UTC, None for 0 or past the year 9999";
        case Column::Value:
            return "the value's name (\"\" for the default value), None in the row of a key without values";
        case Column::Type: return "the value's type number (1 for REG_SZ, ...), None without a value";
        case Column::Raw: return "the value's data bytes, None without a value or when they could not be read";
        case Column::Data:
            return "the decoded data: str, list of str (REG_MULTI_SZ), int (DWORD, QWORD) or bytes (other types); None "
                   "for REG_NONE, without a value and when the data does not decode";
        case Column::Error:
            return "what could not be read, in an error row (its other fields say where); None in every other row";
        default: return "";
    }
}

PyStructSequence_Field record_fields[kColumnCount + 1] = {};

PyStructSequence_Desc record_desc = {
    "tarnu.Record",
    "One row of tarnu.records(): a value of a key, a key without values, or an error row.",
    record_fields,
    0,
};

// The rows of a key, or an error row, with the decoded data of each row (made without the lock too). The decoded
// data views the rows' data, which stays where it is: a group does not move.
struct BatchGroup {
    RowGroup group;
    std::vector<std::optional<DecodedValue>> decoded;
};

struct RecordsFields {
    ExportSource source;
    SharedHive hive;
    std::unique_ptr<LiveRows> rows;
    std::vector<std::unique_ptr<BatchGroup>> spare;  // groups of batches made, to be filled again
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

std::optional<std::string_view> name_of(const RecordsFields& fields) {
    if (!fields.source.name) return std::nullopt;
    return std::string_view(*fields.source.name);
}

// A group to fill, spare or new.
std::unique_ptr<BatchGroup> take_group(RecordsFields& fields) {
    if (fields.spare.empty()) return std::make_unique<BatchGroup>();
    std::unique_ptr<BatchGroup> group = std::move(fields.spare.back());
    fields.spare.pop_back();
    group->decoded.clear();
    return group;
}

void add_error(RecordsFields& fields, std::vector<std::unique_ptr<BatchGroup>>& batch, RecordProblem problem,
               bool has_key) {
    std::unique_ptr<BatchGroup> item = take_group(fields);
    item->group.set_error(name_of(fields), std::move(problem), has_key);
    batch.push_back(std::move(item));
}

// Without the lock: opens the hive on the first call, then reads keys until the batch holds enough rows or data.
std::vector<std::unique_ptr<BatchGroup>> read_batch(RecordsFields& fields) {
    std::vector<std::unique_ptr<BatchGroup>> batch;
    if (!fields.opened) {
        fields.opened = true;
        auto hive = open_export_source(fields.source);
        auto root = hive.ok() ? parse_key_node(*hive.value(), hive.value()->base_block.root_cell_offset)
                              : Result<KeyNode>(hive.error());
        if (!root.ok()) {
            fields.over = true;
            add_error(fields, batch, {std::string(), root.error().message()}, false);
            return batch;
        }
        fields.hive = std::move(hive).value();
        fields.rows = std::make_unique<LiveRows>(*fields.hive, std::move(root).value(), std::string(),
                                                 fields.source.name);
    }
    size_t rows = 0, data = 0;
    while (rows < kRowsPerBatch && data < kDataPerBatch) {
        std::unique_ptr<BatchGroup> item = take_group(fields);
        const bool found = fields.rows->next(item->group);
        // What could not be read comes before the key where it was met.
        if (fields.rows->has_problems()) {
            for (RecordProblem& problem : fields.rows->take_problems()) {
                add_error(fields, batch, std::move(problem), true);
            }
        }
        if (!found) {
            fields.spare.push_back(std::move(item));
            fields.over = true;
            break;
        }
        for (const Row& row : item->group.rows) {
            std::optional<DecodedValue> decoded;
            if (row.raw) {
                auto value = decode_value_data(row.type, *row.raw);
                if (value.ok()) decoded = value.value();
            }
            item->decoded.push_back(decoded);
        }
        rows += item->group.rows.size();
        data += item->group.held_size();
        batch.push_back(std::move(item));
    }
    return batch;
}

PyObject* shared(PyObject* object) {
    Py_INCREF(object);
    return object;
}

// Makes the Python objects of rows' cells, one function per column made for its kind. Rows of one key share their
// key's text and time: a cell that views the same text, or holds the same time, as the one before it in its column
// shares its object.
class RecordMaker {
public:
    explicit RecordMaker(PyObject* hive_name) : hive_name_(hive_name) {}
    ~RecordMaker() {
        for (Last& last : last_) Py_XDECREF(last.object);
    }
    RecordMaker(const RecordMaker&) = delete;
    RecordMaker& operator=(const RecordMaker&) = delete;

    // A Record of `row`, or nullptr with an exception set.
    PyObject* record(const Row& row, const std::optional<DecodedValue>& decoded) {
        PyObject* out = PyStructSequence_New(record_type);
        if (out == nullptr) return nullptr;
        static const std::array<Maker, kColumnCount> kMakers = makers(std::make_index_sequence<kColumnCount>());
        Made made{row, decoded, nullptr};
        for (size_t i = 0; i < kRecordColumns.size; ++i) {
            PyObject* item = kMakers[static_cast<size_t>(kRecordColumns.columns[i])](*this, made);
            if (item == nullptr) {
                Py_DECREF(out);
                return nullptr;
            }
            PyStructSequence_SetItem(out, static_cast<Py_ssize_t>(i), item);
        }
        return out;
    }

private:
    struct Made {
        const Row& row;
        const std::optional<DecodedValue>& decoded;
        PyObject* raw;  // the row's raw bytes once made, which its decoded data may share
    };
    struct Last {
        const char* data = nullptr;
        size_t size = 0;
        uint64_t time = 0;
        PyObject* object = nullptr;
    };
    using Maker = PyObject* (*)(RecordMaker&, Made&);

    PyObject* remembered(Column column, const char* data, size_t size, uint64_t time, PyObject* made) {
        Last& last = last_[static_cast<size_t>(column)];
        if (made == nullptr) return nullptr;
        Py_XDECREF(last.object);
        last = Last{data, size, time, shared(made)};
        return made;
    }

    template <Column C>
    static PyObject* make(RecordMaker& maker, Made& made) {
        const Cell value = cell(made.row, C);
        if (value.null) return shared(Py_None);
        constexpr CellKind kind = column_spec(C).kind;
        const Last& last = maker.last_[static_cast<size_t>(C)];
        if constexpr (C == Column::Hive) {
            if (maker.hive_name_ != nullptr) return shared(maker.hive_name_);
        }
        if constexpr (kind == CellKind::Text) {
            if (last.object != nullptr && last.data == value.text.data() && last.size == value.text.size()) {
                return shared(last.object);
            }
            PyObject* text = PyUnicode_DecodeUTF8(value.text.data(), static_cast<Py_ssize_t>(value.text.size()),
                                                  "strict");
            return maker.remembered(C, value.text.data(), value.text.size(), 0, text);
        } else if constexpr (kind == CellKind::Time) {
            if (last.object != nullptr && last.time == value.number) return shared(last.object);
            return maker.remembered(C, nullptr, 0, value.number, new_utc_datetime(value.number));
        } else if constexpr (kind == CellKind::Type) {
            return PyLong_FromUnsignedLong(value.type.id);
        } else if constexpr (kind == CellKind::Bytes) {
            made.raw = new_bytes(value.bytes);
            return made.raw;
        } else if constexpr (kind == CellKind::Data) {
            return made.decoded ? new_value_object(*made.decoded, made.raw) : shared(Py_None);
        } else if constexpr (kind == CellKind::Flag) {
            return PyBool_FromLong(value.number != 0 ? 1 : 0);
        } else {
            return PyLong_FromUnsignedLongLong(value.number);
        }
    }

    template <size_t... I>
    static constexpr std::array<Maker, kColumnCount> makers(std::index_sequence<I...>) {
        return {&make<static_cast<Column>(I)>...};
    }

    PyObject* hive_name_;
    std::array<Last, kColumnCount> last_{};
};

PyObject* records_next(PyObject* self) {
    RecordsFields& fields = records_of(self);
    IteratorClaim claim(fields.busy, "records iterator");
    if (!claim.claimed()) return nullptr;
    return guarded([&]() -> PyObject* {
        while (fields.batch == nullptr || fields.next == PyList_Size(fields.batch)) {
            Py_CLEAR(fields.batch);
            fields.next = 0;
            if (fields.over) return nullptr;
            std::vector<std::unique_ptr<BatchGroup>> batch = without_gil([&] { return read_batch(fields); });
            size_t count = 0;
            for (const auto& item : batch) count += item->group.rows.size();
            RecordMaker maker(fields.hive_name);
            size_t group = 0, row = 0;  // the next row to make
            fields.batch = new_list_of(count, [&](size_t) {
                while (row == batch[group]->group.rows.size()) {
                    ++group;
                    row = 0;
                }
                const BatchGroup& item = *batch[group];
                PyObject* record = maker.record(item.group.rows[row], item.decoded.empty() ? std::nullopt
                                                                                             : item.decoded[row]);
                ++row;
                return record;
            });
            // Kept for the next batch, which reads into them again.
            for (auto& item : batch) fields.spare.push_back(std::move(item));
            if (fields.batch == nullptr) return nullptr;
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
        for (size_t i = 0; i < kRecordColumns.size; ++i) {
            const Column column = kRecordColumns.columns[i];
            record_fields[i] = {column_spec(column).name.data(), record_field_doc(column)};
        }
        record_desc.n_in_sequence = static_cast<int>(kRecordColumns.size);
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
