#include "hive/file_io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hive/limits.h"

namespace tarnu {
namespace {

// A file descriptor closed when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// Opens `path` for reading. O_NONBLOCK keeps the open of a FIFO without a writer from waiting for ever; it is
// cleared again so that reads behave normally. Directories are refused here, since reading one fails in
// unhelpful ways later.
Result<int> open_for_reading(const std::string& path, struct stat& info) {
    TARNU_CHECK(check_path(path));
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return HiveError::io(errno);
    if (::fstat(fd, &info) != 0) {
        int code = errno;
        ::close(fd);
        return HiveError::io(code);
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        return HiveError::io(EISDIR);
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

}  // namespace

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
    if (mapped_ && data_ != nullptr) ::munmap(const_cast<uint8_t*>(data_), size_);
    data_ = nullptr;
    size_ = 0;
    mapped_ = false;
    buffer_ = {};
}

Result<HiveImage> map_hive_file(const std::string& path, uint64_t minimum_size) {
    struct stat info {};
    TARNU_TRY(int raw_fd, open_for_reading(path, info));
    FileDescriptor fd(raw_fd);
    // Only regular files have a meaningful length; anything else (a pipe, a device) counts as empty.
    const uint64_t length = S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : 0;
    if (length < minimum_size) return HiveError::hive_too_small(length, minimum_size);
    if (length > SIZE_MAX) return HiveError::io(EFBIG);
    void* address = ::mmap(nullptr, static_cast<size_t>(length), PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (address == MAP_FAILED) return HiveError::io(errno);
    HiveImage image;
    image.data_ = static_cast<const uint8_t*>(address);
    image.size_ = static_cast<size_t>(length);
    image.mapped_ = true;
    return image;
}

Result<ByteBuffer> read_whole_file(const std::string& path) {
    struct stat info {};
    TARNU_TRY(int raw_fd, open_for_reading(path, info));
    FileDescriptor fd(raw_fd);
    auto read_some = [&](uint8_t* into, size_t count) -> ssize_t {
        for (;;) {
            ssize_t got = ::read(fd.get(), into, count);
            if (got >= 0 || errno != EINTR) return got;
        }
    };
    ByteBuffer data;
    // A regular file is read straight into a buffer of its length. Whatever follows (a file that grew, or input
    // that has no length) is appended in chunks; input that is not a regular file stops at a fixed bound.
    const bool regular = S_ISREG(info.st_mode);
    if (regular && info.st_size > 0) {
        data.resize(static_cast<size_t>(info.st_size));
        size_t filled = 0;
        while (filled < data.size()) {
            ssize_t got = read_some(data.data() + filled, data.size() - filled);
            if (got < 0) return HiveError::io(errno);
            if (got == 0) break;
            filled += static_cast<size_t>(got);
        }
        if (filled < data.size()) {
            data.resize(filled);
            return data;
        }
    }
    uint8_t chunk[16384];
    for (;;) {
        ssize_t got = read_some(chunk, sizeof chunk);
        if (got < 0) return HiveError::io(errno);
        if (got == 0) break;
        if (!regular && data.size() + static_cast<size_t>(got) > kMaxStreamRead) return HiveError::io(EFBIG);
        data.insert(data.end(), chunk, chunk + got);
    }
    return data;
}

}  // namespace tarnu
