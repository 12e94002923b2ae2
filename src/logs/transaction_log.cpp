#include "logs/transaction_log.h"

#include <algorithm>

#include "hive/hive.h"
#include "hive/limits.h"
#include "logs/log_format.h"
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

namespace {

std::string stop_text(const TransactionLog& log) {
    return log.reached_page_stop ? "more than " + dec(kLogPageStop) + " pages" : "end of file";
}

// Every file that begins with "HvLE" is a log of this layout; only its size can make it unusable.
Recognition recognise(Bytes file) {
    if (file.size() < kLogHeaderSize) return Recognition{true, "too small: " + dec(file.size()) + " bytes"};
    return Recognition{true, ""};
}

LogDescription describe(Bytes file) {
    LogDescription description;
    Result<TransactionLog> log = parse_transaction_log(file);
    if (!log.ok()) return description;
    description.sequences = {log->sequence_number};
    description.pages = log->dirty_pages.size();
    description.stop = stop_text(*log);
    return description;
}

// Applies the logs in their sequence order, whatever the primary, and makes the checksum fit what they wrote.
Status recover(ByteBuffer& image, std::vector<RecognisedLog> given, ReplayReport&) {
    std::vector<TransactionLog> logs;
    std::vector<LogReport*> reports;
    for (const RecognisedLog& log : given) {
        Result<TransactionLog> parsed = parse_transaction_log(log.file);
        if (!parsed.ok()) continue;  // recognition has already ruled out every failure
        logs.push_back(std::move(parsed).value());
        reports.push_back(log.report);
    }
    // Stable, so that with equal sequence numbers the first log is replayed first.
    std::vector<size_t> order(logs.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return logs[a].sequence_number < logs[b].sequence_number; });
    std::vector<TransactionLog> ordered;
    for (size_t i : order) {
        LogReport& report = *reports[i];
        report.used = true;
        report.pages_applied = logs[i].dirty_pages.size();
        if (!logs[i].dirty_pages.empty()) report.first_sequence = report.last_sequence = logs[i].sequence_number;
        report.stop = stop_text(logs[i]);
        ordered.push_back(std::move(logs[i]));
    }
    TARNU_TRY(size_t applied, apply_transaction_logs(image, ordered));
    if (applied != 0) {
        if (image.size() < kBaseBlockSize) return HiveError::hive_too_small(image.size(), kBaseBlockSize);
        put_le32(image.data() + kChecksumPosition, base_block_checksum(image));
    }
    return Ok{};
}

}  // namespace

const LogFormat kBlocksLogFormat{"blocks", "HvLE", LogFamily::Reader, 0, recognise, describe, recover};

}  // namespace tarnu
