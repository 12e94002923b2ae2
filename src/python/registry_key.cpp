// The RegistryKey class: one key of a hive, holding a share of the hive and its key node's cell offset.
#include <vector>

#include "python/binding.h"
#include "subkey_list/subkey_list.h"

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

// FILETIME (100-nanosecond intervals since 1601) to whole seconds since 1970.
constexpr uint64_t kFiletimeTicksPerSecond = 10000000;
constexpr int64_t kFiletimeEpochOffsetSeconds = 11644473600;

PyObject* key_name(PyObject* self, PyObject*) { return new_str(key_of(self).name); }
PyObject* key_subkey_count(PyObject* self, PyObject*) { return PyLong_FromUnsignedLong(key_of(self).subkey_count); }
PyObject* key_value_count(PyObject* self, PyObject*) { return PyLong_FromUnsignedLong(key_of(self).value_count); }

// Reads the key's node again and then every child node, in stored order. One unreadable child fails the call.
Result<std::vector<KeyNode>> read_children(const Hive& hive, uint32_t offset) {
    TARNU_TRY(KeyNode node, parse_key_node(hive, offset));
    std::vector<KeyNode> children;
    if (node.subkey_count == 0) return children;
    std::vector<uint32_t> offsets;
    TARNU_CHECK(collect_subkey_offsets(node, node.subkey_list_offset, offsets));
    children.reserve(offsets.size());
    for (uint32_t child : offsets) {
        TARNU_TRY(KeyNode child_node, parse_key_node(hive, child));
        children.push_back(std::move(child_node));
    }
    return children;
}

PyObject* key_subkeys(PyObject* self, PyObject*) {
    return guarded(
        [&]() -> PyObject* {
            const KeyFields& key = key_of(self);
            SharedHive hive = key.hive;
            const uint32_t offset = key.offset;
            return respond(without_gil([&] { return read_children(*hive, offset); }), [&](auto& children) {
                return new_list(children, [&](KeyNode& child) { return new_registry_key(hive, std::move(child)); });
            });
        },
        FaultStyle::RuntimeError);
}

// A value key and its data, read together while the interpreter lock is released.
struct ReadValue {
    ValueKey key;
    std::vector<uint8_t> data;
};

Result<std::vector<ReadValue>> read_values(const Hive& hive, uint32_t offset) {
    TARNU_TRY(KeyNode node, parse_key_node(hive, offset));
    TARNU_TRY(std::vector<ValueKey> keys, read_value_list(hive, node));
    std::vector<ReadValue> values;
    values.reserve(keys.size());
    for (ValueKey& key : keys) {
        // A value whose data cannot be read is still listed, with empty data.
        auto data = read_value_data(key);
        values.push_back(ReadValue{std::move(key), data.ok() ? std::move(data).value() : std::vector<uint8_t>{}});
    }
    return values;
}

PyObject* key_values(PyObject* self, PyObject*) {
    return guarded(
        [&]() -> PyObject* {
            const KeyFields& key = key_of(self);
            SharedHive hive = key.hive;
            const uint32_t offset = key.offset;
            return respond(without_gil([&] { return read_values(*hive, offset); }), [](auto& values) {
                return new_list(values, [](ReadValue& value) {
                    return new_registry_value(std::move(value.key), std::move(value.data));
                });
            });
        },
        FaultStyle::RuntimeError);
}

// Value names match when their UTF-8 bytes are equal after folding A-Z onto a-z; nothing else is folded.
bool names_match(const std::string& stored, const std::string& wanted) {
    if (stored.size() != wanted.size()) return false;
    for (size_t i = 0; i < stored.size(); ++i) {
        auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (fold(stored[i]) != fold(wanted[i])) return false;
    }
    return true;
}

Result<ReadValue> find_value(const Hive& hive, uint32_t offset, const std::string& wanted) {
    TARNU_TRY(KeyNode node, parse_key_node(hive, offset));
    TARNU_TRY(std::vector<ValueKey> keys, read_value_list(hive, node));
    for (ValueKey& key : keys) {
        // The unnamed value is named "(default)", so it answers to that in any case and never to "".
        if (!names_match(key.name, wanted)) continue;
        TARNU_TRY(std::vector<uint8_t> data, read_value_data(key));
        return ReadValue{std::move(key), std::move(data)};
    }
    return HiveError::not_found("Value '" + wanted + "'");
}

PyObject* key_value(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&]() -> PyObject* {
            PyObject* argv[1];
            std::string wanted;
            if (!parse_arguments("RegistryKey.value", args, kwargs, {"name"}, 1, argv)) return nullptr;
            if (!text_argument("name", argv[0], wanted)) return nullptr;
            const KeyFields& key = key_of(self);
            SharedHive hive = key.hive;
            const uint32_t offset = key.offset;
            return respond(without_gil([&] { return find_value(*hive, offset, wanted); }), [](ReadValue& found) {
                return new_registry_value(std::move(found.key), std::move(found.data));
            });
        },
        FaultStyle::RuntimeError);
}

PyObject* key_last_written_timestamp(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const KeyFields& key = key_of(self);
        return respond(parse_key_node(*key.hive, key.offset), [](KeyNode& node) -> PyObject* {
            if (node.last_written == 0) Py_RETURN_NONE;
            const int64_t seconds =
                static_cast<int64_t>(node.last_written / kFiletimeTicksPerSecond) - kFiletimeEpochOffsetSeconds;
            return PyLong_FromLongLong(seconds);
        });
    });
}

PyObject* key_repr(PyObject* self) {
    return guarded([&] {
        const KeyFields& key = key_of(self);
        return new_str("RegistryKey(name='" + key.name + "', subkeys=" + std::to_string(key.subkey_count) +
                       ", values=" + std::to_string(key.value_count) + ")");
    });
}

PyMethodDef key_methods[] = {
    {"name", key_name, METH_NOARGS, "name($self)\n--\n\nGet the key name"},
    {"subkey_count", key_subkey_count, METH_NOARGS, "subkey_count($self)\n--\n\nGet the number of subkeys"},
    {"value_count", key_value_count, METH_NOARGS, "value_count($self)\n--\n\nGet the number of values"},
    {"subkeys", key_subkeys, METH_NOARGS, "subkeys($self)\n--\n\nGet all subkeys"},
    {"values", key_values, METH_NOARGS, "values($self)\n--\n\nGet all values"},
    {"value", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(key_value)), METH_VARARGS | METH_KEYWORDS,
     "value($self, name)\n--\n\nGet a specific value by name"},
    {"last_written_timestamp", key_last_written_timestamp, METH_NOARGS,
     "last_written_timestamp($self)\n--\n\nGet the last write timestamp as Unix timestamp (seconds since epoch)"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot key_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for RegistryKey\n\n"
                                  "It stores a shared reference to the hive and the key's offset, so it does not "
                                  "depend on the lifetime of the Hive or key object it came from.")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<RegistryKeyObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(key_repr)},
    {Py_tp_methods, key_methods},
    {0, nullptr},
};

}  // namespace

PyType_Spec registry_key_spec = {"builtins.RegistryKey", sizeof(RegistryKeyObject), 0, Py_TPFLAGS_DEFAULT, key_slots};

PyObject* new_registry_key(const SharedHive& hive, KeyNode&& node) {
    return reinterpret_cast<PyObject*>(alloc_object<RegistryKeyObject>(
        types.registry_key, hive, std::move(node.name), node.offset, node.subkey_count, node.value_count));
}

}  // namespace tarnu::py
