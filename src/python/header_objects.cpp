// BaseBlock and HbinHeader: copies of the hive's header records, shown as read-only attributes.
#include "python/binding.h"
#include "utils/format.h"
#include "utils/text.h"

namespace tarnu::py {
namespace {

struct BaseBlockObject {
    PyObject_HEAD
    struct {
        BaseBlock base;
    } fields;
};

struct HbinHeaderObject {
    PyObject_HEAD
    struct {
        HbinHeader header;
    } fields;
};

const BaseBlock& base_of(PyObject* self) { return reinterpret_cast<BaseBlockObject*>(self)->fields.base; }
const HbinHeader& header_of(PyObject* self) { return reinterpret_cast<HbinHeaderObject*>(self)->fields.header; }

template <size_t N>
std::string signature_text(const std::array<uint8_t, N>& signature) {
    return utf8_lossy(Bytes(signature.data(), signature.size()));
}

PyObject* base_signature(PyObject* self, void*) {
    return guarded([&] { return new_str(signature_text(base_of(self).signature)); });
}
PyObject* base_primary_sequence(PyObject* self, void*) { return PyLong_FromUnsignedLong(base_of(self).primary_sequence); }
PyObject* base_secondary_sequence(PyObject* self, void*) {
    return PyLong_FromUnsignedLong(base_of(self).secondary_sequence);
}
PyObject* base_root_cell_offset(PyObject* self, void*) { return PyLong_FromUnsignedLong(base_of(self).root_cell_offset); }
PyObject* base_hive_bins_data_size(PyObject* self, void*) {
    return PyLong_FromUnsignedLong(base_of(self).hive_bins_data_size);
}
PyObject* base_file_name(PyObject* self, void*) { return new_str(base_of(self).file_name); }
PyObject* base_last_written(PyObject* self, void*) { return PyLong_FromUnsignedLongLong(base_of(self).last_written); }
PyObject* base_last_written_datetime(PyObject* self, void*) {
    return guarded([&] { return new_utc_datetime(base_of(self).last_written); });
}

// The old names of the sequence numbers: the same values, with a DeprecationWarning naming the one to use.
PyObject* deprecated_alias(PyObject* self, const char* text, PyObject* (*getter)(PyObject*, void*)) {
    if (PyErr_WarnEx(PyExc_DeprecationWarning, text, 1) != 0) return nullptr;
    return getter(self, nullptr);
}
PyObject* base_primary_sequence_number(PyObject* self, void*) {
    return deprecated_alias(self, "BaseBlock.primary_sequence_number is deprecated; use primary_sequence",
                            base_primary_sequence);
}
PyObject* base_secondary_sequence_number(PyObject* self, void*) {
    return deprecated_alias(self, "BaseBlock.secondary_sequence_number is deprecated; use secondary_sequence",
                            base_secondary_sequence);
}
PyObject* base_major_version(PyObject* self, void*) { return PyLong_FromUnsignedLong(base_of(self).major_version); }
PyObject* base_minor_version(PyObject* self, void*) { return PyLong_FromUnsignedLong(base_of(self).minor_version); }
PyObject* base_file_type(PyObject* self, void*) { return PyLong_FromUnsignedLong(base_of(self).file_type); }
PyObject* base_file_format(PyObject* self, void*) { return PyLong_FromUnsignedLong(base_of(self).file_format); }
PyObject* base_clustering_factor(PyObject* self, void*) {
    return PyLong_FromUnsignedLong(base_of(self).clustering_factor);
}
PyObject* base_flags(PyObject* self, void*) { return PyLong_FromUnsignedLong(base_of(self).flags); }
PyObject* base_checksum(PyObject* self, void*) { return PyLong_FromUnsignedLong(base_of(self).checksum); }
PyObject* base_checksum_ok(PyObject* self, void*) { return PyBool_FromLong(base_of(self).checksum_ok ? 1 : 0); }
PyObject* base_is_dirty(PyObject* self, void*) {
    const BaseBlock& base = base_of(self);
    return PyBool_FromLong(base.primary_sequence != base.secondary_sequence);
}

PyObject* base_repr(PyObject* self) {
    return guarded([&] {
        const BaseBlock& base = base_of(self);
        return new_str("BaseBlock(signature=" + signature_text(base.signature) + ", root_offset=" +
                       hex(base.root_cell_offset) + ", hive_length=" + hex(base.hive_bins_data_size) + ")");
    });
}

PyGetSetDef base_getset[] = {
    {"signature", base_signature, nullptr, "Get the signature (should be \"regf\")", nullptr},
    {"primary_sequence", base_primary_sequence, nullptr, "Get the primary sequence number", nullptr},
    {"secondary_sequence", base_secondary_sequence, nullptr, "Get the secondary sequence number", nullptr},
    {"root_cell_offset", base_root_cell_offset, nullptr, "Get the root cell offset", nullptr},
    {"hive_length", base_hive_bins_data_size, nullptr, "Get the hive length (size of hive data in bytes)", nullptr},
    {"file_name", base_file_name, nullptr, "Get the file name", nullptr},
    {"hive_bins_data_size", base_hive_bins_data_size, nullptr, "Get the hive bins data size (same as hive_length)",
     nullptr},
    {"primary_sequence_number", base_primary_sequence_number, nullptr,
     "Deprecated: the primary sequence number, under its old name (use primary_sequence)", nullptr},
    {"secondary_sequence_number", base_secondary_sequence_number, nullptr,
     "Deprecated: the secondary sequence number, under its old name (use secondary_sequence)", nullptr},
    {"is_dirty", base_is_dirty, nullptr,
     "Whether the hive is dirty: its sequence numbers differ, so its latest changes are in its transaction logs",
     nullptr},
    {"last_written", base_last_written, nullptr, "Get the last-written time as a raw FILETIME", nullptr},
    {"last_written_filetime", base_last_written, nullptr,
     "Get the last-written time as a raw FILETIME, as RegistryKey.last_written_filetime() gives a key's", nullptr},
    {"last_written_datetime", base_last_written_datetime, nullptr,
     "Get the last-written time as a datetime in UTC, None for 0, as RegistryKey.last_written() gives a key's; "
     "ValueError past the year 9999", nullptr},
    {"major_version", base_major_version, nullptr, "Get the major version (1)", nullptr},
    {"minor_version", base_minor_version, nullptr, "Get the minor version (3 to 6)", nullptr},
    {"file_type", base_file_type, nullptr, "Get the file type (0 for a primary hive file)", nullptr},
    {"file_format", base_file_format, nullptr, "Get the file format (1)", nullptr},
    {"clustering_factor", base_clustering_factor, nullptr, "Get the clustering factor (1)", nullptr},
    {"flags", base_flags, nullptr, "Get the flags (bit 0: pending transactions)", nullptr},
    {"checksum", base_checksum, nullptr, "Get the stored checksum of the first 508 bytes", nullptr},
    {"checksum_ok", base_checksum_ok, nullptr,
     "Whether the stored checksum matches the first 508 bytes (False only for a hive opened with "
     "ignore_checksum=True)", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot base_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for BaseBlock")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<BaseBlockObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(base_repr)},
    {Py_tp_getset, base_getset},
    {0, nullptr},
};

PyObject* hbin_signature(PyObject* self, void*) {
    return guarded([&] { return new_str(signature_text(header_of(self).signature)); });
}
PyObject* hbin_offset(PyObject* self, void*) { return PyLong_FromUnsignedLong(header_of(self).offset); }
PyObject* hbin_size(PyObject* self, void*) { return PyLong_FromUnsignedLong(header_of(self).size); }

PyObject* hbin_repr(PyObject* self) {
    return guarded([&] {
        const HbinHeader& header = header_of(self);
        return new_str("HbinHeader(offset=" + hex(header.offset) + ", size=" + hex(header.size) + ")");
    });
}

PyGetSetDef hbin_getset[] = {
    {"signature", hbin_signature, nullptr, "Get the signature (should be \"hbin\")", nullptr},
    {"offset", hbin_offset, nullptr, "Get the offset from the start of the hive bins data", nullptr},
    {"size", hbin_size, nullptr, "Get the size of this hbin", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot hbin_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for HbinHeader")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<HbinHeaderObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(hbin_repr)},
    {Py_tp_getset, hbin_getset},
    {0, nullptr},
};

}  // namespace

PyType_Spec base_block_spec = {"builtins.BaseBlock", sizeof(BaseBlockObject), 0, Py_TPFLAGS_DEFAULT, base_slots};
PyType_Spec hbin_header_spec = {"builtins.HbinHeader", sizeof(HbinHeaderObject), 0, Py_TPFLAGS_DEFAULT, hbin_slots};

PyObject* new_base_block(const BaseBlock& base) {
    return reinterpret_cast<PyObject*>(alloc_object<BaseBlockObject>(types.base_block, base));
}

PyObject* new_hbin_header(const HbinHeader& header) {
    return reinterpret_cast<PyObject*>(alloc_object<HbinHeaderObject>(types.hbin_header, header));
}

}  // namespace tarnu::py
