// Key nodes ("nk" cells): the positions of their fields, their size and flags, the parsed record and
// `parse_key_node_record`, which parses one from the bytes of its cell. tree/nodes.h reads one by cell offset.
//
// Nothing is cached: reading the 76 bytes of a node and decoding its name (almost always 8-bit text, copied as it
// is) costs less than looking the node up in a shared map and copying it out, and a hive with no mutable state
// needs no lock however many threads read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

struct Hive;

// The fixed part of a key node, before its name.
inline constexpr size_t kKeyNodeFixedSize = 76;
// Key-node flag: the name is stored as 8-bit characters.
inline constexpr uint16_t kKeyCompressedName = 0x0020;

// Positions of the key-node fields in the cell's payload; the name follows the 76-byte fixed part.
namespace key_node_field {
inline constexpr size_t kSignature = 0;
inline constexpr size_t kFlags = 2;
inline constexpr size_t kLastWritten = 4;
inline constexpr size_t kAccessBits = 12;
inline constexpr size_t kParentOffset = 16;
inline constexpr size_t kSubkeyCount = 20;
inline constexpr size_t kVolatileSubkeyCount = 24;
inline constexpr size_t kSubkeyListOffset = 28;
inline constexpr size_t kVolatileSubkeyListOffset = 32;
inline constexpr size_t kValueCount = 36;
inline constexpr size_t kValueListOffset = 40;
inline constexpr size_t kSecurityOffset = 44;
inline constexpr size_t kClassNameOffset = 48;
inline constexpr size_t kMaxSubkeyNameLength = 52;
inline constexpr size_t kMaxSubkeyClassLength = 56;
inline constexpr size_t kMaxValueNameLength = 60;
inline constexpr size_t kMaxValueDataSize = 64;
inline constexpr size_t kWorkVar = 68;
inline constexpr size_t kNameLength = 72;
inline constexpr size_t kClassNameLength = 74;
inline constexpr size_t kName = 76;
}  // namespace key_node_field

struct KeyNode {
    uint16_t flags = 0;
    uint64_t last_written = 0;  // raw FILETIME
    std::string name;           // UTF-8
    uint32_t access_bits = 0;
    uint32_t parent_offset = 0;
    uint32_t subkey_count = 0;
    uint32_t volatile_subkey_count = 0;
    uint32_t subkey_list_offset = 0;
    uint32_t volatile_subkey_list_offset = 0;
    uint32_t value_count = 0;
    uint32_t value_list_offset = 0;
    uint32_t security_offset = 0;
    uint32_t class_name_offset = 0;
    uint32_t max_subkey_name_length = 0;
    uint32_t max_subkey_class_length = 0;
    uint32_t max_value_name_length = 0;
    uint32_t max_value_data_size = 0;
    uint32_t work_var = 0;
    uint16_t name_length = 0;
    uint16_t class_name_length = 0;
    const Hive* hive = nullptr;  // not owning: valid while the caller holds the hive
    uint32_t offset = 0;         // the cell offset the node was read from
};

// Parses the key node held by `payload`, the payload of the cell at `offset`: at least the fixed part, "nk", and a
// name inside the payload that decodes. Errors carry `offset`, which the node also keeps; its `hive` stays null.
Result<KeyNode> parse_key_node_record(Bytes payload, uint32_t offset);

// The same into `node`, whose name keeps its storage: for callers that parse node after node. A failure leaves
// `node` holding parts of the failed node.
Status parse_key_node_record(Bytes payload, uint32_t offset, KeyNode& node);

}  // namespace tarnu
