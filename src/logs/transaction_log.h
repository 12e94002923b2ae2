// The reader's own log layout: a 4096-byte header ("HvLE" and a sequence number) and "DIRT" blocks of dirty
// pages, each page an offset into the hive image, a size and the bytes. Parsing yields the pages as views of
// the log's bytes; applying copies them, in order, into an owned image within fixed limits. The format's entry
// (kBlocksLogFormat, "blocks") applies its logs to any primary in their sequence order.
#pragma once

#include <cstdint>
#include <vector>

#include "hive/file_io.h"
#include "logs/dirty_page.h"
#include "utils/error.h"

namespace tarnu {

struct TransactionLog {
    uint32_t sequence_number = 0;
    std::vector<DirtyPage> dirty_pages;  // views of the bytes the log was parsed from
    bool reached_page_stop = false;      // the block scan ended at the page stop, not at the end of the file
};

// Parses a log already read into memory. The pages view `file`, which must outlive them.
Result<TransactionLog> parse_transaction_log(Bytes file);

// Copies the pages of `logs`, in order, into `image`, growing it with zero bytes where a page ends past it.
// Returns the number of pages applied.
Result<size_t> apply_transaction_logs(ByteBuffer& image, const std::vector<TransactionLog>& logs);

}  // namespace tarnu
