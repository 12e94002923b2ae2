#include "tree/key.h"

#include "hive/cell.h"
#include "hive/hive.h"
#include "hive/limits.h"
#include "records/security_key.h"
#include "tree/name_compare.h"
#include "tree/nodes.h"
#include "tree/offset_set.h"
#include "tree/subkey_lists.h"
#include "tree/value_data.h"
#include "utils/text.h"

namespace tarnu {
namespace {

// Key nodes say "no cell" with 0xFFFFFFFF; 0 is the first hive bin's header, never a cell of its own.
bool names_a_cell(uint32_t offset) { return offset != 0 && offset != kNoCell; }

}  // namespace

Result<std::vector<uint32_t>> child_offsets(const Hive& hive, const KeyNode& key) {
    std::vector<uint32_t> offsets;
    if (key.subkey_count == 0) return offsets;
    TARNU_CHECK(collect_subkey_offsets(hive, key.subkey_list_offset, ListErrors::Fail, offsets));
    return offsets;
}

Result<std::vector<KeyNode>> read_subkeys(const Hive& hive, const KeyNode& key) {
    TARNU_TRY(std::vector<uint32_t> offsets, child_offsets(hive, key));
    std::vector<KeyNode> children;
    children.reserve(offsets.size());
    GatherBudget budget = subkeys_budget(hive, key);
    for (uint32_t offset : offsets) {
        TARNU_TRY(KeyNode child, read_subkey(hive, offset, budget));
        children.push_back(std::move(child));
    }
    return children;
}

GatherBudget subkeys_budget(const Hive& hive, const KeyNode& key) {
    return GatherBudget(hive.bytes().size(), key.offset, malformed::Budget::Call::Subkeys);
}

Result<KeyNode> read_subkey(const Hive& hive, uint32_t offset, GatherBudget& budget) {
    TARNU_TRY(KeyNode child, parse_key_node(hive, offset));
    TARNU_CHECK(budget.spend(kSubkeyEntryCost + child.name.size()));
    return child;
}

Result<ValueKey> find_value_key(const Hive& hive, const KeyNode& key, std::string_view name) {
    // Every value key of the list is read and its name decoded, into one key whose storage each reuses, since one
    // that cannot be read fails the lookup; a value key the list names again is read once.
    const uint32_t count = key.value_count;
    const uint32_t list_offset = key.value_list_offset;
    std::optional<ValueKey> found;
    if (count != 0 && names_a_cell(list_offset)) {
        TARNU_TRY(Bytes list, read_cell(hive, list_offset));
        const uint64_t list_bytes = uint64_t{kValueListEntrySize} * count;
        if (list.size() < list_bytes) return HiveError::truncated_data(list_offset, list_bytes, list.size());
        FewOffsets read;
        ValueKey value;
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t offset = le32(list, kValueListEntrySize * size_t{i});
            if (!read.insert(offset)) continue;
            TARNU_CHECK(read_value_key(hive, offset, value));
            // "" asks for the unnamed value alone; "(default)" finds it too, and a value stored under that name.
            const bool match = name.empty() ? value.name_length == 0 : value_names_match(value.name, name);
            if (match && !found) found = value;
        }
    }
    if (found) return std::move(*found);
    return HiveError::value_not_found(std::string(name));
}

Result<KeyValue> find_value(const Hive& hive, const KeyNode& key, std::string_view name) {
    TARNU_TRY(ValueKey value, find_value_key(hive, key, name));
    TARNU_TRY(ValueBytes data, read_value_data(value));
    return KeyValue{std::move(value), std::move(data)};
}

Result<std::optional<std::string>> read_class_name(const Hive& hive, const KeyNode& key) {
    using ClassName = std::optional<std::string>;
    const uint32_t offset = key.class_name_offset;
    if (!names_a_cell(offset) || key.class_name_length == 0) return ClassName{};
    TARNU_TRY(Bytes cell, read_cell(hive, offset));
    if (cell.size() < key.class_name_length) return HiveError::truncated_data(offset, key.class_name_length, cell.size());
    TARNU_TRY(std::string text, decode_utf16le(cell.first(key.class_name_length), offset));
    return ClassName(std::move(text));
}

Result<std::optional<std::vector<uint8_t>>> read_security_descriptor(const Hive& hive, const KeyNode& key) {
    using Descriptor = std::optional<std::vector<uint8_t>>;
    const uint32_t offset = key.security_offset;
    if (!names_a_cell(offset)) return Descriptor{};
    TARNU_TRY(Bytes cell, read_cell(hive, offset));
    TARNU_TRY(const SecurityKey security, parse_security_key(cell, offset));
    return Descriptor(std::in_place, security.descriptor.begin(), security.descriptor.end());
}

}  // namespace tarnu
