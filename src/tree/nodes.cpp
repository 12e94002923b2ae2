#include "tree/nodes.h"

#include "hive/cell.h"
#include "hive/hive.h"
#include "hive/limits.h"
#include "tree/budget.h"

namespace tarnu {

Status read_key_node(const Hive& hive, uint32_t offset, KeyNode& node) {
    TARNU_TRY(Bytes cell, read_cell(hive, offset));
    TARNU_CHECK(parse_key_node_record(cell, offset, node));
    node.hive = &hive;
    return Ok{};
}

Result<KeyNode> parse_key_node(const Hive& hive, uint32_t offset) {
    KeyNode node;
    TARNU_CHECK(read_key_node(hive, offset, node));
    return node;
}

Status read_value_key(const Hive& hive, uint32_t offset, ValueKey& value) {
    TARNU_TRY(Bytes cell, read_cell(hive, offset));
    TARNU_CHECK(parse_value_key_record(cell, offset, value));
    value.hive = &hive;
    return Ok{};
}

Result<size_t> read_value_list(const Hive& hive, const KeyNode& key, std::vector<ValueKey>& values) {
    const uint32_t count = key.value_count;
    const uint32_t list_offset = key.value_list_offset;
    if (count == 0 || list_offset == 0 || list_offset == kNoCell) return size_t{0};
    TARNU_TRY(Bytes list, read_cell(hive, list_offset));
    const uint64_t list_bytes = uint64_t{kValueListEntrySize} * count;
    if (list.size() < list_bytes) return HiveError::truncated_data(list_offset, list_bytes, list.size());
    // The list cell holds `count` entries, so this reserves no more than the image can name.
    if (values.size() < count) values.reserve(count);
    GatherBudget budget(hive.bytes().size(), key.offset, malformed::Budget::Call::Values);
    for (uint32_t i = 0; i < count; ++i) {
        if (i == values.size()) values.emplace_back();
        TARNU_CHECK(read_value_key(hive, le32(list, 4 * size_t{i}), values[i]));
        // Each value costs its list entry, its record and its name: a list naming one long name over and over ends
        // here, with one name copied past the bound.
        TARNU_CHECK(budget.spend(kValueListEntrySize + kValueKeyFixedSize + values[i].name.size()));
    }
    return size_t{count};
}

Result<std::vector<ValueKey>> read_value_list(const Hive& hive, const KeyNode& key) {
    std::vector<ValueKey> values;
    TARNU_CHECK(read_value_list(hive, key, values));
    return values;
}

}  // namespace tarnu
