#include "tree/value_listing.h"

#include "hive/hive.h"
#include "hive/limits.h"
#include "tree/nodes.h"
#include "tree/value_data.h"
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

Status ValueListing::read_data(const Hive& hive, const KeyNode& key) { return find_data(hive, key, false); }

Status ValueListing::read_pieces(const Hive& hive, const KeyNode& key) { return find_data(hive, key, true); }

Status ValueListing::find_data(const Hive& hive, const KeyNode& key, bool pieces) {
    const uint64_t limit = kMaxValueDataPerImageByte * hive.bytes().size();
    uint64_t gathered = 0;
    data_.resize(count_);
    scratch_.resize(count_);
    pieces_.clear();
    starts_.assign(1, 0);
    for (size_t i = 0; i < count_; ++i) {
        DataScratch& scratch = scratch_[i];
        scratch.joined = std::vector<uint8_t>();  // big data of a key listed before goes
        size_t size = 0;
        if (pieces) {
            auto found = append_value_data_pieces(keys_[i], scratch, pieces_);
            size = found.ok() ? found.value() : 0;
            data_[i] = Bytes{};
            starts_.push_back(pieces_.size());
        } else {
            auto data = view_value_data(keys_[i], scratch);
            data_[i] = data.ok() ? data.value() : Bytes{};
            size = data_[i].size();
        }
        gathered += size;
        if (gathered > limit) {
            return HiveError::invalid_format(key.offset, malformed::ValueDataSize{limit, kMaxValueDataPerImageByte});
        }
    }
    return Ok{};
}

void ValueListing::trim(size_t values) {
    if (keys_.capacity() > values || pieces_.capacity() > values) *this = ValueListing();
}

std::span<const Bytes> ValueListing::pieces(size_t i) const {
    return std::span<const Bytes>(pieces_).subspan(starts_[i], starts_[i + 1] - starts_[i]);
}

size_t ValueListing::data_size(size_t i) const {
    size_t size = 0;
    for (const Bytes piece : pieces(i)) size += piece.size();
    return size;
}

}  // namespace tarnu
