// Base blocks as log recovery judges them: a Windows log's header (the first 512 bytes of a base block, file
// type 1, 2 or 6), whether a log or a primary base block can be trusted, and whether a primary is dirty; what the
// Windows formats share in recognising and describing a log by its header.
//
// Judgements return the reason a block fails, as text for the replay report, or nothing when it passes. Unlike
// the hive opener, they accept the checksum values Windows stores for an XOR of 0 and of 0xFFFFFFFF.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include "hive/hive.h"
#include "logs/log_format.h"
#include "utils/bytes.h"

namespace tarnu {

// The checksum as Windows stores it: the XOR of the first 127 words, with 0 stored as 1 and 0xFFFFFFFF as
// 0xFFFFFFFE.
uint32_t windows_checksum(Bytes block);

// Why the base block at the start of `file` cannot serve as a Windows log's header, if it cannot: the
// signature, checksum, equal sequence numbers, a log file type, version 1.1 to 1.6, format 1, clustering 1,
// and a hive bins data size that is a multiple of 4096 from 4096 up to the largest this reader accepts.
std::optional<std::string> log_header_problem(Bytes file);

// Why the primary's base block (at the start of `image`) cannot be trusted, if it cannot: the same checks as
// for a log, but file type 0 and sequence numbers that may differ.
std::optional<std::string> primary_base_block_problem(Bytes image);

// A primary is dirty when its base block cannot be trusted or its two sequence numbers differ.
bool primary_is_dirty(Bytes image);

// Whether a file that begins with "regf" is a Windows log of one of `file_types`, and whether its header is usable.
Recognition recognise_windows_log(Bytes file, std::initializer_list<uint32_t> file_types);

// The sequence numbers and hive bins data size of a recognised Windows log's header.
LogDescription describe_windows_log(Bytes file);

}  // namespace tarnu
