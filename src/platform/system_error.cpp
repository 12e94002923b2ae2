// The texts of errno values and Windows error codes, and the errno value of a Windows error code.
#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include "platform/windows_support.h"
#endif

namespace tarnu::platform {
namespace {

void drop_trailing_space(std::string& text) {
    while (!text.empty() && (text.back() == ' ' || (text.back() >= '\t' && text.back() <= '\r'))) text.pop_back();
}

}  // namespace

HiveError os_error(int code) { return HiveError::io(code, 0, errno_text(code)); }

std::string errno_text(int code) {
    char buffer[256];
    buffer[0] = '\0';
#ifdef _WIN32
    std::string text = strerror_s(buffer, sizeof buffer, code) == 0 ? buffer : "Unknown error";
#elif defined(__GLIBC__) && defined(_GNU_SOURCE)
    // The GNU strerror_r may return a static string instead of filling the buffer; the XSI one fills it.
    std::string text = strerror_r(code, buffer, sizeof buffer);
#else
    std::string text = strerror_r(code, buffer, sizeof buffer) == 0 ? buffer : "Unknown error";
#endif
    drop_trailing_space(text);
    return text;
}

#ifdef _WIN32

std::string windows_error_text(unsigned long code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = length > 0 ? utf8_of(std::wstring_view(buffer, length)) : std::string();
    if (buffer != nullptr) LocalFree(buffer);
    drop_trailing_space(text);
    // The reader reports this code for a folder given as a file; systems older than Windows 8 (and Wine) have no
    // text for it.
    if (text.empty() && code == ERROR_DIRECTORY_NOT_SUPPORTED) return "An operation is not supported on a directory.";
    return text.empty() ? "Unknown error" : text;
}

int errno_of_windows_error(unsigned long code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_NAME:
        case ERROR_FILENAME_EXCED_RANGE:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
        case ERROR_NETWORK_ACCESS_DENIED:
        case ERROR_CANNOT_MAKE:
        case ERROR_CURRENT_DIRECTORY:
        case ERROR_DRIVE_LOCKED:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_DIRECTORY_NOT_SUPPORTED:
            return EISDIR;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILE_TOO_LARGE:
            return EFBIG;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            return EPIPE;
        case ERROR_CANT_RESOLVE_FILENAME:
            return ELOOP;
        default:
            return EINVAL;
    }
}

HiveError windows_error(unsigned long code) {
    return HiveError::io(errno_of_windows_error(code), static_cast<uint32_t>(code), windows_error_text(code));
}

#endif

}  // namespace tarnu::platform
