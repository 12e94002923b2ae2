// OutputFile on Windows: CreateFileW with CREATE_NEW, marked sparse where the file system allows it, WriteFile at
// an offset given in an OVERLAPPED, SetFileInformationByHandle for the length, CloseHandle.
#ifdef _WIN32

#include <algorithm>

#include "platform/output_file.h"
#include "platform/windows_support.h"

#include <winioctl.h>  // after <windows.h>, whose types it uses

namespace tarnu::platform {
namespace {

// The most one WriteFile call is given: its count is a DWORD.
constexpr size_t kMaxWriteCall = size_t{1} << 30;

HANDLE handle_of(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

// A sparse file keeps the zeros between what is written (the empty hive bins of a carved fragment) off the disk;
// a file system without sparse files writes them, which is not an error.
Result<OutputFile> OutputFile::create(const std::string& path) {
    TARNU_TRY(const std::wstring wide, wide_of(path));
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return last_windows_error();
    DWORD returned = 0;
    DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    return OutputFile(reinterpret_cast<intptr_t>(handle));
}

OutputFile::~OutputFile() {
    if (handle_ != kNoHandle) CloseHandle(handle_of(handle_));
}

Status OutputFile::write_at(uint64_t position, Bytes data) {
    for (size_t written = 0; written < data.size();) {
        const uint64_t at = position + written;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD n = 0;
        const DWORD asked = static_cast<DWORD>(std::min(kMaxWriteCall, data.size() - written));
        if (!WriteFile(handle_of(handle_), data.data() + written, asked, &n, &where)) return last_windows_error();
        if (n == 0) return HiveError::io_text("failed to write whole buffer");
        written += n;
    }
    return Ok{};
}

Status OutputFile::set_length(uint64_t length) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
    if (!SetFileInformationByHandle(handle_of(handle_), FileEndOfFileInfo, &end, sizeof end)) {
        return last_windows_error();
    }
    return Ok{};
}

Status OutputFile::close() {
    HANDLE handle = handle_of(handle_);
    handle_ = kNoHandle;
    if (!CloseHandle(handle)) return last_windows_error();
    return Ok{};
}

}  // namespace tarnu::platform

#endif
