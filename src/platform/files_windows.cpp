// The file-system calls of files.h on Windows: CreateFileW, ReadFile, CreateFileMappingW and MapViewOfFile,
// GetFileAttributesW, FindFirstFileW. Paths go from UTF-8 to UTF-16 at each call.
#ifdef _WIN32

#include <algorithm>
#include <memory>

#include "platform/files.h"
#include "platform/windows_support.h"

namespace tarnu::platform {
namespace {

// The most one ReadFile call is asked for: its count is a DWORD.
constexpr size_t kMaxReadCall = size_t{1} << 30;

bool is_folder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

HiveError too_large_error() { return windows_error(ERROR_FILE_TOO_LARGE); }

// A folder cannot be opened as a file: Windows refuses it with "access denied", which is told apart from a real
// refusal by the folder's attributes and reported as an operation that folders do not support.
Result<InputFile> InputFile::open(const std::string& path) {
    TARNU_TRY(const std::wstring wide, wide_of(path));
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_ACCESS_DENIED && is_folder(wide)) return windows_error(ERROR_DIRECTORY_NOT_SUPPORTED);
        return windows_error(code);
    }
    InputFile file(reinterpret_cast<intptr_t>(handle));
    const DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return last_windows_error();
    if (type == FILE_TYPE_DISK) {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(handle, &info)) return last_windows_error();
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return windows_error(ERROR_DIRECTORY_NOT_SUPPORTED);
        }
        file.regular_ = true;
        file.size_ = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    }
    return file;
}

InputFile::~InputFile() {
    if (handle_ != kNoHandle) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

// The end of a pipe whose writer has gone is the end of the input, as it is on POSIX systems.
Result<size_t> InputFile::read(uint8_t* into, size_t count) {
    DWORD got = 0;
    const DWORD asked = static_cast<DWORD>(std::min(count, kMaxReadCall));
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), into, asked, &got, nullptr)) {
        const DWORD code = GetLastError();
        if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return size_t{0};
        return windows_error(code);
    }
    return static_cast<size_t>(got);
}

// The mapping object is sized to `length`, so a file that shrank since it was opened fails here instead of
// leaving a view that reaches past its end. The view keeps the mapping object (and the file) open on its own.
Result<const uint8_t*> InputFile::map(size_t length) const {
    const uint64_t size = length;
    OwnedHandle mapping(CreateFileMappingW(reinterpret_cast<HANDLE>(handle_), nullptr, PAGE_READONLY,
                                           static_cast<DWORD>(size >> 32), static_cast<DWORD>(size), nullptr));
    if (!mapping.valid()) return last_windows_error();
    const void* address = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, length);
    if (address == nullptr) return last_windows_error();
    return static_cast<const uint8_t*>(address);
}

void unmap(const uint8_t* data, size_t) noexcept { UnmapViewOfFile(data); }

bool is_regular_file(const std::string& path) {
    const Result<std::wstring> wide = wide_of(path);
    if (!wide.ok()) return false;
    const DWORD attributes = GetFileAttributesW(wide->c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// A name that is not whole UTF-16 (a lone surrogate) has no UTF-8 form, so no reader's path can name it: it is
// passed over.
void list_folder(const std::string& folder, const std::function<void(std::string_view)>& visit) {
    const Result<std::wstring> wide = wide_of(folder);
    if (!wide.ok()) return;
    std::wstring pattern = *wide;
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/' && pattern.back() != L':') {
        pattern += L'\\';
    }
    pattern += L'*';
    WIN32_FIND_DATAW entry{};
    HANDLE first = FindFirstFileW(pattern.c_str(), &entry);
    if (first == INVALID_HANDLE_VALUE) return;
    std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)> search(first, FindClose);
    do {
        const std::string name = utf8_of(entry.cFileName);
        if (!name.empty()) visit(name);
    } while (FindNextFileW(search.get(), &entry));
}

}  // namespace tarnu::platform

#endif
