// save_file on POSIX systems (Linux, macOS): a temporary file made with O_EXCL, written, given the target's
// permission bits, flushed, renamed over the target, and the folder flushed after it.
#ifndef _WIN32

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/save_file.h"
#include "platform/system_error.h"

namespace tarnu::platform {
namespace {

// Linux gives up on a path after following this many links.
constexpr int kMaxSymlinkDepth = 40;

// A save writes the body in pieces of this size: large enough that each system call does real work, small enough
// that writing out to disk starts early.
constexpr size_t kSaveChunk = size_t{8} << 20;

// Writes all of `data` to `fd`, continuing after short writes and retrying interrupted ones.
Status write_all(int fd, Bytes data) {
    size_t written = 0;
    while (written < data.size()) {
        ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return os_error(errno);
        }
        if (n == 0) return HiveError::io_text("failed to write whole buffer");
        written += static_cast<size_t>(n);
    }
    return Ok{};
}

// Writes `head` and `body` to `fd`. The body goes in chunks: before each, the pages of a mapped image are mapped
// in with one call (not one page fault each), and after each Linux is asked to start writing it to disk, so that
// the flush at the end finds little left to do. Both are hints; where the system refuses them (an older kernel, a
// pipe) or has none (macOS) the write goes on as before.
Status write_all(int fd, Bytes head, Bytes body) {
    TARNU_CHECK(write_all(fd, head));
    for (size_t done = 0; done < body.size();) {
        const Bytes chunk = body.subspan(done, std::min(kSaveChunk, body.size() - done));
#ifdef MADV_POPULATE_READ
        ::madvise(const_cast<uint8_t*>(chunk.data()), chunk.size(), MADV_POPULATE_READ);
#endif
        TARNU_CHECK(write_all(fd, chunk));
#ifdef __linux__
        ::sync_file_range(fd, static_cast<off_t>(head.size() + done), static_cast<off_t>(chunk.size()),
                          SYNC_FILE_RANGE_WRITE);
#endif
        done += chunk.size();
    }
    return Ok{};
}

// Flushes `fd` to the disk. On macOS fsync leaves the data in the drive's own cache, and F_FULLFSYNC asks the drive
// to write it out; a file system that does not support it gets fsync.
int flush_to_disk(int fd) {
#ifdef F_FULLFSYNC
    if (::fcntl(fd, F_FULLFSYNC) == 0) return 0;
#endif
    return ::fsync(fd);
}

// Writes straight into an existing special file (a pipe or a device): there is nothing to replace.
Status write_in_place(const std::string& path, Bytes head, Bytes body) {
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return os_error(errno);
    Status status = write_all(fd, head, body);
    ::close(fd);
    return status;
}

std::string directory_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Follows symbolic links so that a link is kept and the file it names is replaced, or created when it does not
// exist yet. Links are read one at a time because a dangling link has no canonical path; a chain longer than
// the system's own limit is a loop.
Result<std::string> resolve_target(const std::string& path) {
    std::string current = path;
    for (int depth = 0; depth <= kMaxSymlinkDepth; ++depth) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        std::vector<char> link(static_cast<size_t>(info.st_size > 0 ? info.st_size : PATH_MAX) + 1);
        const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
        if (n < 0) return os_error(errno);
        if (static_cast<size_t>(n) >= link.size()) return os_error(ENAMETOOLONG);
        std::string next(link.data(), static_cast<size_t>(n));
        current = !next.empty() && next.front() == '/' ? next : directory_of(current) + "/" + next;
    }
    return os_error(ELOOP);
}

// Creates a new file in the directory of `path` with a name nobody uses. The name does not grow with the
// target's, so a target whose name is near the system's limit can still be replaced. O_EXCL makes the creation
// fail rather than reuse a name; mode 0666 lets the umask give a new file its usual permissions.
Result<int> create_temporary(const std::string& path, std::string& temp) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0;; ++attempt) {
        temp = directory_of(path) + "/.tarnu-save-" + std::to_string(::getpid()) + "-" +
               std::to_string(counter.fetch_add(1)) + ".tmp";
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST || attempt == 100) return os_error(errno);
    }
}

// Writes `head` and `body` to a new temporary file beside `path`, flushes it and renames it over `path`. A
// replaced regular file keeps its permission bits.
Status replace_file(const std::string& path, Bytes head, Bytes body, const struct stat* existing) {
    std::string temp;
    TARNU_TRY(int fd, create_temporary(path, temp));
    Status status = write_all(fd, head, body);
    if (status.ok() && existing != nullptr && ::fchmod(fd, existing->st_mode & 07777) != 0) status = os_error(errno);
    if (status.ok() && flush_to_disk(fd) != 0) status = os_error(errno);
    if (::close(fd) != 0 && status.ok()) status = os_error(errno);
    if (status.ok() && ::rename(temp.c_str(), path.c_str()) != 0) status = os_error(errno);
    if (!status.ok()) {
        ::unlink(temp.c_str());
        return status;
    }
    // Make the rename itself durable.
    int dir = ::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return Ok{};
}

}  // namespace

Status save_file(const std::string& path, Bytes head, Bytes body) {
    TARNU_TRY(const std::string target, resolve_target(path));
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return os_error(EISDIR);
        if (!S_ISREG(info.st_mode)) return write_in_place(target, head, body);
        return replace_file(target, head, body, &info);
    }
    return replace_file(target, head, body, nullptr);
}

}  // namespace tarnu::platform

#endif
