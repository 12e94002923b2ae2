// A file made new for writing, written at given positions and given its final length: what the carver writes what
// it finds to. Implemented once for POSIX systems (output_file_posix.cpp) and once for Windows
// (output_file_windows.cpp). Creating a file whose name exists already fails, so that nothing is ever overwritten.
// A length set past the last byte written reads as zeros; where the file system can, those bytes take no space.
#pragma once

#include <cstdint>
#include <string>

#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu::platform {

class OutputFile {
public:
    // Creates the file at `path` (UTF-8), which must not exist yet.
    static Result<OutputFile> create(const std::string& path);
    OutputFile(OutputFile&& other) noexcept : handle_(other.handle_) { other.handle_ = kNoHandle; }
    OutputFile& operator=(OutputFile&&) = delete;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Closes the file if `close` has not.
    ~OutputFile();

    // Writes all of `data` at byte `position` of the file.
    Status write_at(uint64_t position, Bytes data);
    // Cuts or extends the file to `length` bytes.
    Status set_length(uint64_t length);
    // Closes the file; its error is the close's own (a write the system deferred may fail here).
    Status close();

private:
    static constexpr intptr_t kNoHandle = -1;
    explicit OutputFile(intptr_t handle) : handle_(handle) {}

    intptr_t handle_;  // a file descriptor, or a Windows HANDLE
};

}  // namespace tarnu::platform
