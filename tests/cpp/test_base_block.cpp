// The base block: validation order and the fields read from it.
#include "check.h"
#include "hive/limits.h"
#include "image.h"
#include "utils/format.h"

using namespace tarnu;
using namespace tarnu::test;

namespace {

Result<SharedHive> build(std::vector<uint8_t> image) {
    return build_hive(HiveImage::from_buffer(ByteBuffer(image.begin(), image.end())));
}

}  // namespace

TEST(fields_are_read_from_their_positions) {
    std::vector<uint8_t> image = base_block(0x1000, 0x1234, 6);
    const std::string_view name("a\0b\0 \0", 6);
    std::copy(name.begin(), name.end(), image.begin() + 48);
    put_le32(image.data() + 4, 7);
    put_le32(image.data() + 8, 9);
    set_checksum(image);
    SharedHive hive = hive_of(image);
    if (!hive) return;
    const BaseBlock& base = hive->base_block;
    CHECK_EQ(base.primary_sequence, 7u);
    CHECK_EQ(base.secondary_sequence, 9u);
    CHECK_EQ(base.minor_version, 6u);
    CHECK_EQ(base.root_cell_offset, 0x1234u);
    CHECK_EQ(base.hive_bins_data_size, 0x1000u);
    CHECK_EQ(base.file_name, "a b");  // NULs read as spaces, white space trimmed
}

TEST(short_image_fails_before_anything_else) {
    CHECK_ERROR(build(std::vector<uint8_t>(4095, 'x')), "Hive too small: 4095 bytes (minimum: 4096 bytes)");
}

TEST(signature_then_checksum_then_version) {
    std::vector<uint8_t> image = base_block(0);
    image[0] = 'R';
    CHECK_ERROR(build(image), "Invalid signature: expected regf, found Regf");
    image[0] = 'r';
    image[512] ^= 1;  // past the 127 checksummed words
    CHECK(build(image).ok());
    image[100] ^= 1;
    const uint32_t stored = le32(image.data() + kChecksumPosition);
    CHECK_ERROR(build(image), "Checksum mismatch: expected " + hex(stored) + ", calculated " + hex(stored ^ 1));
    image[24] = 9;  // the checksum is tested before the version
    CHECK_ERROR(build(image), "Checksum mismatch: expected " + hex(stored) + ", calculated " + hex(stored ^ 1 ^ 9 ^ 5));
}

TEST(supported_versions) {
    for (uint32_t minor = 0; minor < 9; ++minor) {
        auto hive = build(base_block(0, 0x20, minor));
        if (minor >= 3 && minor <= 6) {
            CHECK(hive.ok());
        } else {
            CHECK_ERROR(hive, "Unsupported hive version: 1." + std::to_string(minor));
        }
    }
    std::vector<uint8_t> image = base_block(0);
    put_le32(image.data() + 20, 2);
    set_checksum(image);
    CHECK_ERROR(build(image), "Unsupported hive version: 2.5");
}
