// The file-system operations of the reader: reading a whole file, mapping one read-only, and the owner of a
// hive image in either form. Files are opened for reading only and closed before these calls return.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

// An allocator whose default construction leaves bytes uninitialised, for buffers that are filled right after
// they grow (a file read into memory): it saves writing every byte twice. Growth that must be zero asks for it.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <typename U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// An owned, growable image or file buffer.
using ByteBuffer = std::vector<uint8_t, UninitialisedAllocator<uint8_t>>;

// All bytes of a hive file: a read-only mapping of the file, or a buffer owned here. Move-only; the mapping or
// buffer is released with the object.
class HiveImage {
public:
    static HiveImage from_buffer(ByteBuffer buffer);
    HiveImage(HiveImage&& other) noexcept;
    HiveImage& operator=(HiveImage&& other) noexcept;
    HiveImage(const HiveImage&) = delete;
    HiveImage& operator=(const HiveImage&) = delete;
    ~HiveImage();

    Bytes bytes() const { return Bytes(data_, size_); }
    size_t size() const { return size_; }
    bool is_mapped() const { return mapped_; }

private:
    friend Result<HiveImage> map_hive_file(const std::string& path, uint64_t minimum_size, std::span<uint8_t> head);
    HiveImage() = default;
    void release() noexcept;

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    bool mapped_ = false;
    ByteBuffer buffer_;
};

// Fails with an Io error when `path` cannot name a file (it holds a NUL character).
Status check_path(const std::string& path);

// Maps the whole file at `path` read-only. A file shorter than `minimum_size` fails with HiveTooSmall before
// anything is mapped. `head` (no longer than `minimum_size`) receives a copy of the file's first bytes, read through
// the file and not the mapping: a caller that needs only those never touches the mapping, and a first touch of a
// file that is not cached yet reads as far ahead as the disk's read-ahead window, megabytes on some systems.
Result<HiveImage> map_hive_file(const std::string& path, uint64_t minimum_size, std::span<uint8_t> head = {});

// Reads the whole file at `path` into memory.
Result<ByteBuffer> read_whole_file(const std::string& path);

}  // namespace tarnu
