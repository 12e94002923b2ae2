// What the fuzz targets that read hives share: the input as a hive image whose base block is made valid (the
// signature, a supported version, the checksum), so that the fuzzer spends its time on cells rather than on the
// base block, which the tests check in full.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "hive/file_io.h"
#include "hive/hive.h"
#include "hive/limits.h"

namespace tarnu::fuzz {

inline ByteBuffer image_with_valid_header(const uint8_t* data, size_t size) {
    ByteBuffer image(data, data + size);
    if (image.size() >= kBaseBlockSize) {
        std::copy_n("regf", 4, image.begin());
        put_le32(image.data() + base_block_field::kMajorVersion, 1);
        put_le32(image.data() + base_block_field::kMinorVersion, 3 + image[base_block_field::kMinorVersion] % 4);
        put_le32(image.data() + kChecksumPosition, base_block_checksum(image));
    }
    return image;
}

}  // namespace tarnu::fuzz
