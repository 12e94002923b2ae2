// The RegistryKey class: one key of a hive, holding a share of the hive and its key node's cell offset. The key
// logic lives in the core (src/tree); these methods take arguments, call it and build the Python results.
#include <functional>
#include <unordered_map>
#include <vector>

#include "python/binding.h"
#include "recovery/intact_keys.h"
#include "tree/key.h"
#include "tree/key_path.h"
#include "tree/lookup.h"
#include "tree/nodes.h"
#include "tree/offset_set.h"

namespace tarnu::py {
namespace {

struct KeyFields {
    SharedHive hive;
    KeyNode node;  // read when the object was made; the hive never changes, so no method reads it again
};

struct RegistryKeyObject {
    PyObject_HEAD
    KeyFields fields;
};

const KeyFields& key_of(PyObject* self) { return reinterpret_cast<RegistryKeyObject*>(self)->fields; }
const KeyNode& node_of(PyObject* self) { return key_of(self).node; }

// FILETIME (100-nanosecond intervals since 1601) to whole seconds since 1970.
constexpr uint64_t kFiletimeTicksPerSecond = 10000000;
constexpr int64_t kFiletimeEpochOffsetSeconds = 11644473600;

PyObject* key_name(PyObject* self, PyObject*) { return new_str(node_of(self).name); }
PyObject* key_subkey_count(PyObject* self, PyObject*) { return PyLong_FromUnsignedLong(node_of(self).subkey_count); }
PyObject* key_value_count(PyObject* self, PyObject*) { return PyLong_FromUnsignedLong(node_of(self).value_count); }
PyObject* key_cell_offset(PyObject* self, PyObject*) { return PyLong_FromUnsignedLong(node_of(self).offset); }

// The children's nodes are read with the interpreter lock held: a few hundred nanoseconds per child, less than
// making the child's Python object, and far less than handing the lock to another thread and back. Each is read
// as `read_subkeys` reads it, against the same budget, and goes straight into its RegistryKey; the first that cannot
// be read fails the call. A child the lists name again is the same RegistryKey again: it costs the list one slot,
// and only the distinct children count against the budget.
PyObject* key_subkeys(PyObject* self, PyObject*) {
    return guarded(
        [&]() -> PyObject* {
            const KeyFields& key = key_of(self);
            return respond(child_offsets(*key.hive, key.node), [&](std::vector<uint32_t>& offsets) -> PyObject* {
                PyObject* list = PyList_New(static_cast<Py_ssize_t>(offsets.size()));
                if (list == nullptr) return nullptr;
                GatherBudget budget = subkeys_budget(*key.hive, key.node);
                FewOffsets seen;
                std::unordered_map<uint32_t, Py_ssize_t> first;  // where each child is first, once one repeats
                size_t mapped = 0;                                // the positions entered in `first`
                for (size_t i = 0; i < offsets.size(); ++i) {
                    const auto at = static_cast<Py_ssize_t>(i);
                    PyObject* child = nullptr;
                    if (!seen.insert(offsets[i])) {
                        for (; mapped < i; ++mapped) first.emplace(offsets[mapped], static_cast<Py_ssize_t>(mapped));
                        child = PyList_GetItem(list, first.at(offsets[i]));
                        Py_INCREF(child);
                    } else {
                        child = respond(read_subkey(*key.hive, offsets[i], budget),
                                        [&](KeyNode& node) { return new_registry_key(key.hive, std::move(node)); });
                    }
                    if (child == nullptr) {
                        Py_DECREF(list);
                        return nullptr;
                    }
                    PyList_SetItem(list, at, child);
                }
                return list;
            });
        },
        FaultStyle::RuntimeError);
}

// Values are read in two steps: the value list, then where each value's data lies (with the lock released when the
// list declares large data). Each value's data is then copied once, straight into its RegistryValue; large data
// with the lock released, once for the whole list.
PyObject* key_values(PyObject* self, PyObject*) {
    return guarded(
        [&]() -> PyObject* {
            const KeyFields& key = key_of(self);
            ReaderLease lease;
            ValueReader& reader = lease.reader();
            Status read = read_values_releasing_large(*key.hive, key.node, reader);
            if (!read.ok()) {
                raise_error(read.error());
                return nullptr;
            }
            PieceCopies copies;
            PyObject* list = new_list_of(reader.size(), [&](size_t i) -> PyObject* {
                const size_t size = reader.data_size(i);
                uint8_t* into = nullptr;
                PyObject* value = new_registry_value_unwritten(reader.key(i), size, into);
                if (value != nullptr) copies.copy(reader.pieces(i), size, into);
                return value;
            });
            if (list != nullptr) copies.finish();
            return list;
        },
        FaultStyle::RuntimeError);
}

// The value that `find_value_key` finds by `wanted`, with its data.
PyObject* found_value(PyObject* self, const std::string& wanted) {
    const KeyFields& key = key_of(self);
    auto value = find_value_key(*key.hive, key.node, wanted);
    if (!value.ok()) {
        raise_error(value.error());
        return nullptr;
    }
    return respond(read_value_data_releasing_large(value.value()),
                   [&](const ValueBytes& data) { return new_registry_value(value.value(), data.view()); });
}

PyObject* key_value(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&]() -> PyObject* {
            PyObject* argv[1];
            std::string wanted;
            if (!parse_arguments("RegistryKey.value", args, kwargs, {"name"}, 1, argv)) return nullptr;
            if (!text_argument("name", argv[0], wanted)) return nullptr;
            return found_value(self, wanted);
        },
        FaultStyle::RuntimeError);
}

