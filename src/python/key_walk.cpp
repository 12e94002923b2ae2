// The iterator that RegistryKey.walk() and Hive.walk() return: it pulls one key at a time from the core's walk
// and yields it as a (path, RegistryKey) tuple. It holds a share of the hive, which the walk reads.
#include "python/binding.h"

namespace tarnu::py {
namespace {

struct WalkFields {
    SharedHive hive;
    KeyWalk walk;
};

struct KeyWalkObject {
    PyObject_HEAD
    WalkFields fields;
};

WalkFields& walk_of(PyObject* self) { return reinterpret_cast<KeyWalkObject*>(self)->fields; }

// Returns nullptr without an exception once the walk is over, which ends the iteration.
PyObject* walk_next(PyObject* self) {
    return guarded([&]() -> PyObject* {
        WalkFields& fields = walk_of(self);
        auto step = fields.walk.advance();
        if (!step.ok()) {
            raise_error(step.error());
            return nullptr;
        }
        if (step.value() == nullptr) return nullptr;
        PyObject* path = new_str(fields.walk.path());
        if (path == nullptr) return nullptr;
        PyObject* key = new_registry_key(fields.hive, std::move(*step.value()));
        if (key == nullptr) {
            Py_DECREF(path);
            return nullptr;
        }
        PyObject* pair = PyTuple_Pack(2, path, key);
        Py_DECREF(path);
        Py_DECREF(key);
        return pair;
    });
}

PyType_Slot walk_slots[] = {
    {Py_tp_doc, const_cast<char*>("Iterator over a key and every key below it, yielding (path, RegistryKey) pairs "
                                  "depth-first")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<KeyWalkObject>)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(walk_next)},
    {0, nullptr},
};

}  // namespace

PyType_Spec key_walk_spec = {"builtins.KeyWalk", sizeof(KeyWalkObject), 0, Py_TPFLAGS_DEFAULT, walk_slots};

PyObject* new_key_walk(const SharedHive& hive, KeyNode&& first, WalkErrors errors) {
    const Hive& walked = *hive;
    return reinterpret_cast<PyObject*>(
        alloc_object<KeyWalkObject>(types.key_walk, hive, KeyWalk(walked, std::move(first), errors)));
}

}  // namespace tarnu::py
