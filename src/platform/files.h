// The file-system calls of the reader behind one small interface, implemented once for POSIX systems
// (files_posix.cpp) and once for Windows (files_windows.cpp): a file opened for reading, read or mapped read-only;
// whether a path names a regular file; the names in a folder. Paths are UTF-8 everywhere; failures are `Io`
// errors in the system's own terms (errno values, or Windows error codes with the errno value that stands for
// them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "utils/error.h"

namespace tarnu::platform {

// The characters after which a path's last name begins: the folder separators, and on Windows the colon of a
// drive ("C:name").
#ifdef _WIN32
inline constexpr char kFolderSeparators[] = "/\\:";
#else
inline constexpr char kFolderSeparators[] = "/";
#endif

// The error of a file that is longer than the reader can hold, or an input without a length that runs past its
// bound.
HiveError too_large_error();

// A file opened for reading without denying other readers, writers or deleters; closed with the object. Folders
// are refused (a folder cannot be read, and reading one fails in unhelpful ways later). On POSIX systems the open
// of a FIFO without a writer does not wait.
class InputFile {
public:
    static Result<InputFile> open(const std::string& path);
    InputFile(InputFile&& other) noexcept : handle_(other.handle_), regular_(other.regular_), size_(other.size_) {
        other.handle_ = kNoHandle;
    }
    InputFile& operator=(InputFile&&) = delete;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // Whether the file is a regular file (not a pipe, a device or a socket): only those have a length.
    bool is_regular() const { return regular_; }
    // The length of a regular file when it was opened; 0 for anything else.
    uint64_t size() const { return size_; }
    // Reads up to `count` bytes into `into`: how many were read, 0 at the end.
    Result<size_t> read(uint8_t* into, size_t count);
    // Maps the first `length` bytes (at least 1, at most the file's length) read-only; `unmap` releases them. The
    // mapping outlives the object.
    Result<const uint8_t*> map(size_t length) const;

private:
    static constexpr intptr_t kNoHandle = -1;
    explicit InputFile(intptr_t handle) : handle_(handle) {}

    intptr_t handle_;  // a file descriptor, or a Windows HANDLE
    bool regular_ = false;
    uint64_t size_ = 0;
};

// Releases a mapping that `InputFile::map` made.
void unmap(const uint8_t* data, size_t length) noexcept;

// True when `path` names a regular file, following links.
bool is_regular_file(const std::string& path);

// Calls `visit` with the name of every entry in `folder` ("." and ".." may be among them), in the
// order the system lists them. A folder that cannot be listed has no entries.
void list_folder(const std::string& folder, const std::function<void(std::string_view)>& visit);

}  // namespace tarnu::platform
