// tarnu.carve, tarnu.carve_mode and the Carved record: the carver of recovery/carve_image.h over an image file,
// writing into a folder or nowhere, with the interpreter lock released for the whole scan.
#include <vector>

#include "python/binding.h"
#include "recovery/carve_folder.h"

namespace tarnu::py {
namespace {

PyTypeObject* carved_type = nullptr;

PyStructSequence_Field carved_fields[] = {
    {"kind", "what was found: 'hive', 'fragment', 'log-old' or 'log-new'"},
    {"offset", "where it begins in the image, in bytes"},
    {"size", "how many bytes of the image it spans"},
    {"stated_size", "the hive bins data size its base block states (for a fragment: the one made for it)"},
    {"cut_short", "whether the image ended, or another structure began, before its end"},
    {"checksum_ok", "whether its base block's checksum holds; None for a fragment, whose base block is made"},
    {"bins_offset", "the hive-bins offset of its first bin: 0 for a hive, None for a log"},
    {"path", "the file it was written to, or None"},
    {nullptr, nullptr},
};
constexpr int kCarvedFieldCount = 8;

PyStructSequence_Desc carved_desc = {
    "tarnu.Carved",
    "One hive, fragment or transaction log that tarnu.carve() found in an image.",
    carved_fields,
    kCarvedFieldCount,
};

// Writes into the folder sink when there is one, and keeps every item for the result.
class KeepingSink : public CarveSink {
public:
    explicit KeepingSink(FolderSink* folder) : folder_(folder) {}
    Result<std::unique_ptr<CarveOutput>> open(const std::string& name) override {
        if (folder_ == nullptr) return std::unique_ptr<CarveOutput>();
        return folder_->open(name);
    }
    Status found(const CarvedItem& item) override {
        items.push_back(item);
        return folder_ == nullptr ? Status(Ok{}) : folder_->found(item);
    }
    std::vector<CarvedItem> items;

private:
    FolderSink* folder_;
};

Result<std::vector<CarvedItem>> carve_file(const std::string& image, const std::optional<std::string>& folder,
                                           CarveMode mode) {
    TARNU_TRY(FileSource source, FileSource::open(image));
    std::unique_ptr<FolderSink> folder_sink;
    if (folder) {
        TARNU_TRY(folder_sink, FolderSink::create(*folder));
    }
    KeepingSink sink(folder_sink.get());
    TARNU_CHECK(carve_image(source, sink, mode));
    if (folder_sink) TARNU_CHECK(folder_sink->close());
    return std::move(sink.items);
}

PyObject* optional_number(const std::optional<uint32_t>& number) {
    if (!number) Py_RETURN_NONE;
    return PyLong_FromUnsignedLong(*number);
}

PyObject* optional_bool(const std::optional<bool>& value) {
    if (!value) Py_RETURN_NONE;
    return PyBool_FromLong(*value);
}

PyObject* new_carved(const CarvedItem& item, const std::optional<std::string>& folder) {
    PyObject* fields[kCarvedFieldCount] = {
        new_str(std::string(carved_kind_name(item.kind))),
        PyLong_FromUnsignedLongLong(item.offset),
        PyLong_FromUnsignedLongLong(item.size),
        PyLong_FromUnsignedLong(item.stated_size),
        PyBool_FromLong(item.cut_short),
        optional_bool(item.checksum_ok),
        optional_number(item.bins_offset),
        item.written && folder ? new_str(carve_output_path(*folder, item.name)) : (Py_INCREF(Py_None), Py_None),
    };
    PyObject* record = PyStructSequence_New(carved_type);
    bool failed = record == nullptr;
    for (PyObject* field : fields) failed = failed || field == nullptr;
    if (failed) {
        for (PyObject* field : fields) Py_XDECREF(field);
        Py_XDECREF(record);
        return nullptr;
    }
    for (int i = 0; i < kCarvedFieldCount; ++i) PyStructSequence_SetItem(record, i, fields[i]);
    return record;
}

// None: detect; True: memory; False: a disk.
bool mode_argument(PyObject* value, CarveMode& mode) {
    mode = CarveMode::Detect;
    if (value == nullptr || value == Py_None) return true;
    if (!PyBool_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "carve() argument 'memory': expected True, False or None");
        return false;
    }
    mode = value == Py_True ? CarveMode::Memory : CarveMode::Disk;
    return true;
}

PyObject* carve(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[3];
        if (!parse_arguments("carve", args, kwargs, {"image", "out_dir", "memory"}, 1, argv)) return nullptr;
        std::string image;
        std::optional<std::string> folder;
        CarveMode mode;
        if (!path_argument("image", argv[0], image)) return nullptr;
        if (argv[1] != nullptr && argv[1] != Py_None) {
            folder.emplace();
            if (!path_argument("out_dir", argv[1], *folder)) return nullptr;
        }
        if (!mode_argument(argv[2], mode)) return nullptr;
        auto found = without_gil([&] { return carve_file(image, folder, mode); });
        return respond(std::move(found), [&](std::vector<CarvedItem>& items) {
            return new_list(items, [&](const CarvedItem& item) { return new_carved(item, folder); });
        });
    });
}

