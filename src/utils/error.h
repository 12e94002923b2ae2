// The one error type of the reader: a kind, the fields that kind carries, and its message text.
//
// Every fallible operation returns `Result<T>`: its value or a `HiveError`. Errors own their fields (no views
// into a hive image), travel up unchanged, and are turned into text by `message()` only at the Python boundary.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace tarnu {

enum class ErrorKind : uint8_t {
    Io,
    InvalidSignature,
    InvalidFormat,
    InvalidOffset,
    InvalidCellSize,
    NotFound,
    InvalidUtf16,
    HiveTooSmall,
    ChecksumMismatch,
    UnsupportedVersion,
    TruncatedData,
    InvalidSubkeyListType,
};

class HiveError {
public:
    // An operating-system failure: its errno value, the Windows error code when a Windows call failed (0
    // otherwise), and the system's description of the code the message shows. The platform layer makes these
    // (platform/system_error.h), so that this type needs nothing from it.
    static HiveError io(int os_code, uint32_t windows_code, std::string system_text);
    // An I/O failure found by the reader itself; `text` is the whole message.
    static HiveError io_text(std::string text);
    static HiveError invalid_signature(std::string expected, std::string found);
    static HiveError invalid_format(std::string text);
    static HiveError invalid_offset(uint32_t offset, uint64_t hive_size);
    static HiveError invalid_cell_size(int32_t size, uint32_t offset);
    static HiveError not_found(std::string text);
    static HiveError invalid_utf16(uint32_t offset);
    static HiveError hive_too_small(uint64_t size, uint64_t minimum);
    static HiveError checksum_mismatch(uint32_t expected, uint32_t calculated);
    static HiveError unsupported_version(uint32_t major, uint32_t minor);
    static HiveError truncated_data(uint32_t offset, uint64_t expected, uint64_t got);
    static HiveError invalid_subkey_list_type(uint8_t first, uint8_t second);

    ErrorKind kind() const { return kind_; }
    // The errno value of an `Io` error that came from the operating system, else 0.
    int os_code() const { return os_code_; }
    // The Windows error code of an `Io` error that came from a Windows call, else 0.
    uint32_t windows_code() const { return windows_code_; }
    // The message text, built from the fields.
    std::string message() const;

private:
    explicit HiveError(ErrorKind kind) : kind_(kind) {}

    ErrorKind kind_;
    int os_code_ = 0;
    uint32_t windows_code_ = 0;
    // Numeric fields, in the order the kind's message uses them.
    uint64_t a_ = 0, b_ = 0, c_ = 0;
    // Text fields: the whole text of InvalidFormat/NotFound/Io, or expected and found of InvalidSignature.
    std::string text_, text2_;
};

// A value or a HiveError.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(HiveError error) : v_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() & { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    const T& value() const& { return std::get<0>(v_); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    HiveError& error() & { return std::get<1>(v_); }
    HiveError&& error() && { return std::get<1>(std::move(v_)); }
    const HiveError& error() const& { return std::get<1>(v_); }

private:
    std::variant<T, HiveError> v_;
};

// Success without a value.
struct Ok {};
using Status = Result<Ok>;

}  // namespace tarnu

#define TARNU_CONCAT_INNER(a, b) a##b
#define TARNU_CONCAT(a, b) TARNU_CONCAT_INNER(a, b)

// `TARNU_TRY(auto x, f());` declares x with the value of f(), or returns f()'s error from the enclosing function.
#define TARNU_TRY(decl, expr)                                                                          \
    auto TARNU_CONCAT(tarnu_result_, __LINE__) = (expr);                                                \
    if (!TARNU_CONCAT(tarnu_result_, __LINE__).ok())                                                    \
        return std::move(TARNU_CONCAT(tarnu_result_, __LINE__)).error();                                \
    decl = std::move(TARNU_CONCAT(tarnu_result_, __LINE__)).value()

// `TARNU_CHECK(f());` returns f()'s error from the enclosing function, if it has one.
#define TARNU_CHECK(expr)                                                                              \
    do {                                                                                               \
        auto tarnu_status_ = (expr);                                                                   \
        if (!tarnu_status_.ok()) return std::move(tarnu_status_).error();                              \
    } while (false)
