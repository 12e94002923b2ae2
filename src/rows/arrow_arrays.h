// Arrays and schemas handed out through the Arrow C data interface (rows/arrow_abi.h), owned by what they carry:
// - `ArrowField` describes a field's type as a tree, and `export_schema` makes its ArrowSchema;
// - `BitBuffer` builds a validity bitmap or a column of booleans;
// - `ArrayParts` collects what one array owns (its buffers, children and dictionary), and `export_array` hands it
//   out as an ArrowArray whose release callback frees it all, children first.
// Every buffer but a validity bitmap has an address, empty or not; a bitmap is left out when nothing is null.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
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

class BitBuffer {
public:
    // Appends a bit; returns the bytes the bitmap grew by (0 or 1).
    size_t push(bool bit) {
        const size_t grown = size_ % 8 == 0 ? 1 : 0;
        if (grown != 0) bytes_.push_back(0);
        if (bit) {
            bytes_.back() = static_cast<uint8_t>(bytes_.back() | (1u << (size_ % 8)));
            ++ones_;
        }
        ++size_;
        return grown;
    }
    size_t size() const { return size_; }
    size_t ones() const { return ones_; }
    // Hands the bitmap over and starts again empty, with room for `reserve` bits.
    std::vector<uint8_t> take(size_t reserve);

private:
    std::vector<uint8_t> bytes_;
    size_t size_ = 0, ones_ = 0;
};

class ArrayParts {
public:
    // Keeps `buffer` (a vector or a string) as the array's next buffer.
    template <typename Buffer>
    void add_buffer(Buffer&& buffer) {
        auto held = std::make_unique<Held<std::decay_t<Buffer>>>(std::forward<Buffer>(buffer));
        buffers_.push_back(held->value.empty() ? static_cast<const void*>(kNothing) : held->value.data());
        held_.push_back(std::move(held));
    }
    // A validity bitmap, left out when nothing is null; `valid` starts again with room for `reserve` bits. Returns
    // the null count.
    int64_t add_validity(BitBuffer& valid, size_t reserve);
    // A validity bitmap left out: nothing is null.
    void add_all_valid() { buffers_.push_back(nullptr); }
    // A child array for the caller to fill.
    ArrowArray& add_child();
    // The dictionary array, for the caller to fill.
    ArrowArray& dictionary();

private:
    friend void export_array(ArrowArray& out, std::unique_ptr<ArrayParts> parts, int64_t length, int64_t null_count);
    friend void release_array(ArrowArray* array);

    struct HeldBase {
        virtual ~HeldBase() = default;
    };
    template <typename T>
    struct Held final : HeldBase {
        explicit Held(T&& taken) : value(std::move(taken)) {}
        T value;
    };
    // The address of an empty buffer.
    alignas(64) static const uint8_t kNothing[64];

    std::vector<std::unique_ptr<HeldBase>> held_;
    std::vector<const void*> buffers_;
    std::vector<std::unique_ptr<ArrowArray>> children_;
    std::vector<ArrowArray*> child_pointers_;
    std::unique_ptr<ArrowArray> dictionary_;
};

// Fills `out` with the array of `length` items that `parts` holds.
void export_array(ArrowArray& out, std::unique_ptr<ArrayParts> parts, int64_t length, int64_t null_count);
void release_array(ArrowArray* array);

}  // namespace tarnu
