// Hive images for the C++ tests, laid out byte by byte: `Fields` writes a record's little-endian fields at their
// positions, `base_block`, `log_base_block` and `hbin_header` make the headers, and `ImageBuilder` appends cells to one hive bin
// and builds the hive (failing the test when the image does not build).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "hive/file_io.h"
#include "hive/hive.h"

namespace tarnu::test {

// A record under construction: zero bytes, with numbers and bytes put at given positions (growing as needed).
class Fields {
public:
    explicit Fields(size_t size = 0) : bytes_(size) {}
    Fields& u16(size_t pos, uint16_t value) { return put(pos, value, 2); }
    Fields& u32(size_t pos, uint32_t value) { return put(pos, value, 4); }
    Fields& u64(size_t pos, uint64_t value) { return put(pos, value, 8); }
    Fields& text(size_t pos, std::string_view raw);
    operator const std::vector<uint8_t>&() const { return bytes_; }
    operator Bytes() const { return bytes_; }

private:
    Fields& put(size_t pos, uint64_t value, size_t width);
    std::vector<uint8_t> bytes_;
};

// A 4096-byte base block: "regf", version 1.`minor`, the root offset and hive-bins data size, checksum filled in.
std::vector<uint8_t> base_block(uint32_t bins_size, uint32_t root = 0x20, uint32_t minor = 5);
// The 512-byte header of a Windows log: a base block of `file_type` with both sequence numbers `sequence`,
// clustering factor 1 and its checksum filled in.
std::vector<uint8_t> log_base_block(uint32_t file_type, uint32_t sequence, uint32_t bins_size);
// Puts the checksum of the 127 words before it into `block`.
void set_checksum(std::vector<uint8_t>& block);
// A 32-byte hive-bin header.
std::vector<uint8_t> hbin_header(uint32_t offset, uint32_t size);
// Record payloads: a key node, a value key, a big-data record and a subkey list.
Fields key_node(std::string_view name, uint16_t flags = 0x20);
Fields value_key(std::string_view name, uint32_t data_size, uint32_t data_offset, uint32_t type = 3);
Fields big_data(uint16_t segments, uint32_t list);
Fields subkey_list(std::string_view kind, const std::vector<uint32_t>& offsets);

// Builds the hive from `image`; a failure fails the test and returns nullptr.
SharedHive hive_of(const std::vector<uint8_t>& image);

// One hive bin after the base block, growing in steps of 4096 bytes as cells are appended one after another.
class ImageBuilder {
public:
    explicit ImageBuilder(uint32_t minor = 5) : minor_(minor) {}
    // Appends a cell holding `payload` and returns its cell offset. The size field says allocated, 4 + payload
    // rounded up to 8, unless `size` replaces it.
    uint32_t cell(const std::vector<uint8_t>& payload, std::optional<int32_t> size = std::nullopt);
    // The image with its root key at `root`.
    std::vector<uint8_t> image(uint32_t root = 0x20) const;
    SharedHive hive(uint32_t root = 0x20) const { return hive_of(image(root)); }

private:
    uint32_t minor_;
    std::vector<uint8_t> cells_;
};

}  // namespace tarnu::test
