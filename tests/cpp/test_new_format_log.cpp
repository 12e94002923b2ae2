// New-format Windows logs: "HvLE" entries with their page references and Marvin32 hashes, read as a chain that
// ends at the first entry that is invalid or out of number.
#include "check.h"
#include "hive/limits.h"
#include "image.h"
#include "logs/log_base_block.h"
#include "logs/new_format_log.h"
#include "utils/format.h"
#include "utils/marvin32.h"

using namespace tarnu;
using namespace tarnu::test;

namespace {

struct Page {
    uint32_t offset;  // from the start of the hive bins data
    std::string data;
};

// An entry of `size` bytes holding `pages`, with both hashes computed over it as written.
std::vector<uint8_t> entry(uint32_t sequence, const std::vector<Page>& pages, uint32_t size = 512,
                           uint32_t bins_size = 0x2000, uint32_t flags = 0) {
    Fields fields(size);
    fields.text(0, "HvLE").u32(4, size).u32(8, flags).u32(12, sequence).u32(16, bins_size);
    fields.u32(20, static_cast<uint32_t>(pages.size()));
    size_t data = kLogEntryFixedSize + pages.size() * kPageReferenceSize;
    for (size_t k = 0; k < pages.size(); ++k) {
        const size_t reference = kLogEntryFixedSize + k * kPageReferenceSize;
        fields.u32(reference, pages[k].offset).u32(reference + 4, static_cast<uint32_t>(pages[k].data.size()));
        fields.text(data, pages[k].data);
        data += pages[k].data.size();
    }
    std::vector<uint8_t> bytes = fields;
    bytes.resize(size);
    put_le32(bytes.data() + 24, static_cast<uint32_t>(marvin32(Bytes(bytes).subspan(kLogEntryFixedSize))));
    put_le32(bytes.data() + 28, static_cast<uint32_t>(marvin32(Bytes(bytes).subspan(kLogEntryFixedSize)) >> 32));
    const uint64_t hash2 = marvin32(Bytes(bytes).first(32));
    put_le32(bytes.data() + 32, static_cast<uint32_t>(hash2));
    put_le32(bytes.data() + 36, static_cast<uint32_t>(hash2 >> 32));
    return bytes;
}

// A log starting at `start`, then `entries` back to back.
std::vector<uint8_t> new_log(uint32_t start, const std::vector<std::vector<uint8_t>>& entries) {
    std::vector<uint8_t> log = log_base_block(kNewLogFileType, start, 0x2000);
    for (const std::vector<uint8_t>& e : entries) log.insert(log.end(), e.begin(), e.end());
    return log;
}

// Stores a word into an entry after its hashes were computed.
std::vector<uint8_t> poked(std::vector<uint8_t> bytes, size_t position, uint32_t value) {
    put_le32(bytes.data() + position, value);
    return bytes;
}

}  // namespace

TEST(chain_of_valid_entries) {
    const std::vector<uint8_t> log = new_log(5, {entry(5, {{0x1000, "abc"}, {0, ""}, {0x40, "de"}}, 512, 0x2000, 1),
                                                 entry(6, {{0, "f"}}, 1024, 0x3000)});
    const EntryChain chain = read_entry_chain(log, log_start(log));
    CHECK_EQ(chain.stop, std::string("end of file"));
    if (chain.entries.size() != 2) return CHECK_EQ(chain.entries.size(), 2u);
    const LogEntry& first = chain.entries[0];
    CHECK(first.sequence == 5 && first.flags == 1 && first.hive_bins_data_size == 0x2000);
    // A page of no bytes is not kept; pages are views of the log right after the references, in reference order.
    if (first.pages.size() != 2) return CHECK_EQ(first.pages.size(), 2u);
    CHECK_EQ(first.pages[0].hive_offset, 0x2000u);
    CHECK(first.pages[0].page_data.data() == log.data() + 512 + 40 + 3 * 8);
    CHECK_EQ(first.pages[1].hive_offset, 0x1040u);
    CHECK(first.pages[1].page_data.data() == log.data() + 512 + 40 + 3 * 8 + 3);
    CHECK(first.pages[1].page_size == 2 && first.pages[1].page_data[1] == 'e');
    CHECK(chain.entries[1].sequence == 6 && chain.entries[1].hive_bins_data_size == 0x3000);
}

TEST(numbers_wrap) {
    const std::vector<uint8_t> log = new_log(0xFFFFFFFF, {entry(0xFFFFFFFF, {{0, "a"}}), entry(0, {{0, "b"}})});
    const EntryChain chain = read_entry_chain(log, log_start(log));
    CHECK(chain.entries.size() == 2 && chain.entries[1].sequence == 0);
}

TEST(invalid_entries_end_the_chain) {
    const std::vector<uint8_t> good = entry(2, {{0x1000, std::string(100, 'p')}});
    struct Fault {
        std::vector<uint8_t> second;
        std::string problem;
    };
    const Fault faults[] = {
        {entry(3, {{0, "x"}}), "numbered 3, expected 2 (end of the chain)"},
        {poked(good, 0, 0x464C7648), "no \"HvLE\" signature"},  // "HvLF"
        {poked(good, 4, 0x300), "size 0x300"},
        {poked(good, 4, 0), "size 0x0"},
        {poked(good, 4, 0x400), "size 0x400 runs past the end of the file"},
        {entry(2, {{0, "x"}}, 512, 0x1800), "hive bins data size 0x1800"},
        {entry(2, {{0, "x"}}, 512, 0), "hive bins data size 0x0"},
        {entry(2, {}), "page count 0"},
        {poked(good, 20, 0x20000000), "page count 536870912"},  // references that would pass the entry
        {entry(2, {{0x1F00, std::string(0x101, 'x')}}, 1024), "page 0 (0x1f00, 0x101) lies outside the hive bins data"},
        {entry(2, {{0xFFFFFFFF, "x"}}), "page 0 (0xffffffff, 0x1) lies outside the hive bins data"},
        {poked(good, 44, 600), "page 0 runs past the end of the entry"},
        {poked(good, 100, 0), "hash-1 does not match"},
        {poked(good, 8, 1), "hash-2 does not match"},
    };
    for (const Fault& fault : faults) {
        const std::vector<uint8_t> log = new_log(1, {entry(1, {{0, "a"}}), fault.second});
        const EntryChain chain = read_entry_chain(log, 1);
        CHECK_EQ(chain.entries.size(), 1u);
        CHECK_EQ(chain.stop, "entry 1 at 0x400: " + fault.problem);
    }
    // An "HvLE" too close to the end of the file for a header.
    std::vector<uint8_t> cut = new_log(1, {entry(1, {{0, "a"}})});
    cut.insert(cut.end(), {'H', 'v', 'L', 'E', 0, 0});
    CHECK_EQ(read_entry_chain(cut, 1).stop, std::string("entry 1 at 0x400: header cut off by the end of the file"));
}
