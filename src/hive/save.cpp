#include "hive/save.h"

#include <array>
#include <cstring>

#include "hive/file_io.h"
#include "hive/limits.h"
#include "platform/save_file.h"

namespace tarnu {

// What a save writes: the base block with its checksum recomputed, then the rest of the image as it is. The
// rest is written from the image itself (a mapping of the file, or the replayed buffer): no copy of the whole.
Status save_hive(const Hive& hive, const std::string& path) {
    const Bytes image = hive.bytes();
    if (image.size() < kBaseBlockSize) return HiveError::hive_too_small(image.size(), kBaseBlockSize);
    std::array<uint8_t, kBaseBlockSize> base_block;
    std::memcpy(base_block.data(), image.data(), kBaseBlockSize);
    put_le32(base_block.data() + kChecksumPosition, base_block_checksum(base_block));
    TARNU_CHECK(check_path(path));
    return platform::save_file(path, base_block, image.subspan(kBaseBlockSize));
}

}  // namespace tarnu
