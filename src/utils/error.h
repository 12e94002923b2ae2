// The one error type of the reader: a kind, the offset it concerns when there is one, the kind's details by name
// (utils/error_details.h), and its message text, built from those.
//
// Every fallible operation returns `Result<T>`: its value or a `HiveError`. Errors own their fields (no views
// into a hive image), travel up unchanged, and are turned into text by `message()` only at the Python boundary.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "utils/error_details.h"

namespace tarnu {

class HiveError {
public:
    using Details = std::variant<error_details::Io, error_details::InvalidSignature, error_details::InvalidOffset,
                                 error_details::InvalidCellSize, error_details::NotFound, error_details::InvalidUtf16,
                                 error_details::HiveTooSmall, error_details::ChecksumMismatch,
                                 error_details::UnsupportedVersion, error_details::TruncatedData,
                                 error_details::InvalidSubkeyListType, malformed::Text, malformed::Signature,
                                 malformed::HbinOffset, malformed::HbinSize, malformed::IndexDepth,
                                 malformed::ListEntries, malformed::WalkEntries, malformed::WalkDepth,
                                 malformed::PathDepth, malformed::ParentLoop, malformed::ParentNotKey,
                                 malformed::ValueDataSize, malformed::Budget>;

    // An operating-system failure: its errno value, the Windows error code when a Windows call failed (0
    // otherwise), and the system's description of the code the message shows. The platform layer makes these
    // (platform/system_error.h), so that this type needs nothing from it.
    static HiveError io(int os_code, uint32_t windows_code, std::string system_text);
    // An I/O failure found by the reader itself; `text` is the whole message.
    static HiveError io_text(std::string text);
    static HiveError invalid_signature(std::string expected, std::string found);
    // One of the problems in `malformed`, concerning the record, bin or key at `offset`.
    template <typename Problem>
        requires(Problem::kKind == ErrorKind::InvalidFormat)
    static HiveError invalid_format(uint64_t offset, Problem problem) {
        return HiveError(offset, std::move(problem));
    }
    // A problem told by a text of its own, with no offset.
    static HiveError invalid_format(std::string text);
    static HiveError invalid_offset(uint32_t offset, uint64_t hive_size);
    static HiveError invalid_cell_size(int32_t size, uint32_t offset);
    static HiveError key_not_found(std::string path);
    // A key that cannot be there, with the reason: "the path is for a SOFTWARE hive; this one is SYSTEM".
    static HiveError key_not_found(std::string path, std::string note);
    static HiveError value_not_found(std::string name);
    // Text that does not decode: in the cell at `offset`, or in value data (no offset).
    static HiveError invalid_utf16(std::optional<uint32_t> offset);
    static HiveError hive_too_small(uint64_t size, uint64_t minimum);
    static HiveError checksum_mismatch(uint32_t expected, uint32_t calculated);
    static HiveError unsupported_version(uint32_t major, uint32_t minor);
    // Fewer bytes than needed: in the cell or bin at `offset`, or in value data (no offset).
    static HiveError truncated_data(std::optional<uint32_t> offset, uint64_t expected, uint64_t got);
    // The subkey list at `offset` begins with a signature of no list kind.
    static HiveError invalid_subkey_list_type(uint32_t offset, uint8_t first, uint8_t second);

    // Copies copy the details; a moved-from error holds none and may only be assigned to or destroyed.
    HiveError(const HiveError& other) : offset_(other.offset_), details_(std::make_unique<Details>(*other.details_)) {}
    HiveError& operator=(const HiveError& other) {
        offset_ = other.offset_;
        details_ = std::make_unique<Details>(*other.details_);
        return *this;
    }
    HiveError(HiveError&&) noexcept = default;
    HiveError& operator=(HiveError&&) noexcept = default;

    ErrorKind kind() const {
        return std::visit([](const auto& d) { return std::decay_t<decltype(d)>::kKind; }, *details_);
    }
    // The offset the error concerns: a cell offset, or the hive-bins position of a bin; none when the error
    // concerns no place in the hive (a file, a version, value data).
    std::optional<uint64_t> offset() const { return offset_; }
    const Details& details() const { return *details_; }
    // The name of an InvalidFormat error's problem ("Signature", "ParentLoop", ...), else nullptr.
    const char* problem() const;
    // Hands each detail to `f` as `f(name, value)`; see utils/error_details.h.
    template <typename F>
    void each_detail(F&& f) const {
        std::visit([&f](const auto& d) { d.each(f); }, *details_);
    }
    // The errno value of an `Io` error that came from the operating system, else 0.
    int os_code() const;
    // The Windows error code of an `Io` error that came from a Windows call, else 0.
    uint32_t windows_code() const;
    // The message text, built from the offset and the details.
    std::string message() const;

private:
    template <typename D>
    HiveError(std::optional<uint64_t> offset, D details)
        : offset_(offset), details_(std::make_unique<Details>(std::move(details))) {}

    std::optional<uint64_t> offset_;
    // The details live apart, made when the error is: every `Result<T>` holds room for an error beside its value,
    // and with the details apart that room is small and its moves and destruction cheap, which the hot reads (a
    // cell, a key node, a subkey list) pay on every success.
    std::unique_ptr<Details> details_;
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
