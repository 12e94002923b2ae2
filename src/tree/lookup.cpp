#include "tree/lookup.h"

#include <cstdio>
#include <string>
#include <vector>

#include "hive/cell.h"
#include "hive/hive.h"
#include "hive/limits.h"
#include "records/value_type.h"
#include "tree/budget.h"
#include "tree/key.h"
#include "tree/name_compare.h"
#include "tree/hive_type.h"
#include "tree/nodes.h"
#include "tree/offset_set.h"
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

// Finds children by name. The lists are read entry by entry and the search stops at the first match. A candidate's
// name is decoded only when the entry's hash or hint and the stored name's length allow a match, at most once per
// level however often the lists name it, into a node whose storage every candidate reuses. Everything one call reads
// (the lists' entries, the names decoded) counts against one budget (tree/budget.h).
class ChildFinder {
public:
    ChildFinder(const Hive& hive, uint32_t start_offset)
        : hive_(hive), budget_(hive.bytes().size(), start_offset, malformed::Budget::Call::Lookup) {}

    Result<Found> find(const KeyNode& key, std::string_view name) {
        if (key.subkey_count == 0) return Found{};
        const WantedName wanted(name);
        FewOffsets decoded;  // the candidates this level decoded
        Found found;
        std::optional<HiveError> failure;
        Status spent = Ok{};
        auto visit = [&](const LeafList& list) {
            spent = budget_.spend(list.entries.size());
            if (!spent.ok()) return false;
            for (uint32_t i = 0; i < list.count; ++i) {
                const SubkeyEntry entry = list[i];
                if (entry.kind == SubkeyHint::NameHash && !wanted.may_match_hash(entry.hint)) continue;
                if (entry.kind == SubkeyHint::NameHint && !wanted.may_match_hint(entry.hint)) continue;
                auto stored = stored_name(entry.offset);
                if (!stored.ok()) {
                    if (!failure) failure = std::move(stored).error();
                    continue;
                }
                if (!wanted.may_match_stored(stored->name, stored->compressed)) continue;
                if (!decoded.insert(entry.offset)) continue;
                spent = budget_.spend(stored->name.size());
                if (!spent.ok()) return false;
                Status parsed = parse_key_node_record(stored->payload, entry.offset, candidate_);
                if (!parsed.ok()) {
                    if (!failure) failure = std::move(parsed).error();
                    continue;
                }
                if (!wanted.matches(candidate_.name)) continue;
                candidate_.hive = &hive_;
                found = std::move(candidate_);
                return false;
            }
            return true;
        };
        Status listed = visit_leaf_lists(hive_, key.subkey_list_offset, ListErrors::Skip, visit);
        if (!spent.ok()) return std::move(spent).error();
        if (found) return found;
        if (failure) return std::move(*failure);
        if (!listed.ok()) return std::move(listed).error();
        return Found{};
    }

    // Follows `names` from `key`, starting at `names[first]`; `above` is the key `key` was found below, if any. A
    // path that comes back to a key it passed leads nowhere: nothing is found.
    Result<Found> descend(KeyNode key, const std::vector<std::string_view>& names, size_t first,
                          std::optional<uint32_t> above = std::nullopt) {
        FewOffsets passed;
        if (above) passed.insert(*above);
        if (!passed.insert(key.offset)) return Found{};
        for (size_t i = first; i < names.size(); ++i) {
            TARNU_TRY(Found child, find(key, names[i]));
            if (!child || !passed.insert(child->offset)) return Found{};
            key = std::move(*child);
        }
        return Found(std::move(key));
    }

    const Hive& hive() const { return hive_; }

private:
    // A key node's stored name: its bytes as stored, whether they are 8-bit, and the node's cell. A node that
    // cannot be read fails as `parse_key_node_record` fails it, before any name is decoded.
    struct StoredName {
        Bytes payload;
        Bytes name;
        bool compressed = false;
    };

    Result<StoredName> stored_name(uint32_t offset) {
        TARNU_TRY(Bytes payload, read_cell(hive_, offset));
        const bool whole = payload.size() >= kKeyNodeFixedSize && has_signature(payload, "nk") &&
                           kKeyNodeFixedSize + le16(payload, key_node_field::kNameLength) <= payload.size();
        if (!whole) {
            TARNU_CHECK(parse_key_node_record(payload, offset, candidate_));
            return HiveError::truncated_data(offset, kKeyNodeFixedSize, payload.size());  // the parse fails first
        }
        const uint16_t length = le16(payload, key_node_field::kNameLength);
        const bool compressed = (le16(payload, key_node_field::kFlags) & kKeyCompressedName) != 0;
        return StoredName{payload, payload.subspan(kKeyNodeFixedSize, length), compressed};
    }

    const Hive& hive_;
    GatherBudget budget_;
    KeyNode candidate_;  // the candidate being compared; its name keeps its storage from one to the next
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
    return finder.descend(std::move(*first), names, 1, root.offset);
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
    return ChildFinder(hive, key.offset).find(key, name);
}

Result<std::optional<KeyNode>> find_key(const Hive& hive, const KeyNode& start, std::string_view path) {
    const auto names = path_names(path);
    if (names.size() > kMaxKeyDepth) return Found{};
    return ChildFinder(hive, start.offset).descend(start, names, 0);
}

Result<std::optional<KeyNode>> find_key_from_root(const Hive& hive, std::string_view path) {
    TARNU_TRY(KeyNode root, parse_key_node(hive, hive.base_block.root_cell_offset));
    const auto names = path_names(path);
    if (names.size() > kMaxKeyDepth) return Found{};
    ChildFinder finder(hive, root.offset);
    TARNU_TRY(Found found, descend_from_root(finder, root, names));
    // A path that does not lead to a key may begin with a registry root: a key whose name is a root's keeps its
    // meaning, and paths without a root cost what they always did.
    if (found || names.empty() || !is_root_name(names[0])) return found;
    TARNU_TRY(auto below, names_below_root(hive, path, names));
    if (!below || below->size() > kMaxKeyDepth) return Found{};
    return descend_from_root(finder, root, *below);
}

}  // namespace tarnu
