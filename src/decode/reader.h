// What every decoder of binary value data shares: notes about malformed parts, reads that check the length first,
// and the text rules of stored strings.
//
// A decoder never fails as a whole: it keeps what it could read and adds a `Note` (where, what was expected, what
// was there) for each part that it could not. `Reader` is a view of the data with the place its notes go; its
// `need` checks that a fixed part fits (noting it when not) and its `u16`/`u32`/`u64` read one field when it fits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "utils/bytes.h"

namespace tarnu::decode {

struct Note {
    size_t offset = 0;     // from the start of the data the caller passed in
    std::string expected;  // "8 bytes for a FILETIME", "signature 0xbadc0fee", ...
    std::string found;     // "3 bytes", "0x12345678", ...
};
using Notes = std::vector<Note>;

class Reader {
public:
    // `base` is the offset of `data` within what the caller decodes, so that notes name the caller's offsets.
    Reader(Bytes data, Notes& notes, size_t base = 0) : data_(data), notes_(&notes), base_(base) {}

    Bytes data() const { return data_; }
    // The offset of this view within what the caller decodes.
    size_t base() const { return base_; }
    size_t size() const { return data_.size(); }
    bool fits(size_t at, size_t size) const { return at <= data_.size() && size <= data_.size() - at; }
    // True when `size` bytes fit at `at`; otherwise notes "<size> bytes for <what>" against the bytes left.
    bool need(size_t at, size_t size, const char* what);
    std::optional<uint8_t> u8(size_t at, const char* what);
    std::optional<uint16_t> u16(size_t at, const char* what);
    std::optional<uint32_t> u32(size_t at, const char* what);
    std::optional<uint64_t> u64(size_t at, const char* what);
    // The bytes from `at` to the end (none when `at` lies past it).
    Bytes rest(size_t at) const { return at < data_.size() ? data_.subspan(at) : Bytes(); }
    // A reader of `size` bytes at `at` (cut to what is there) whose notes carry this reader's offsets.
    Reader sub(size_t at, size_t size) const;
    void note(size_t at, std::string expected, std::string found);
    // `claimed` records of `size` bytes from `at`, cut to what the data holds; when cut, notes "room for <claimed>
    // <what>" at `count_at`, the place of the count.
    size_t clamp_count(size_t claimed, size_t at, size_t size, size_t count_at, const char* what);
    Notes& notes() { return *notes_; }

private:
    Bytes data_;
    Notes* notes_;
    size_t base_;
};

// UTF-16LE text as stored in binary data: cut at the first U+0000 (what follows is leftover memory), a trailing odd
// byte dropped, an unpaired surrogate decoded as U+FFFD rather than failing.
std::string utf16_text(Bytes bytes);
// The end of the UTF-16 string at `at`: the offset past its U+0000, or the end of the data (even-aligned) without one.
size_t utf16_string_end(Bytes bytes, size_t at);
// Single-byte text cut at the first NUL; bytes above 0x7F are taken as Latin-1.
std::string ascii_text(Bytes bytes);
// Up to `count` leading bytes in lowercase hex, separated by spaces: "de ad be ef".
std::string hex_head(Bytes bytes, size_t count = 16);
// "12 bytes" style counts for notes.
std::string byte_count(size_t count);

}  // namespace tarnu::decode
