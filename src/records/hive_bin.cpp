#include "records/hive_bin.h"

#include <cstring>

namespace tarnu {

Result<std::optional<HbinHeader>> parse_hbin_header(Bytes bytes, uint32_t position) {
    namespace field = hbin_field;
    using Header = std::optional<HbinHeader>;
    if (bytes.size() < kHbinHeaderSize) return HiveError::truncated_data(position, kHbinHeaderSize, bytes.size());
    if (!has_signature(bytes, "hbin")) return Header{};
    HbinHeader header;
    std::memcpy(header.signature.data(), bytes.data() + field::kSignature, 4);
    header.offset = le32(bytes, field::kOffset);
    header.size = le32(bytes, field::kSize);
    std::memcpy(header.reserved.data(), bytes.data() + field::kReserved, 8);
    header.timestamp = le64(bytes, field::kTimestamp);
    header.spare = le32(bytes, field::kSpare);
    return Header(header);
}

}  // namespace tarnu
