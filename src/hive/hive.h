// The shared in-memory hive: its image and its parsed base block (records/base_block.h).
//
// `open_hive` maps a hive file; `build_hive` validates an image (size, "regf", checksum, version) and builds the
// `Hive`. Either may be asked to open a hive whose base-block checksum is wrong (ChecksumRule::Ignore); its
// `base_block.checksum_ok` then says so. A hive never changes after it is built, so any number of threads may read
// it through a `SharedHive` without a lock.
#pragma once

#include <memory>
#include <string>

#include "hive/file_io.h"
#include "records/base_block.h"
#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

struct Hive {
    Hive(BaseBlock base, HiveImage img) : base_block(std::move(base)), image(std::move(img)) {}

    BaseBlock base_block;
    HiveImage image;

    Bytes bytes() const { return image.bytes(); }
};

using SharedHive = std::shared_ptr<const Hive>;

Result<SharedHive> open_hive(const std::string& path, ChecksumRule rule = ChecksumRule::Check);
Result<SharedHive> build_hive(HiveImage image, ChecksumRule rule = ChecksumRule::Check);

}  // namespace tarnu
