// Old-format Windows logs: the "DIRT" bitmap read bit by bit, dirty units packed in bit order, and their runs.
#include <algorithm>

#include "check.h"
#include "hive/limits.h"
#include "image.h"
#include "logs/log_base_block.h"
#include "logs/old_format_log.h"

using namespace tarnu;
using namespace tarnu::test;

namespace {

// A log for `bins_size` bytes of hive bins data: its header, "DIRT", the bitmap, then `units` units of 512 bytes
// from `data_start`, the k-th filled with the byte 'a' + k.
std::vector<uint8_t> old_log(uint32_t bins_size, const std::vector<uint8_t>& bitmap, size_t data_start, size_t units) {
    std::vector<uint8_t> bytes(data_start + units * kDirtyUnitSize);
    const std::vector<uint8_t> header = log_base_block(kOldLogFileType, 3, bins_size);
    std::copy(header.begin(), header.end(), bytes.begin());
    std::copy_n("DIRT", 4, bytes.begin() + kLogBaseBlockSize);
    std::copy(bitmap.begin(), bitmap.end(), bytes.begin() + kLogBaseBlockSize + kDirtyVectorHeaderSize);
    for (size_t k = 0; k < units; ++k) {
        std::fill_n(bytes.begin() + static_cast<ptrdiff_t>(data_start + k * kDirtyUnitSize), kDirtyUnitSize, 'a' + k);
    }
    return bytes;
}

}  // namespace

TEST(dirty_vector_problems) {
    std::vector<uint8_t> log = old_log(0x4000, {1, 0, 0, 0}, 1024, 1);
    CHECK(!dirty_vector_problem(log));
    log[kLogBaseBlockSize] = 'd';
    CHECK_EQ(dirty_vector_problem(log).value_or(""), std::string("no \"DIRT\" at 0x200"));
    // 600 bitmap bytes for 600 * 4096 bytes of hive bins data, in a file that holds fewer.
    CHECK_EQ(dirty_vector_problem(old_log(600 * 4096, {}, 1024, 0)).value_or(""),
             std::string("the bitmap of 600 bytes runs past the end of the file"));
}

TEST(bits_make_runs_in_hive_order) {
    // Units 0 and 2 (bits 0 and 2 of byte 0, least significant first), then 8 and 9 (bits 0 and 1 of byte 1).
    const std::vector<uint8_t> log = old_log(0x4000, {0x05, 0x03, 0, 0}, 1024, 4);
    const DirtyVector vector = read_dirty_vector(log);
    CHECK_EQ(vector.units, 4u);
    CHECK_EQ(vector.stop, std::string("end of dirty vector"));
    if (vector.runs.size() != 3) return CHECK_EQ(vector.runs.size(), 3u);
    const uint32_t offsets[] = {4096, 4096 + 1024, 4096 + 4096};
    const uint32_t sizes[] = {512, 512, 1024};
    const size_t first_units[] = {0, 1, 2};  // where each run's data begins, counted in units after the bitmap
    for (size_t i = 0; i < 3; ++i) {
        CHECK_EQ(vector.runs[i].hive_offset, offsets[i]);
        CHECK_EQ(vector.runs[i].page_size, sizes[i]);
        CHECK(vector.runs[i].page_data.data() == log.data() + 1024 + first_units[i] * kDirtyUnitSize);
        CHECK_EQ(vector.runs[i].page_data.size(), size_t{sizes[i]});
    }
    // The merged run holds the third and fourth units, in that order.
    CHECK(vector.runs[2].page_data[0] == 'c' && vector.runs[2].page_data[512] == 'd');
}

TEST(units_the_file_lacks_end_the_runs) {
    const std::vector<uint8_t> log = old_log(0x4000, {0x0F, 0, 0, 0}, 1024, 3);
    const DirtyVector vector = read_dirty_vector(log);
    CHECK_EQ(vector.units, 3u);
    CHECK_EQ(vector.stop, std::string("the bitmap marks 4 units, the file holds 3"));
    CHECK(vector.runs.size() == 1 && vector.runs[0].page_size == 3 * kDirtyUnitSize);
    // A partial unit at the end of the file does not count.
    std::vector<uint8_t> partial = log;
    partial.resize(partial.size() + 511, 'x');
    CHECK_EQ(read_dirty_vector(partial).units, 3u);
}

TEST(data_starts_after_the_bitmap_rounded_to_units) {
    // 509 bitmap bytes end at 512 + 4 + 509 = 1025, so the data begins at 1536, not 1024.
    std::vector<uint8_t> bitmap(509, 0);
    bitmap[508] = 0x80;  // unit 508 * 8 + 7
    const std::vector<uint8_t> log = old_log(509 * 4096, bitmap, 1536, 1);
    CHECK(!dirty_vector_problem(log));
    const DirtyVector vector = read_dirty_vector(log);
    if (vector.runs.size() != 1) return CHECK_EQ(vector.runs.size(), 1u);
    CHECK_EQ(vector.runs[0].hive_offset, uint32_t{4096 + (508 * 8 + 7) * 512});
    CHECK(vector.runs[0].page_data.data() == log.data() + 1536);
}
