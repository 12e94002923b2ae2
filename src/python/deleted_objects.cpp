// DeletedKey and DeletedValue: what Hive.deleted() recovers outside the live tree (from free cells, allocated cells
// that nothing references, remnants past the stated end of the hive bins), and Hive.deleted_counts(). Every object
// holds a share of one recovery (and through it of the hive), so it outlives the Hive object; the recovery never
// changes once made. Keys answer like RegistryKey where that makes sense; values read their data when asked, and
// give None for data that is no longer available.
#include <memory>
#include <vector>

#include "python/binding.h"
#include "recovery/recovery.h"
#include "rows/row_source.h"
#include "utils/format.h"

namespace tarnu::py {
namespace {

// The recovery runs with the interpreter lock released from this image size on; below it the scan takes well under
// a millisecond, less than taking the lock back may cost while other threads run.
constexpr size_t kRecoverWithoutGilFrom = size_t{1} << 20;

struct Recovered {
    SharedHive hive;
    Recovery recovery;
};
using SharedRecovered = std::shared_ptr<const Recovered>;

// A key or value of a recovery: the share and its index in `keys` or `values`.
struct RecordFields {
    SharedRecovered share;
    size_t index;
};

struct DeletedKeyObject {
    PyObject_HEAD
    RecordFields fields;
};

struct DeletedValueObject {
    PyObject_HEAD
    RecordFields fields;
};

const RecordFields& key_fields(PyObject* self) { return reinterpret_cast<DeletedKeyObject*>(self)->fields; }
const RecordFields& value_fields(PyObject* self) { return reinterpret_cast<DeletedValueObject*>(self)->fields; }
const RecoveredKey& key_of(PyObject* self) {
    const RecordFields& f = key_fields(self);
    return f.share->recovery.keys[f.index];
}
const RecoveredValue& value_of(PyObject* self) {
    const RecordFields& f = value_fields(self);
    return f.share->recovery.values[f.index];
}

PyObject* new_deleted_key(const SharedRecovered& share, size_t index) {
    return reinterpret_cast<PyObject*>(alloc_object<DeletedKeyObject>(types.deleted_key, share, index));
}

PyObject* new_deleted_value(const SharedRecovered& share, size_t index) {
    return reinterpret_cast<PyObject*>(alloc_object<DeletedValueObject>(types.deleted_value, share, index));
}

PyObject* optional_str(const std::optional<std::string>& text) {
    if (!text) Py_RETURN_NONE;
    return new_str(*text);
}

constexpr const char* kSourceDoc =
    "source($self)\n--\n\nGet where the record was found: 'free' (a free cell), 'unreferenced' (an allocated cell "
    "that the live tree does not use) or 'remnant' (past the stated end of the hive bins data)";

// ---- DeletedKey ----------------------------------------------------------------------------------------------

PyObject* key_name(PyObject* self, PyObject*) { return new_str(key_of(self).node.name); }
PyObject* key_subkey_count(PyObject* self, PyObject*) {
    return PyLong_FromUnsignedLong(key_of(self).node.subkey_count);
}
PyObject* key_value_count(PyObject* self, PyObject*) { return PyLong_FromUnsignedLong(key_of(self).node.value_count); }
PyObject* key_cell_offset(PyObject* self, PyObject*) { return PyLong_FromUnsignedLong(key_of(self).node.offset); }
PyObject* key_class_name(PyObject* self, PyObject*) { return optional_str(key_of(self).class_name); }
PyObject* key_is_deleted(PyObject*, PyObject*) { Py_RETURN_TRUE; }
PyObject* key_source(PyObject* self, PyObject*) { return new_str(std::string(source_name(key_of(self).source))); }

PyObject* key_values(PyObject* self, PyObject*) {
    return guarded([&] {
        const SharedRecovered& share = key_fields(self).share;
        return new_list(key_of(self).values, [&](size_t index) { return new_deleted_value(share, index); });
    });
}

PyObject* key_last_written(PyObject* self, PyObject*) {
    return guarded([&] { return new_utc_datetime(key_of(self).node.last_written); });
}
PyObject* key_last_written_timestamp(PyObject* self, PyObject*) {
    return new_unix_timestamp(key_of(self).node.last_written);
}
PyObject* key_last_written_filetime(PyObject* self, PyObject*) {
    return PyLong_FromUnsignedLongLong(key_of(self).node.last_written);
}

PartialPath path_of(PyObject* self) {
    const RecordFields& f = key_fields(self);
    return recovered_key_path(*f.share->hive, f.share->recovery, f.share->recovery.keys[f.index]);
}

PyObject* key_path(PyObject* self, PyObject*) {
    return guarded([&] { return new_str(path_of(self).path); });
}

PyObject* key_is_path_complete(PyObject* self, PyObject*) {
    return guarded([&] { return PyBool_FromLong(path_of(self).complete ? 1 : 0); });
}

PyObject* key_repr(PyObject* self) {
    return guarded([&] {
        const KeyNode& node = key_of(self).node;
        return new_str("DeletedKey(name='" + node.name + "', offset=" + hex(node.offset) + ")");
    });
}

PyMethodDef key_methods[] = {
    {"name", key_name, METH_NOARGS, "name($self)\n--\n\nGet the key name"},
    {"subkey_count", key_subkey_count, METH_NOARGS,
     "subkey_count($self)\n--\n\nGet the number of subkeys the key node states"},
    {"value_count", key_value_count, METH_NOARGS,
     "value_count($self)\n--\n\nGet the number of values the key node states"},
    {"values", key_values, METH_NOARGS,
     "values($self)\n--\n\nGet the values that the key's value list still names, as DeletedValue objects; empty "
     "when the list has been reused"},
    {"class_name", key_class_name, METH_NOARGS,
     "class_name($self)\n--\n\nGet the class name, or None when the key has none or its cell has been reused"},
    {"last_written", key_last_written, METH_NOARGS,
     "last_written($self)\n--\n\nGet the last write time as a datetime in UTC with microseconds, or None when it "
     "is 0. Raises ValueError for a time past the year 9999"},
    {"last_written_timestamp", key_last_written_timestamp, METH_NOARGS,
     "last_written_timestamp($self)\n--\n\nGet the last write timestamp as Unix timestamp (seconds since epoch)"},
    {"last_written_filetime", key_last_written_filetime, METH_NOARGS,
     "last_written_filetime($self)\n--\n\nGet the last write time as stored: a FILETIME (100-nanosecond intervals "
     "since 1601-01-01 UTC)"},
    {"path", key_path, METH_NOARGS,
     "path($self)\n--\n\nGet the names from below the root down to this key, joined by backslashes, rebuilt "
     "through deleted and live parents alike. Where the chain of parents breaks, the names from the highest key "
     "reached; is_path_complete() tells which"},
    {"is_path_complete", key_is_path_complete, METH_NOARGS,
     "is_path_complete($self)\n--\n\nCheck if the chain of parents reaches the root key, so that path() is whole"},
    {"is_deleted", key_is_deleted, METH_NOARGS, "is_deleted($self)\n--\n\nCheck if the key is deleted (always True)"},
    {"cell_offset", key_cell_offset, METH_NOARGS, "cell_offset($self)\n--\n\nGet the cell offset of the key node"},
    {"source", key_source, METH_NOARGS, kSourceDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot key_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for DeletedKey\n\n"
                                  "A key node recovered outside the live tree. It holds a share of the recovery and "
                                  "of the hive, so it does not depend on the lifetime of the Hive object.")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<DeletedKeyObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(key_repr)},
    {Py_tp_methods, key_methods},
    {0, nullptr},
};

// ---- DeletedValue --------------------------------------------------------------------------------------------

PyObject* value_name(PyObject* self, PyObject*) { return new_str(value_of(self).key.name); }
PyObject* value_value_type(PyObject* self, PyObject*) { return new_value_type(value_of(self).key.value_type); }
PyObject* value_data_size(PyObject* self, PyObject*) { return PyLong_FromUnsignedLong(value_of(self).key.data_size); }
PyObject* value_cell_offset(PyObject* self, PyObject*) { return PyLong_FromUnsignedLong(value_of(self).offset); }
PyObject* value_is_deleted(PyObject*, PyObject*) { Py_RETURN_TRUE; }
PyObject* value_source(PyObject* self, PyObject*) { return new_str(std::string(source_name(value_of(self).source))); }
PyObject* value_is_default(PyObject* self, PyObject*) { return PyBool_FromLong(value_of(self).key.name_length == 0); }

// The data as bytes, or None when it is no longer available; nullptr with the read's error raised.
PyObject* recovered_bytes(const RecoveredValue& value) {
    return respond(read_recovered_data(value), [](std::optional<ValueBytes>& data) -> PyObject* {
        if (!data) Py_RETURN_NONE;
        return new_bytes(data->view());
    });
}

PyObject* value_raw_data(PyObject* self, PyObject*) {
    return guarded([&] { return recovered_bytes(value_of(self)); });
}

PyObject* value_data(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const RecoveredValue& value = value_of(self);
        PyObject* raw = recovered_bytes(value);
        if (raw == nullptr || raw == Py_None) return raw;
        const Bytes data = bytes_of(raw);
        PyObject* decoded = new_value_data(value.key.value_type, data, raw);
        Py_DECREF(raw);
        return decoded;
    });
}

