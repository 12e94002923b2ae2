#include "hive/file_io.h"

#include "hive/limits.h"
#include "platform/files.h"

namespace tarnu {

Status check_path(const std::string& path) {
    // The system calls take C strings: a NUL inside the path would silently name another file.
    if (path.find('\0') != std::string::npos) return HiveError::io_text("path contains a NUL character");
    return Ok{};
}

HiveImage HiveImage::from_buffer(ByteBuffer buffer) {
    HiveImage image;
    image.buffer_ = std::move(buffer);
    image.data_ = image.buffer_.data();
    image.size_ = image.buffer_.size();
    return image;
}

HiveImage::HiveImage(HiveImage&& other) noexcept { *this = std::move(other); }

HiveImage& HiveImage::operator=(HiveImage&& other) noexcept {
    if (this != &other) {
        release();
        mapped_ = other.mapped_;
        size_ = other.size_;
        buffer_ = std::move(other.buffer_);
        data_ = mapped_ ? other.data_ : buffer_.data();
        other.data_ = nullptr;
        other.size_ = 0;
        other.mapped_ = false;
    }
    return *this;
}

HiveImage::~HiveImage() { release(); }

void HiveImage::release() noexcept {
    if (mapped_ && data_ != nullptr) platform::unmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
    mapped_ = false;
    buffer_ = {};
}

Result<HiveImage> map_hive_file(const std::string& path, uint64_t minimum_size, std::span<uint8_t> head) {
    TARNU_CHECK(check_path(path));
    TARNU_TRY(platform::InputFile file, platform::InputFile::open(path));
    // Only regular files have a meaningful length; anything else (a pipe, a device) counts as empty.
    const uint64_t length = file.size();
    if (length < minimum_size) return HiveError::hive_too_small(length, minimum_size);
    if (length > SIZE_MAX) return platform::too_large_error();
    size_t filled = 0;
    while (filled < head.size()) {
        TARNU_TRY(const size_t got, file.read(head.data() + filled, head.size() - filled));
        if (got == 0) return HiveError::hive_too_small(filled, minimum_size);  // cut short since it was measured
        filled += got;
    }
    TARNU_TRY(const uint8_t* address, file.map(static_cast<size_t>(length)));
    HiveImage image;
    image.data_ = address;
    image.size_ = static_cast<size_t>(length);
    image.mapped_ = true;
    return image;
}

Result<ByteBuffer> read_whole_file(const std::string& path) {
    TARNU_CHECK(check_path(path));
    TARNU_TRY(platform::InputFile file, platform::InputFile::open(path));
    ByteBuffer data;
    // A regular file is read straight into a buffer of its length. Whatever follows (a file that grew, or input
    // that has no length) is appended in chunks; input that is not a regular file stops at a fixed bound.
    const bool regular = file.is_regular();
    if (regular && file.size() > 0) {
        if (file.size() > SIZE_MAX) return platform::too_large_error();
        data.resize(static_cast<size_t>(file.size()));
        size_t filled = 0;
        while (filled < data.size()) {
            TARNU_TRY(const size_t got, file.read(data.data() + filled, data.size() - filled));
            if (got == 0) break;
            filled += got;
        }
        if (filled < data.size()) {
            data.resize(filled);
            return data;
        }
    }
    uint8_t chunk[16384];
    for (;;) {
        TARNU_TRY(const size_t got, file.read(chunk, sizeof chunk));
        if (got == 0) break;
        if (!regular && data.size() + got > kMaxStreamRead) return platform::too_large_error();
        data.insert(data.end(), chunk, chunk + got);
    }
    return data;
}

}  // namespace tarnu
