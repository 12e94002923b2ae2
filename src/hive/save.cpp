#include "hive/save.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "hive/file_io.h"
#include "hive/limits.h"

namespace tarnu {
namespace {

// Linux gives up on a path after following this many links.
constexpr int kMaxSymlinkDepth = 40;

// A save writes the image in pieces of this size: large enough that each system call does real work, small enough
// that writing out to disk starts early.
constexpr size_t kSaveChunk = size_t{8} << 20;

// What a save writes: the base block with its checksum recomputed, then the rest of the image as it is. The
// rest is written from the image itself (a mapping of the file, or the replayed buffer): no copy of the whole.
struct SavedImage {
    std::array<uint8_t, kBaseBlockSize> base_block;
    Bytes rest;
};

// Writes all of `data` to `fd`, continuing after short writes and retrying interrupted ones.
Status write_all(int fd, Bytes data) {
    size_t written = 0;
    while (written < data.size()) {
        ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return HiveError::io(errno);
        }
        if (n == 0) return HiveError::io_text("failed to write whole buffer");
        written += static_cast<size_t>(n);
    }
    return Ok{};
}

// Writes the saved image to `fd`. The rest of the image goes in chunks: before each, the pages of a mapped image
// are mapped in with one call (not one page fault each), and after each the kernel is asked to start writing it
// to disk, so that the flush at the end finds little left to do. Both are hints; where the system refuses them
// (an older kernel, a pipe) the write goes on as before.
Status write_all(int fd, const SavedImage& data) {
    TARNU_CHECK(write_all(fd, data.base_block));
    for (size_t done = 0; done < data.rest.size();) {
        const Bytes chunk = data.rest.subspan(done, std::min(kSaveChunk, data.rest.size() - done));
#ifdef MADV_POPULATE_READ
        ::madvise(const_cast<uint8_t*>(chunk.data()), chunk.size(), MADV_POPULATE_READ);
#endif
        TARNU_CHECK(write_all(fd, chunk));
        ::sync_file_range(fd, static_cast<off_t>(kBaseBlockSize + done), static_cast<off_t>(chunk.size()),
                          SYNC_FILE_RANGE_WRITE);
        done += chunk.size();
    }
    return Ok{};
}

// Writes straight into an existing special file (a pipe or a device): there is nothing to replace.
Status write_in_place(const std::string& path, const SavedImage& data) {
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return HiveError::io(errno);
    Status status = write_all(fd, data);
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
        if (n < 0) return HiveError::io(errno);
        if (static_cast<size_t>(n) >= link.size()) return HiveError::io(ENAMETOOLONG);
        std::string next(link.data(), static_cast<size_t>(n));
        current = !next.empty() && next.front() == '/' ? next : directory_of(current) + "/" + next;
    }
    return HiveError::io(ELOOP);
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
        if (errno != EEXIST || attempt == 100) return HiveError::io(errno);
    }
}

// Writes `data` to a new temporary file beside `path`, flushes it and renames it over `path`. A replaced
// regular file keeps its permission bits.
Status replace_file(const std::string& path, const SavedImage& data, const struct stat* existing) {
    std::string temp;
    TARNU_TRY(int fd, create_temporary(path, temp));
    Status status = write_all(fd, data);
    if (status.ok() && existing != nullptr && ::fchmod(fd, existing->st_mode & 07777) != 0) status = HiveError::io(errno);
    if (status.ok() && ::fsync(fd) != 0) status = HiveError::io(errno);
    if (::close(fd) != 0 && status.ok()) status = HiveError::io(errno);
    if (status.ok() && ::rename(temp.c_str(), path.c_str()) != 0) status = HiveError::io(errno);
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

Status save_hive(const Hive& hive, const std::string& path) {
    const Bytes image = hive.bytes();
    if (image.size() < kBaseBlockSize) return HiveError::hive_too_small(image.size(), kBaseBlockSize);
    SavedImage saved;
    std::memcpy(saved.base_block.data(), image.data(), kBaseBlockSize);
    put_le32(saved.base_block.data() + kChecksumPosition, base_block_checksum(saved.base_block));
    saved.rest = image.subspan(kBaseBlockSize);

    TARNU_CHECK(check_path(path));
    TARNU_TRY(const std::string target, resolve_target(path));
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return HiveError::io(EISDIR);
        if (!S_ISREG(info.st_mode)) return write_in_place(target, saved);
        return replace_file(target, saved, &info);
    }
    return replace_file(target, saved, nullptr);
}

}  // namespace tarnu
