#include "tree/key_path.h"

#include <algorithm>
#include <vector>

#include "hive/hive.h"
#include "hive/limits.h"
#include "tree/nodes.h"

namespace tarnu {
namespace {

// Names gathered from a key upwards, joined from the top down.
std::string join_upwards(const std::vector<std::string>& names) {
    std::string path;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (name != names.rbegin()) path += '\\';
        path += *name;
    }
    return path;
}

}  // namespace

Result<std::optional<KeyNode>> read_parent(const Hive& hive, const KeyNode& key) {
    if (key.offset == hive.base_block.root_cell_offset) return std::optional<KeyNode>{};
    auto parent = parse_key_node(hive, key.parent_offset);
    if (!parent.ok()) {
        return HiveError::invalid_format(key.offset, malformed::ParentNotKey{.parent = key.parent_offset});
    }
    return std::optional<KeyNode>(std::move(parent).value());
}

Result<std::string> key_path(const Hive& hive, const KeyNode& key) {
    std::vector<std::string> names;  // from `key` upwards
    std::vector<uint32_t> passed{key.offset};
    KeyNode current = key;
    while (current.offset != hive.base_block.root_cell_offset) {
        if (names.size() == kMaxKeyDepth) {
            return HiveError::invalid_format(key.offset, malformed::PathDepth{.limit = kMaxKeyDepth});
        }
        TARNU_TRY(std::optional<KeyNode> parent, read_parent(hive, current));
        if (std::find(passed.begin(), passed.end(), parent->offset) != passed.end()) {
            return HiveError::invalid_format(key.offset, malformed::ParentLoop{.back_to = parent->offset});
        }
        passed.push_back(parent->offset);
        names.push_back(std::move(current.name));
        current = std::move(*parent);
    }
    return join_upwards(names);
}

PartialPath partial_key_path(const Hive& hive, const KeyNode& key, const ParentOf& parent_of) {
    std::vector<std::string> names;  // from `key` upwards
    std::vector<uint32_t> passed{key.offset};
    KeyNode current = key;
    bool complete = true;
    while (current.offset != hive.base_block.root_cell_offset) {
        if (names.size() == kMaxKeyDepth) {
            complete = false;
            break;
        }
        std::optional<KeyNode> parent = parent_of(current);
        const bool looped =
            parent && std::find(passed.begin(), passed.end(), parent->offset) != passed.end();
        names.push_back(std::move(current.name));
        if (!parent || looped) {
            complete = false;  // `current` is the highest key the chain reaches
            break;
        }
        passed.push_back(parent->offset);
        current = std::move(*parent);
    }
    return PartialPath{join_upwards(names), complete};
}

}  // namespace tarnu
