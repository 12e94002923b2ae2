#include "logs/windows_recovery.h"

#include <algorithm>
#include <optional>
#include <string>

#include "hive/hive.h"
#include "hive/limits.h"
#include "logs/bin_check.h"
#include "logs/log_base_block.h"
#include "logs/new_format_log.h"
#include "logs/old_format_log.h"
#include "utils/format.h"

namespace tarnu {
namespace {

namespace field = base_block_field;

// Where a hive bin header keeps its last-written time.
constexpr size_t kBinTimestampField = 20;

// Sequence numbers wrap: a comes before b when b is 1 to 2^31 - 1 ahead of it.
bool precedes(uint32_t a, uint32_t b) {
    const uint32_t ahead = b - a;
    return ahead >= 1 && ahead <= 0x7FFFFFFF;
}

const char* slot_name(size_t slot) { return slot == 0 ? "the first log" : "the second log"; }

// Replaces the image's base block with a log's copy of one: its 512 bytes, then zeros up to 4096.
void take_base_block_from(ByteBuffer& image, Bytes log) {
    if (image.size() < kBaseBlockSize) image.resize(kBaseBlockSize, 0);
    std::copy_n(log.begin(), kLogBaseBlockSize, image.begin());
    std::fill(image.begin() + kLogBaseBlockSize, image.begin() + kBaseBlockSize, 0);
}

// What recovery leaves in the base block: both sequence numbers equal, the hive bins data size and flags bit 0
// of the last thing applied, file type 0 and a checksum that fits. The image grows with zeros to hold the bins.
struct CleanState {
    uint32_t sequence;
    uint32_t bins_size;
    uint32_t flags;
};

void make_clean(ByteBuffer& image, const CleanState& state) {
    const size_t end = kHiveBinsStart + size_t{state.bins_size};
    if (image.size() < end) image.resize(end, 0);
    uint8_t* block = image.data();
    put_le32(block + field::kPrimarySequence, state.sequence);
    put_le32(block + field::kSecondarySequence, state.sequence);
    put_le32(block + field::kFileType, kPrimaryFileType);
    put_le32(block + field::kHiveBinsDataSize, state.bins_size);
    put_le32(block + field::kFlags, (le32(block + field::kFlags) & ~1u) | (state.flags & 1u));
    put_le32(block + kChecksumPosition, base_block_checksum(image));
}

// Applies the chain of valid entries of `log` and says so in its report. `last` receives the last entry applied.
size_t apply_chain(ByteBuffer& image, const WindowsLog& log, DirtyBlocks& dirty, CleanState& last) {
    const EntryChain chain = read_entry_chain(log.file, log_start(log.file));
    LogReport& report = *log.report;
    report.used = true;
    report.stop = chain.stop;
    for (const LogEntry& entry : chain.entries) {
        for (const DirtyPage& page : entry.pages) {
            write_page(image, page);
            dirty.mark(page);
        }
        report.pages_applied += entry.pages.size();
        last = CleanState{entry.sequence, entry.hive_bins_data_size, entry.flags};
    }
    report.entries_applied = chain.entries.size();
    if (!chain.entries.empty()) {
        report.first_sequence = chain.entries.front().sequence;
        report.last_sequence = chain.entries.back().sequence;
    }
    return chain.entries.size();
}

// The range of sequence numbers applied, over the logs' reports.
void note_sequences(ReplayReport& report, const std::vector<WindowsLog>& logs) {
    for (const WindowsLog& log : logs) {
        if (!log.report->first_sequence) continue;
        if (!report.first_sequence) report.first_sequence = log.report->first_sequence;
        report.last_sequence = log.report->last_sequence;
    }
}

}  // namespace

void recover_from_new_format(ByteBuffer& image, std::vector<WindowsLog> logs, ReplayReport& report) {
    // Windows alternates the files, so either may hold the earlier entries: the order is by number, not by slot.
    if (logs.size() == 2 && precedes(log_start(logs[1].file), log_start(logs[0].file))) std::swap(logs[0], logs[1]);
    DirtyBlocks dirty;
    CleanState last{};
    size_t applied = 0;
    if (primary_base_block_problem(image)) {
        // Nothing in the primary says where its log begins: the log with the later entries serves alone.
        if (logs.size() == 2) {
            logs[0].report->reason =
                "the primary's base block is damaged; " + std::string(slot_name(logs[1].slot)) + " has later entries";
        }
        take_base_block_from(image, logs.back().file);
        report.base_block_from_log = true;
        applied = apply_chain(image, logs.back(), dirty, last);
    } else {
        const uint32_t secondary = le32(image.data() + field::kSecondarySequence);
        size_t first = 0;
        for (; first < logs.size(); ++first) {
            const uint32_t start = log_start(logs[first].file);
            if (start == secondary || precedes(secondary, start)) break;
            logs[first].report->reason = "stale: it starts at " + dec(start) +
                                         ", before the primary's secondary sequence number " + dec(secondary);
        }
        if (first < logs.size()) {
            applied = apply_chain(image, logs[first], dirty, last);
            if (first + 1 < logs.size()) {
                // The later log goes on only from the number after the last one applied.
                const WindowsLog& next = logs[first + 1];
                const uint32_t expected = applied != 0 ? last.sequence + 1 : log_start(logs[first].file);
                const uint32_t start = log_start(next.file);
                if (start == expected) {
                    applied += apply_chain(image, next, dirty, last);
                } else {
                    next.report->reason = "it starts at " + dec(start) + ", the chain goes on at " + dec(expected);
                }
            }
        }
    }
    if (applied == 0 && !report.base_block_from_log) return;
    if (applied == 0) {
        last = CleanState{le32(image.data() + field::kPrimarySequence), le32(image.data() + field::kHiveBinsDataSize),
                          le32(image.data() + field::kFlags)};
    }
    make_clean(image, last);
    report.placeholder_bins = place_placeholder_bins(image, last.bins_size, dirty);
    report.recovered = true;
    note_sequences(report, logs);
}

void recover_from_old_format(ByteBuffer& image, const std::vector<WindowsLog>& logs, ReplayReport& report) {
    const bool primary_valid = !primary_base_block_problem(image);
    // A log belongs to this primary when it was written at the primary's last-written time, or, when the
    // primary's base block is damaged, at the time in its first hive bin's header.
    std::optional<uint64_t> time;
    if (primary_valid) {
        time = le64(image.data() + field::kLastWritten);
    } else if (image.size() >= kHiveBinsStart + kBinTimestampField + 8) {
        time = le64(image.data() + kHiveBinsStart + kBinTimestampField);
    }
    const WindowsLog* by_slot[2] = {nullptr, nullptr};
    for (const WindowsLog& log : logs) by_slot[log.slot] = &log;
    auto written = [](const WindowsLog* log) { return le64(log->file.data() + field::kLastWritten); };
    auto eligible = [&](const WindowsLog* log) { return log != nullptr && time && written(log) == *time; };

    // The first log if it belongs to the primary; else the second if it does and is newer than a usable first.
    const WindowsLog* chosen = nullptr;
    if (eligible(by_slot[0])) {
        chosen = by_slot[0];
    } else if (eligible(by_slot[1]) && (by_slot[0] == nullptr || written(by_slot[1]) > written(by_slot[0]))) {
        chosen = by_slot[1];
    }
    for (const WindowsLog& log : logs) {
        if (&log == chosen) continue;
        if (chosen != nullptr && eligible(&log)) {
            log.report->reason = std::string(slot_name(chosen->slot)) + " was used";
        } else if (!time) {
            log.report->reason = "the primary's base block is damaged and it has no hive bin to take a time from";
        } else if (!eligible(&log)) {
            log.report->reason = "written at " + dec(written(&log)) + ", not at the primary's time " + dec(*time);
        } else {
            log.report->reason = "not newer than the first log";
        }
    }
    if (chosen == nullptr) return;

    DirtyVector vector = read_dirty_vector(chosen->file);
    const uint32_t bins_size = le32(chosen->file.data() + field::kHiveBinsDataSize);
    const uint32_t broken = first_broken_dirty_bin(image, vector.runs, bins_size);
    if (broken < bins_size) {
        // Units from the broken bin on are not applied.
        const uint64_t limit = kHiveBinsStart + uint64_t{broken};
        auto cut = std::find_if(vector.runs.begin(), vector.runs.end(), [&](const DirtyPage& run) {
            return run.hive_offset + uint64_t{run.page_size} > limit;
        });
        if (cut != vector.runs.end() && cut->hive_offset < limit) {
            cut->page_size = static_cast<uint32_t>(limit - cut->hive_offset);
            cut->page_data = cut->page_data.first(cut->page_size);
            ++cut;
        }
        vector.runs.erase(cut, vector.runs.end());
        vector.stop = "the hive bin at " + hex(broken) + " is broken";
    }
    if (!primary_valid) {
        take_base_block_from(image, chosen->file);
        report.base_block_from_log = true;
    }
    LogReport& log_report = *chosen->report;
    log_report.used = true;
    log_report.stop = vector.stop;
    for (const DirtyPage& run : vector.runs) {
        write_page(image, run);
        log_report.pages_applied += run.page_size / kDirtyUnitSize;
    }
    if (log_report.pages_applied == 0 && primary_valid) return;
    const uint32_t sequence = le32(image.data() + field::kPrimarySequence);
    log_report.first_sequence = log_report.last_sequence = le32(chosen->file.data() + field::kPrimarySequence);
    make_clean(image, CleanState{sequence, bins_size, le32(chosen->file.data() + field::kFlags)});
    report.recovered = true;
    note_sequences(report, logs);
}

}  // namespace tarnu