PyObject* value_repr(PyObject* self) {
    return guarded([&] {
        const RecoveredValue& value = value_of(self);
        return new_str("DeletedValue(name='" + value.key.name + "', offset=" + hex(value.offset) + ")");
    });
}

PyMethodDef value_methods[] = {
    {"name", value_name, METH_NOARGS, "name($self)\n--\n\nGet the value name"},
    {"value_type", value_value_type, METH_NOARGS, "value_type($self)\n--\n\nGet the value type"},
    {"data", value_data, METH_NOARGS,
     "data($self)\n--\n\nGet the parsed value data, or None when the data is no longer available"},
    {"raw_data", value_raw_data, METH_NOARGS,
     "raw_data($self)\n--\n\nGet the raw value data as bytes, or None when the data is no longer available: its "
     "cell has been reused (allocated again, or no longer holding the data's size)"},
    {"data_size", value_data_size, METH_NOARGS,
     "data_size($self)\n--\n\nGet the data size in bytes that the value key states"},
    {"is_deleted", value_is_deleted, METH_NOARGS,
     "is_deleted($self)\n--\n\nCheck if the value is deleted (always True)"},
    {"cell_offset", value_cell_offset, METH_NOARGS, "cell_offset($self)\n--\n\nGet the cell offset of the value key"},
    {"source", value_source, METH_NOARGS, kSourceDoc},
    {"is_default", value_is_default, METH_NOARGS,
     "is_default($self)\n--\n\nWhether this is the unnamed (default) value, not one stored under the name "
     "\"(default)\""},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot value_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for DeletedValue\n\n"
                                  "A value key recovered outside the live tree. It holds a share of the recovery "
                                  "and of the hive, and reads its data when asked for it.")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<DeletedValueObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(value_repr)},
    {Py_tp_methods, value_methods},
    {0, nullptr},
};

}  // namespace

