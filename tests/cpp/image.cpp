#include "image.h"

#include "check.h"
#include "hive/limits.h"
#include "records/big_data.h"
#include "records/cell.h"
#include "records/hive_bin.h"
#include "records/key_node.h"
#include "records/subkey_list.h"
#include "records/value_key.h"

namespace tarnu::test {

Fields& Fields::put(size_t pos, uint64_t value, size_t width) {
    if (bytes_.size() < pos + width) bytes_.resize(pos + width);
    for (size_t i = 0; i < width; ++i) bytes_[pos + i] = static_cast<uint8_t>(value >> (8 * i));
    return *this;
}

Fields& Fields::text(size_t pos, std::string_view raw) {
    if (bytes_.size() < pos + raw.size()) bytes_.resize(pos + raw.size());
    std::copy(raw.begin(), raw.end(), bytes_.begin() + static_cast<ptrdiff_t>(pos));
    return *this;
}

std::vector<uint8_t> base_block(uint32_t bins_size, uint32_t root, uint32_t minor) {
    Fields block(kBaseBlockSize);
    block.text(0, "regf").u32(4, 1).u32(8, 1).u32(20, 1).u32(24, minor).u32(32, 1).u32(36, root).u32(40, bins_size);
    std::vector<uint8_t> bytes = block;
    put_le32(bytes.data() + kChecksumPosition, base_block_checksum(bytes));
    return bytes;
}

std::vector<uint8_t> log_base_block(uint32_t file_type, uint32_t sequence, uint32_t bins_size) {
    Fields block(kLogBaseBlockSize);
    block.text(0, "regf").u32(4, sequence).u32(8, sequence).u32(20, 1).u32(24, 5).u32(28, file_type).u32(32, 1);
    block.u32(36, 0x20).u32(40, bins_size).u32(44, 1);
    std::vector<uint8_t> bytes = block;
    set_checksum(bytes);
    return bytes;
}

void set_checksum(std::vector<uint8_t>& block) {
    put_le32(block.data() + kChecksumPosition, base_block_checksum(block));
}

std::vector<uint8_t> hbin_header(uint32_t offset, uint32_t size) {
    return Fields(kHbinHeaderSize).text(0, "hbin").u32(4, offset).u32(8, size);
}

Fields key_node(std::string_view name, uint16_t flags) {
    Fields node(kKeyNodeFixedSize);
    node.text(0, "nk").u16(2, flags).u32(28, kNoCell).u32(40, kNoCell).u16(72, static_cast<uint16_t>(name.size()));
    return node.text(kKeyNodeFixedSize, name);
}

Fields value_key(std::string_view name, uint32_t data_size, uint32_t data_offset, uint32_t type) {
    Fields value(kValueKeyFixedSize);
    value.text(0, "vk").u16(2, static_cast<uint16_t>(name.size())).u32(4, data_size).u32(8, data_offset);
    return value.u32(12, type).u16(16, kValueCompressedName).text(kValueKeyFixedSize, name);
}

Fields big_data(uint16_t segments, uint32_t list) { return Fields(kBigDataHeaderSize).text(0, "db").u16(2, segments).u32(4, list); }

Fields subkey_list(std::string_view kind, const std::vector<uint32_t>& offsets) {
    const size_t width = kind == "lf" || kind == "lh" ? 8 : 4;
    Fields list(kSubkeyListHeaderSize);
    list.text(0, kind).u16(2, static_cast<uint16_t>(offsets.size()));
    for (size_t i = 0; i < offsets.size(); ++i) list.u32(kSubkeyListHeaderSize + width * i, offsets[i]);
    return list;
}

SharedHive hive_of(const std::vector<uint8_t>& image) {
    auto hive = build_hive(HiveImage::from_buffer(ByteBuffer(image.begin(), image.end())));
    if (hive.ok()) return hive.value();
    report_failure(__FILE__, __LINE__, "the test image does not build: " + hive.error().message());
    return nullptr;
}

uint32_t ImageBuilder::cell(const std::vector<uint8_t>& payload, std::optional<int32_t> size) {
    const uint32_t offset = static_cast<uint32_t>(kHbinHeaderSize + cells_.size());
    const size_t length = (kCellHeaderSize + payload.size() + 7) / 8 * 8;
    cells_.resize(cells_.size() + length);
    uint8_t* at = cells_.data() + (offset - kHbinHeaderSize);
    put_le32(at, static_cast<uint32_t>(size.value_or(-static_cast<int32_t>(length))));
    std::copy(payload.begin(), payload.end(), at + kCellHeaderSize);
    return offset;
}

std::vector<uint8_t> ImageBuilder::image(uint32_t root) const {
    const uint32_t bin_size = static_cast<uint32_t>((kHbinHeaderSize + cells_.size() + 4095) / 4096 * 4096);
    std::vector<uint8_t> image = base_block(bin_size, root, minor_);
    const std::vector<uint8_t> header = hbin_header(0, bin_size);
    image.insert(image.end(), header.begin(), header.end());
    image.insert(image.end(), cells_.begin(), cells_.end());
    image.resize(kBaseBlockSize + bin_size);
    return image;
}

}  // namespace tarnu::test
