// What the Python classes share: the interpreter header under the stable ABI, the class registry, argument
// taking, running hive work with the interpreter lock released, and turning errors into Python exceptions.
#pragma once

#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x03080000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <initializer_list>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "error/error.h"
#include "hive/cell.h"
#include "hive/hive.h"
#include "hive/key_node.h"
#include "hive/value_key.h"
#include "hive/value_type.h"
#include "key/walk.h"

namespace tarnu {
struct ReplayReport;  // what a log replay did (transaction_log/replay_report.h)
}  // namespace tarnu

namespace tarnu::py {

// ---- Classes -------------------------------------------------------------------------------------------------

// The heap types of the module, created once per process by `create_types`.
struct Types {
    PyTypeObject* hive;
    PyTypeObject* replay_report;  // not exported, like log_report
    PyTypeObject* log_report;
    PyTypeObject* registry_key;
    PyTypeObject* registry_value;
    PyTypeObject* value_data;
    PyTypeObject* value_type;
    PyTypeObject* base_block;
    PyTypeObject* hbin_header;
    PyTypeObject* key_walk;  // the iterator of walk(); not exported
    PyTypeObject* cell_walk;  // the iterator of cells(); not exported
    // Module attributes outside __all__, so that what cells() and deleted() return can be told apart by class.
    PyTypeObject* cell;
    PyTypeObject* deleted_key;
    PyTypeObject* deleted_value;
};
extern Types types;

// The class specifications, each defined beside its methods.
extern PyType_Spec hive_spec;
extern PyType_Spec replay_report_spec;
extern PyType_Spec log_report_spec;
extern PyType_Spec registry_key_spec;
extern PyType_Spec registry_value_spec;
extern PyType_Spec value_data_spec;
extern PyType_Spec value_type_spec;
extern PyType_Spec base_block_spec;
extern PyType_Spec hbin_header_spec;
extern PyType_Spec key_walk_spec;
extern PyType_Spec cell_spec;
extern PyType_Spec cell_walk_spec;
extern PyType_Spec deleted_key_spec;
extern PyType_Spec deleted_value_spec;

// Constructors of Python objects from core values; each returns a new reference or nullptr with an exception.
PyObject* new_hive(SharedHive hive);
PyObject* new_replay_report(std::shared_ptr<const ReplayReport> report);
PyObject* new_registry_key(const SharedHive& hive, KeyNode&& node);
PyObject* new_registry_value(ValueKey&& value, std::vector<uint8_t>&& data);
PyObject* new_value_type(ValueType type);
PyObject* new_value_data(ValueData&& data);
PyObject* new_base_block(const BaseBlock& base);
PyObject* new_hbin_header(const HbinHeader& header);
// An iterator over `first` and every key below it, yielding (path, RegistryKey) tuples.
PyObject* new_key_walk(const SharedHive& hive, KeyNode&& first, WalkErrors errors);
// The RegistryKey of a lookup's result; a key that was not found raises NotFound "Key '<path>'".
PyObject* found_key(const SharedHive& hive, Result<std::optional<KeyNode>>&& found, const std::string& path);
// A timezone-aware datetime in UTC for a FILETIME, with microseconds; None for 0, ValueError past year 9999.
PyObject* new_utc_datetime(uint64_t filetime);
// Whole seconds since 1970 for a FILETIME; None for 0.
PyObject* new_unix_timestamp(uint64_t filetime);
// An iterator over every cell of the hive's bins, yielding Cell records.
PyObject* new_cell_walk(const SharedHive& hive);
// A list of the deleted keys (DeletedKey) and the deleted values that no deleted key lists (DeletedValue) that the
// hive's free cells hold, in cell-offset order.
PyObject* deleted_records(const SharedHive& hive);

// The tp_new of every class: instances come only from the module's own operations.
PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*);

// Allocates an instance of `type` and constructs its C++ part `T` (which begins with PyObject_HEAD) in place.
template <typename T, typename... Args>
T* alloc_object(PyTypeObject* type, Args&&... args) {
    PyObject* raw = PyType_GenericAlloc(type, 0);
    if (raw == nullptr) return nullptr;
    T* self = reinterpret_cast<T*>(raw);
    try {
        new (&self->fields) decltype(self->fields){std::forward<Args>(args)...};
    } catch (...) {
        // The object is still blank: release it without running the C++ destructor.
        PyTypeObject* tp = Py_TYPE(raw);
        reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free))(raw);
        Py_DECREF(tp);
        throw;
    }
    return self;
}

