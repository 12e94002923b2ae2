// Arrays and schemas handed out through the Arrow C data interface (rows/arrow_abi.h), owned by what they carry:
// - `ArrowField` describes a field's type as a tree, and `export_schema` makes its ArrowSchema;
// - `ByteBlock` is a buffer's memory: room taken from the allocator and left untouched until written;
// - `BufferPool` keeps the buffers of released batches for the next ones, and `PooledBytes` is a buffer being
//   written, taken from the pool, that goes back to it once the batch that carries it is released;
// - `BitBuffer` builds a validity bitmap or a column of booleans;
// - `ArrayParts` collects what one array owns (its buffers, children and dictionary), and `export_array` hands it
//   out as an ArrowArray whose release callback frees it all, children first.
// Every buffer but a validity bitmap has an address, empty or not; a bitmap is left out when nothing is null.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// A buffer's memory and the bytes written at its start. The room past them is left as the allocator gave it, so that
// room made for a batch costs nothing until it is written.
class ByteBlock {
public:
    ByteBlock() = default;
    explicit ByteBlock(size_t capacity) : data_(capacity == 0 ? nullptr : new char[capacity]), capacity_(capacity) {}
    ByteBlock(ByteBlock&& other) noexcept
        : data_(std::move(other.data_)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    ByteBlock& operator=(ByteBlock&& other) noexcept {
        data_ = std::move(other.data_);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        return *this;
    }
    char* data() { return data_.get(); }
    const char* data() const { return data_.get(); }
    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    // Says how many bytes at the start are written; at most the capacity.
    void set_size(size_t size) { size_ = size; }

private:
    std::unique_ptr<char[]> data_;
    size_t size_ = 0, capacity_ = 0;
};

// Memory written once is the process's own: a batch written into the buffers of batches released before it takes
// no page faults and no calls into the system, which would also make threads wait on each other. The process keeps
// the buffers of released batches, up to a total worth keeping, for the batches after them, by slot: a buffer's
// place among those of a batch (the same in every batch of the same columns), so that each buffer comes back to a
// place that needs about as much room. Any thread may give one back or take one.
class BufferPool {
public:
    static BufferPool& shared();
    // An empty buffer of `slot` with room for `wanted` bytes: the largest kept, or a new one.
    ByteBlock take(size_t slot, size_t wanted);
    void give(size_t slot, ByteBlock buffer);

private:
    std::mutex mutex_;
    std::vector<std::vector<ByteBlock>> spare_;  // by slot
    size_t kept_ = 0;                              // the capacity of `spare_`
};

// Numbers the buffers of a batch's fields as they are made, in the same order for every batch of the same columns.
struct BufferSlots {
    size_t next = 0;
};

class ArrayParts;

// Copies `size` bytes. Most items of a row (a key's path, a value's name, its type's name, its data) are short:
// they are copied inline, by two moves of a width that overlap in the middle, rather than through a call.
inline void copy_bytes(char* to, const char* from, size_t size) {
    const auto two_moves = [&](auto word) {
        std::memcpy(&word, from, sizeof(word));
        std::memcpy(to, &word, sizeof(word));
        std::memcpy(&word, from + size - sizeof(word), sizeof(word));
        std::memcpy(to + size - sizeof(word), &word, sizeof(word));
    };
    struct Wide {
        uint64_t part[4];
    };
    if (size > 64) {
        std::memcpy(to, from, size);
    } else if (size > 32) {
        two_moves(Wide{});
    } else if (size > 16) {
        two_moves(std::array<uint64_t, 2>{});
    } else if (size >= 8) {
        two_moves(uint64_t{});
    } else if (size >= 4) {
        two_moves(uint32_t{});
    } else if (size > 0) {
        to[0] = from[0];
        to[size / 2] = from[size / 2];
        to[size - 1] = from[size - 1];
    }
}

// A buffer being written. Items are written in place through `room` and `commit`, or appended whole; only the
// rare item that does not fit in the room left grows it, by copying what is written into a larger block.
class PooledBytes {
public:
    explicit PooledBytes(BufferSlots& slots) : slot_(slots.next++) {}
    // The room being written goes back to the pool too: the next stream of the same columns starts in it.
    ~PooledBytes() { BufferPool::shared().give(slot_, std::move(block_)); }
    PooledBytes(const PooledBytes&) = delete;
    PooledBytes& operator=(const PooledBytes&) = delete;
    size_t size() const { return size_; }
    // Room for `size` more bytes past those written, to be written and then counted by `commit`.
    char* room(size_t size) {
        if (block_.capacity() - size_ < size) grow(size);
        return block_.data() + size_;
    }
    void commit(size_t size) { size_ += size; }
    template <typename T>
    void push(T value) {
        std::memcpy(room(sizeof(T)), &value, sizeof(T));
        size_ += sizeof(T);
    }
    void append(const void* bytes, size_t size) {
        char* at = room(size);
        copy_bytes(at, static_cast<const char*>(bytes), size);
        size_ += size;
    }
    void clear() { size_ = 0; }
    // Makes room for `size` bytes in all.
    void reserve(size_t size);
    // Hands the bytes to `parts` as its next buffer and starts again empty, with room for as many.
    void hand_to(ArrayParts& parts);

private:
    void grow(size_t more);

    size_t slot_;
    ByteBlock block_;  // its size is set from `size_` when the bytes are handed out
    size_t size_ = 0;
};

// Bits gathered a byte at a time, the byte being filled kept apart until it is full or the bits are handed out.
class BitBuffer {
public:
    explicit BitBuffer(BufferSlots& slots) : bytes_(slots) {}
    // Appends a bit; returns the bytes the bitmap grew by (0 or 1).
    size_t push(bool bit) {
        const size_t at = size_ % 8;
        current_ = static_cast<uint8_t>(current_ | (static_cast<unsigned>(bit) << at));
        ones_ += bit ? 1 : 0;
        ++size_;
        if (at == 7) {
            bytes_.push(current_);
            current_ = 0;
        }
        return at == 0 ? 1 : 0;
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
    uint8_t current_ = 0;
};

class ArrayParts {
public:
    // Keeps `bytes` as the array's next buffer, to be given back to the pool at `slot` once the array is released.
    void add_buffer(ByteBlock bytes, size_t slot);
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
        ByteBlock bytes;
        size_t slot;
        Held(ByteBlock taken, size_t at) : bytes(std::move(taken)), slot(at) {}
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
