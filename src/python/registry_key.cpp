// The RegistryKey class: one key of a hive, holding a share of the hive and its key node's cell offset. The key
// logic lives in the core (src/key); these methods take arguments, call it and build the Python results.
#include <functional>
#include <vector>

#include "key/key.h"
#include "key/key_path.h"
#include "key/lookup.h"
#include "python/binding.h"

namespace tarnu::py {
namespace {

struct KeyFields {
    SharedHive hive;
    std::string name;
    uint32_t offset;
    uint32_t subkey_count;
    uint32_t value_count;
};

struct RegistryKeyObject {
    PyObject_HEAD
    KeyFields fields;
};

const KeyFields& key_of(PyObject* self) { return reinterpret_cast<RegistryKeyObject*>(self)->fields; }

// The key's node, read again (from the key cache once it has been read).
Result<KeyNode> node_of(const KeyFields& key) { return parse_key_node(*key.hive, key.offset); }

// FILETIME (100-nanosecond intervals since 1601) to whole seconds since 1970.
constexpr uint64_t kFiletimeTicksPerSecond = 10000000;
constexpr int64_t kFiletimeEpochOffsetSeconds = 11644473600;

PyObject* key_name(PyObject* self, PyObject*) { return new_str(key_of(self).name); }
PyObject* key_subkey_count(PyObject* self, PyObject*) { return PyLong_FromUnsignedLong(key_of(self).subkey_count); }
PyObject* key_value_count(PyObject* self, PyObject*) { return PyLong_FromUnsignedLong(key_of(self).value_count); }
PyObject* key_cell_offset(PyObject* self, PyObject*) { return PyLong_FromUnsignedLong(key_of(self).offset); }

PyObject* key_subkeys(PyObject* self, PyObject*) {
    return guarded(
        [&]() -> PyObject* {
            const KeyFields& key = key_of(self);
            SharedHive hive = key.hive;
            auto children = without_gil([&]() -> Result<std::vector<KeyNode>> {
                TARNU_TRY(KeyNode node, node_of(key));
                return read_subkeys(*hive, node);
            });
            return respond(std::move(children), [&](auto& nodes) {
                return new_list(nodes, [&](KeyNode& child) { return new_registry_key(hive, std::move(child)); });
            });
        },
        FaultStyle::RuntimeError);
}

PyObject* key_values(PyObject* self, PyObject*) {
    return guarded(
        [&]() -> PyObject* {
            const KeyFields& key = key_of(self);
            auto values = without_gil([&]() -> Result<std::vector<KeyValue>> {
                TARNU_TRY(KeyNode node, node_of(key));
                return read_values(*key.hive, node);
            });
            return respond(std::move(values), [](auto& list) {
                return new_list(list, [](KeyValue& value) {
                    return new_registry_value(std::move(value.key), std::move(value.data));
                });
            });
        },
        FaultStyle::RuntimeError);
}

PyObject* key_value(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&]() -> PyObject* {
            PyObject* argv[1];
            std::string wanted;
            if (!parse_arguments("RegistryKey.value", args, kwargs, {"name"}, 1, argv)) return nullptr;
            if (!text_argument("name", argv[0], wanted)) return nullptr;
            const KeyFields& key = key_of(self);
            auto found = without_gil([&]() -> Result<KeyValue> {
                TARNU_TRY(KeyNode node, node_of(key));
                return find_value(*key.hive, node, wanted);
            });
            return respond(std::move(found), [](KeyValue& value) {
                return new_registry_value(std::move(value.key), std::move(value.data));
            });
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
        auto found = [&]() -> Result<std::optional<KeyNode>> {
            TARNU_TRY(KeyNode node, node_of(key));
            return find_key(*key.hive, node, path);
        };
        return found_key(key.hive, found(), path);
    });
}

PyObject* key_parent(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const KeyFields& key = key_of(self);
        auto parent = [&]() -> Result<std::optional<KeyNode>> {
            TARNU_TRY(KeyNode node, node_of(key));
            return read_parent(*key.hive, node);
        };
        return respond(parent(), [&](std::optional<KeyNode>& node) -> PyObject* {
            if (!node) Py_RETURN_NONE;
            return new_registry_key(key.hive, std::move(*node));
        });
    });
}

PyObject* key_path_method(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const KeyFields& key = key_of(self);
        auto path = [&]() -> Result<std::string> {
            TARNU_TRY(KeyNode node, node_of(key));
            return key_path(*key.hive, node);
        };
        return respond(path(), [](const std::string& text) { return new_str(text); });
    });
}

PyObject* key_class_name(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const KeyFields& key = key_of(self);
        auto name = [&]() -> Result<std::optional<std::string>> {
            TARNU_TRY(KeyNode node, node_of(key));
            return read_class_name(*key.hive, node);
        };
        return respond(name(), [](std::optional<std::string>& text) -> PyObject* {
            if (!text) Py_RETURN_NONE;
            return new_str(*text);
        });
    });
}

