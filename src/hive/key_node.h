// Key nodes ("nk" cells): the parsed record and `parse_key_node`, which reads one from its cell.
//
// Nothing is cached: reading the 76 bytes of a node and decoding its name (almost always 8-bit text, copied as it
// is) costs less than looking the node up in a shared map and copying it out, and a hive with no mutable state
// needs no lock however many threads read it.
#pragma once

#include <cstdint>
#include <string>

#include "error/error.h"

namespace tarnu {

struct Hive;

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

// Reads the key node at `offset`.
Result<KeyNode> parse_key_node(const Hive& hive, uint32_t offset);

// The same into `node`, whose name keeps its storage: for callers that read node after node. A failed read leaves
// `node` holding parts of the failed node.
Status read_key_node(const Hive& hive, uint32_t offset, KeyNode& node);

}  // namespace tarnu
