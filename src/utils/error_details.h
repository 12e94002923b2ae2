// The details of each error kind, by name: one struct per kind, and for InvalidFormat one per problem it reports
// (in `malformed`). The offset an error concerns is not among them; `HiveError` keeps it beside the details.
//
// Each struct names its kind (`kKind`) and lists its fields by name to a callable (`each`), as numbers (`uint64_t`,
// `int64_t`), texts (`std::string_view`) or byte strings (`Bytes`): the Python binding builds an error's `details`
// from that list. `HiveError::message` (utils/error.cpp) builds each one's text.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "utils/bytes.h"

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

namespace error_details {

inline Bytes bytes_of(std::string_view text) {
    return Bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

struct Io {
    static constexpr ErrorKind kKind = ErrorKind::Io;
    int os_code = 0;            // the errno value, when the operating system failed
    uint32_t windows_code = 0;  // the Windows error code, when a Windows call failed
    std::string text;           // the system's description of the code, or the whole text of the reader's own
    template <typename F> void each(F&& f) const {
        f("os_code", int64_t{os_code});
        f("windows_code", uint64_t{windows_code});
        f("text", std::string_view(text));
    }
};

struct InvalidSignature {
    static constexpr ErrorKind kKind = ErrorKind::InvalidSignature;
    std::string expected, found;  // as bytes
    template <typename F> void each(F&& f) const { f("expected", bytes_of(expected)); f("found", bytes_of(found)); }
};

struct InvalidOffset {
    static constexpr ErrorKind kKind = ErrorKind::InvalidOffset;
    uint64_t hive_size = 0;  // the image's length; 0 for an offset whose image position does not fit in 32 bits
    template <typename F> void each(F&& f) const { f("hive_size", hive_size); }
};

struct InvalidCellSize {
    static constexpr ErrorKind kKind = ErrorKind::InvalidCellSize;
    int32_t size = 0;  // the size field as stored
    template <typename F> void each(F&& f) const { f("size", int64_t{size}); }
};

struct NotFound {
    static constexpr ErrorKind kKind = ErrorKind::NotFound;
    enum class What : uint8_t { Key, Value } what = What::Key;
    std::string name;  // the key's path, or the value's name, as the caller gave it
    std::string note;  // why the key cannot be there (a path for another type of hive); usually empty
    template <typename F> void each(F&& f) const {
        f(what == What::Key ? "path" : "name", std::string_view(name));
        if (!note.empty()) f("note", std::string_view(note));
    }
};

struct InvalidUtf16 {
    static constexpr ErrorKind kKind = ErrorKind::InvalidUtf16;
    template <typename F> void each(F&&) const {}
};

struct HiveTooSmall {
    static constexpr ErrorKind kKind = ErrorKind::HiveTooSmall;
    uint64_t size = 0, minimum = 0;  // bytes
    template <typename F> void each(F&& f) const { f("size", size); f("minimum", minimum); }
};

struct ChecksumMismatch {
    static constexpr ErrorKind kKind = ErrorKind::ChecksumMismatch;
    uint32_t expected = 0, calculated = 0;  // the stored checksum, and that of the block's words
    template <typename F> void each(F&& f) const {
        f("expected", uint64_t{expected});
        f("calculated", uint64_t{calculated});
    }
};

struct UnsupportedVersion {
    static constexpr ErrorKind kKind = ErrorKind::UnsupportedVersion;
    uint32_t major = 0, minor = 0;
    template <typename F> void each(F&& f) const { f("major", uint64_t{major}); f("minor", uint64_t{minor}); }
};

struct TruncatedData {
    static constexpr ErrorKind kKind = ErrorKind::TruncatedData;
    uint64_t expected = 0, got = 0;  // bytes
    template <typename F> void each(F&& f) const { f("expected", expected); f("got", got); }
};

struct InvalidSubkeyListType {
    static constexpr ErrorKind kKind = ErrorKind::InvalidSubkeyListType;
    std::array<uint8_t, 2> signature{};  // as found
    template <typename F> void each(F&& f) const { f("signature", Bytes(signature)); }
};

}  // namespace error_details

// The problems of InvalidFormat errors, each with its own text and its name (`kProblem`). The offset is that of the
// record, bin or key the text names first.
namespace malformed {

// A text of its own, without an offset.
struct Text {
    static constexpr ErrorKind kKind = ErrorKind::InvalidFormat;
    static constexpr const char* kProblem = "Text";
    std::string text;
    template <typename F> void each(F&& f) const { f("text", std::string_view(text)); }
};

// A record without its signature: "nk", "vk", "sk", or "db", which also shows what it found instead.
struct Signature {
    static constexpr ErrorKind kKind = ErrorKind::InvalidFormat;
    static constexpr const char* kProblem = "Signature";
    std::string expected;
    std::optional<std::array<uint8_t, 2>> found = std::nullopt;
    template <typename F> void each(F&& f) const {
        f("expected", error_details::bytes_of(expected));
        if (found) f("found", Bytes(*found));
    }
};

// A hive bin whose offset field (`found`) is not its position.
struct HbinOffset {
    static constexpr ErrorKind kKind = ErrorKind::InvalidFormat;
    static constexpr const char* kProblem = "HbinOffset";
    uint64_t found = 0;
    template <typename F> void each(F&& f) const { f("found", found); }
};

// A hive bin of size 0, or one that would end past 32 bits.
struct HbinSize {
    static constexpr ErrorKind kKind = ErrorKind::InvalidFormat;
    static constexpr const char* kProblem = "HbinSize";
    uint64_t size = 0;
    template <typename F> void each(F&& f) const { f("size", size); }
};

// A subkey index list nested more than `limit` levels deep.
struct IndexDepth {
    static constexpr ErrorKind kKind = ErrorKind::InvalidFormat;
    static constexpr const char* kProblem = "IndexDepth";
    uint64_t limit = 0;
    template <typename F> void each(F&& f) const { f("limit", limit); }
};

// The subkey lists reached from one list name more entries than the hive holds.
struct ListEntries {
    static constexpr ErrorKind kKind = ErrorKind::InvalidFormat;
    static constexpr const char* kProblem = "ListEntries";
    template <typename F> void each(F&&) const {}
};

// The subkey lists below a key of a walk name more entries than the hive holds.
struct WalkEntries {
    static constexpr ErrorKind kKind = ErrorKind::InvalidFormat;
    static constexpr const char* kProblem = "WalkEntries";
    template <typename F> void each(F&&) const {}
};

// A key more than `limit` levels below the walk's first key.
struct WalkDepth {
    static constexpr ErrorKind kKind = ErrorKind::InvalidFormat;
    static constexpr const char* kProblem = "WalkDepth";
    uint64_t limit = 0;
    template <typename F> void each(F&& f) const { f("limit", limit); }
};

// A key more than `limit` levels below the root.
struct PathDepth {
    static constexpr ErrorKind kKind = ErrorKind::InvalidFormat;
    static constexpr const char* kProblem = "PathDepth";
    uint64_t limit = 0;
    template <typename F> void each(F&& f) const { f("limit", limit); }
};

// A key's parents that come back to a key already passed, at `back_to`.
struct ParentLoop {
    static constexpr ErrorKind kKind = ErrorKind::InvalidFormat;
    static constexpr const char* kProblem = "ParentLoop";
    uint64_t back_to = 0;
    template <typename F> void each(F&& f) const { f("back_to", back_to); }
};

// A key whose parent offset does not lead to a key node.
struct ParentNotKey {
    static constexpr ErrorKind kKind = ErrorKind::InvalidFormat;
    static constexpr const char* kProblem = "ParentNotKey";
    uint64_t parent = 0;
    template <typename F> void each(F&& f) const { f("parent", parent); }
};

// A key's values holding more than `limit` bytes of data, `times` the hive's size.
struct ValueDataSize {
    static constexpr ErrorKind kKind = ErrorKind::InvalidFormat;
    static constexpr const char* kProblem = "ValueDataSize";
    uint64_t limit = 0, times = 0;
    template <typename F> void each(F&& f) const { f("limit", limit); f("times", times); }
};

// One call that would gather more than `limit` bytes, `times` the hive's size, from the key it names: the names and
// data of a key's values (when the data alone stays within the bound), the names of its subkeys, the names and
// list entries a lookup below it reads, the names and data of the values of a walk's keys, or the paths, names and
// data of the rows of what recovery finds (no key: the offset is 0).
struct Budget {
    static constexpr ErrorKind kKind = ErrorKind::InvalidFormat;
    static constexpr const char* kProblem = "Budget";
    enum class Call : uint8_t { Values, Subkeys, Lookup, Walk, Recovery } call = Call::Values;
    uint64_t limit = 0, times = 0;
    std::string_view call_name() const {
        constexpr std::array<std::string_view, 5> kNames = {"values", "subkeys", "lookup", "walk", "recovery"};
        return kNames[static_cast<size_t>(call)];
    }
    template <typename F> void each(F&& f) const {
        f("call", call_name());
        f("limit", limit);
        f("times", times);
    }
};

}  // namespace malformed
}  // namespace tarnu
