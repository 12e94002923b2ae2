#include "logs/new_format_log.h"

#include <optional>
#include <utility>

#include "hive/hive.h"
#include "hive/limits.h"
#include "logs/bin_check.h"
#include "logs/log_base_block.h"
#include "logs/log_format.h"
#include "logs/windows_recovery.h"
#include "utils/format.h"
#include "utils/marvin32.h"

namespace tarnu {
namespace {

// Positions of the entry header's fields.
namespace entry_field {
constexpr size_t kSize = 4;
constexpr size_t kFlags = 8;
constexpr size_t kSequence = 12;
constexpr size_t kHiveBinsDataSize = 16;
constexpr size_t kPageCount = 20;
constexpr size_t kHash1 = 24;
constexpr size_t kHash2 = 32;
}  // namespace entry_field
static_assert(entry_field::kHash2 + 8 == kLogEntryFixedSize);

// The entry at the start of `rest` if it is valid and numbered `expected`, else why it is not.
std::optional<std::string> check_entry(Bytes rest, uint32_t expected, LogEntry& entry) {
    if (!has_signature(rest, "HvLE")) return std::string("no \"HvLE\" signature");
    if (rest.size() < kLogEntryFixedSize) return std::string("header cut off by the end of the file");
    entry.sequence = le32(rest, entry_field::kSequence);
    if (entry.sequence != expected) {
        return "numbered " + dec(entry.sequence) + ", expected " + dec(expected) + " (end of the chain)";
    }
    const uint32_t size = le32(rest, entry_field::kSize);
    if (size < kLogEntryAlignment || size % kLogEntryAlignment != 0) return "size " + hex(size);
    if (size > rest.size()) return "size " + hex(size) + " runs past the end of the file";
    const Bytes bytes = rest.first(size);
    entry.hive_bins_data_size = le32(bytes, entry_field::kHiveBinsDataSize);
    const uint32_t bins_size = entry.hive_bins_data_size;
    if (bins_size < kHiveBlockSize || bins_size % kHiveBlockSize != 0 || bins_size > kMaxRecoveredBinsSize) {
        return "hive bins data size " + hex(bins_size);
    }
    const uint32_t count = le32(bytes, entry_field::kPageCount);
    const uint64_t references_end = kLogEntryFixedSize + uint64_t{count} * kPageReferenceSize;
    if (count == 0 || references_end > size) return "page count " + dec(count);
    // The references are read twice: first to check that every page lies inside the entry and the hive, so that
    // nothing is kept for an entry that fails.
    uint64_t data_end = references_end;
    for (uint32_t k = 0; k < count; ++k) {
        const size_t reference = kLogEntryFixedSize + size_t{k} * kPageReferenceSize;
        const uint64_t offset = le32(bytes, reference), page_size = le32(bytes, reference + 4);
        if (offset + page_size > bins_size) {
            return "page " + dec(k) + " (" + hex(offset) + ", " + hex(page_size) + ") lies outside the hive bins data";
        }
        data_end += page_size;
        if (data_end > size) return "page " + dec(k) + " runs past the end of the entry";
    }
    if (le64(bytes, entry_field::kHash1) != marvin32(bytes.subspan(kLogEntryFixedSize))) {
        return std::string("hash-1 does not match");
    }
    if (le64(bytes, entry_field::kHash2) != marvin32(bytes.first(entry_field::kHash2))) {
        return std::string("hash-2 does not match");
    }
    entry.flags = le32(bytes, entry_field::kFlags);
    size_t data = static_cast<size_t>(references_end);
    for (uint32_t k = 0; k < count; ++k) {
        const size_t reference = kLogEntryFixedSize + size_t{k} * kPageReferenceSize;
        const uint32_t offset = le32(bytes, reference), page_size = le32(bytes, reference + 4);
        // A page of no bytes changes nothing and is not kept.
        if (page_size != 0) {
            entry.pages.push_back(DirtyPage{kHiveBinsStart + offset, page_size, bytes.subspan(data, page_size)});
        }
        data += page_size;
    }
    return std::nullopt;
}

}  // namespace

uint32_t log_start(Bytes file) { return le32(file, base_block_field::kPrimarySequence); }

EntryChain read_entry_chain(Bytes file, uint32_t start) {
    EntryChain chain;
    uint32_t expected = start;
    for (size_t position = kLogBaseBlockSize;;) {
        if (position == file.size()) {
            chain.stop = "end of file";
            return chain;
        }
        LogEntry entry;
        if (auto problem = check_entry(file.subspan(position), expected, entry)) {
            chain.stop = "entry " + dec(chain.entries.size()) + " at " + hex(position) + ": " + *problem;
            return chain;
        }
        position += le32(file, position + entry_field::kSize);
        chain.entries.push_back(std::move(entry));
        ++expected;
    }
}

namespace {

namespace field = base_block_field;

// Sequence numbers wrap: a comes before b when b is 1 to 2^31 - 1 ahead of it.
bool precedes(uint32_t a, uint32_t b) {
    const uint32_t ahead = b - a;
    return ahead >= 1 && ahead <= 0x7FFFFFFF;
}

Recognition recognise(Bytes file) { return recognise_windows_log(file, {kNewLogFileType}); }

LogDescription describe(Bytes file) {
    LogDescription description = describe_windows_log(file);
    const EntryChain chain = read_entry_chain(file, log_start(file));
    size_t pages = 0;
    for (const LogEntry& entry : chain.entries) pages += entry.pages.size();
    description.entries = chain.entries.size();
    description.pages = pages;
    description.stop = chain.stop;
    return description;
}

// Applies the chain of valid entries of `log` and says so in its report. `last` receives the last entry applied.
size_t apply_chain(ByteBuffer& image, const RecognisedLog& log, DirtyBlocks& dirty, CleanState& last) {
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

// The logs are ordered by the numbers of their first entries, a stale one is passed over, the chain of valid
// entries is applied and continued from one log into the other.
Status recover(ByteBuffer& image, std::vector<RecognisedLog> logs, ReplayReport& report) {
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
                const RecognisedLog& next = logs[first + 1];
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
    if (applied == 0 && !report.base_block_from_log) return Ok{};
    if (applied == 0) {
        last = CleanState{le32(image.data() + field::kPrimarySequence), le32(image.data() + field::kHiveBinsDataSize),
                          le32(image.data() + field::kFlags)};
    }
    make_clean(image, last);
    report.placeholder_bins = place_placeholder_bins(image, last.bins_size, dirty);
    report.recovered = true;
    note_sequences(report, logs);
    return Ok{};
}

}  // namespace

const LogFormat kNewLogFormat{"new", "regf", LogFamily::Windows, 2, recognise, describe, recover};

}  // namespace tarnu
