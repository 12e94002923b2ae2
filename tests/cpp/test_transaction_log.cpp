// The log layout ("HvLE" header, "DIRT" blocks of pages) and the replay of its pages onto an image.
#include "check.h"
#include "hive/limits.h"
#include "image.h"
#include "transaction_log/transaction_log.h"

using namespace tarnu;
using namespace tarnu::test;

namespace {

struct Page {
    uint32_t hive_offset;
    uint32_t size;
    std::string data;
};

// A dirty block with `pages` (the stored size of each may differ from its data) at log position `at`.
void put_block(Fields& log, size_t at, const std::vector<Page>& pages, uint32_t count = 0) {
    log.text(at, "DIRT").u32(at + 8, count != 0 ? count : static_cast<uint32_t>(pages.size()));
    size_t p = at + kLogBlockHeaderSize;
    for (const Page& page : pages) {
        log.u32(p, page.hive_offset).u32(p + 4, page.size).text(p + 8, page.data);
        p += kLogEntryHeaderSize + page.data.size();
    }
}

Fields log_header(uint32_t sequence, size_t length) { return Fields(length).text(0, "HvLE").u32(4, sequence); }

std::string page_text(const DirtyPage& page) { return std::string(page.page_data.begin(), page.page_data.end()); }

}  // namespace

TEST(header_faults) {
    CHECK_ERROR(parse_transaction_log(std::vector<uint8_t>(4095)), "Invalid format: Transaction log too small");
    CHECK_ERROR(parse_transaction_log(Fields(4096).text(0, "HvLF")), "Invalid signature: expected HvLE, found HvLF");
    auto empty = parse_transaction_log(log_header(77, 4096));
    CHECK(empty.ok() && empty->sequence_number == 77 && empty->dirty_pages.empty());
}

TEST(pages_of_blocks_in_order) {
    Fields log = log_header(1, 3 * 4096);
    put_block(log, 4096, {{100, 3, "abc"}, {200, 0, ""}, {300, 2, "de"}});  // a zero size is passed over
    put_block(log, 8192, {{400, 1, "f"}});
    auto parsed = parse_transaction_log(log);
    if (!parsed.ok()) return CHECK(parsed.ok());
    const std::vector<DirtyPage>& pages = parsed->dirty_pages;
    CHECK_EQ(pages.size(), 3u);
    CHECK(pages[0].hive_offset == 100 && page_text(pages[0]) == "abc");
    CHECK(pages[1].hive_offset == 300 && page_text(pages[1]) == "de");
    CHECK(pages[2].hive_offset == 400 && pages[2].page_size == 1);
}

TEST(block_bounds) {
    // Entries may run past the block's 4096 bytes; an entry that does not fit in the file ends the block, and
    // a block is looked at only with 512 bytes of the file left from its start.
    Fields log = log_header(1, 4096 + 5000);
    put_block(log, 4096, {{0, 4500, std::string(4500, 'x')}, {0, 600, std::string(400, 'y')}});
    auto parsed = parse_transaction_log(log);
    CHECK(parsed.ok() && parsed->dirty_pages.size() == 1 && parsed->dirty_pages[0].page_size == 4500);
    Fields short_tail = log_header(1, 4096 + 511);
    put_block(short_tail, 4096, {{0, 1, "z"}});
    CHECK(parse_transaction_log(short_tail)->dirty_pages.empty());
    Fields too_many = log_header(1, 8192);
    put_block(too_many, 4096, {{0, 1, "z"}}, kMaxLogBlockEntries + 1);
    CHECK(parse_transaction_log(too_many)->dirty_pages.empty());
}

TEST(replay_writes_and_grows) {
    ByteBuffer image(4096, 0);
    std::vector<TransactionLog> logs(2);
    logs[0].dirty_pages.push_back(DirtyPage{10, 2, {'a', 'b'}});
    logs[1].dirty_pages.push_back(DirtyPage{5000, 1, {'c'}});
    auto applied = apply_transaction_logs(image, logs);
    CHECK(applied.ok() && *applied == 2);
    CHECK(image.size() == 5001 && image[10] == 'a' && image[11] == 'b' && image[4999] == 0 && image[5000] == 'c');
}

TEST(replay_limits) {
    ByteBuffer image(4096, 0);
    auto replay = [&](uint32_t offset, uint32_t size) {
        std::vector<TransactionLog> logs(1);
        logs[0].dirty_pages.push_back(DirtyPage{offset, size, std::vector<uint8_t>(size)});
        return apply_transaction_logs(image, logs);
    };
    CHECK_ERROR(replay(0xFFFFFFFF, 1), "Invalid format: Dirty page 0 offset overflow: 0xffffffff + 0x1");
    CHECK_ERROR(replay(kMaxReplayImageSize, 1),
                "Invalid format: Dirty page 0 would extend hive beyond maximum size: 0x20000001 > 0x20000000");
    CHECK_ERROR(replay(4096 + kMaxReplayGrowth, 1),
                "Invalid format: Dirty page 0 would extend hive by too much: 16777217 bytes (max: 16777216)");
    CHECK_EQ(image.size(), 4096u);
}
