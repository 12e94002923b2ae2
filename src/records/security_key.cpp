#include "records/security_key.h"

namespace tarnu {

static_assert(security_key_field::kDescriptor == kSecurityKeyFixedSize, "the descriptor follows the fixed part");

Result<SecurityKey> parse_security_key(Bytes payload, uint32_t offset) {
    namespace field = security_key_field;
    if (payload.size() < kSecurityKeyFixedSize) {
        return HiveError::truncated_data(offset, kSecurityKeyFixedSize, payload.size());
    }
    if (!has_signature(payload, "sk")) return HiveError::invalid_format(offset, malformed::Signature{.expected = "sk"});
    const uint64_t end = kSecurityKeyFixedSize + uint64_t{le32(payload, field::kDescriptorSize)};
    if (end > payload.size()) return HiveError::truncated_data(offset, end, payload.size());
    SecurityKey key;
    key.previous = le32(payload, field::kPrevious);
    key.next = le32(payload, field::kNext);
    key.reference_count = le32(payload, field::kReferenceCount);
    key.descriptor = payload.subspan(field::kDescriptor, static_cast<size_t>(end) - kSecurityKeyFixedSize);
    return key;
}

}  // namespace tarnu