PyObject* key_security_descriptor(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const KeyFields& key = key_of(self);
        auto descriptor = [&]() -> Result<std::optional<std::vector<uint8_t>>> {
            TARNU_TRY(KeyNode node, node_of(key));
            return read_security_descriptor(*key.hive, node);
        };
        return respond(descriptor(), [](std::optional<std::vector<uint8_t>>& bytes) -> PyObject* {
            if (!bytes) Py_RETURN_NONE;
            return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes->data()),
                                             static_cast<Py_ssize_t>(bytes->size()));
        });
    });
}

PyObject* key_last_written_timestamp(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        return respond(node_of(key_of(self)), [](KeyNode& node) -> PyObject* {
            if (node.last_written == 0) Py_RETURN_NONE;
            const int64_t seconds =
                static_cast<int64_t>(node.last_written / kFiletimeTicksPerSecond) - kFiletimeEpochOffsetSeconds;
            return PyLong_FromLongLong(seconds);
        });
    });
}

PyObject* key_last_written(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        return respond(node_of(key_of(self)), [](KeyNode& node) { return new_utc_datetime(node.last_written); });
    });
}

PyObject* key_last_written_filetime(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        return respond(node_of(key_of(self)),
                       [](KeyNode& node) { return PyLong_FromUnsignedLongLong(node.last_written); });
    });
}

PyObject* key_walk(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[1];
        WalkErrors errors;
        if (!parse_arguments("RegistryKey.walk", args, kwargs, {"errors"}, 0, argv)) return nullptr;
        if (!walk_errors_argument(argv[0], errors)) return nullptr;
        const KeyFields& key = key_of(self);
        return respond(node_of(key), [&](KeyNode& node) { return new_key_walk(key.hive, std::move(node), errors); });
    });
}

PyObject* key_repr(PyObject* self) {
    return guarded([&] {
        const KeyFields& key = key_of(self);
        return new_str("RegistryKey(name='" + key.name + "', subkeys=" + std::to_string(key.subkey_count) +
                       ", values=" + std::to_string(key.value_count) + ")");
    });
}

// Keys are equal when they are the same cell of the same hive (the one shared hive, not an equal copy of it).
PyObject* key_richcompare(PyObject* self, PyObject* other, int op) {
    if ((op != Py_EQ && op != Py_NE) || Py_TYPE(other) != types.registry_key) Py_RETURN_NOTIMPLEMENTED;
    const KeyFields& a = key_of(self);
    const KeyFields& b = key_of(other);
    const bool same = a.hive.get() == b.hive.get() && a.offset == b.offset;
    return PyBool_FromLong((op == Py_EQ) == same ? 1 : 0);
}

Py_hash_t key_hash(PyObject* self) {
    const KeyFields& key = key_of(self);
    const size_t mixed = std::hash<const void*>{}(key.hive.get()) * 1000003u ^ key.offset;
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
    {"value", with_keywords(key_value), METH_VARARGS | METH_KEYWORDS,
     "value($self, name)\n--\n\nGet a specific value by name"},
    {"last_written_timestamp", key_last_written_timestamp, METH_NOARGS,
     "last_written_timestamp($self)\n--\n\nGet the last write timestamp as Unix timestamp (seconds since epoch)"},
    {"subkey", with_keywords(key_subkey), METH_VARARGS | METH_KEYWORDS,
     "subkey($self, path)\n--\n\nGet the subkey at a relative path of names joined by backslashes; names compare "
     "as the registry compares them, without regard to letter case. Raises ValueError when there is none"},
    {"parent", key_parent, METH_NOARGS, "parent($self)\n--\n\nGet the parent key, or None for the root key"},
    {"path", key_path_method, METH_NOARGS,
     "path($self)\n--\n\nGet the names from below the root down to this key, joined by backslashes (\"\" for the "
     "root key)"},
    {"class_name", key_class_name, METH_NOARGS, "class_name($self)\n--\n\nGet the class name, or None"},
    {"security_descriptor", key_security_descriptor, METH_NOARGS,
     "security_descriptor($self)\n--\n\nGet the raw bytes of the key's security descriptor, or None"},
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
    return reinterpret_cast<PyObject*>(alloc_object<RegistryKeyObject>(
        types.registry_key, hive, std::move(node.name), node.offset, node.subkey_count, node.value_count));
}

PyObject* found_key(const SharedHive& hive, Result<std::optional<KeyNode>>&& found, const std::string& path) {
    if (found.ok() && !found.value()) {
        raise_error(key_not_found(path));
        return nullptr;
    }
    return respond(std::move(found), [&](std::optional<KeyNode>& node) { return new_registry_key(hive, std::move(*node)); });
}

}  // namespace tarnu::py
