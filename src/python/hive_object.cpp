// The Hive class: the Python handle of a shared hive, with the ways to open one and the whole-hive views.
#include <optional>

#include "hive/save.h"
#include "logs/logs_beside.h"
#include "logs/replay.h"
#include "python/binding.h"
#include "recovery/intact_keys.h"
#include "tree/hive_type.h"
#include "tree/lookup.h"
#include "tree/nodes.h"
#include "utils/format.h"

namespace tarnu::py {
namespace {

struct HiveObject {
    PyObject_HEAD
    struct {
        SharedHive hive;
        std::shared_ptr<const ReplayReport> report;  // for a hive made by `open_with_logs`
    } fields;
};

const Hive& hive_of(PyObject* self) { return *reinterpret_cast<HiveObject*>(self)->fields.hive; }
const SharedHive& shared_hive_of(PyObject* self) { return reinterpret_cast<HiveObject*>(self)->fields.hive; }

// Hands a finished hive to Python, or raises its error.
PyObject* hive_result(Result<SharedHive>&& result) {
    return respond(std::move(result), [](SharedHive& hive) { return new_hive(std::move(hive)); });
}

PyObject* hive_open(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[2];
        std::string path;
        bool ignore_checksum = false;
        if (!parse_arguments("Hive.open", args, kwargs, {"path", "ignore_checksum"}, 1, argv, 1)) return nullptr;
        if (!path_argument("path", argv[0], path) || !flag_argument(argv[1], ignore_checksum)) return nullptr;
        const ChecksumRule rule = ignore_checksum ? ChecksumRule::Ignore : ChecksumRule::Check;
        return hive_result(without_gil([&] { return open_hive(path, rule); }));
    });
}

PyObject* hive_open_with_logs(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[3];
        if (!parse_arguments("Hive.open_with_logs", args, kwargs, {"hive_path", "log1_path", "log2_path"}, 1, argv)) {
            return nullptr;
        }
        std::string hive_path;
        if (!path_argument("hive_path", argv[0], hive_path)) return nullptr;
        std::optional<std::string> logs[2];
        const char* names[2] = {"log1_path", "log2_path"};
        for (int i = 0; i < 2; ++i) {
            if (argv[i + 1] == nullptr || argv[i + 1] == Py_None) continue;
            std::string path;
            if (!path_argument(names[i], argv[i + 1], path)) return nullptr;
            logs[i] = std::move(path);
        }
        return respond(without_gil([&] { return open_hive_with_logs(hive_path, logs[0], logs[1]); }),
                       [](ReplayedHive& replayed) -> PyObject* {
                           auto report = std::make_shared<const ReplayReport>(std::move(replayed.report));
                           return reinterpret_cast<PyObject*>(
                               alloc_object<HiveObject>(types.hive, std::move(replayed.hive), std::move(report)));
                       });
    });
}

PyObject* hive_open_recovered(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[1];
        std::string path;
        if (!parse_arguments("Hive.open_recovered", args, kwargs, {"path"}, 1, argv)) return nullptr;
        if (!path_argument("path", argv[0], path)) return nullptr;
        return respond(without_gil([&] { return open_recovered(path); }), [](OpenedHive& opened) -> PyObject* {
            auto report = std::make_shared<const ReplayReport>(std::move(*opened.report));
            return reinterpret_cast<PyObject*>(
                alloc_object<HiveObject>(types.hive, std::move(opened.hive), std::move(report)));
        });
    });
}

PyObject* hive_replay_report(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const auto& report = reinterpret_cast<HiveObject*>(self)->fields.report;
        if (report == nullptr) Py_RETURN_NONE;
        return new_replay_report(report);
    });
}

PyObject* hive_from_bytes(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[2];
        ByteBuffer image;
        bool ignore_checksum = false;
        if (!parse_arguments("Hive.from_bytes", args, kwargs, {"data", "ignore_checksum"}, 1, argv, 1)) {
            return nullptr;
        }
        if (!bytes_argument("data", argv[0], image) || !flag_argument(argv[1], ignore_checksum)) return nullptr;
        const ChecksumRule rule = ignore_checksum ? ChecksumRule::Ignore : ChecksumRule::Check;
        return hive_result(build_hive(HiveImage::from_buffer(std::move(image)), rule));
    });
}

PyObject* hive_base_block(PyObject* self, PyObject*) {
    return guarded([&] { return new_base_block(hive_of(self).base_block); });
}

PyObject* hive_hbins(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        SharedHive hive = shared_hive_of(self);
        // One header is read per bin, at least 4096 bytes apart: only a large image makes this long work.
        auto list = [&] { return hbins(*hive); };
        return respond(is_large(hive->bytes().size()) ? without_gil(list) : list(), [](auto& headers) {
            return new_list(headers, [](const HbinHeader& header) { return new_hbin_header(header); });
        });
    });
}

