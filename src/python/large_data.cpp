// Data that may be large: copies and reads that release the interpreter lock once they reach kReleaseLockBytes,
// and keep it for anything smaller.
#include <cstring>

#include "python/binding.h"

namespace tarnu::py {

PyObject* new_bytes(Bytes data) {
    const auto size = static_cast<Py_ssize_t>(data.size());
    if (!is_large(data.size())) return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data.data()), size);
    PyObject* bytes = PyBytes_FromStringAndSize(nullptr, size);
    if (bytes == nullptr) return nullptr;
    // No other thread can see the new object yet: its buffer is filled without the lock.
    char* into = PyBytes_AsString(bytes);
    without_gil([&] { std::memcpy(into, data.data(), data.size()); });
    return bytes;
}

namespace {

// The readers of the threads, and whether each is in use.
thread_local ValueReader thread_reader;
thread_local bool thread_reader_in_use = false;

// A thread's reader keeps its storage after a call unless a key with this many values made it grow past it.
constexpr size_t kKeptReaderValues = 4096;

}  // namespace

ReaderLease::ReaderLease() : reader_(&thread_reader) {
    if (thread_reader_in_use) {
        own_ = std::make_unique<ValueReader>();
        reader_ = own_.get();
    } else {
        thread_reader_in_use = true;
    }
}

ReaderLease::~ReaderLease() {
    if (own_ != nullptr) return;
    thread_reader.trim(kKeptReaderValues);
    thread_reader_in_use = false;
}

Status read_values_releasing_large(const Hive& hive, const KeyNode& key, ValueReader& reader) {
    TARNU_CHECK(reader.read_list(hive, key));
    auto data = [&] { return reader.read_data(hive, key, ValueErrors::Raise); };
    return is_large(reader.declared_data_size()) ? without_gil(data) : data();
}

namespace {

void copy_pieces(std::span<const Bytes> pieces, uint8_t* into) {
    for (const Bytes piece : pieces) {
        std::memcpy(into, piece.data(), piece.size());
        into += piece.size();
    }
}

}  // namespace

void PieceCopies::copy(std::span<const Bytes> pieces, size_t size, uint8_t* into) {
    if (is_large(size)) {
        large_.push_back({into, pieces});
    } else {
        copy_pieces(pieces, into);
    }
}

void PieceCopies::finish() {
    if (large_.empty()) return;
    without_gil([&] {
        for (const Pending& pending : large_) copy_pieces(pending.pieces, pending.into);
    });
    large_.clear();
}

Result<ValueBytes> read_value_data_releasing_large(const ValueKey& value) {
    auto read = [&] { return read_value_data(value); };
    return is_large(value.data_size) ? without_gil(read) : read();
}

}  // namespace tarnu::py
