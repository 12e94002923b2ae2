// Decoded value data as Python objects: the one conversion that RegistryValue.data(), the ValueData accessors,
// value_records(), the rows of tarnu.records() and DeletedValue share. Text is made into a str by the interpreter's
// own decoder, in one pass over the stored code units.
#include "python/binding.h"

namespace tarnu::py {
namespace {

// A str of stored text; nullptr with UnicodeDecodeError set when it is not well-formed (text checked for its length
// only). The interpreter's strict decoders refuse exactly what the core's text decoders refuse: unpaired
// surrogates, and in UTF-8 every ill-formed sequence of the Unicode Standard.
PyObject* new_text(const StoredText& text) {
    const char* units = reinterpret_cast<const char*>(text.units.data());
    const auto size = static_cast<Py_ssize_t>(text.units.size());
    if (text.form == StoredText::Form::Utf8) return PyUnicode_DecodeUTF8(units, size, "strict");
    int order = text.form == StoredText::Form::Utf16Le ? -1 : 1;
    return PyUnicode_DecodeUTF16(units, size, "strict", &order);
}

// The strings of a multi-string, empty ones left out.
PyObject* new_text_list(const StoredText& text) {
    PyObject* list = PyList_New(0);
    if (list == nullptr) return nullptr;
    const bool all = for_each_piece(text, [&](const StoredText& piece) {
        PyObject* item = new_text(piece);
        const bool added = item != nullptr && PyList_Append(list, item) == 0;
        Py_XDECREF(item);
        return added;
    });
    if (all) return list;
    Py_DECREF(list);
    return nullptr;
}

}  // namespace

PyObject* new_value_object(const DecodedValue& value, PyObject* raw, OtherData other) {
    switch (value.kind) {
        case ValueDataKind::String:
        case ValueDataKind::ExpandString:
            return new_text(value.text);
        case ValueDataKind::MultiString:
            return new_text_list(value.text);
        case ValueDataKind::Dword:
        case ValueDataKind::DwordBigEndian:
        case ValueDataKind::Qword:
            return PyLong_FromUnsignedLongLong(value.number);
        case ValueDataKind::Other:
            if (other == OtherData::None) break;
            [[fallthrough]];
        case ValueDataKind::Binary:
            if (raw == nullptr) return new_bytes(value.bytes);
            Py_INCREF(raw);
            return raw;
        case ValueDataKind::None:
            break;
    }
    Py_RETURN_NONE;
}

}  // namespace tarnu::py
