// The log layout ("HvLE" header, "DIRT" blocks of pages) and the replay of its pages onto an image.
#include "check.h"
#include "hive/limits.h"
#include "image.h"
#include "logs/transaction_log.h"

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

}  // namespace

TEST(header_faults) {
    CHECK_ERROR(parse_transaction_log(std::vector<uint8_t>(4095)), "Invalid format: Transaction log too small");
    CHECK_ERROR(parse_transaction_log(Fields(4096).text(0, "HvLF")), "Invalid signature: expected HvLE, found HvLF");
    auto empty = parse_transaction_log(log_header(77, 4096));
    CHECK(empty.ok() && empty->sequence_number == 77 && empty->dirty_pages.empty());
}

TEST(pages_of_blocks_replayed_in_order) {
    Fields log = log_header(1, 3 * 4096);
    put_block(log, 4096, {{100, 3, "abc"}, {200, 0, ""}, {101, 2, "de"}});  // a zero size is passed over
    put_block(log, 8192, {{5000, 1, "f"}});
    auto parsed = parse_transaction_log(log);
    if (!parsed.ok()) return CHECK(parsed.ok());
    CHECK_EQ(parsed->dirty_pages.size(), 3u);
    ByteBuffer image(4096, 0);
    auto applied = apply_transaction_logs(image, {*parsed});
    CHECK(applied.ok() && *applied == 3);
    // Later pages overwrite earlier ones; a page past the end grows the image, the gap reading as zeros.
    CHECK_EQ(std::string(image.begin() + 100, image.begin() + 103), "ade");
    CHECK(image.size() == 5001 && image[4999] == 0 && image[5000] == 'f');
}

TEST(block_bounds) {
    // Entries may run past the block's 4096 bytes; an entry that does not fit in the file ends the block, and
    // a block is looked at only with 512 bytes of the file left from its start.
    Fields log = log_header(1, 4096 + 5000);
    put_block(log, 4096, {{0, 4500, std::string(4500, 'x')}, {0, 600, std::string(400, 'y')}});
    auto parsed = parse_transaction_log(log);
    CHECK(parsed.ok() && parsed->dirty_pages.size() == 1);
    Fields short_tail = log_header(1, 4096 + 511);
    put_block(short_tail, 4096, {{0, 1, "z"}});
    CHECK(parse_transaction_log(short_tail)->dirty_pages.empty());
    Fields too_many = log_header(1, 8192);
    put_block(too_many, 4096, {{0, 1, "z"}}, kMaxLogBlockEntries + 1);
    CHECK(parse_transaction_log(too_many)->dirty_pages.empty());
}
