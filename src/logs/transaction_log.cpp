#include "logs/transaction_log.h"

#include "hive/limits.h"
#include "utils/format.h"

namespace tarnu {
namespace {

// Appends the pages of the dirty block at file offset `block` to `pages`. Entries may run on past the block's
// 4096 bytes up to the end of the file; an entry that does not fit ends the block.
void read_dirty_block(Bytes file, size_t block, std::vector<DirtyPage>& pages) {
    const uint32_t count = le32(file, block + 8);
    if (count == 0 || count > kMaxLogBlockEntries) return;
    const Bytes rest = file.subspan(block);
    size_t p = kLogBlockHeaderSize;
    for (uint32_t i = 0; i < count; ++i) {
        if (p + kLogEntryHeaderSize > rest.size()) return;
        const uint32_t hive_offset = le32(rest, p);
        const uint32_t size = le32(rest, p + 4);
        if (size == 0 || size > kMaxLogPageSize) {
            p += kLogEntryHeaderSize;
            continue;
        }
        if (p + kLogEntryHeaderSize + size > rest.size()) return;
        pages.push_back(DirtyPage{hive_offset, size, rest.subspan(p + kLogEntryHeaderSize, size)});
        p += kLogEntryHeaderSize + size;
    }
}

}  // namespace

Result<TransactionLog> parse_transaction_log(Bytes file) {
    if (file.size() < kLogHeaderSize) return HiveError::invalid_format("Transaction log too small");
    if (!has_signature(file, "HvLE")) {
        return HiveError::invalid_signature("HvLE", std::string(reinterpret_cast<const char*>(file.data()), 4));
    }
    TransactionLog log;
    log.sequence_number = le32(file, 4);
    for (size_t block = kLogHeaderSize;;) {
        if (block + kLogBlockMinimum > file.size()) break;
        if (has_signature(file.subspan(block), "DIRT")) read_dirty_block(file, block, log.dirty_pages);
        block += kLogBlockAlignment;
        if (block > file.size()) break;
        if (log.dirty_pages.size() > kLogPageStop) {
            log.reached_page_stop = true;
            break;
        }
    }
    return log;
}

Result<size_t> apply_transaction_logs(ByteBuffer& image, const std::vector<TransactionLog>& logs) {
    size_t applied = 0;
    for (const TransactionLog& log : logs) {
        for (size_t i = 0; i < log.dirty_pages.size(); ++i) {
            const DirtyPage& page = log.dirty_pages[i];
            const uint64_t end = uint64_t{page.hive_offset} + page.page_size;
            if (end > 0xFFFFFFFFull) {
                return HiveError::invalid_format("Dirty page " + dec(i) + " offset overflow: " + hex(page.hive_offset) +
                                                 " + " + hex(page.page_size));
            }
            if (end > kMaxReplayImageSize) {
                return HiveError::invalid_format("Dirty page " + dec(i) + " would extend hive beyond maximum size: " +
                                                 hex(end) + " > " + hex(kMaxReplayImageSize));
            }
            if (end > image.size()) {
                const uint64_t growth = end - image.size();
                if (growth > kMaxReplayGrowth) {
                    return HiveError::invalid_format("Dirty page " + dec(i) + " would extend hive by too much: " +
                                                     dec(growth) + " bytes (max: " + dec(kMaxReplayGrowth) + ")");
                }
            }
            if (page.page_data.size() != page.page_size) {
                return HiveError::invalid_format("Dirty page " + dec(i) + " data size mismatch: " +
                                                 dec(page.page_data.size()) + " != " + dec(page.page_size));
            }
            write_page(image, page);
        }
        applied += log.dirty_pages.size();
    }
    return applied;
}

}  // namespace tarnu
