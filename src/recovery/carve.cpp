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
bool optional_offset(const RecordCells& cells, uint32_t offset) {
    return names_no_cell(offset) || cells.plausible_offset(offset);
}

// Entries a list of the image could hold: one for every four bytes.
uint64_t list_capacity(const Hive& hive) { return hive.bytes().size() / kRecoveredListEntrySize; }

bool plausible_key(const Hive& hive, const RecordCells& cells, const KeyNode& node) {
    const uint64_t capacity = list_capacity(hive);
    return node.name_length != 0 && optional_offset(cells, node.subkey_list_offset) &&
           optional_offset(cells, node.value_list_offset) && optional_offset(cells, node.security_offset) &&
           optional_offset(cells, node.class_name_offset) && node.subkey_count <= capacity &&
           node.value_count <= capacity;
}

bool plausible_data_fields(const Hive& hive, const RecordCells& cells, uint32_t stored_size, uint32_t offset) {
    const uint32_t size = stored_size & kDataSizeMask;
    if (size <= kMaxInlineData) return true;        // inline or no data: nothing is read from a cell
    if (stored_size & ~kDataSizeMask) return false;  // the inline mark on data that cannot be inline
    return size <= hive.bytes().size() && cells.plausible_offset(offset);
}

// The cell that `offset` names when it holds at least `needed` bytes.
std::optional<Bytes> cell_of(const RecordCells& cells, uint32_t offset, uint64_t needed) {
    const std::optional<uint32_t> position = cells.position(offset);
    if (!position) return std::nullopt;
    std::optional<Bytes> cell = cells.cell(*position);
    if (!cell || cell->size() < needed) return std::nullopt;
    return cell;
}

// The same, for a cell that must lie where `offset` names: the data reader follows big data's offsets as stored.
std::optional<Bytes> cell_in_place(const RecordCells& cells, uint32_t offset, uint64_t needed) {
    if (cells.position(offset) != offset) return std::nullopt;
    return cell_of(cells, offset, needed);
}

bool big_data_available(const Hive& hive, const RecordCells& cells, const ValueKey& value, size_t& budget) {
    std::optional<Bytes> record = cell_in_place(cells, value.data_offset, kBigDataHeaderSize);
    if (!record) return false;
    auto big_data = parse_big_data(*record, value.data_offset);
    if (!big_data.ok()) return false;
    const uint32_t segment_count = big_data->segment_count;
    if (segment_count > budget) return false;
    budget -= segment_count;
    std::optional<Bytes> list = cell_in_place(cells, big_data->segment_list_offset, uint64_t{4} * segment_count);
    if (!list) return false;
    // As read_value_data gathers it: at most 16344 bytes from each segment, and no more than the image holds.
    const uint64_t wanted = std::min<uint64_t>(value.data_size, hive.bytes().size());
    uint64_t gathered = 0;
    for (uint32_t i = 0; i < segment_count && gathered < wanted; ++i) {
        const uint64_t needed = std::min<uint64_t>(kBigDataSegmentSize, wanted - gathered);
        if (!cell_in_place(cells, le32(*list, 4 * size_t{i}) & kDataSizeMask, needed)) return false;
        gathered += needed;
    }
    return gathered >= wanted;
}

}  // namespace

std::optional<KeyNode> carve_key_node(const Hive& hive, const RecordCells& cells, Bytes record, uint32_t offset) {
    auto node = parse_key_node_record(record, offset);
    if (!node.ok() || !plausible_key(hive, cells, node.value())) return std::nullopt;
    node->hive = &hive;
    return std::move(node).value();
}

std::optional<ValueKey> carve_value_key(const Hive& hive, const RecordCells& cells, Bytes record, uint32_t offset) {
    auto value = parse_value_key_record(record, offset);
    if (!value.ok()) return std::nullopt;
    const uint32_t stored_size = le32(record, value_key_field::kDataSize);
    if (!plausible_data_fields(hive, cells, stored_size, value->data_offset)) return std::nullopt;
    value->hive = &hive;
    return std::move(value).value();
}

uint32_t key_node_extent(const KeyNode& node) {
    return kCellHeaderSize + uint32_t{kKeyNodeFixedSize} + node.name_length;
}

uint32_t value_key_extent(const ValueKey& value) {
    return kCellHeaderSize + uint32_t{kValueKeyFixedSize} + value.name_length;
}

std::vector<uint32_t> carve_value_list(const RecordCells& cells, const KeyNode& node, size_t& budget) {
    std::vector<uint32_t> entries;
    if (node.value_count == 0 || names_no_cell(node.value_list_offset) || node.value_count > budget) return entries;
    std::optional<Bytes> list = cell_of(cells, node.value_list_offset, uint64_t{4} * node.value_count);
    if (!list) return entries;
    budget -= node.value_count;
    entries.reserve(node.value_count);
    for (uint32_t i = 0; i < node.value_count; ++i) {
        if (std::optional<uint32_t> position = cells.position(le32(*list, 4 * size_t{i}))) entries.push_back(*position);
    }
    return entries;
}

std::optional<std::string> carve_class_name(const RecordCells& cells, const KeyNode& node) {
    if (names_no_cell(node.class_name_offset) || node.class_name_length == 0) return std::nullopt;
    std::optional<Bytes> cell = cell_of(cells, node.class_name_offset, node.class_name_length);
    if (!cell) return std::nullopt;
    auto text = decode_utf16le(cell->first(node.class_name_length), node.class_name_offset);
    if (!text.ok()) return std::nullopt;
    return std::move(text).value();
}

bool data_available(const Hive& hive, const RecordCells& cells, ValueKey& value, size_t& budget) {
    const uint32_t size = value.data_size;
    if (size <= kMaxInlineData || names_no_cell(value.data_offset)) return true;  // nothing to read from a cell
    if (size <= kMaxSingleCellData || hive.base_block.minor_version < kFirstBigDataMinorVersion) {
        const std::optional<uint32_t> position = cells.position(value.data_offset);
        if (!position || !cell_of(cells, value.data_offset, size)) return false;
        value.data_offset = *position;
        return true;
    }
    return big_data_available(hive, cells, value, budget);
}

}  // namespace tarnu
