// The file-system calls of files.h on POSIX systems (Linux, macOS): open, fstat, read, mmap, stat, readdir.
#ifndef _WIN32

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "platform/files.h"
#include "platform/system_error.h"

namespace tarnu::platform {

HiveError too_large_error() { return os_error(EFBIG); }

// O_NONBLOCK keeps the open of a FIFO without a writer from waiting for ever; it is cleared again so that reads
// behave normally.
Result<InputFile> InputFile::open(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return os_error(errno);
    InputFile file(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) return os_error(errno);
    if (S_ISDIR(info.st_mode)) return os_error(EISDIR);
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    file.regular_ = S_ISREG(info.st_mode);
    file.size_ = file.regular_ ? static_cast<uint64_t>(info.st_size) : 0;
    return file;
}

InputFile::~InputFile() {
    if (handle_ != kNoHandle) ::close(static_cast<int>(handle_));
}

Result<size_t> InputFile::read(uint8_t* into, size_t count) {
    for (;;) {
        ssize_t got = ::read(static_cast<int>(handle_), into, count);
        if (got >= 0) return static_cast<size_t>(got);
        if (errno != EINTR) return os_error(errno);
    }
}

Result<const uint8_t*> InputFile::map(size_t length) const {
    void* address = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, static_cast<int>(handle_), 0);
    if (address == MAP_FAILED) return os_error(errno);
    return static_cast<const uint8_t*>(address);
}

void unmap(const uint8_t* data, size_t length) noexcept { ::munmap(const_cast<uint8_t*>(data), length); }

bool is_regular_file(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void list_folder(const std::string& folder, const std::function<void(std::string_view)>& visit) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir.get())) visit(entry->d_name);
}

}  // namespace tarnu::platform

#endif
