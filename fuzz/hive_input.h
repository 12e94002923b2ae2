// What the fuzz targets that read a hive make of their input: a copy whose base block has a valid header (the
// "regf" signature, version 1.3 to 1.6 chosen by an input byte, the checksum), so that the fuzzer spends its time
// on the cells rather than on the base block, which the tests check in full.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "hive/file_io.h"
#include "hive/hive.h"
#include "hive/limits.h"
#include "utils/bytes.h"

namespace tarnu::fuzz {

inline ByteBuffer hive_input(const uint8_t* data, size_t size) {
    ByteBuffer image(data, data + size);
    if (image.size() >= kBaseBlockSize) {
        std::copy_n("regf", 4, image.begin());
        put_le32(image.data() + 20, 1);
        put_le32(image.data() + 24, 3 + image[24] % 4);
        put_le32(image.data() + kChecksumPosition, base_block_checksum(image));
    }
    return image;
}

}  // namespace tarnu::fuzz
