// What the Windows parts of the platform layer share: <windows.h> without its min/max macros, text between the
// reader's UTF-8 and the UTF-16 of the Windows calls, the error of the call that just failed, and a handle closed
// with its owner. Windows only.
#pragma once

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// "An operation is not supported on a directory": what the reader reports for a folder given as a file. Older
// headers (MinGW-w64's among them) lack its name.
#ifndef ERROR_DIRECTORY_NOT_SUPPORTED
#define ERROR_DIRECTORY_NOT_SUPPORTED 336L
#endif

#include <string>
#include <string_view>

#include "platform/system_error.h"
#include "utils/error.h"

namespace tarnu::platform {

// `text` as UTF-16, for the Windows calls. Text that is not UTF-8 names no file: it fails with
// ERROR_NO_UNICODE_TRANSLATION.
Result<std::wstring> wide_of(std::string_view text);
// `text` as UTF-8; empty when it is not UTF-16 (a lone surrogate).
std::string utf8_of(std::wstring_view text);

// The error of the Windows call that just failed.
inline HiveError last_windows_error() { return windows_error(GetLastError()); }

// A handle closed when it goes out of scope.
class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() { reset(); }
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    // Closes the handle now; false when closing fails (the error is then GetLastError's).
    bool reset() {
        const bool closed = !valid() || CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE handle_;
};

}  // namespace tarnu::platform

#endif