// The tp_dealloc of every class: destroys the C++ part, frees the object and drops the type's reference.
template <typename T>
void dealloc_object(PyObject* raw) {
    T* self = reinterpret_cast<T*>(raw);
    using Fields = decltype(self->fields);
    self->fields.~Fields();
    PyTypeObject* tp = Py_TYPE(raw);
    reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free))(raw);
    Py_DECREF(tp);
}

// ---- Texts and lists -----------------------------------------------------------------------------------------

PyObject* new_str(const std::string& utf8);

// A new list of `items.size()` objects made by `make(item)` (each a new reference, or nullptr on failure).
template <typename Items, typename Make>
PyObject* new_list(Items& items, Make&& make) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(items.size()));
    if (list == nullptr) return nullptr;
    Py_ssize_t index = 0;
    for (auto& item : items) {
        PyObject* object = make(item);
        if (object == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SetItem(list, index++, object);
    }
    return list;
}

// ---- Arguments -----------------------------------------------------------------------------------------------

// Matches positional and keyword arguments to `names`, of which the first `required` must be given. `out`
// receives borrowed references, nullptr for an optional argument left out. On failure raises TypeError with
// texts formed like the interpreter's, naming `function` (for example "Hive.open").
bool parse_arguments(const char* function, PyObject* args, PyObject* kwargs, std::initializer_list<const char*> names,
                     size_t required, PyObject** out);

// Converts a str argument (a subclass of str too) to UTF-8; anything else raises TypeError naming `name`.
bool text_argument(const char* name, PyObject* value, std::string& out);

// A file path: a str, or an os.PathLike whose path is a str. Anything else raises TypeError as text_argument does.
bool path_argument(const char* name, PyObject* value, std::string& out);

// A copy of a bytes-like argument (bytes, bytearray, memoryview, array, mmap, ...); anything else raises TypeError.
bool bytes_argument(const char* name, PyObject* value, ByteBuffer& out);

// The `errors` argument of walk(): "raise" (also when `value` is nullptr, left out) or "skip".
bool walk_errors_argument(PyObject* value, WalkErrors& out);

// ---- Errors --------------------------------------------------------------------------------------------------

// Raises the exception of an error kind: for Io the OSError subclass that Python raises for its error number
// (FileNotFoundError, PermissionError, ...) with `errno` set, else OSError; ValueError for the other kinds.
void raise_error(const HiveError& error);

// The Python result of a core operation: `make(value)` on success, else the error raised and nullptr.
template <typename T, typename Make>
PyObject* respond(Result<T>&& result, Make&& make) {
    if (!result.ok()) {
        raise_error(result.error());
        return nullptr;
    }
    return make(result.value());
}

// How an internal fault (an exception of the C++ runtime, such as an allocation failure) reaches Python.
enum class FaultStyle { InternalFault, RuntimeError };
void raise_fault(FaultStyle style, const char* what);

// Creates the exception type raised for internal faults; called once from module initialisation.
bool create_internal_fault_type();

// Runs `body` (which returns a new reference or nullptr with an exception set); a C++ exception escaping it is
// turned into the fault exception instead of unwinding into the interpreter.
template <typename F>
PyObject* guarded(F&& body, FaultStyle style = FaultStyle::InternalFault) {
    try {
        return body();
    } catch (const std::exception& e) {
        raise_fault(style, e.what());
    } catch (...) {
        raise_fault(style, nullptr);
    }
    return nullptr;
}

// Releases the interpreter lock for the lifetime of the object. Nothing may touch a Python object meanwhile.
class WithoutGil {
public:
    WithoutGil() : state_(PyEval_SaveThread()) {}
    ~WithoutGil() { PyEval_RestoreThread(state_); }
    WithoutGil(const WithoutGil&) = delete;
    WithoutGil& operator=(const WithoutGil&) = delete;

private:
    PyThreadState* state_;
};

// Runs `work` with the interpreter lock released and returns its result; the lock is held again when this
// returns or throws.
template <typename F>
auto without_gil(F&& work) -> decltype(work()) {
    WithoutGil released;
    return work();
}

}  // namespace tarnu::py
