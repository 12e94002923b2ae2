// Text decoders for names and string data. All results are UTF-8 `std::string`s owned by the caller.
//
// - `decode_compressed_name`: 8-bit names, one byte per character (Latin-1); never fails.
// - `decode_utf16_string`: UTF-16 text with an optional byte-order mark choosing UTF-8, UTF-16LE or UTF-16BE;
//   strict: any ill-formed input fails with InvalidUtf16 carrying the caller's cell offset (none for value data).
// - `utf8_lossy`: bytes read as UTF-8, each ill-formed sequence replaced by U+FFFD.
// - `decode_utf16le`: UTF-16LE text exactly as stored (no byte-order mark, every U+0000 kept); strict like
//   `decode_utf16_string`.
// Both name decoders drop every U+0000 at the end of the text and keep those inside it.
// Decoders that fail leave nothing to rely on in the string they were writing into.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

std::string decode_compressed_name(Bytes bytes);
Result<std::string> decode_utf16_string(Bytes bytes, std::optional<uint32_t> cell_offset);
// The same two into `out`, whose storage is reused: for callers that decode many names one after another.
void decode_compressed_name(Bytes bytes, std::string& out);
Status decode_utf16_string(Bytes bytes, std::optional<uint32_t> cell_offset, std::string& out);
// The name stored after the fixed part of a record (a key node, a value key): `length` bytes of `cell` from
// `fixed_size` on, 8-bit when `compressed`, else UTF-16; TruncatedData carrying `cell_offset` when the cell ends
// before the name does.
Status decode_record_name(Bytes cell, size_t fixed_size, uint16_t length, bool compressed, uint32_t cell_offset,
                          std::string& out);
std::string utf8_lossy(Bytes bytes);
Result<std::string> decode_utf16le(Bytes bytes, uint32_t cell_offset);

}  // namespace tarnu