PyObject* key_default_value(PyObject* self, PyObject*) {
    return guarded([&] { return found_value(self, std::string()); }, FaultStyle::RuntimeError);
}

PyObject* key_value_records(PyObject* self, PyObject*) {
    return guarded(
        [&]() -> PyObject* {
            const KeyFields& key = key_of(self);
            return new_value_records(*key.hive, key.node);
        },
        FaultStyle::RuntimeError);
}

PyObject* key_subkey(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[1];
        std::string path;
        if (!parse_arguments("RegistryKey.subkey", args, kwargs, {"path"}, 1, argv)) return nullptr;
        if (!text_argument("path", argv[0], path)) return nullptr;
        const KeyFields& key = key_of(self);
        return found_key(key.hive, find_key(*key.hive, key.node, path), path);
    });
}

PyObject* key_parent(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const KeyFields& key = key_of(self);
        return respond(read_parent(*key.hive, key.node), [&](std::optional<KeyNode>& node) -> PyObject* {
            if (!node) Py_RETURN_NONE;
            return new_registry_key(key.hive, std::move(*node));
        });
    });
}

PyObject* key_path_method(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const KeyFields& key = key_of(self);
        return respond(key_path(*key.hive, key.node), [](const std::string& text) { return new_str(text); });
    });
}

PyObject* key_partial_path(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const KeyFields& key = key_of(self);
        const PartialPath path = path_as_far_as_it_reads(*key.hive, key.node);
        PyObject* text = new_str(path.path);
        if (text == nullptr) return nullptr;
        return Py_BuildValue("(NO)", text, path.complete ? Py_True : Py_False);
    });
}

PyObject* key_class_name(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const KeyFields& key = key_of(self);
        return respond(read_class_name(*key.hive, key.node), [](std::optional<std::string>& text) -> PyObject* {
            if (!text) Py_RETURN_NONE;
            return new_str(*text);
        });
    });
}

PyObject* key_security_descriptor(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const KeyFields& key = key_of(self);
        return respond(read_security_descriptor(*key.hive, key.node),
                       [](std::optional<std::vector<uint8_t>>& bytes) -> PyObject* {
                           if (!bytes) Py_RETURN_NONE;
                           return new_bytes(*bytes);
                       });
    });
}

