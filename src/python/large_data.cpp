// Data that may be large: copies and reads that release the interpreter lock once they reach kReleaseLockBytes,
// and keep it for anything smaller.
#include <cstring>

#include "python/binding.h"
#include "tree/value_data.h"

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

// The listings of the threads, and whether each is in use.
thread_local ValueListing thread_listing;
thread_local bool thread_listing_in_use = false;

// A thread's listing keeps its storage after a call unless a key with this many values made it grow past it.
constexpr size_t kKeptListingValues = 4096;

}  // namespace

ListingLease::ListingLease() : listing_(&thread_listing) {
    if (thread_listing_in_use) {
        own_ = std::make_unique<ValueListing>();
        listing_ = own_.get();
    } else {
        thread_listing_in_use = true;
    }
}

ListingLease::~ListingLease() {
    if (own_ != nullptr) return;
    thread_listing.trim(kKeptListingValues);
    thread_listing_in_use = false;
}

Status read_value_pieces_releasing_large(const Hive& hive, const KeyNode& key, ValueListing& listing) {
    TARNU_CHECK(listing.read_list(hive, key));
    auto pieces = [&] { return listing.read_pieces(hive, key); };
    return is_large(listing.declared_data_size()) ? without_gil(pieces) : pieces();
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

Result<Bytes> view_value_data_releasing_large(const ValueKey& value, DataScratch& scratch) {
    auto view = [&] { return view_value_data(value, scratch); };
    return is_large(value.data_size) ? without_gil(view) : view();
}

}  // namespace tarnu::py
