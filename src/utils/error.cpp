#include "utils/error.h"

#include "utils/format.h"
#include "utils/text.h"

namespace tarnu {
namespace {

namespace d = error_details;

std::string as_text(const std::string& bytes) { return utf8_lossy(d::bytes_of(bytes)); }

// The text of each kind and problem, from its details and the error's offset (`at`, 0 when it has none).
std::string text(const d::Io& e, uint64_t) {
    if (e.windows_code != 0) return e.text + " (os error " + std::to_string(e.windows_code) + ")";
    if (e.os_code != 0) return e.text + " (os error " + std::to_string(e.os_code) + ")";
    return e.text;
}
std::string text(const d::InvalidSignature& e, uint64_t) {
    return "Invalid signature: expected " + as_text(e.expected) + ", found " + as_text(e.found);
}
std::string text(const d::InvalidOffset& e, uint64_t at) {
    return "Invalid offset " + hex(at) + " (hive size: " + hex(e.hive_size) + ")";
}
std::string text(const d::InvalidCellSize& e, uint64_t at) {
    return "Invalid cell size " + dec_signed(e.size) + " at offset " + hex(at);
}
std::string text(const d::NotFound& e, uint64_t) {
    std::string out = std::string("Not found: ") + (e.what == d::NotFound::What::Key ? "Key '" : "Value '");
    out += e.name + "'";
    if (!e.note.empty()) out += " (" + e.note + ")";
    return out;
}
std::string text(const d::InvalidUtf16&, uint64_t at) { return "Invalid UTF-16 string at offset " + hex(at); }
std::string text(const d::HiveTooSmall& e, uint64_t) {
    return "Hive too small: " + dec(e.size) + " bytes (minimum: " + dec(e.minimum) + " bytes)";
}
std::string text(const d::ChecksumMismatch& e, uint64_t) {
    return "Checksum mismatch: expected " + hex(e.expected) + ", calculated " + hex(e.calculated);
}
std::string text(const d::UnsupportedVersion& e, uint64_t) {
    return "Unsupported hive version: " + dec(e.major) + "." + dec(e.minor);
}
std::string text(const d::TruncatedData& e, uint64_t at) {
    return "Truncated data at offset " + hex(at) + ": expected " + dec(e.expected) + " bytes, got " + dec(e.got) +
           " bytes";
}
std::string text(const d::InvalidSubkeyListType& e, uint64_t) {
    return "Invalid subkey list type: " + byte_list(e.signature.data(), e.signature.size());
}

// The problems of InvalidFormat, after "Invalid format: ".
std::string text(const malformed::Text& e, uint64_t) { return e.text; }
std::string text(const malformed::Signature& e, uint64_t at) {
    std::string out = "Expected '" + e.expected + "' signature at offset " + hex(at);
    if (e.found) out += ", found " + byte_list(e.found->data(), e.found->size());
    return out;
}
std::string text(const malformed::HbinOffset& e, uint64_t at) {
    return "Hbin offset mismatch: expected " + hex(at) + ", found " + hex(e.found);
}
std::string text(const malformed::HbinSize& e, uint64_t at) {
    return "Invalid hbin size " + hex(e.size) + " at offset " + hex(at);
}
std::string text(const malformed::IndexDepth& e, uint64_t at) {
    return "Subkey index list at offset " + hex(at) + " is nested more than " + dec(e.limit) + " levels deep";
}
std::string text(const malformed::ListEntries&, uint64_t at) {
    return "Subkey lists reached from offset " + hex(at) + " name more entries than the hive holds";
}
std::string text(const malformed::WalkEntries&, uint64_t at) {
    return "Subkey lists below key at offset " + hex(at) + " name more entries than the hive holds";
}
std::string text(const malformed::WalkDepth& e, uint64_t at) {
    return "Key at offset " + hex(at) + " lies more than " + dec(e.limit) + " levels below the walk's first key";
}
std::string text(const malformed::PathDepth& e, uint64_t at) {
    return "Key at offset " + hex(at) + " is more than " + dec(e.limit) + " levels below the root";
}
std::string text(const malformed::ParentLoop& e, uint64_t at) {
    return "Parents of key at offset " + hex(at) + " loop back to offset " + hex(e.back_to);
}
std::string text(const malformed::ParentNotKey& e, uint64_t at) {
    return "Parent offset " + hex(e.parent) + " of key at offset " + hex(at) + " does not lead to a key node";
}
std::string text(const malformed::ValueDataSize& e, uint64_t at) {
    return "Values of key at offset " + hex(at) + " hold more than " + dec(e.limit) + " bytes of data, " +
           dec(e.times) + " times the hive's size";
}
std::string text(const malformed::Budget& e, uint64_t at) {
    using Call = malformed::Budget::Call;
    const std::string bound = " more than " + dec(e.limit) + " bytes of ";
    const std::string times = ", " + dec(e.times) + " times the hive's size";
    if (e.call == Call::Lookup) {
        return "Lookup below key at offset " + hex(at) + " reads" + bound + "names and lists" + times;
    }
    if (e.call == Call::Recovery) {
        return "Rows of deleted keys and values hold" + bound + "paths, names and data" + times +
               "; later rows have no path and no data";
    }
    if (e.call == Call::Walk) {
        return "Values of the keys walked from key at offset " + hex(at) + " hold" + bound + "names and data" + times;
    }
    if (e.call == Call::Subkeys) return "Subkeys of key at offset " + hex(at) + " hold" + bound + "names" + times;
    return "Values of key at offset " + hex(at) + " hold" + bound + "names and data" + times;
}

}  // namespace

HiveError HiveError::io(int os_code, uint32_t windows_code, std::string system_text) {
    return HiveError(std::nullopt, d::Io{os_code, windows_code, std::move(system_text)});
}

HiveError HiveError::io_text(std::string text) { return HiveError(std::nullopt, d::Io{0, 0, std::move(text)}); }

HiveError HiveError::invalid_signature(std::string expected, std::string found) {
    return HiveError(std::nullopt, d::InvalidSignature{std::move(expected), std::move(found)});
}

HiveError HiveError::invalid_format(std::string text) {
    return HiveError(std::nullopt, malformed::Text{std::move(text)});
}

HiveError HiveError::invalid_offset(uint32_t offset, uint64_t hive_size) {
    return HiveError(offset, d::InvalidOffset{hive_size});
}

HiveError HiveError::invalid_cell_size(int32_t size, uint32_t offset) {
    return HiveError(offset, d::InvalidCellSize{size});
}

HiveError HiveError::key_not_found(std::string path) {
    return HiveError(std::nullopt, d::NotFound{d::NotFound::What::Key, std::move(path), {}});
}

HiveError HiveError::key_not_found(std::string path, std::string note) {
    return HiveError(std::nullopt, d::NotFound{d::NotFound::What::Key, std::move(path), std::move(note)});
}

HiveError HiveError::value_not_found(std::string name) {
    return HiveError(std::nullopt, d::NotFound{d::NotFound::What::Value, std::move(name), {}});
}

HiveError HiveError::invalid_utf16(std::optional<uint32_t> offset) { return HiveError(offset, d::InvalidUtf16{}); }

HiveError HiveError::hive_too_small(uint64_t size, uint64_t minimum) {
    return HiveError(std::nullopt, d::HiveTooSmall{size, minimum});
}

HiveError HiveError::checksum_mismatch(uint32_t expected, uint32_t calculated) {
    return HiveError(std::nullopt, d::ChecksumMismatch{expected, calculated});
}

HiveError HiveError::unsupported_version(uint32_t major, uint32_t minor) {
    return HiveError(std::nullopt, d::UnsupportedVersion{major, minor});
}

HiveError HiveError::truncated_data(std::optional<uint32_t> offset, uint64_t expected, uint64_t got) {
    return HiveError(offset, d::TruncatedData{expected, got});
}

HiveError HiveError::invalid_subkey_list_type(uint32_t offset, uint8_t first, uint8_t second) {
    return HiveError(offset, d::InvalidSubkeyListType{{first, second}});
}

const char* HiveError::problem() const {
    return std::visit(
        [](const auto& e) -> const char* {
            if constexpr (requires { e.kProblem; }) return e.kProblem;
            return nullptr;
        },
        *details_);
}

int HiveError::os_code() const {
    const auto* io = std::get_if<d::Io>(details_.get());
    return io != nullptr ? io->os_code : 0;
}

uint32_t HiveError::windows_code() const {
    const auto* io = std::get_if<d::Io>(details_.get());
    return io != nullptr ? io->windows_code : 0;
}

std::string HiveError::message() const {
    const uint64_t at = offset_.value_or(0);
    return std::visit(
        [at](const auto& e) {
            if constexpr (std::decay_t<decltype(e)>::kKind == ErrorKind::InvalidFormat) {
                return "Invalid format: " + text(e, at);
            }
            return text(e, at);
        },
        *details_);
}

}  // namespace tarnu