// The descriptor decoded by `tarnu.decode.security_descriptor`, so that both give the one SecurityDescriptor type.
PyObject* key_security(PyObject* self, PyObject*) {
    PyObject* raw = key_security_descriptor(self, nullptr);
    if (raw == nullptr || raw == Py_None) return raw;
    PyObject* decode = PyImport_ImportModule("tarnu.decode");
    PyObject* result = decode != nullptr ? PyObject_CallMethod(decode, "security_descriptor", "O", raw) : nullptr;
    Py_XDECREF(decode);
    Py_DECREF(raw);
    return result;
}

PyObject* key_last_written_timestamp(PyObject* self, PyObject*) {
    const uint64_t filetime = node_of(self).last_written;
    if (filetime == 0) Py_RETURN_NONE;
    const int64_t seconds = static_cast<int64_t>(filetime / kFiletimeTicksPerSecond) - kFiletimeEpochOffsetSeconds;
    return PyLong_FromLongLong(seconds);
}

PyObject* key_last_written(PyObject* self, PyObject*) { return new_utc_datetime(node_of(self).last_written); }

PyObject* key_last_written_filetime(PyObject* self, PyObject*) {
    return PyLong_FromUnsignedLongLong(node_of(self).last_written);
}

PyObject* key_walk(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[1];
        WalkErrors errors;
        if (!parse_arguments("RegistryKey.walk", args, kwargs, {"errors"}, 0, argv)) return nullptr;
        if (!walk_errors_argument(argv[0], errors)) return nullptr;
        const KeyFields& key = key_of(self);
        return new_key_walk(key.hive, KeyNode(key.node), errors);
    });
}

PyObject* key_repr(PyObject* self) {
    return guarded([&] {
        const KeyNode& node = node_of(self);
        return new_str("RegistryKey(name='" + node.name + "', subkeys=" + std::to_string(node.subkey_count) +
                       ", values=" + std::to_string(node.value_count) + ")");
    });
}

// Keys are equal when they are the same cell of the same hive (the one shared hive, not an equal copy of it).
PyObject* key_richcompare(PyObject* self, PyObject* other, int op) {
    if ((op != Py_EQ && op != Py_NE) || Py_TYPE(other) != types.registry_key) Py_RETURN_NOTIMPLEMENTED;
    const KeyFields& a = key_of(self);
    const KeyFields& b = key_of(other);
    const bool same = a.hive.get() == b.hive.get() && a.node.offset == b.node.offset;
    return PyBool_FromLong((op == Py_EQ) == same ? 1 : 0);
}

Py_hash_t key_hash(PyObject* self) {
    const KeyFields& key = key_of(self);
    const size_t mixed = std::hash<const void*>{}(key.hive.get()) * 1000003u ^ key.node.offset;
    const Py_hash_t hash = static_cast<Py_hash_t>(mixed);
    return hash == -1 ? -2 : hash;  // -1 means "failed" to the interpreter
}

