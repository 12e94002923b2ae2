// RegistryKey.value_records(): a key's values in one call as (name, type_id, raw_data, data) tuples of plain
// Python objects. The data is read as values() reads it and decoded as RegistryValue.data() and the ValueData
// accessors decode it, but straight from the hive's bytes into Python objects: no RegistryValue, ValueType or
// ValueData objects, no C++ copy of data that lies in one piece, and text decoded once, by the interpreter.
#include <optional>

#include "python/binding.h"
#include "records/value_type.h"

namespace tarnu::py {
namespace {

// Stored text as `decode_utf16_string` reads it: the bytes after the byte-order mark, in the form the mark chooses
// (UTF-16LE without one), with trailing U+0000 characters left out. Those are the only characters dropped, so
// decoding these bytes gives the same text, and fails on the same input, as decoding all and dropping them after.
struct StoredText {
    Bytes bytes;
    enum class Form : uint8_t { Utf8, Utf16Le, Utf16Be } form;

    size_t unit() const { return form == Form::Utf8 ? 1 : 2; }
    bool nul_at(size_t i) const { return unit() == 1 ? bytes[i] == 0 : (bytes[i] | bytes[i + 1]) == 0; }
};

// Nothing for text of an odd number of bytes, which never decodes.
std::optional<StoredText> stored_text(Bytes data) {
    using Form = StoredText::Form;
    if (data.size() % 2 != 0) return std::nullopt;
    StoredText text{data, Form::Utf16Le};
    if (data.size() >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        text = StoredText{data.subspan(3), Form::Utf8};
    } else if (data.size() >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        text.bytes = data.subspan(2);
    } else if (data.size() >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
        text = StoredText{data.subspan(2), Form::Utf16Be};
    }
    size_t end = text.bytes.size();
    while (end >= text.unit() && text.nul_at(end - text.unit())) end -= text.unit();
    text.bytes = text.bytes.first(end);
    return text;
}

// A str of `bytes` (whole code units of `text`'s form); nullptr with UnicodeDecodeError set when they are
// ill-formed. The interpreter's strict decoders refuse exactly what the core's decoders refuse: unpaired
// surrogates, and in UTF-8 every ill-formed sequence of the Unicode Standard.
PyObject* decode_piece(const StoredText& text, Bytes bytes) {
    const char* data = reinterpret_cast<const char*>(bytes.data());
    const auto size = static_cast<Py_ssize_t>(bytes.size());
    if (text.form == StoredText::Form::Utf8) return PyUnicode_DecodeUTF8(data, size, "strict");
    int order = text.form == StoredText::Form::Utf16Le ? -1 : 1;
    return PyUnicode_DecodeUTF16(data, size, "strict", &order);
}

// The texts between U+0000 characters, empty ones left out: as_multi_string()'s list.
PyObject* decode_multi(const StoredText& text) {
    PyObject* list = PyList_New(0);
    if (list == nullptr) return nullptr;
    const size_t unit = text.unit();
    size_t start = 0;
    for (size_t i = 0; i <= text.bytes.size(); i += unit) {
        if (i < text.bytes.size() && !text.nul_at(i)) continue;
        if (i > start) {
            PyObject* piece = decode_piece(text, text.bytes.subspan(start, i - start));
            const bool added = piece != nullptr && PyList_Append(list, piece) == 0;
            Py_XDECREF(piece);
            if (!added) {
                Py_DECREF(list);
                return nullptr;
            }
        }
        start = i + unit;
    }
    return list;
}

// What the ValueData accessors give for `data` of type `type`, or None. Failures to decode give None too; any
// other failure (memory) is returned as nullptr with its exception set.
PyObject* decoded(ValueType type, Bytes data) {
    if (data.empty()) Py_RETURN_NONE;
    PyObject* result = nullptr;
    switch (type.id) {
        case kRegSz:
        case kRegExpandSz:
        case kRegMultiSz: {
            const auto text = stored_text(data);
            if (!text) Py_RETURN_NONE;
            result = type.id == kRegMultiSz ? decode_multi(*text) : decode_piece(*text, text->bytes);
            break;
        }
        case kRegBinary:
            return new_bytes(data);
        case kRegDword:
            if (data.size() < 4) Py_RETURN_NONE;
            return PyLong_FromUnsignedLong(le32(data, 0));
        case kRegDwordBigEndian:
            if (data.size() < 4) Py_RETURN_NONE;
            return PyLong_FromUnsignedLong(uint32_t{data[0]} << 24 | uint32_t{data[1]} << 16 |
                                           uint32_t{data[2]} << 8 | data[3]);
        case kRegQword:
            if (data.size() < 8) Py_RETURN_NONE;
            return PyLong_FromUnsignedLongLong(le64(data, 0));
        default:
            Py_RETURN_NONE;
    }
    if (result == nullptr && PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
        PyErr_Clear();
        Py_RETURN_NONE;
    }
    return result;
}

// The record of `value` whose data is the bytes object `raw`, which the record shares.
PyObject* new_record(const ValueKey& value, PyObject* raw) {
    const Bytes data(reinterpret_cast<const uint8_t*>(PyBytes_AsString(raw)), static_cast<size_t>(PyBytes_Size(raw)));
    PyObject* record = PyTuple_New(4);
    if (record == nullptr) return nullptr;
    Py_INCREF(raw);
    PyObject* items[4] = {new_str(value.name), nullptr, raw, nullptr};
    if (items[0] != nullptr) items[1] = PyLong_FromUnsignedLong(value.value_type.id);
    if (items[1] != nullptr) items[3] = decoded(value.value_type, data);
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
    ListingLease lease;
    ValueListing& listing = lease.listing();
    Status read = read_value_pieces_releasing_large(hive, key, listing);
    if (!read.ok()) {
        raise_error(read.error());
        return nullptr;
    }
    // Each value's raw bytes are copied straight from the pieces of its data: small data at once, large data with
    // the lock released, once for the whole list.
    PieceCopies copies;
    auto new_raw = [&](size_t i) -> PyObject* {
        const size_t size = listing.data_size(i);
        PyObject* raw = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
        if (raw != nullptr && size != 0) {
            copies.copy(listing.pieces(i), size, reinterpret_cast<uint8_t*>(PyBytes_AsString(raw)));
        }
        return raw;
    };
    if (!is_large(listing.declared_data_size())) {
        // No value holds more than the list declares: every record is made in one go.
        return new_list_of(listing.size(), [&](size_t i) -> PyObject* {
            PyObject* raw = new_raw(i);
            PyObject* record = raw != nullptr ? new_record(listing.key(i), raw) : nullptr;
            Py_XDECREF(raw);
            return record;
        });
    }
    // Large data: every raw bytes first, then the records, decoded from those bytes once they are written.
    PyObject* raws = new_list_of(listing.size(), new_raw);
    if (raws == nullptr) return nullptr;
    copies.finish();
    PyObject* records = new_list_of(listing.size(), [&](size_t i) {
        return new_record(listing.key(i), PyList_GetItem(raws, static_cast<Py_ssize_t>(i)));
    });
    Py_DECREF(raws);
    return records;
}

}  // namespace tarnu::py
