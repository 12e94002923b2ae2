// OutputFile on POSIX systems (Linux, macOS): open with O_CREAT | O_EXCL, pwrite, ftruncate, close.
#ifndef _WIN32

#include <cerrno>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/output_file.h"
#include "platform/system_error.h"

namespace tarnu::platform {

// Mode 0666 lets the umask give the file its usual permissions.
Result<OutputFile> OutputFile::create(const std::string& path) {
    if (path.find('\0') != std::string::npos) return HiveError::io_text("path contains a NUL character");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) return os_error(errno);
    return OutputFile(fd);
}

OutputFile::~OutputFile() {
    if (handle_ != kNoHandle) ::close(static_cast<int>(handle_));
}

Status OutputFile::write_at(uint64_t position, Bytes data) {
    size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::pwrite(static_cast<int>(handle_), data.data() + written, data.size() - written,
                                   static_cast<off_t>(position + written));
        if (n < 0) {
            if (errno == EINTR) continue;
            return os_error(errno);
        }
        if (n == 0) return HiveError::io_text("failed to write whole buffer");
        written += static_cast<size_t>(n);
    }
    return Ok{};
}

Status OutputFile::set_length(uint64_t length) {
    while (::ftruncate(static_cast<int>(handle_), static_cast<off_t>(length)) != 0) {
        if (errno != EINTR) return os_error(errno);
    }
    return Ok{};
}

Status OutputFile::close() {
    const int fd = static_cast<int>(handle_);
    handle_ = kNoHandle;
    if (::close(fd) != 0 && errno != EINTR) return os_error(errno);
    return Ok{};
}

}  // namespace tarnu::platform

#endif
