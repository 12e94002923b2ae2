#include "recovery/intact_keys.h"

#include <optional>

#include "hive/hive.h"
#include "hive/cell_walk.h"
#include "tree/nodes.h"

namespace tarnu {

std::vector<KeyNode> intact_key_nodes(const Hive& hive) {
    std::vector<KeyNode> nodes;
    CellWalk scan(hive, BinDamage::PassedOver);
    KeyNode node;
    while (std::optional<CellInfo> cell = scan.next()) {
        if (!cell->allocated || record_signature(cell->payload) != "nk") continue;
        if (!parse_key_node_record(cell->payload, cell->offset, node).ok()) continue;
        node.hive = &hive;
        nodes.push_back(node);
    }
    return nodes;
}

PartialPath path_as_far_as_it_reads(const Hive& hive, const KeyNode& key) {
    auto parent_of = [&](const KeyNode& node) -> std::optional<KeyNode> {
        auto parent = parse_key_node(hive, node.parent_offset);
        if (!parent.ok()) return std::nullopt;
        return std::move(parent).value();
    };
    return partial_key_path(hive, key, parent_of);
}

}  // namespace tarnu
