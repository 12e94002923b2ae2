// RegistryKey.value_records(): a key's values in one call as (name, type_id, raw_data, data) tuples of plain
// Python objects. The data is read as values() reads it and decoded as RegistryValue.data() and the ValueData
// accessors decode it, but straight from the bytes objects into Python objects: no RegistryValue, ValueType or
// ValueData objects, no C++ copy of data, and text made into str once, by the interpreter.
#include "python/binding.h"

namespace tarnu::py {
namespace {

// What the ValueData accessors give for `data` of type `type`: None for Other data and for data that does not decode.
// Binary data gives a bytes object of its own, not the record's raw bytes. Text is checked by the interpreter's
// decoder as it makes the str, in one pass; text it refuses is decoded again with the core's full check, which
// reads data that does not decode whole up to its terminator. Any other failure (memory) is returned as nullptr
// with its exception set.
PyObject* record_data(ValueType type, Bytes data) {
    auto decoded = decode_value_data(type, data, TextCheck::LengthOnly);
    if (!decoded.ok()) Py_RETURN_NONE;
    PyObject* object = new_value_object(decoded.value(), nullptr, OtherData::None);
    if (object != nullptr || !PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return object;
    PyErr_Clear();
    decoded = decode_value_data(type, data);
    if (!decoded.ok()) Py_RETURN_NONE;
    return new_value_object(decoded.value(), nullptr, OtherData::None);
}

// The record of `value` whose data is the bytes object `raw`, which the record shares.
PyObject* new_record(const ValueKey& value, PyObject* raw) {
    const Bytes data = bytes_of(raw);
    PyObject* record = PyTuple_New(4);
    if (record == nullptr) return nullptr;
    Py_INCREF(raw);
    PyObject* items[4] = {new_str(value.name), nullptr, raw, nullptr};
    if (items[0] != nullptr) items[1] = PyLong_FromUnsignedLong(value.value_type.id);
    if (items[1] != nullptr) items[3] = record_data(value.value_type, data);
    for (Py_ssize_t i = 0; i < 4; ++i) {
        if (items[i] == nullptr) {
            Py_DECREF(record);
            for (PyObject* item : items) Py_XDECREF(item);
            return nullptr;
        }
    }
    for (Py_ssize_t i = 0; i < 4; ++i) PyTuple_SetItem(record, i, items[i]);
    return record;
}

}  // namespace

PyObject* new_value_records(const Hive& hive, const KeyNode& key) {
    ReaderLease lease;
    ValueReader& reader = lease.reader();
    Status read = read_values_releasing_large(hive, key, reader);
    if (!read.ok()) {
        raise_error(read.error());
        return nullptr;
    }
    // Each value's raw bytes are copied straight from the pieces of its data: small data at once, large data with
    // the lock released, once for the whole list.
    PieceCopies copies;
    auto new_raw = [&](size_t i) -> PyObject* {
        const size_t size = reader.data_size(i);
        PyObject* raw = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
        if (raw != nullptr && size != 0) {
            copies.copy(reader.pieces(i), size, reinterpret_cast<uint8_t*>(PyBytes_AsString(raw)));
        }
        return raw;
    };
    if (!is_large(reader.declared_data_size())) {
        // No value holds more than the list declares: every record is made in one go.
        return new_list_of(reader.size(), [&](size_t i) -> PyObject* {
            PyObject* raw = new_raw(i);
            PyObject* record = raw != nullptr ? new_record(reader.key(i), raw) : nullptr;
            Py_XDECREF(raw);
            return record;
        });
    }
    // Large data: every raw bytes first, then the records, decoded from those bytes once they are written.
    PyObject* raws = new_list_of(reader.size(), new_raw);
    if (raws == nullptr) return nullptr;
    copies.finish();
    PyObject* records = new_list_of(reader.size(), [&](size_t i) {
        return new_record(reader.key(i), PyList_GetItem(raws, static_cast<Py_ssize_t>(i)));
    });
    Py_DECREF(raws);
    return records;
}

}  // namespace tarnu::py
