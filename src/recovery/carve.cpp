#include "recovery/carve.h"

#include <algorithm>

#include "hive/hive.h"
#include "hive/limits.h"
#include "records/big_data.h"
#include "records/cell.h"
#include "utils/text.h"

namespace tarnu {
namespace {

bool names_no_cell(uint32_t offset) { return offset == 0 || offset == kNoCell; }

// An offset field that either names no cell or may name one.
bool optional_offset(const FreeSpace& space, uint32_t offset) {
    return names_no_cell(offset) || space.plausible_offset(offset);
}

// Entries a list of the image could hold: one for every four bytes.
uint64_t list_capacity(const Hive& hive) { return hive.bytes().size() / kRecoveredListEntrySize; }

bool plausible_key(const Hive& hive, const FreeSpace& space, const KeyNode& node) {
    const uint64_t capacity = list_capacity(hive);
    return node.name_length != 0 && space.plausible_offset(node.parent_offset) &&
           optional_offset(space, node.subkey_list_offset) && optional_offset(space, node.value_list_offset) &&
           optional_offset(space, node.security_offset) && optional_offset(space, node.class_name_offset) &&
           node.subkey_count <= capacity && node.value_count <= capacity;
}

bool plausible_data_fields(const Hive& hive, const FreeSpace& space, uint32_t stored_size, uint32_t offset) {
    const uint32_t size = stored_size & kDataSizeMask;
    if (size <= kMaxInlineData) return true;        // inline or no data: nothing is read from a cell
    if (stored_size & ~kDataSizeMask) return false;  // the inline mark on data that cannot be inline
    return size <= hive.bytes().size() && space.plausible_offset(offset);
}

// The freed cell at `offset` when it holds at least `needed` bytes.
std::optional<Bytes> freed_cell_of(const FreeSpace& space, uint32_t offset, uint64_t needed) {
    std::optional<Bytes> cell = space.freed_cell(offset);
    if (!cell || cell->size() < needed) return std::nullopt;
    return cell;
}

bool big_data_in_free_space(const Hive& hive, const FreeSpace& space, const ValueKey& value, size_t& budget) {
    std::optional<Bytes> record = freed_cell_of(space, value.data_offset, kBigDataHeaderSize);
    if (!record) return false;
    auto big_data = parse_big_data(*record, value.data_offset);
    if (!big_data.ok()) return false;
    const uint32_t segment_count = big_data->segment_count;
    if (segment_count > budget) return false;
    budget -= segment_count;
    std::optional<Bytes> list = freed_cell_of(space, big_data->segment_list_offset, uint64_t{4} * segment_count);
    if (!list) return false;
    // As read_value_data gathers it: at most 16344 bytes from each segment, and no more than the image holds.
    const uint64_t wanted = std::min<uint64_t>(value.data_size, hive.bytes().size());
    uint64_t gathered = 0;
    for (uint32_t i = 0; i < segment_count && gathered < wanted; ++i) {
        const uint64_t needed = std::min<uint64_t>(kBigDataSegmentSize, wanted - gathered);
        if (!freed_cell_of(space, le32(*list, 4 * size_t{i}) & kDataSizeMask, needed)) return false;
        gathered += needed;
    }
    return gathered >= wanted;
}

}  // namespace

std::optional<KeyNode> carve_key_node(const Hive& hive, const FreeSpace& space, uint32_t offset) {
    std::optional<Bytes> cell = space.freed_cell(offset);
    if (!cell) return std::nullopt;
    auto node = parse_key_node_record(*cell, offset);
    if (!node.ok() || !plausible_key(hive, space, node.value())) return std::nullopt;
    node->hive = &hive;
    return std::move(node).value();
}

std::optional<ValueKey> carve_value_key(const Hive& hive, const FreeSpace& space, uint32_t offset) {
    std::optional<Bytes> cell = space.freed_cell(offset);
    if (!cell) return std::nullopt;
    auto value = parse_value_key_record(*cell, offset);
    if (!value.ok()) return std::nullopt;
    const uint32_t stored_size = le32(*cell, value_key_field::kDataSize);
    if (!plausible_data_fields(hive, space, stored_size, value->data_offset)) return std::nullopt;
    value->hive = &hive;
    return std::move(value).value();
}

uint32_t key_node_extent(const KeyNode& node) {
    return kCellHeaderSize + uint32_t{kKeyNodeFixedSize} + node.name_length;
}

uint32_t value_key_extent(const ValueKey& value) {
    return kCellHeaderSize + uint32_t{kValueKeyFixedSize} + value.name_length;
}

std::vector<uint32_t> carve_value_list(const FreeSpace& space, const KeyNode& node, size_t& budget) {
    std::vector<uint32_t> entries;
    if (node.value_count == 0 || names_no_cell(node.value_list_offset) || node.value_count > budget) return entries;
    std::optional<Bytes> list = freed_cell_of(space, node.value_list_offset, uint64_t{4} * node.value_count);
    if (!list) return entries;
    budget -= node.value_count;
    entries.reserve(node.value_count);
    for (uint32_t i = 0; i < node.value_count; ++i) entries.push_back(le32(*list, 4 * size_t{i}));
    return entries;
}

std::optional<std::string> carve_class_name(const FreeSpace& space, const KeyNode& node) {
    if (names_no_cell(node.class_name_offset) || node.class_name_length == 0) return std::nullopt;
    std::optional<Bytes> cell = freed_cell_of(space, node.class_name_offset, node.class_name_length);
    if (!cell) return std::nullopt;
    auto text = decode_utf16le(cell->first(node.class_name_length), node.class_name_offset);
    if (!text.ok()) return std::nullopt;
    return std::move(text).value();
}

bool data_in_free_space(const Hive& hive, const FreeSpace& space, const ValueKey& value, size_t& budget) {
    const uint32_t size = value.data_size;
    if (size <= kMaxInlineData || names_no_cell(value.data_offset)) return true;  // nothing to read from a cell
    if (size <= kMaxSingleCellData || hive.base_block.minor_version < kFirstBigDataMinorVersion) {
        return freed_cell_of(space, value.data_offset, size).has_value();
    }
    return big_data_in_free_space(hive, space, value, budget);
}

}  // namespace tarnu