Result<ModeGuess> guess_file_mode(const std::string& image) {
    TARNU_TRY(FileSource source, FileSource::open(image));
    uint8_t head[kCarveModeProbe];
    size_t have = 0;
    while (have < sizeof head) {
        TARNU_TRY(const size_t got, source.read(head + have, sizeof head - have));
        if (got == 0) break;
        have += got;
    }
    return guess_carve_mode(Bytes(head, have));
}

PyObject* carve_mode(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[1];
        if (!parse_arguments("carve_mode", args, kwargs, {"image"}, 1, argv)) return nullptr;
        std::string image;
        if (!path_argument("image", argv[0], image)) return nullptr;
        auto guess = without_gil([&] { return guess_file_mode(image); });
        return respond(std::move(guess), [](ModeGuess& found) -> PyObject* {
            PyObject* reason = new_str(found.reason);
            if (reason == nullptr) return nullptr;
            PyObject* pair = Py_BuildValue("(OO)", found.memory ? Py_True : Py_False, reason);
            Py_DECREF(reason);
            return pair;
        });
    });
}

PyMethodDef carve_function = {
    "carve", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(carve)), METH_VARARGS | METH_KEYWORDS,
    "carve(image, out_dir=None, memory=None)\n--\n\n"
    "Scan an image (a disk or partition image, unallocated space, a memory dump) for hives, hive fragments and "
    "transaction logs, and return a tarnu.Carved record for each, in image order.\n\n"
    "The image is read once, front to back. With out_dir, an existing folder, each item is written there as a new "
    "file (hive-0x200.regf, fragment-0x24200.regf, log-old-0x....log, log-new-0x....log), with the index "
    "carve.jsonl; a name that exists already raises. A fragment is written as a hive that opens. memory=True "
    "looks for hive bins at every 4096-byte page, lying apart or out of order; False, at 512-byte sectors as on a "
    "disk; None decides by the image's first bytes, as carve_mode() does.",
};

PyMethodDef carve_mode_function = {
    "carve_mode", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(carve_mode)),
    METH_VARARGS | METH_KEYWORDS,
    "carve_mode(image)\n--\n\n"
    "Whether carve(image) takes the image for memory, and why: (True, reason) when it begins with the header of a "
    "memory dump (a Windows crash dump, an ELF core file, a LiME image), else (False, reason).",
};

}  // namespace

bool add_carve(PyObject* module) {
    if (carved_type == nullptr) {
        carved_type = PyStructSequence_NewType(&carved_desc);
        if (carved_type == nullptr) return false;
    }
    return add_module_function(module, &carve_function) && add_module_function(module, &carve_mode_function) &&
           PyObject_SetAttrString(module, "Carved", reinterpret_cast<PyObject*>(carved_type)) == 0;
}

}  // namespace tarnu::py