PyObject* hive_root_key(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        SharedHive hive = shared_hive_of(self);
        return respond(parse_key_node(*hive, hive->base_block.root_cell_offset),
                       [&](KeyNode& node) { return new_registry_key(hive, std::move(node)); });
    });
}

PyObject* hive_key(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[1];
        std::string path;
        if (!parse_arguments("Hive.key", args, kwargs, {"path"}, 1, argv)) return nullptr;
        if (!text_argument("path", argv[0], path)) return nullptr;
        const SharedHive& hive = shared_hive_of(self);
        return found_key(hive, find_key_from_root(*hive, path), path);
    });
}

PyObject* hive_type(PyObject* self, PyObject*) {
    return guarded([&] {
        return respond(find_hive_type(hive_of(self)),
                       [](HiveTypeFinding& found) { return new_str(std::string(hive_type_name(found.type))); });
    });
}

PyObject* hive_type_note(PyObject* self, PyObject*) {
    return guarded([&] {
        return respond(find_hive_type(hive_of(self)), [](HiveTypeFinding& found) -> PyObject* {
            if (found.note.empty()) Py_RETURN_NONE;
            return new_str(found.note);
        });
    });
}

PyObject* hive_walk(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[1];
        WalkErrors errors;
        if (!parse_arguments("Hive.walk", args, kwargs, {"errors"}, 0, argv)) return nullptr;
        if (!walk_errors_argument(argv[0], errors)) return nullptr;
        const SharedHive& hive = shared_hive_of(self);
        return respond(parse_key_node(*hive, hive->base_block.root_cell_offset),
                       [&](KeyNode& root) { return new_key_walk(hive, std::move(root), errors); });
    });
}

PyObject* hive_cells(PyObject* self, PyObject*) {
    return guarded([&] { return new_cell_walk(shared_hive_of(self)); });
}

PyObject* hive_deleted(PyObject* self, PyObject*) {
    return guarded([&] { return deleted_records(shared_hive_of(self)); });
}

PyObject* hive_deleted_counts(PyObject* self, PyObject*) {
    return guarded([&] { return deleted_counts(shared_hive_of(self)); });
}

PyObject* hive_key_nodes(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const SharedHive& hive = shared_hive_of(self);
        auto scan = [&] { return intact_key_nodes(*hive); };
        std::vector<KeyNode> nodes = is_large(hive->bytes().size()) ? without_gil(scan) : scan();
        return new_list(nodes, [&](KeyNode& node) { return new_registry_key(hive, std::move(node)); });
    });
}

PyObject* hive_key_at(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[1];
        uint32_t offset = 0;
        if (!parse_arguments("Hive.key_at", args, kwargs, {"offset"}, 1, argv)) return nullptr;
        if (!offset_argument("offset", argv[0], offset)) return nullptr;
        const SharedHive& hive = shared_hive_of(self);
        return respond(parse_key_node(*hive, offset),
                       [&](KeyNode& node) { return new_registry_key(hive, std::move(node)); });
    });
}

PyObject* hive_save(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[1];
        std::string path;
        if (!parse_arguments("Hive.save", args, kwargs, {"path"}, 1, argv)) return nullptr;
        if (!path_argument("path", argv[0], path)) return nullptr;
        SharedHive hive = shared_hive_of(self);
        return respond(without_gil([&] { return save_hive(*hive, path); }), [](Ok) -> PyObject* { Py_RETURN_NONE; });
    });
}

PyObject* hive_repr(PyObject* self) {
    return guarded([&] {
        const BaseBlock& base = hive_of(self).base_block;
        return new_str("Hive(root_offset=" + hex(base.root_cell_offset) + ", hive_length=" +
                       hex(base.hive_bins_data_size) + ")");
    });
}

