#include "hive/hive.h"

#include <array>

namespace tarnu {

Result<SharedHive> open_hive(const std::string& path, ChecksumRule rule) {
    // The base block is checked from a copy read through the file: an open then faults no page of the mapping in,
    // and a caller that reads only the base block's fields never does.
    std::array<uint8_t, kBaseBlockSize> head;
    TARNU_TRY(HiveImage image, map_hive_file(path, kBaseBlockSize, head));
    TARNU_TRY(BaseBlock base, parse_base_block_record(head, rule));
    return SharedHive(std::make_shared<const Hive>(std::move(base), std::move(image)));
}

Result<SharedHive> build_hive(HiveImage image, ChecksumRule rule) {
    TARNU_TRY(BaseBlock base, parse_base_block_record(image.bytes(), rule));
    return SharedHive(std::make_shared<const Hive>(std::move(base), std::move(image)));
}

}  // namespace tarnu