template <typename F>
PyCFunction with_keywords(F function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef key_methods[] = {
    {"name", key_name, METH_NOARGS, "name($self)\n--\n\nGet the key name"},
    {"subkey_count", key_subkey_count, METH_NOARGS, "subkey_count($self)\n--\n\nGet the number of subkeys"},
    {"value_count", key_value_count, METH_NOARGS, "value_count($self)\n--\n\nGet the number of values"},
    {"subkeys", key_subkeys, METH_NOARGS, "subkeys($self)\n--\n\nGet all subkeys"},
    {"values", key_values, METH_NOARGS, "values($self)\n--\n\nGet all values"},
    {"value_records", key_value_records, METH_NOARGS,
     "value_records($self)\n--\n\nGet every value in one call as a list of (name, type_id, raw_data, data) tuples "
     "of plain objects, in value-list order: data is what the ValueData accessors give (str, int, list of str or "
     "bytes), or None for REG_NONE, empty data, other types and data that does not decode. Unreadable data is "
     "listed as empty bytes, as values() lists it"},
    {"value", with_keywords(key_value), METH_VARARGS | METH_KEYWORDS,
     "value($self, name)\n--\n\nGet a specific value by name"},
    {"default_value", key_default_value, METH_NOARGS,
     "default_value($self)\n--\n\nGet the unnamed (default) value alone, as value(\"\") does (value(\"(default)\") "
     "finds the first of it and a value stored under that name); ValueNotFoundError when the key has none"},
    {"last_written_timestamp", key_last_written_timestamp, METH_NOARGS,
     "last_written_timestamp($self)\n--\n\nGet the last write timestamp as Unix timestamp (seconds since epoch)"},
    {"subkey", with_keywords(key_subkey), METH_VARARGS | METH_KEYWORDS,
     "subkey($self, path)\n--\n\nGet the subkey at a relative path of names joined by backslashes; names compare "
     "as the registry compares them, without regard to letter case. Raises ValueError when there is none"},
    {"parent", key_parent, METH_NOARGS, "parent($self)\n--\n\nGet the parent key, or None for the root key"},
    {"path", key_path_method, METH_NOARGS,
     "path($self)\n--\n\nGet the names from below the root down to this key, joined by backslashes (\"\" for the "
     "root key)"},
    {"partial_path", key_partial_path, METH_NOARGS,
     "partial_path($self)\n--\n\nGet (path, complete): the path as path() gives it when the chain of parents "
     "reaches the root (complete True); where a parent cannot be read or the chain loops, the names from the "
     "highest key reached (complete False). Raises nothing"},
    {"class_name", key_class_name, METH_NOARGS, "class_name($self)\n--\n\nGet the class name, or None"},
    {"security_descriptor", key_security_descriptor, METH_NOARGS,
     "security_descriptor($self)\n--\n\nGet the raw bytes of the key's security descriptor, or None"},
    {"security", key_security, METH_NOARGS,
     "security($self)\n--\n\nGet the key's security descriptor decoded (tarnu.decode.SecurityDescriptor: owner, "
     "group, DACL, SACL, SDDL text and notes), or None when the key names no security cell"},
    {"last_written", key_last_written, METH_NOARGS,
     "last_written($self)\n--\n\nGet the last write time as a datetime in UTC with microseconds, or None when it "
     "is 0. Raises ValueError for a time past the year 9999"},
    {"last_written_filetime", key_last_written_filetime, METH_NOARGS,
     "last_written_filetime($self)\n--\n\nGet the last write time as stored: a FILETIME (100-nanosecond intervals "
     "since 1601-01-01 UTC)"},
    {"walk", with_keywords(key_walk), METH_VARARGS | METH_KEYWORDS,
     "walk($self, errors='raise')\n--\n\nIterate depth-first over this key and every key below it, children in "
     "stored order, as (path, key) pairs; paths are relative to this key (\"\" for itself). A key reached twice is "
     "visited once. With errors='skip', a subkey list or key that cannot be read is passed over"},
    {"cell_offset", key_cell_offset, METH_NOARGS, "cell_offset($self)\n--\n\nGet the cell offset of the key node"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot key_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for RegistryKey\n\n"
                                  "It stores a shared reference to the hive and the key's offset, so it does not "
                                  "depend on the lifetime of the Hive or key object it came from.")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<RegistryKeyObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(key_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(key_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(key_hash)},
    {Py_tp_methods, key_methods},
    {0, nullptr},
};

}  // namespace

PyType_Spec registry_key_spec = {"builtins.RegistryKey", sizeof(RegistryKeyObject), 0, Py_TPFLAGS_DEFAULT, key_slots};

PyObject* new_registry_key(const SharedHive& hive, KeyNode&& node) {
    return reinterpret_cast<PyObject*>(alloc_object<RegistryKeyObject>(types.registry_key, hive, std::move(node)));
}

PyObject* found_key(const SharedHive& hive, Result<std::optional<KeyNode>>&& found, const std::string& path) {
    if (found.ok() && !found.value()) {
        raise_error(HiveError::key_not_found(path));
        return nullptr;
    }
    return respond(std::move(found), [&](std::optional<KeyNode>& node) { return new_registry_key(hive, std::move(*node)); });
}

}  // namespace tarnu::py
