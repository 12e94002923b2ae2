// Transaction logs: reading a log file ("HvLE" header, "DIRT" blocks of dirty pages) and replaying the pages of
// up to two logs onto an owned hive image before the hive is built.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "error/error.h"
#include "hive/file_io.h"
#include "hive/hive.h"

namespace tarnu {

struct DirtyPage {
    uint32_t hive_offset = 0;  // from the first byte of the hive file
    uint32_t page_size = 0;    // 1 to 65536
    std::vector<uint8_t> page_data;
};

struct TransactionLog {
    uint32_t sequence_number = 0;
    std::vector<DirtyPage> dirty_pages;
};

// Parses a log already read into memory.
Result<TransactionLog> parse_transaction_log(Bytes file);
// Reads and parses the log file at `path`.
Result<TransactionLog> read_transaction_log(const std::string& path);

// Copies the pages of `logs`, in order, into `image`, growing it with zero bytes where a page ends past it.
// Returns the number of pages applied.
Result<size_t> apply_transaction_logs(ByteBuffer& image, const std::vector<TransactionLog>& logs);

// Reads the primary file whole, replays the logs that can be read (others are passed over), repairs the
// checksum if any page was applied, and builds the hive from the result.
Result<SharedHive> open_hive_with_logs(const std::string& hive_path, const std::optional<std::string>& log1_path,
                                       const std::optional<std::string>& log2_path);

}  // namespace tarnu
