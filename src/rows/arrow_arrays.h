// Arrays and schemas handed out through the Arrow C data interface (rows/arrow_abi.h), owned by what they carry:
// - `ArrowField` describes a field's type as a tree, and `export_schema` makes its ArrowSchema;
// - `BufferPool` keeps the buffers of released batches for the next ones, and `PooledBytes` is a buffer being
//   written, taken from the pool, that goes back to it once the batch that carries it is released;
// - `BitBuffer` builds a validity bitmap or a column of booleans;
// - `ArrayParts` collects what one array owns (its buffers, children and dictionary), and `export_array` hands it
//   out as an ArrowArray whose release callback frees it all, children first.
// Every buffer but a validity bitmap has an address, empty or not; a bitmap is left out when nothing is null.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "rows/arrow_abi.h"

namespace tarnu {

struct ArrowField {
    std::string name;
    std::string format;  // in the interface's spelling: "u" utf8, "U" large utf8, "Z" large binary, "+s" struct...
    bool nullable = true;
    std::vector<ArrowField> children{};
    std::vector<ArrowField> dictionary{};  // none, or the value type of a dictionary-encoded field
};

// Fills `out` with the schema of `field`; its release callback frees what it holds.
void export_schema(const ArrowField& field, ArrowSchema& out);

// Memory written once is the process's own: a batch written into the buffers of batches released before it takes
// no page faults and no calls into the system, which would also make threads wait on each other. The process keeps
// the buffers of released batches, up to a total worth keeping, for the batches after them, by slot: a buffer's
// place among those of a batch (the same in every batch of the same columns), so that each buffer comes back to a
// place that needs about as much room. Any thread may give one back or take one.
class BufferPool {
public:
    static BufferPool& shared();
    // An empty buffer of `slot` with room for `wanted` bytes: the largest kept, or a new one.
    std::string take(size_t slot, size_t wanted);
    void give(size_t slot, std::string buffer);

private:
    std::mutex mutex_;
    std::vector<std::vector<std::string>> spare_;  // by slot
    size_t kept_ = 0;                              // the capacity of `spare_`
};

// Numbers the buffers of a batch's fields as they are made, in the same order for every batch of the same columns.
struct BufferSlots {
    size_t next = 0;
};

class ArrayParts;

class PooledBytes {
public:
    explicit PooledBytes(BufferSlots& slots) : slot_(slots.next++) {}
    // The room being written goes back to the pool too: the next stream of the same columns starts in it.
    ~PooledBytes() { BufferPool::shared().give(slot_, std::move(bytes_)); }
    PooledBytes(const PooledBytes&) = delete;
    PooledBytes& operator=(const PooledBytes&) = delete;
    std::string& bytes() { return bytes_; }
    const std::string& bytes() const { return bytes_; }
    template <typename T>
    void push(T value) {
        bytes_.append(reinterpret_cast<const char*>(&value), sizeof(T));
    }
    // Makes room for `size` bytes in all.
    void reserve(size_t size);
    // Hands the bytes to `parts` as its next buffer and starts again empty, with room for as many.
    void hand_to(ArrayParts& parts);

private:
    size_t slot_;
    std::string bytes_;
};

class BitBuffer {
public:
    explicit BitBuffer(BufferSlots& slots) : bytes_(slots) {}
    // Appends a bit; returns the bytes the bitmap grew by (0 or 1).
    size_t push(bool bit) {
        std::string& bytes = bytes_.bytes();
        const size_t grown = size_ % 8 == 0 ? 1 : 0;
        if (grown != 0) bytes.push_back(0);
        if (bit) {
            bytes.back() = static_cast<char>(static_cast<uint8_t>(bytes.back()) | (1u << (size_ % 8)));
            ++ones_;
        }
        ++size_;
        return grown;
    }
    size_t size() const { return size_; }
    size_t ones() const { return ones_; }
    // Hands the bits to `parts` as its next buffer and starts again empty.
    void hand_to(ArrayParts& parts);
    // The same as a validity bitmap, left out when every bit is set; returns the count of bits not set.
    int64_t hand_validity_to(ArrayParts& parts);

private:
    PooledBytes bytes_;
    size_t size_ = 0, ones_ = 0;
};

class ArrayParts {
public:
    // Keeps `bytes` as the array's next buffer, to be given back to the pool at `slot` once the array is released.
    void add_buffer(std::string bytes, size_t slot);
    // A validity bitmap left out: nothing is null.
    void add_all_valid() { buffers_.push_back(nullptr); }
    // A child array for the caller to fill.
    ArrowArray& add_child();
    // The dictionary array, for the caller to fill.
    ArrowArray& dictionary();

private:
    friend void export_array(ArrowArray& out, std::unique_ptr<ArrayParts> parts, int64_t length, int64_t null_count);
    friend void release_array(ArrowArray* array);

    struct Held {
        std::string bytes;
        size_t slot;
        Held(std::string taken, size_t at) : bytes(std::move(taken)), slot(at) {}
        ~Held() { BufferPool::shared().give(slot, std::move(bytes)); }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
    };
    // The address of an empty buffer.
    alignas(64) static const uint8_t kNothing[64];

    std::vector<std::unique_ptr<Held>> held_;
    std::vector<const void*> buffers_;
    std::vector<std::unique_ptr<ArrowArray>> children_;
    std::vector<ArrowArray*> child_pointers_;
    std::unique_ptr<ArrowArray> dictionary_;
};

// Fills `out` with the array of `length` items that `parts` holds.
void export_array(ArrowArray& out, std::unique_ptr<ArrayParts> parts, int64_t length, int64_t null_count);
void release_array(ArrowArray* array);

}  // namespace tarnu