PyType_Spec deleted_key_spec = {"builtins.DeletedKey", sizeof(DeletedKeyObject), 0, Py_TPFLAGS_DEFAULT, key_slots};
PyType_Spec deleted_value_spec = {"builtins.DeletedValue", sizeof(DeletedValueObject), 0, Py_TPFLAGS_DEFAULT,
                                  value_slots};

namespace {

Recovery run_recovery(const Hive& hive) {
    if (hive.bytes().size() >= kRecoverWithoutGilFrom) return without_gil([&] { return recover_deleted(hive); });
    return recover_deleted(hive);
}

}  // namespace

PyObject* deleted_counts(const SharedHive& hive) {
    const Recovery recovery = run_recovery(*hive);
    size_t counts[3] = {0, 0, 0};  // by RecordSource
    for (const RecoveredKey& key : recovery.keys) ++counts[static_cast<size_t>(key.source)];
    for (const RecoveredValue& value : recovery.values) ++counts[static_cast<size_t>(value.source)];
    return Py_BuildValue("{snsnsnsn}", "free", static_cast<Py_ssize_t>(counts[0]), "unreferenced",
                         static_cast<Py_ssize_t>(counts[1]), "remnant", static_cast<Py_ssize_t>(counts[2]),
                         "passed_over", static_cast<Py_ssize_t>(recovery.passed_over));
}

PyObject* deleted_records(const SharedHive& hive) {
    auto recovered = std::make_shared<Recovered>();
    recovered->hive = hive;
    recovered->recovery = run_recovery(*hive);
    const SharedRecovered share = std::move(recovered);

    // Keys and the values that no key lists, in offset order, as the rows of recovery have them.
    std::vector<RecoveredItem> items = recovered_order(share->recovery);
    return new_list(items, [&](const RecoveredItem& item) {
        return item.is_key ? new_deleted_key(share, item.index) : new_deleted_value(share, item.index);
    });
}

}  // namespace tarnu::py