PyMethodDef hive_methods[] = {
    {"open", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(hive_open)),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "open(path, *, ignore_checksum=False)\n--\n\nOpen a registry hive file"},
    {"open_with_logs", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(hive_open_with_logs)),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "open_with_logs(hive_path, log1_path=None, log2_path=None)\n--\n\nOpen a registry hive with transaction logs "
     "applied"},
    {"open_recovered", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(hive_open_recovered)),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "open_recovered(path)\n--\n\nOpen a registry hive file as the tarnu command does: with the logs that "
     "find_logs(path) finds beside it, a dirty primary recovered from them. replay_report() says what was done, "
     "also when there were no logs or the primary was clean"},
    {"replay_report", hive_replay_report, METH_NOARGS,
     "replay_report($self)\n--\n\nGet the report of the log replay (None for a hive from open or from_bytes)"},
    {"base_block", hive_base_block, METH_NOARGS, "base_block($self)\n--\n\nGet the base block (header) information"},
    {"root_key", hive_root_key, METH_NOARGS, "root_key($self)\n--\n\nGet the root key of the hive"},
    {"hbins", hive_hbins, METH_NOARGS, "hbins($self)\n--\n\nGet all hbin headers"},
    {"save", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(hive_save)), METH_VARARGS | METH_KEYWORDS,
     "save($self, path)\n--\n\nSave the hive to a file"},
    {"from_bytes", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(hive_from_bytes)),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "from_bytes(data, *, ignore_checksum=False)\n--\n\nOpen a registry hive from a bytes-like object, validated "
     "like a file; the bytes are copied once. With ignore_checksum=True a wrong base-block checksum is accepted, "
     "and BaseBlock.checksum_ok says so"},
    {"key", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(hive_key)), METH_VARARGS | METH_KEYWORDS,
     "key($self, path)\n--\n\nGet the key at a path of names joined by backslashes below the root key (\"\" is "
     "the root); names compare as the registry compares them, without regard to letter case. In a SYSTEM hive a "
     "first name CurrentControlSet stands for the control set that Select\\Current names. A path that does not "
     "lead to a key may begin with a registry root as analysts paste it (HKLM\\SYSTEM\\..., HKEY_CURRENT_USER\\..., "
     "HKU\\<SID>_Classes\\..., HKCR\\..., HKCC\\...) when the root fits the hive's type. Raises ValueError when "
     "there is no such key"},
    {"hive_type", hive_type, METH_NOARGS,
     "hive_type($self)\n--\n\nThe type of hive, told by the root key's children (the file name and the root key's "
     "name break ties): 'SYSTEM', 'SOFTWARE', 'SAM', 'SECURITY', 'NTUSER.DAT', 'UsrClass.dat', 'Amcache.hve', "
     "'BCD', 'COMPONENTS', 'DRIVERS', 'DEFAULT' or 'unknown'"},
    {"hive_type_note", hive_type_note, METH_NOARGS,
     "hive_type_note($self)\n--\n\nWhat hive_type() noted: a file name or root key name that disagrees with the "
     "root key's children, or that alone told the type; None when the children decided and nothing disagreed"},
    {"walk", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(hive_walk)), METH_VARARGS | METH_KEYWORDS,
     "walk($self, errors='raise')\n--\n\nIterate depth-first over every key from the root, children in stored "
     "order, as (path, key) pairs with paths as RegistryKey.path() gives them. A key reached twice is visited "
     "once. With errors='skip', a subkey list or key that cannot be read is passed over"},
    {"cells", hive_cells, METH_NOARGS,
     "cells($self)\n--\n\nIterate over every cell of every hive bin in image order, as Cell records (offset, "
     "size, allocated, signature). Bins are those hbins() lists; a cell whose size is below 4 or that runs past "
     "its bin ends that bin's walk"},
    {"deleted", hive_deleted, METH_NOARGS,
     "deleted($self)\n--\n\nRecover the keys and values outside the live tree: deleted ones in free cells, "
     "records in allocated cells that nothing references, remnants past the stated end of the hive bins data. A "
     "list of DeletedKey objects and of DeletedValue objects for the values that no recovered key lists, in "
     "cell-offset order; source() says where each lies. Nothing the live tree uses is taken and nothing is "
     "listed twice"},
    {"deleted_counts", hive_deleted_counts, METH_NOARGS,
     "deleted_counts($self)\n--\n\nCount what deleted() recovers, keys and values alike (those a recovered key "
     "lists too), by source: a dict with 'free', 'unreferenced' and 'remnant', and 'passed_over', the broken "
     "bins, cells and records the scan passed over"},
    {"key_nodes", hive_key_nodes, METH_NOARGS,
     "key_nodes($self)\n--\n\nGet every key node that an allocated cell holds whole, reached from the root or not "
     "(a truncated hive, a bin missing in the middle), as RegistryKey objects in cell-offset order; the walk over "
     "the cells goes on past broken bins and cells. RegistryKey.partial_path() gives each one's path as far as "
     "its parents read"},
    {"key_at", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(hive_key_at)), METH_VARARGS | METH_KEYWORDS,
     "key_at($self, offset)\n--\n\nGet the key whose key node lies at a cell offset (as Cell.offset gives it). "
     "Raises ValueError when the cell holds no readable key node"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot hive_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for Hive")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<HiveObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(hive_repr)},
    {Py_tp_methods, hive_methods},
    {0, nullptr},
};

}  // namespace

PyType_Spec hive_spec = {"builtins.Hive", sizeof(HiveObject), 0, Py_TPFLAGS_DEFAULT, hive_slots};

const SharedHive* hive_of_object(PyObject* object) {
    if (Py_TYPE(object) != types.hive) return nullptr;
    return &shared_hive_of(object);
}

PyObject* new_hive(SharedHive hive) {
    return reinterpret_cast<PyObject*>(alloc_object<HiveObject>(types.hive, std::move(hive), nullptr));
}

}  // namespace tarnu::py
