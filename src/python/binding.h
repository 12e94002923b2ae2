// What the Python classes share: the interpreter header under the stable ABI, the class registry, argument
// taking, running hive work with the interpreter lock released, and turning errors into Python exceptions.
#pragma once

#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x03080000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "decode/value_data.h"
#include "hive/cell.h"
#include "hive/hive.h"
#include "records/key_node.h"
#include "records/value_key.h"
#include "records/value_type.h"
#include "tree/value_data.h"
#include "tree/value_reader.h"
#include "tree/walk.h"
#include "utils/error.h"

namespace tarnu {
struct ReplayReport;  // what a log replay did (logs/replay_report.h)
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
// A RegistryValue holding a copy of `value`'s type and name and of `data`.
PyObject* new_registry_value(const ValueKey& value, Bytes data);
// A RegistryValue with room for `size` data bytes that are not written yet: `into` is where they go. Nobody else
// sees the object until the caller hands it out, so the caller may write large data with the lock released.
PyObject* new_registry_value_unwritten(const ValueKey& value, size_t size, uint8_t*& into);
PyObject* new_value_type(ValueType type);
// The ValueData of `data` decoded by `type`; raises the decoding's error. `owner` holds the bytes `data` views: the
// ValueData keeps a reference to it instead of a copy.
PyObject* new_value_data(ValueType type, Bytes data, PyObject* owner);
// What Other data (REG_LINK, the resource lists, unknown types) gives: its bytes, or None.
enum class OtherData : uint8_t { Bytes, None };
// The natural Python object of decoded data: a str (String, ExpandString), a list of str (MultiString), an int
// (Dword, DwordBigEndian, Qword), bytes (Binary, and Other as `other` says) or None (None). `raw`, when given, is a
// bytes object of the whole data, which bytes results share instead of a copy. Text decoded under
// TextCheck::LengthOnly that is not well-formed raises UnicodeDecodeError.
PyObject* new_value_object(const DecodedValue& value, PyObject* raw = nullptr, OtherData other = OtherData::Bytes);
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
// A list of the keys (DeletedKey) and the values that no recovered key lists (DeletedValue) that recovery finds
// outside the live tree, in cell-offset order.
PyObject* deleted_records(const SharedHive& hive);
// A dict of how many keys and values (listed ones too) recovery finds by source ("free", "unreferenced",
// "remnant"), and how many broken places it passed over ("passed_over").
PyObject* deleted_counts(const SharedHive& hive);

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


// A new list of `count` objects made by `make(i)` for i = 0, 1, ... (each a new reference, or nullptr on failure).
template <typename Make>
PyObject* new_list_of(size_t count, Make&& make) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(count));
    if (list == nullptr) return nullptr;
    for (size_t i = 0; i < count; ++i) {
        PyObject* object = make(i);
        if (object == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SetItem(list, static_cast<Py_ssize_t>(i), object);
    }
    return list;
}

// A new list of `items.size()` objects made by `make(item)`.
template <typename Items, typename Make>
PyObject* new_list(Items& items, Make&& make) {
    return new_list_of(items.size(), [&](size_t i) { return make(items[i]); });
}

// ---- Arguments -----------------------------------------------------------------------------------------------

// Matches positional and keyword arguments to `names`, of which the first `required` must be given and only the
// first `positional` may be given by position (the rest are keyword-only). `out` receives borrowed references,
// nullptr for an optional argument left out. On failure raises TypeError with texts formed like the interpreter's,
// naming `function` (for example "Hive.open").
bool parse_arguments(const char* function, PyObject* args, PyObject* kwargs, std::initializer_list<const char*> names,
                     size_t required, PyObject** out, size_t positional = SIZE_MAX);

// Converts a str argument (a subclass of str too) to UTF-8; anything else raises TypeError naming `name`.
bool text_argument(const char* name, PyObject* value, std::string& out);

// A file path: a str, or an os.PathLike whose path is a str. Anything else raises TypeError as text_argument does.
bool path_argument(const char* name, PyObject* value, std::string& out);

// A copy of a bytes-like argument (bytes, bytearray, memoryview, array, mmap, ...); anything else raises TypeError.
bool bytes_argument(const char* name, PyObject* value, ByteBuffer& out);

// A flag such as `ignore_checksum`: the truth of `value`, false when it is nullptr (left out).
bool flag_argument(PyObject* value, bool& out);

// A cell offset: an int (not a bool) from 0 to 0xFFFFFFFF; anything else raises TypeError or ValueError naming `name`.
bool offset_argument(const char* name, PyObject* value, uint32_t& out);

// The `errors` argument of walk(): "raise" (also when `value` is nullptr, left out) or "skip".
bool walk_errors_argument(PyObject* value, WalkErrors& out);

// ---- Records and exports ------------------------------------------------------------------------------------

// What `tarnu.records` and `tarnu._export` read, as their arguments give it: a hive file, a copy of a hive image,
// or an opened hive.
struct ExportSource {
    enum class Logs { Beside, None, Given };
    std::optional<std::string> path;
    ByteBuffer image;
    SharedHive hive;
    Logs logs = Logs::Beside;
    std::vector<std::string> log_paths;  // for Logs::Given
    std::optional<std::string> name;     // the "hive" of every row: `name`, else the path, else None
};

