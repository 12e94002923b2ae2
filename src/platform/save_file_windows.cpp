// save_file on Windows: a temporary file made with CREATE_NEW beside the target, written with WriteFile, flushed
// with FlushFileBuffers and moved over the target with MoveFileExW (replacing it, write-through).
#ifdef _WIN32

#include <algorithm>
#include <atomic>

#include "platform/save_file.h"
#include "platform/windows_support.h"

namespace tarnu::platform {
namespace {

// A save writes in pieces of this size: large enough that each call does real work, and within the DWORD count
// that one WriteFile call takes.
constexpr size_t kSaveChunk = size_t{8} << 20;

Status write_all(HANDLE file, Bytes data) {
    for (size_t written = 0; written < data.size();) {
        DWORD n = 0;
        const DWORD asked = static_cast<DWORD>(std::min(kSaveChunk, data.size() - written));
        if (!WriteFile(file, data.data() + written, asked, &n, nullptr)) return last_windows_error();
        if (n == 0) return HiveError::io_text("failed to write whole buffer");
        written += n;
    }
    return Ok{};
}

Status write_all(HANDLE file, Bytes head, Bytes body) {
    TARNU_CHECK(write_all(file, head));
    return write_all(file, body);
}

// `path` up to and including the separator before its last name; empty for a bare name.
std::wstring folder_prefix(const std::wstring& path) {
    const size_t end = path.find_last_of(L"/\\:");
    return end == std::wstring::npos ? std::wstring() : path.substr(0, end + 1);
}

// A link (a reparse point) to a file that exists gives the final path of that file, so that the link is kept and
// the file replaced. Anything else, a dangling link included, stays as given.
Result<std::wstring> resolve_target(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return path;
    OwnedHandle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) return path;
    std::wstring final_path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFinalPathNameByHandleW(file.get(), final_path.data(), static_cast<DWORD>(final_path.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return last_windows_error();
        if (n < final_path.size()) {
            final_path.resize(n);
            return final_path;
        }
        final_path.resize(n);  // too small: `n` is the size needed, its terminating NUL included
    }
}

// Creates a new file beside `path` with a name nobody uses, as on POSIX systems: CREATE_NEW fails rather than
// reuse a name.
Result<HANDLE> create_temporary(const std::wstring& path, std::wstring& temp) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0;; ++attempt) {
        temp = folder_prefix(path) + L".tarnu-save-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(counter.fetch_add(1)) + L".tmp";
        HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        const DWORD code = GetLastError();
        if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || attempt == 100) {
            return windows_error(code);
        }
    }
}

Status replace_file(const std::wstring& path, Bytes head, Bytes body) {
    std::wstring temp;
    TARNU_TRY(HANDLE created, create_temporary(path, temp));
    OwnedHandle file(created);
    Status status = write_all(file.get(), head, body);
    if (status.ok() && !FlushFileBuffers(file.get())) status = last_windows_error();
    if (!file.reset() && status.ok()) status = last_windows_error();
    if (status.ok() && !MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        status = last_windows_error();
    }
    if (!status.ok()) DeleteFileW(temp.c_str());
    return status;
}

}  // namespace

// A pipe or a device that exists is told apart from a file on disk by the type of a handle opened for writing;
// a target that cannot be opened so is left to the replacement, which reports what is wrong with it.
Status save_file(const std::string& path, Bytes head, Bytes body) {
    TARNU_TRY(const std::wstring given, wide_of(path));
    TARNU_TRY(const std::wstring target, resolve_target(given));
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return windows_error(ERROR_DIRECTORY_NOT_SUPPORTED);
        OwnedHandle existing(CreateFileW(target.c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (existing.valid() && GetFileType(existing.get()) != FILE_TYPE_DISK) {
            return write_all(existing.get(), head, body);
        }
    }
    return replace_file(target, head, body);
}

}  // namespace tarnu::platform

#endif
