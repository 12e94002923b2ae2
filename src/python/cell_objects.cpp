// Cell and the iterator that Hive.cells() returns: each cell of the hive bins as a small read-only record (offset,
// size, allocated, the record signature it begins with). The iterator holds a share of the hive and pulls one cell
// at a time from the core's cell walk.
#include <string_view>

#include "hive/cell_walk.h"
#include "python/binding.h"
#include "utils/format.h"

namespace tarnu::py {
namespace {

struct CellFields {
    uint32_t offset;
    uint32_t size;
    bool allocated;
    std::string_view signature;  // one of record_signature's literals, or empty
};

struct CellObject {
    PyObject_HEAD
    CellFields fields;
};

const CellFields& cell_of(PyObject* self) { return reinterpret_cast<CellObject*>(self)->fields; }

PyObject* cell_offset(PyObject* self, void*) { return PyLong_FromUnsignedLong(cell_of(self).offset); }
PyObject* cell_size(PyObject* self, void*) { return PyLong_FromUnsignedLong(cell_of(self).size); }
PyObject* cell_allocated(PyObject* self, void*) { return PyBool_FromLong(cell_of(self).allocated ? 1 : 0); }

PyObject* cell_signature(PyObject* self, void*) {
    const std::string_view signature = cell_of(self).signature;
    if (signature.empty()) Py_RETURN_NONE;
    return PyUnicode_FromStringAndSize(signature.data(), static_cast<Py_ssize_t>(signature.size()));
}

PyObject* cell_repr(PyObject* self) {
    return guarded([&] {
        const CellFields& cell = cell_of(self);
        std::string text = "Cell(offset=" + hex(cell.offset) + ", size=" + dec(cell.size) +
                           ", allocated=" + (cell.allocated ? "True" : "False") + ", signature=";
        if (cell.signature.empty()) {
            text += "None";
        } else {
            text.append(1, '\'').append(cell.signature).append(1, '\'');
        }
        return new_str(text + ")");
    });
}

PyGetSetDef cell_getset[] = {
    {"offset", cell_offset, nullptr, "Get the cell offset, from the start of the hive bins data", nullptr},
    {"size", cell_size, nullptr, "Get the cell's size in bytes, size field included", nullptr},
    {"allocated", cell_allocated, nullptr, "Get whether the cell is allocated (its size field is negative)", nullptr},
    {"signature", cell_signature, nullptr,
     "Get the record signature the cell begins with (\"nk\", \"vk\", \"sk\", \"lf\", \"lh\", \"li\", \"ri\", \"db\"), "
     "or None",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot cell_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for Cell")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<CellObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(cell_repr)},
    {Py_tp_getset, cell_getset},
    {0, nullptr},
};

// ---- The iterator --------------------------------------------------------------------------------------------

struct CellWalkFields {
    SharedHive hive;
    CellWalk walk;
};

struct CellWalkObject {
    PyObject_HEAD
    CellWalkFields fields;
};

// Returns nullptr without an exception once the walk is over, which ends the iteration.
PyObject* cell_walk_next(PyObject* self) {
    return guarded([&]() -> PyObject* {
        std::optional<CellInfo> cell = reinterpret_cast<CellWalkObject*>(self)->fields.walk.next();
        if (!cell) return nullptr;
        return reinterpret_cast<PyObject*>(alloc_object<CellObject>(
            types.cell, cell->offset, cell->size, cell->allocated, record_signature(cell->payload)));
    });
}

PyType_Slot cell_walk_slots[] = {
    {Py_tp_doc, const_cast<char*>("Iterator over every cell of a hive's bins, yielding Cell records")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<CellWalkObject>)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(cell_walk_next)},
    {0, nullptr},
};

}  // namespace

PyType_Spec cell_spec = {"builtins.Cell", sizeof(CellObject), 0, Py_TPFLAGS_DEFAULT, cell_slots};
PyType_Spec cell_walk_spec = {"builtins.CellWalk", sizeof(CellWalkObject), 0, Py_TPFLAGS_DEFAULT, cell_walk_slots};

PyObject* new_cell_walk(const SharedHive& hive) {
    const Hive& walked = *hive;
    return reinterpret_cast<PyObject*>(alloc_object<CellWalkObject>(types.cell_walk, hive, CellWalk(walked)));
}

}  // namespace tarnu::py
