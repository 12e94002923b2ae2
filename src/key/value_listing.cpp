#include "key/value_listing.h"

#include "hive/hive.h"
#include "hive/limits.h"
#include "utils/format.h"

namespace tarnu {

Status ValueListing::read_list(const Hive& hive, const KeyNode& key) {
    count_ = 0;
    data_.clear();
    TARNU_TRY(count_, read_value_list(hive, key, keys_));
    return Ok{};
}

uint64_t ValueListing::declared_data_size() const {
    uint64_t total = 0;
    for (size_t i = 0; i < count_; ++i) total += keys_[i].data_size;
    return total;
}

Status ValueListing::read_data(const Hive& hive, const KeyNode& key) {
    const uint64_t limit = kMaxValueDataPerImageByte * hive.bytes().size();
    uint64_t gathered = 0;
    data_.resize(count_);
    scratch_.resize(count_);
    for (size_t i = 0; i < count_; ++i) {
        DataScratch& scratch = scratch_[i];
        scratch.joined = std::vector<uint8_t>();  // big data of a key listed before goes
        auto data = view_value_data(keys_[i], scratch);
        const Bytes bytes = data.ok() ? data.value() : Bytes{};
        gathered += bytes.size();
        if (gathered > limit) {
            return HiveError::invalid_format("Values of key at offset " + hex(key.offset) + " hold more than " +
                                             dec(limit) + " bytes of data, " + dec(kMaxValueDataPerImageByte) +
                                             " times the hive's size");
        }
        data_[i] = bytes;
    }
    return Ok{};
}

}  // namespace tarnu
