#include "recovery/recovery.h"

#include <algorithm>

#include "hive/hive.h"
#include "hive/limits.h"
#include "records/cell.h"
#include "recovery/carve.h"
#include "recovery/free_space.h"
#include "tree/nodes.h"
#include "tree/value_data.h"

namespace tarnu {
namespace {

// The record of `items` (in offset order) at `offset`, by binary search.
template <typename Items, typename OffsetOf>
auto find_at(Items& items, uint32_t offset, OffsetOf offset_of) -> decltype(&items[0]) {
    auto it = std::lower_bound(items.begin(), items.end(), offset,
                               [&](const auto& item, uint32_t at) { return offset_of(item) < at; });
    if (it == items.end() || offset_of(*it) != offset) return nullptr;
    return &*it;
}

uint32_t key_offset(const RecoveredKey& key) { return key.node.offset; }
uint32_t value_offset(const RecoveredValue& value) { return value.offset; }

uint32_t step_over(uint32_t extent) { return (extent + kCellAlignment - 1) / kCellAlignment * kCellAlignment; }

// Every 8-byte step of every free cell, for key nodes and value keys.
void scan(const Hive& hive, const FreeSpace& space, Recovery& out) {
    const Bytes data = hive.bytes().subspan(kHiveBinsStart);
    for (const FreeSpace::Region& region : space.regions()) {
        uint64_t at = region.begin;
        while (at + kCellHeaderSize + 2 <= region.end) {
            const uint32_t offset = static_cast<uint32_t>(at);
            const Bytes signature = data.subspan(offset + size_t{kCellHeaderSize}, 2);
            uint32_t extent = kCellAlignment;
            if (has_signature(signature, "nk")) {
                if (std::optional<KeyNode> node = carve_key_node(hive, space, offset)) {
                    extent = key_node_extent(*node);
                    out.keys.push_back(RecoveredKey{std::move(*node), {}, {}, RecoveredParent::Missing, 0});
                }
            } else if (has_signature(signature, "vk")) {
                if (std::optional<ValueKey> value = carve_value_key(hive, space, offset)) {
                    extent = value_key_extent(*value);
                    out.values.push_back(RecoveredValue{std::move(*value), offset, false, false});
                }
            }
            at += step_over(extent);
        }
    }
}

// The values that each key's value list still names among the values found, each once per key.
void list_values(const FreeSpace& space, Recovery& out, size_t& budget) {
    constexpr size_t kNone = static_cast<size_t>(-1);
    std::vector<size_t> last_lister(out.values.size(), kNone);  // the key that listed each value last
    for (size_t k = 0; k < out.keys.size(); ++k) {
        RecoveredKey& key = out.keys[k];
        for (uint32_t entry : carve_value_list(space, key.node, budget)) {
            RecoveredValue* value = find_at(out.values, entry, value_offset);
            if (value == nullptr) continue;
            const size_t index = static_cast<size_t>(value - out.values.data());
            if (last_lister[index] == k) continue;
            last_lister[index] = k;
            key.values.push_back(index);
            value->listed = true;
        }
    }
}

void find_parents(const Hive& hive, const FreeSpace& space, Recovery& out) {
    for (RecoveredKey& key : out.keys) {
        const uint32_t parent = key.node.parent_offset;
        if (const RecoveredKey* found = find_at(out.keys, parent, key_offset)) {
            key.parent = RecoveredParent::Recovered;
            key.parent_index = static_cast<size_t>(found - out.keys.data());
        } else if (space.is_allocated_cell(parent) && parse_key_node(hive, parent).ok()) {
            key.parent = RecoveredParent::Live;
        }
    }
}

}  // namespace

Recovery recover_deleted(const Hive& hive) {
    const FreeSpace space(hive);
    Recovery out;
    scan(hive, space, out);
    size_t budget = hive.bytes().size() / kRecoveredListEntrySize;
    list_values(space, out, budget);
    for (RecoveredKey& key : out.keys) key.class_name = carve_class_name(space, key.node);
    for (RecoveredValue& value : out.values) value.data_available = data_in_free_space(hive, space, value.key, budget);
    find_parents(hive, space, out);
    return out;
}

PartialPath recovered_key_path(const Hive& hive, const Recovery& recovery, const RecoveredKey& key) {
    auto parent_of = [&](const KeyNode& node) -> std::optional<KeyNode> {
        const RecoveredKey* deleted = find_at(recovery.keys, node.offset, key_offset);
        if (deleted != nullptr && deleted->parent == RecoveredParent::Recovered) {
            return recovery.keys[deleted->parent_index].node;
        }
        if (deleted != nullptr && deleted->parent == RecoveredParent::Missing) return std::nullopt;
        // A live parent, and the live chain above it, are read as key_path reads them.
        auto parent = parse_key_node(hive, node.parent_offset);
        if (!parent.ok()) return std::nullopt;
        return std::move(parent).value();
    };
    return partial_key_path(hive, key.node, parent_of);
}

Result<std::optional<ValueBytes>> read_recovered_data(const RecoveredValue& value) {
    using Data = std::optional<ValueBytes>;
    if (!value.data_available) return Data{};
    TARNU_TRY(ValueBytes data, read_value_data(value.key));
    return Data(std::move(data));
}

}  // namespace tarnu
