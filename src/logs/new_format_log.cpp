#include "logs/new_format_log.h"

#include <optional>

#include "hive/hive.h"
#include "hive/limits.h"
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

}  // namespace tarnu
