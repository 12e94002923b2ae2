// Text conversion between UTF-8 and UTF-16 for the Windows calls. Windows only.
#ifdef _WIN32

#include "platform/windows_support.h"

#include <climits>

namespace tarnu::platform {

Result<std::wstring> wide_of(std::string_view text) {
    if (text.empty()) return std::wstring();
    if (text.size() > INT_MAX) return windows_error(ERROR_FILENAME_EXCED_RANGE);
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) return last_windows_error();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length) != length) {
        return last_windows_error();
    }
    return wide;
}

std::string utf8_of(std::wstring_view text) {
    if (text.empty() || text.size() > INT_MAX) return std::string();
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), size, nullptr, 0, nullptr,
                                           nullptr);
    if (length <= 0) return std::string();
    std::string utf8(static_cast<size_t>(length), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), size, utf8.data(), length, nullptr,
                            nullptr) != length) {
        return std::string();
    }
    return utf8;
}

}  // namespace tarnu::platform

#endif
