// Cells and hive bins: `read_cell`'s bounds in their order, and the walk over the hive-bin headers.
#include "check.h"
#include "hive/cell.h"
#include "image.h"

using namespace tarnu;
using namespace tarnu::test;

namespace {

// An image of one 4096-byte bin whose first cell, at offset 0x20, has the size field `size` and 8 payload bytes.
SharedHive one_cell(int32_t size) {
    ImageBuilder builder;
    builder.cell(Fields(8).text(0, "payload!"), size);
    return builder.hive();
}

// Hive bins of 4096 bytes whose offset fields are `offsets`, with `stated` as the hive-bins data size.
SharedHive bins(const std::vector<uint32_t>& offsets, uint32_t stated, std::vector<uint8_t> tail = {}) {
    std::vector<uint8_t> image = base_block(stated);
    for (uint32_t offset : offsets) {
        std::vector<uint8_t> bin = hbin_header(offset, 0x1000);
        bin.resize(0x1000);
        image.insert(image.end(), bin.begin(), bin.end());
    }
    image.insert(image.end(), tail.begin(), tail.end());
    return hive_of(image);
}

}  // namespace

TEST(cell_payload_is_a_view_of_the_image) {
    SharedHive hive = one_cell(-16);
    auto cell = read_cell(*hive, 0x20);
    CHECK(cell.ok() && cell->size() == 12 && cell->data() == hive->bytes().data() + 0x1024);
    // The sign is not examined: a free cell reads alike.
    CHECK(read_cell(*one_cell(16), 0x20).ok());
    CHECK_EQ(read_cell(*one_cell(-4), 0x20)->size(), 0u);
    CHECK_EQ(read_cell(*one_cell(-4064), 0x20)->size(), 4060u);  // ends exactly at the end of the image
}

TEST(cell_bounds_in_order) {
    SharedHive hive = one_cell(-16);
    CHECK_ERROR(read_cell(*hive, 0xFFFFF000), "Invalid offset 0xfffff000 (hive size: 0x0)");
    CHECK_ERROR(read_cell(*hive, 0xFFFFEFFF), "Invalid offset 0xffffefff (hive size: 0x2000)");
    CHECK_ERROR(read_cell(*hive, 0x1000), "Invalid offset 0x1000 (hive size: 0x2000)");
    CHECK_ERROR(read_cell(*hive, 0xFFD), "Truncated data at offset 0xffd: expected 4 bytes, got 3 bytes");
    for (int32_t size : {0, 3, -3, -1}) {
        CHECK_ERROR(read_cell(*one_cell(size), 0x20), "Invalid cell size " + std::to_string(size) + " at offset 0x20");
    }
    CHECK_ERROR(read_cell(*one_cell(INT32_MIN), 0x20),
                "Truncated data at offset 0x20: expected 2147483648 bytes, got 4064 bytes");
    CHECK_ERROR(read_cell(*one_cell(-4065), 0x20), "Truncated data at offset 0x20: expected 4065 bytes, got 4064 bytes");
}

TEST(hbins_in_image_order) {
    auto headers = hbins(*bins({0, 0x1000, 0x2000}, 0x3000));
    CHECK(headers.ok() && headers->size() == 3 && headers->back().offset == 0x2000 && headers->back().size == 0x1000);
    CHECK(hbins(*bins({}, 0))->empty());
    // The walk goes to the end of the image, past the stated size, while bins name their own positions.
    CHECK_EQ(hbins(*bins({0, 0x1000, 0x2000}, 0x1000))->size(), 3u);
}

TEST(remnant_bins_past_the_stated_size_end_the_listing) {
    CHECK_EQ(hbins(*bins({0, 0x1000, 0x13B2000}, 0x2000))->size(), 2u);
    CHECK_EQ(hbins(*bins({0, 0x13B2000}, 0x1000))->size(), 1u);
    CHECK_ERROR(hbins(*bins({0, 0x13B2000}, 0x1001)),
                "Invalid format: Hbin offset mismatch: expected 0x1000, found 0x13b2000");
}

TEST(hbin_faults) {
    CHECK_ERROR(hbins(*bins({0}, 0x1000, std::vector<uint8_t>(31))),
                "Truncated data at offset 0x1000: expected 32 bytes, got 31 bytes");
    CHECK_EQ(hbins(*bins({0}, 0x1000, std::vector<uint8_t>(32)))->size(), 1u);  // no signature: the walk stops
    std::vector<uint8_t> zero_size = hbin_header(0x1000, 0);
    CHECK_ERROR(hbins(*bins({0}, 0x1000, zero_size)), "Invalid format: Invalid hbin size 0x0 at offset 0x1000");
    std::vector<uint8_t> wrapping = hbin_header(0x1000, 0xFFFFF000);
    CHECK_ERROR(hbins(*bins({0}, 0x1000, wrapping)), "Invalid format: Invalid hbin size 0xfffff000 at offset 0x1000");
}
