// Security keys ("sk" cells): their layout and `parse_security_key`, which parses one from the bytes of its cell.
// tree/key.h reads a key's security descriptor through it.
//
// A security key holds one security descriptor that any number of keys share; the security keys of a hive form a
// list through their two link fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

// The fixed part of a security key, before its security descriptor.
inline constexpr size_t kSecurityKeyFixedSize = 20;

// Positions of the security-key fields in the cell's payload; 2 reserved bytes follow the signature.
namespace security_key_field {
inline constexpr size_t kSignature = 0;
inline constexpr size_t kPrevious = 4;
inline constexpr size_t kNext = 8;
inline constexpr size_t kReferenceCount = 12;
inline constexpr size_t kDescriptorSize = 16;
inline constexpr size_t kDescriptor = 20;
}  // namespace security_key_field

struct SecurityKey {
    uint32_t previous = 0;  // cell offsets of the neighbours in the list of security keys
    uint32_t next = 0;
    uint32_t reference_count = 0;  // keys that use the descriptor
    Bytes descriptor;              // a view of the payload parsed
};

// Parses the security key held by `payload`, the payload of the cell at `offset`: at least the fixed part
// (TruncatedData), "sk" (InvalidFormat) and a descriptor inside the payload (TruncatedData).
Result<SecurityKey> parse_security_key(Bytes payload, uint32_t offset);

}  // namespace tarnu
