// Base blocks as log recovery judges them: a Windows log's header, a primary's base block, and dirtiness.
#include "check.h"
#include "hive/limits.h"
#include "image.h"
#include "logs/log_base_block.h"

using namespace tarnu;
using namespace tarnu::test;

namespace {

// The header with the word at `position` replaced and the checksum made to fit again.
std::vector<uint8_t> with_field(std::vector<uint8_t> block, size_t position, uint32_t value) {
    put_le32(block.data() + position, value);
    set_checksum(block);
    return block;
}

// The header with `stored` as its checksum.
std::vector<uint8_t> with_checksum(std::vector<uint8_t> block, uint32_t stored) {
    put_le32(block.data() + kChecksumPosition, stored);
    return block;
}

}  // namespace

TEST(log_header_fields) {
    const std::vector<uint8_t> good = log_base_block(kNewLogFileType, 9, 0x3000);
    CHECK(!log_header_problem(good));
    CHECK(!log_header_problem(with_field(good, 28, kOldLogFileType)));
    CHECK(!log_header_problem(with_field(good, 28, kOldestLogFileType)));
    CHECK(!log_header_problem(with_field(good, 24, 1)));
    struct Fault {
        size_t position;
        uint32_t value;
        const char* problem;
    };
    const Fault faults[] = {
        {0, 0x66676552, "no \"regf\" signature"},  // "Regf"
        {28, 0, "file type 0"},
        {28, 3, "file type 3"},
        {20, 2, "version 2.5"},
        {24, 7, "version 1.7"},
        {24, 0, "version 1.0"},
        {32, 2, "file format 2"},
        {44, 8, "clustering factor 8"},
        {40, 0, "hive bins data size 0x0"},
        {40, 0x1800, "hive bins data size 0x1800"},
        {40, kMaxRecoveredBinsSize + kHiveBlockSize, "hive bins data size 0x20000000"},
        {8, 10, "sequence numbers differ: 9 and 10"},
    };
    for (const Fault& fault : faults) {
        const auto problem = log_header_problem(with_field(good, fault.position, fault.value));
        CHECK_EQ(problem.value_or("(none)"), std::string(fault.problem));
    }
    CHECK_EQ(log_header_problem(std::vector<uint8_t>(good.begin(), good.end() - 1)).value_or(""),
             std::string("511 bytes, fewer than a base block's 512"));
}

TEST(checksums_as_windows_stores_them) {
    // A word in the reserved area makes the XOR of the 127 words 0; Windows stores that as 1.
    std::vector<uint8_t> block = log_base_block(kNewLogFileType, 1, 0x1000);
    put_le32(block.data() + 200, base_block_checksum(with_field(block, 200, 0)));
    CHECK_EQ(base_block_checksum(block), 0u);
    CHECK_EQ(windows_checksum(block), 1u);
    for (uint32_t stored : {0u, 1u}) CHECK(!log_header_problem(with_checksum(block, stored)));
    CHECK_EQ(log_header_problem(with_checksum(block, 2)).value_or(""),
             std::string("checksum 0x2 does not match 0x0"));
    // And an XOR of 0xFFFFFFFF as 0xFFFFFFFE.
    put_le32(block.data() + 200, le32(block.data() + 200) ^ 0xFFFFFFFF);
    CHECK_EQ(windows_checksum(block), 0xFFFFFFFEu);
    CHECK(!log_header_problem(with_checksum(block, 0xFFFFFFFE)));
}

TEST(primary_judgement) {
    const std::vector<uint8_t> clean = base_block(0x1000);
    CHECK(!primary_base_block_problem(with_field(clean, 44, 1)));
    CHECK(!primary_is_dirty(with_field(clean, 44, 1)));
    // The base_block helper leaves the clustering factor 0, which recovery does not trust.
    CHECK_EQ(primary_base_block_problem(clean).value_or(""), std::string("clustering factor 0"));
    CHECK(primary_is_dirty(clean));
    // Differing sequence numbers make a primary dirty without making its base block untrusted.
    std::vector<uint8_t> pending = with_field(with_field(clean, 44, 1), 4, 2);
    CHECK(!primary_base_block_problem(pending));
    CHECK(primary_is_dirty(pending));
    CHECK_EQ(primary_base_block_problem(with_field(pending, 28, kNewLogFileType)).value_or(""),
             std::string("file type 6"));
    CHECK(primary_is_dirty(std::vector<uint8_t>(100)));
}
