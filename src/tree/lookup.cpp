#include "tree/lookup.h"

#include <cstdio>
#include <string>
#include <vector>

#include "hive/hive.h"
#include "hive/limits.h"
#include "records/value_type.h"
#include "tree/key.h"
#include "tree/name_compare.h"
#include "tree/hive_type.h"
#include "tree/nodes.h"
#include "tree/root_paths.h"
#include "tree/subkey_lists.h"

namespace tarnu {
namespace {

using Found = std::optional<KeyNode>;

// The names of a path, without empty components. More than `kMaxKeyDepth` names cannot lead to a key.
std::vector<std::string_view> path_names(std::string_view path) {
    std::vector<std::string_view> names;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

// Finds children by name. The lists are read entry by entry and the search stops at the first match.
class ChildFinder {
public:
    explicit ChildFinder(const Hive& hive) : hive_(hive) {}

    Result<Found> find(const KeyNode& key, std::string_view name) {
        if (key.subkey_count == 0) return Found{};
        const WantedName wanted(name);
        Found found;
        std::optional<HiveError> failure;
        auto visit = [&](const LeafList& list) {
            for (uint32_t i = 0; i < list.count; ++i) {
                const SubkeyEntry entry = list[i];
                if (entry.kind == SubkeyHint::NameHash && !wanted.may_match_hash(entry.hint)) continue;
                if (entry.kind == SubkeyHint::NameHint && !wanted.may_match_hint(entry.hint)) continue;
                auto child = parse_key_node(hive_, entry.offset);
                if (!child.ok()) {
                    if (!failure) failure = std::move(child).error();
                    continue;
                }
                if (!wanted.matches(child->name)) continue;
                found = std::move(child).value();
                return false;
            }
            return true;
        };
        Status listed = visit_leaf_lists(hive_, key.subkey_list_offset, ListErrors::Skip, visit);
        if (found) return found;
        if (failure) return std::move(*failure);
        if (!listed.ok()) return std::move(listed).error();
        return Found{};
    }

    // Follows `names` from `key`, starting at `names[first]`.
    Result<Found> descend(KeyNode key, const std::vector<std::string_view>& names, size_t first) {
        for (size_t i = first; i < names.size(); ++i) {
            TARNU_TRY(Found child, find(key, names[i]));
            if (!child) return Found{};
            key = std::move(*child);
        }
        return Found(std::move(key));
    }

    const Hive& hive() const { return hive_; }

private:
    const Hive& hive_;
};

// The control set that Select\Current names, if the root has a key Select with a REG_DWORD value Current.
Result<Found> current_control_set(ChildFinder& finder, const KeyNode& root) {
    TARNU_TRY(Found select, finder.find(root, "Select"));
    if (!select) return Found{};
    auto current = find_value(finder.hive(), *select, "Current");
    if (!current.ok()) {
        if (current.error().kind() == ErrorKind::NotFound) return Found{};
        return std::move(current).error();
    }
    const Bytes data = current->data.view();
    if (current->key.value_type.id != kRegDword || data.size() != 4) return Found{};
    char name[32];
    std::snprintf(name, sizeof name, "ControlSet%03u", static_cast<unsigned>(le32(data, 0)));
    return finder.find(root, name);
}

// Follows `names` from the root; a first name CurrentControlSet that is no child of the root stands for the
// current control set.
Result<Found> descend_from_root(ChildFinder& finder, const KeyNode& root, const std::vector<std::string_view>& names) {
    if (names.empty()) return Found(root);
    TARNU_TRY(Found first, finder.find(root, names[0]));
    if (!first && WantedName("CurrentControlSet").matches(names[0])) {
        TARNU_TRY(first, current_control_set(finder, root));
    }
    if (!first) return Found{};
    return finder.descend(std::move(*first), names, 1);
}

// The names that a path beginning with a registry root ("HKLM\SYSTEM\...") stands for in this hive; nothing
// when the path does not begin with one, and NotFound with the reason for a path that belongs to another type.
Result<std::optional<std::vector<std::string_view>>> names_below_root(const Hive& hive, std::string_view path,
                                                                      const std::vector<std::string_view>& names) {
    using Names = std::optional<std::vector<std::string_view>>;
    TARNU_TRY(HiveTypeFinding found, find_hive_type(hive));
    RootMapping mapping = map_root_path(names, found.type);
    if (mapping.kind == RootMapping::Kind::NotRooted) return Names{};
    if (mapping.kind == RootMapping::Kind::OtherType) {
        return HiveError::key_not_found(std::string(path), "the path is for a " +
                                                               std::string(hive_type_name(mapping.wanted)) +
                                                               " hive; this one is " +
                                                               std::string(hive_type_name(found.type)));
    }
    std::vector<std::string_view> below = std::move(mapping.insert);
    below.insert(below.end(), names.begin() + static_cast<std::ptrdiff_t>(mapping.skip), names.end());
    return Names(std::move(below));
}

}  // namespace

Result<std::optional<KeyNode>> find_subkey(const Hive& hive, const KeyNode& key, std::string_view name) {
    return ChildFinder(hive).find(key, name);
}

Result<std::optional<KeyNode>> find_key(const Hive& hive, const KeyNode& start, std::string_view path) {
    const auto names = path_names(path);
    if (names.size() > kMaxKeyDepth) return Found{};
    return ChildFinder(hive).descend(start, names, 0);
}

Result<std::optional<KeyNode>> find_key_from_root(const Hive& hive, std::string_view path) {
    TARNU_TRY(KeyNode root, parse_key_node(hive, hive.base_block.root_cell_offset));
    const auto names = path_names(path);
    if (names.size() > kMaxKeyDepth) return Found{};
    ChildFinder finder(hive);
    TARNU_TRY(Found found, descend_from_root(finder, root, names));
    // A path that does not lead to a key may begin with a registry root: a key whose name is a root's keeps its
    // meaning, and paths without a root cost what they always did.
    if (found || names.empty() || !is_root_name(names[0])) return found;
    TARNU_TRY(auto below, names_below_root(hive, path, names));
    if (!below || below->size() > kMaxKeyDepth) return Found{};
    return descend_from_root(finder, root, *below);
}

}  // namespace tarnu
