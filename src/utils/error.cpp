#include "utils/error.h"

#include "utils/format.h"
#include "utils/text.h"

namespace tarnu {
namespace {

std::string as_text(const std::string& bytes) {
    return utf8_lossy(Bytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace

HiveError HiveError::io(int os_code, uint32_t windows_code, std::string system_text) {
    HiveError e(ErrorKind::Io);
    e.os_code_ = os_code;
    e.windows_code_ = windows_code;
    e.text_ = std::move(system_text);
    return e;
}

HiveError HiveError::io_text(std::string text) {
    HiveError e(ErrorKind::Io);
    e.text_ = std::move(text);
    return e;
}

HiveError HiveError::invalid_signature(std::string expected, std::string found) {
    HiveError e(ErrorKind::InvalidSignature);
    e.text_ = std::move(expected);
    e.text2_ = std::move(found);
    return e;
}

HiveError HiveError::invalid_format(std::string text) {
    HiveError e(ErrorKind::InvalidFormat);
    e.text_ = std::move(text);
    return e;
}

HiveError HiveError::invalid_offset(uint32_t offset, uint64_t hive_size) {
    HiveError e(ErrorKind::InvalidOffset);
    e.a_ = offset;
    e.b_ = hive_size;
    return e;
}

HiveError HiveError::invalid_cell_size(int32_t size, uint32_t offset) {
    HiveError e(ErrorKind::InvalidCellSize);
    e.a_ = static_cast<uint64_t>(static_cast<int64_t>(size));
    e.b_ = offset;
    return e;
}

HiveError HiveError::not_found(std::string text) {
    HiveError e(ErrorKind::NotFound);
    e.text_ = std::move(text);
    return e;
}

HiveError HiveError::invalid_utf16(uint32_t offset) {
    HiveError e(ErrorKind::InvalidUtf16);
    e.a_ = offset;
    return e;
}

HiveError HiveError::hive_too_small(uint64_t size, uint64_t minimum) {
    HiveError e(ErrorKind::HiveTooSmall);
    e.a_ = size;
    e.b_ = minimum;
    return e;
}

HiveError HiveError::checksum_mismatch(uint32_t expected, uint32_t calculated) {
    HiveError e(ErrorKind::ChecksumMismatch);
    e.a_ = expected;
    e.b_ = calculated;
    return e;
}

HiveError HiveError::unsupported_version(uint32_t major, uint32_t minor) {
    HiveError e(ErrorKind::UnsupportedVersion);
    e.a_ = major;
    e.b_ = minor;
    return e;
}

HiveError HiveError::truncated_data(uint32_t offset, uint64_t expected, uint64_t got) {
    HiveError e(ErrorKind::TruncatedData);
    e.a_ = offset;
    e.b_ = expected;
    e.c_ = got;
    return e;
}

HiveError HiveError::invalid_subkey_list_type(uint8_t first, uint8_t second) {
    HiveError e(ErrorKind::InvalidSubkeyListType);
    e.a_ = first;
    e.b_ = second;
    return e;
}

std::string HiveError::message() const {
    switch (kind_) {
        case ErrorKind::Io:
            if (windows_code_ != 0) return text_ + " (os error " + std::to_string(windows_code_) + ")";
            if (os_code_ != 0) return text_ + " (os error " + std::to_string(os_code_) + ")";
            return text_;
        case ErrorKind::InvalidSignature:
            return "Invalid signature: expected " + as_text(text_) + ", found " + as_text(text2_);
        case ErrorKind::InvalidFormat:
            return "Invalid format: " + text_;
        case ErrorKind::InvalidOffset:
            return "Invalid offset " + hex(a_) + " (hive size: " + hex(b_) + ")";
        case ErrorKind::InvalidCellSize:
            return "Invalid cell size " + dec_signed(static_cast<int64_t>(a_)) + " at offset " + hex(b_);
        case ErrorKind::NotFound:
            return "Not found: " + text_;
        case ErrorKind::InvalidUtf16:
            return "Invalid UTF-16 string at offset " + hex(a_);
        case ErrorKind::HiveTooSmall:
            return "Hive too small: " + dec(a_) + " bytes (minimum: " + dec(b_) + " bytes)";
        case ErrorKind::ChecksumMismatch:
            return "Checksum mismatch: expected " + hex(a_) + ", calculated " + hex(b_);
        case ErrorKind::UnsupportedVersion:
            return "Unsupported hive version: " + dec(a_) + "." + dec(b_);
        case ErrorKind::TruncatedData:
            return "Truncated data at offset " + hex(a_) + ": expected " + dec(b_) + " bytes, got " + dec(c_) +
                   " bytes";
        case ErrorKind::InvalidSubkeyListType: {
            const uint8_t sig[2] = {static_cast<uint8_t>(a_), static_cast<uint8_t>(b_)};
            return "Invalid subkey list type: " + byte_list(sig, 2);
        }
    }
    return "unknown error";
}

}  // namespace tarnu