// Takes `source` (a str or os.PathLike path, a bytes-like image or a Hive), `logs` ("auto" or left out: the logs
// beside a path; None: none; a list of up to two paths) and `name`; raises TypeError or ValueError on a mistake.
bool export_source_argument(const char* function, PyObject* source, PyObject* logs, PyObject* name,
                            ExportSource& out);
// Opens the hive of `source` (its image is moved out); runs without the interpreter lock.
Result<SharedHive> open_export_source(ExportSource& source);

// Keeps one iterator from being advanced by two threads at once (its work runs without the interpreter lock):
// `claimed()` is false, with ValueError raised, while another call holds the flag.
class IteratorClaim {
public:
    IteratorClaim(std::atomic<bool>& busy, const char* what) : busy_(busy), claimed_(!busy.exchange(true)) {
        if (!claimed_) PyErr_Format(PyExc_ValueError, "%s already executing", what);
    }
    ~IteratorClaim() {
        if (claimed_) busy_ = false;
    }
    IteratorClaim(const IteratorClaim&) = delete;
    IteratorClaim& operator=(const IteratorClaim&) = delete;
    bool claimed() const { return claimed_; }

private:
    std::atomic<bool>& busy_;
    bool claimed_;
};

// The shared hive of a Hive object, or nullptr when `object` is not one.
const SharedHive* hive_of_object(PyObject* object);

// Adds `records`, `Record`, `_export` and `_logs_beside` to the module (not to __all__).
bool add_records(PyObject* module);
bool add_export_stream(PyObject* module);
// Sets the function of `definition` on the module under its name (not in __all__).
bool add_module_function(PyObject* module, PyMethodDef* definition);
// Adds `carve`, `carve_mode` and `Carved` to the module (not to __all__).
bool add_carve(PyObject* module);
// Adds `find_logs`, `_describe_log` and `_survey` to the module (not to __all__).
bool add_log_description(PyObject* module);
bool add_survey(PyObject* module);
// Adds `RegType`, an IntEnum of the twelve known value types, and its members as `REG_NONE` to `REG_QWORD`.
bool add_value_types(PyObject* module);
// Adds `_decode`, the decoders of binary value data behind `tarnu.decode`, to the module (not to __all__).
bool add_decoders(PyObject* module);

// ---- Errors --------------------------------------------------------------------------------------------------

// Raises the exception of an error kind: for Io the OSError subclass that Python raises for its error number
// (FileNotFoundError, PermissionError, ...) with `errno` set (and on Windows `winerror`, when a Windows call
// failed), else OSError; for the other kinds tarnu.HiveError (a ValueError) or the subclass of the kind, with its
// `kind`, `offset` and `details`. The message is the exception's one argument.
void raise_error(const HiveError& error);
// The name of an error kind, as HiveError.kind gives it ("TruncatedData", "InvalidFormat", ...).
const char* error_kind_name(ErrorKind kind);

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

// Creates the exception types: the one raised for internal faults, tarnu.HiveError and its subclasses; called once
// from module initialisation. `add_error_types` makes the hive errors' classes module attributes.
bool create_error_types();
bool add_error_types(PyObject* module);

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

// Work over at least this many bytes runs with the interpreter lock released; smaller work keeps it. When threads
// compete for the lock, handing it over and taking it back costs two switches through the operating system, tens
// of microseconds, about what copying this much memory takes: below it the hand-over costs more than it frees.
inline constexpr uint64_t kReleaseLockBytes = 256 * 1024;
inline bool is_large(uint64_t bytes) { return bytes >= kReleaseLockBytes; }

// A new bytes object holding a copy of `data`; a large copy is made without the lock.
PyObject* new_bytes(Bytes data);
// The contents of the bytes object `bytes`, valid while it lives.
inline Bytes bytes_of(PyObject* bytes) {
    return Bytes(reinterpret_cast<const uint8_t*>(PyBytes_AsString(bytes)), static_cast<size_t>(PyBytes_Size(bytes)));
}

// One value's data, read with the lock released when the value declares large data.
Result<ValueBytes> read_value_data_releasing_large(const ValueKey& value);
// A value reader for one call: the calling thread's own, kept from call to call so that reading values allocates
// only while its lists grow; a call made while that one is in use (a finaliser run from inside a call that reads
// values) gets a fresh reader.
class ReaderLease {
public:
    ReaderLease();
    ~ReaderLease();
    ReaderLease(const ReaderLease&) = delete;
    ReaderLease& operator=(const ReaderLease&) = delete;
    ValueReader& reader() { return *reader_; }

private:
    ValueReader* reader_;
    std::unique_ptr<ValueReader> own_;
};

// The values of `key` read into `reader` in its two steps under ValueErrors::Raise: the value list with the lock
// held, then where their data lies, with the lock released when the list declares large data.
Status read_values_releasing_large(const Hive& hive, const KeyNode& key, ValueReader& reader);
// Copies of data from its pieces (`ValueReader::pieces`) into new objects that nobody else sees yet: small
// data is copied at once, large data is kept for `finish()`, which copies all of it in one release of the lock.
class PieceCopies {
public:
    void copy(std::span<const Bytes> pieces, size_t size, uint8_t* into);
    void finish();

private:
    struct Pending {
        uint8_t* into;
        std::span<const Bytes> pieces;
    };
    std::vector<Pending> large_;
};

// The list of RegistryKey.value_records() for `key`, or nullptr with an exception set.
PyObject* new_value_records(const Hive& hive, const KeyNode& key);

}  // namespace tarnu::py
