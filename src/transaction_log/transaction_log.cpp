#include "transaction_log/transaction_log.h"

#include <algorithm>

#include "hive/file_io.h"
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
        const Bytes data = rest.subspan(p + kLogEntryHeaderSize, size);
        pages.push_back(DirtyPage{hive_offset, size, std::vector<uint8_t>(data.begin(), data.end())});
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
        if (block > file.size() || log.dirty_pages.size() > kLogPageStop) break;
    }
    return log;
}

Result<TransactionLog> read_transaction_log(const std::string& path) {
    TARNU_TRY(ByteBuffer file, read_whole_file(path));
    return parse_transaction_log(file);
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
                image.resize(static_cast<size_t>(end), 0);  // the gap before the page reads as zeros
            }
            if (page.page_data.size() != page.page_size) {
                return HiveError::invalid_format("Dirty page " + dec(i) + " data size mismatch: " +
                                                 dec(page.page_data.size()) + " != " + dec(page.page_size));
            }
            std::copy(page.page_data.begin(), page.page_data.end(), image.begin() + page.hive_offset);
        }
        applied += log.dirty_pages.size();
    }
    return applied;
}

Result<SharedHive> open_hive_with_logs(const std::string& hive_path, const std::optional<std::string>& log1_path,
                                       const std::optional<std::string>& log2_path) {
    TARNU_TRY(ByteBuffer image, read_whole_file(hive_path));
    std::vector<TransactionLog> logs;
    for (const auto* path : {&log1_path, &log2_path}) {
        if (!path->has_value()) continue;
        // A log that cannot be read or is not in the log layout is passed over.
        Result<TransactionLog> log = read_transaction_log(**path);
        if (log.ok()) logs.push_back(std::move(log).value());
    }
    if (!logs.empty()) {
        // Stable, so that with equal sequence numbers the first log is replayed first.
        std::stable_sort(logs.begin(), logs.end(), [](const TransactionLog& a, const TransactionLog& b) {
            return a.sequence_number < b.sequence_number;
        });
        TARNU_TRY(size_t applied, apply_transaction_logs(image, logs));
        if (applied != 0) {
            if (image.size() < kBaseBlockSize) return HiveError::hive_too_small(image.size(), kBaseBlockSize);
            put_le32(image.data() + kChecksumPosition, base_block_checksum(image));
        }
    }
    return build_hive(HiveImage::from_buffer(std::move(image)));
}

}  // namespace tarnu
