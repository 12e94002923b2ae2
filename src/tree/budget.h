// What one call gathers from a key (names, list entries, records) counted against kMaxGatheredPerImageByte times
// the image's size (hive/limits.h): in a real hive every record has a place of its own, so only lists that name the
// same records over and over reach the bound, and the call then ends in an error instead of gigabytes of copies.
#pragma once

#include <cstdint>

#include "hive/limits.h"
#include "utils/error.h"

namespace tarnu {

class GatherBudget {
public:
    // `key_offset` is the key the call began at: the error names it.
    GatherBudget(uint64_t image_size, uint32_t key_offset, malformed::Budget::Call call)
        : limit_(kMaxGatheredPerImageByte * image_size), key_offset_(key_offset), call_(call) {}

    Status spend(uint64_t bytes) {
        gathered_ += bytes;
        if (gathered_ <= limit_) return Ok{};
        return HiveError::invalid_format(key_offset_, malformed::Budget{call_, limit_, kMaxGatheredPerImageByte});
    }

private:
    uint64_t limit_;
    uint64_t gathered_ = 0;
    uint32_t key_offset_;
    malformed::Budget::Call call_;
};

}  // namespace tarnu
