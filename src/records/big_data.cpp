#include "records/big_data.h"

#include <array>

namespace tarnu {

Result<BigData> parse_big_data(Bytes payload, uint32_t offset) {
    namespace field = big_data_field;
    if (payload.size() < kBigDataHeaderSize) {
        return HiveError::truncated_data(offset, kBigDataHeaderSize, payload.size());
    }
    if (!has_signature(payload, "db")) {
        const std::array<uint8_t, 2> found{payload[field::kSignature], payload[field::kSignature + 1]};
        return HiveError::invalid_format(offset, malformed::Signature{"db", found});
    }
    return BigData{le16(payload, field::kSegmentCount), le32(payload, field::kSegmentListOffset)};
}

}  // namespace tarnu
