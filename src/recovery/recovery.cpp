#include "recovery/recovery.h"

#include <algorithm>

#include "hive/hive.h"
#include "hive/limits.h"
#include "records/cell.h"
#include "records/hive_bin.h"
#include "recovery/carve.h"
#include "recovery/free_space.h"
#include "recovery/remnants.h"
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

uint64_t round_up(uint64_t n, uint32_t unit) { return (n + unit - 1) / unit * unit; }

// Cells of the hive bins that a record found there may read: free cells alone, or those and allocated cells that
// the live tree does not use, as `cell` picks.
class SpaceCells final : public RecordCells {
public:
    using Lookup = std::optional<Bytes> (FreeSpace::*)(uint32_t) const;
    SpaceCells(const FreeSpace& space, Lookup lookup) : space_(space), lookup_(lookup) {}
    bool plausible_offset(uint32_t offset) const override { return space_.plausible_offset(offset); }
    std::optional<Bytes> cell(uint32_t position) const override { return (space_.*lookup_)(position); }

private:
    const FreeSpace& space_;
    Lookup lookup_;
};

// Cells of the remnant area, named by the offsets they had in the hive the area was left from.
class RemnantCells final : public RecordCells {
public:
    explicit RemnantCells(const RemnantArea& area) : area_(area) {}
    bool plausible_offset(uint32_t offset) const override {
        return offset % kCellAlignment == 0 && offset >= kHbinHeaderSize && offset <= kMaxCellOffset;
    }
    std::optional<uint32_t> position(uint32_t offset) const override { return area_.position_of(offset); }
    std::optional<Bytes> cell(uint32_t position) const override { return area_.cell(position); }

private:
    const RemnantArea& area_;
};

// The cells that records found in each space may read, by FoundIn.
struct Spaces {
    SpaceCells free;
    SpaceCells unreferenced;
    RemnantCells remnant;

    const RecordCells& of(FoundIn found_in) const {
        switch (found_in) {
        case FoundIn::FreeCell:
            return free;
        case FoundIn::UnreferencedCell:
            return unreferenced;
        case FoundIn::RemnantArea:
            break;
        }
        return remnant;
    }
};

bool is_record(Bytes signature) { return has_signature(signature, "nk") || has_signature(signature, "vk"); }

class Scan {
public:
    Scan(const Hive& hive, const FreeSpace& space, const Spaces& spaces, Recovery& out)
        : hive_(hive), space_(space), spaces_(spaces), out_(out), data_(hive.bytes().subspan(kHiveBinsStart)) {}

    // Every 8-byte step of `regions` (free cells, or allocated cells that the live tree does not use).
    void cells(const std::vector<FreeSpace::Region>& regions, FoundIn found_in) {
        const RecordCells& cells = spaces_.of(found_in);
        for (const FreeSpace::Region& region : regions) {
            uint64_t at = region.begin;
            while (at + kCellHeaderSize + 2 <= region.end) {
                const uint32_t offset = static_cast<uint32_t>(at);
                uint64_t extent = kCellAlignment;
                if (is_record(data_.subspan(size_t{offset} + kCellHeaderSize, 2))) {
                    std::optional<Bytes> record = cells.cell(offset);
                    std::optional<uint32_t> taken;
                    if (record) taken = take(*record, offset, found_in);
                    // An allocated cell that nothing uses and whose own record does not hold up is broken.
                    if (!taken && found_in == FoundIn::UnreferencedCell && offset == region.begin) {
                        ++out_.passed_over;
                    }
                    if (taken) extent = round_up(*taken, kCellAlignment);
                }
                at += extent;
            }
        }
    }

    // Every 4-byte step of the remnant area outside bin headers: records there may have lost their size field.
    void remnants(const RemnantArea& area) {
        uint64_t at = std::max<uint64_t>(round_up(area.begin(), 4), kCellHeaderSize);
        while (at + 2 <= area.end()) {
            uint64_t step = 4;
            if (is_record(data_.subspan(static_cast<size_t>(at), 2)) && !area.in_bin_header(at)) {
                const uint32_t offset = static_cast<uint32_t>(at - kCellHeaderSize);
                const Bytes record = area.record_bytes(offset);
                if (std::optional<uint32_t> extent = take(record, offset, FoundIn::RemnantArea)) {
                    step = round_up(*extent, 4);
                }
            }
            at += step;
        }
    }

private:
    RecordSource source_of(uint32_t offset, FoundIn found_in) const {
        if (found_in == FoundIn::RemnantArea || offset >= hive_.base_block.hive_bins_data_size) {
            return RecordSource::Remnant;
        }
        return found_in == FoundIn::FreeCell ? RecordSource::Free : RecordSource::Unreferenced;
    }

    // Takes the record in `record`, the payload of the cell at `offset`, when it holds up and the live tree does not
    // use its cell; the bytes it fills.
    std::optional<uint32_t> take(Bytes record, uint32_t offset, FoundIn found_in) {
        if (space_.is_referenced(offset)) return std::nullopt;
        const RecordCells& cells = spaces_.of(found_in);
        const RecordSource source = source_of(offset, found_in);
        if (has_signature(record, "nk")) {
            std::optional<KeyNode> node = carve_key_node(hive_, cells, record, offset);
            if (!node) return std::nullopt;
            const uint32_t extent = key_node_extent(*node);
            out_.keys.push_back(RecoveredKey{std::move(*node), {}, {}, RecoveredParent::Missing, 0, source, found_in});
            return extent;
        }
        std::optional<ValueKey> value = carve_value_key(hive_, cells, record, offset);
        if (!value) return std::nullopt;
        const uint32_t extent = value_key_extent(*value);
        out_.values.push_back(RecoveredValue{std::move(*value), offset, false, false, source, found_in});
        return extent;
    }

    const Hive& hive_;
    const FreeSpace& space_;
    const Spaces& spaces_;
    Recovery& out_;
    Bytes data_;
};

// Sorts `items` by offset and drops any whose offset an earlier one has. Items of free cells alone, as most hives
// give, come in offset order already and are not moved.
template <typename Items, typename OffsetOf>
void order(Items& items, OffsetOf offset_of) {
    auto before = [&](const auto& a, const auto& b) { return offset_of(a) < offset_of(b); };
    if (!std::is_sorted(items.begin(), items.end(), before)) std::stable_sort(items.begin(), items.end(), before);
    items.erase(std::unique(items.begin(), items.end(),
                            [&](const auto& a, const auto& b) { return offset_of(a) == offset_of(b); }),
                items.end());
}

// The values that each key's value list still names, each once per key.
void list_values(const Spaces& spaces, Recovery& out, size_t& budget) {
    constexpr size_t kNone = static_cast<size_t>(-1);
    std::vector<size_t> last_lister(out.values.size(), kNone);  // the key that listed each value last
    for (size_t k = 0; k < out.keys.size(); ++k) {
        RecoveredKey& key = out.keys[k];
        for (uint32_t entry : carve_value_list(spaces.of(key.found_in), key.node, budget)) {
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

void find_parents(const Hive& hive, const FreeSpace& space, const Spaces& spaces, Recovery& out) {
    for (RecoveredKey& key : out.keys) {
        const std::optional<uint32_t> parent = spaces.of(key.found_in).position(key.node.parent_offset);
        if (!parent) continue;
        if (const RecoveredKey* found = find_at(out.keys, *parent, key_offset)) {
            key.parent = RecoveredParent::Recovered;
            key.parent_index = static_cast<size_t>(found - out.keys.data());
        } else if (key.found_in != FoundIn::RemnantArea && space.is_allocated_cell(*parent) &&
                   parse_key_node(hive, *parent).ok()) {
            key.parent = RecoveredParent::Live;
        }
    }
}

}  // namespace

std::string_view source_name(RecordSource source) {
    switch (source) {
    case RecordSource::Free:
        return "free";
    case RecordSource::Unreferenced:
        return "unreferenced";
    case RecordSource::Remnant:
        return "remnant";
    }
    return "";
}

Recovery recover_deleted(const Hive& hive) {
    const FreeSpace space(hive);
    const RemnantArea area(hive, space.bins_end());
    const Spaces spaces{SpaceCells(space, &FreeSpace::freed_cell), SpaceCells(space, &FreeSpace::stale_cell),
                        RemnantCells(area)};

    Recovery out;
    out.passed_over = space.passed_over() + area.broken_bins();
    Scan scan(hive, space, spaces, out);
    scan.cells(space.regions(), FoundIn::FreeCell);
    scan.cells(space.unreferenced(), FoundIn::UnreferencedCell);
    scan.remnants(area);
    order(out.keys, key_offset);
    order(out.values, value_offset);

    size_t budget = hive.bytes().size() / kRecoveredListEntrySize;
    list_values(spaces, out, budget);
    for (RecoveredKey& key : out.keys) key.class_name = carve_class_name(spaces.of(key.found_in), key.node);
    for (RecoveredValue& value : out.values) {
        value.data_available = data_available(hive, spaces.of(value.found_in), value.key, budget);
    }
    find_parents(hive, space, spaces, out);
    return out;
}

PartialPath recovered_key_path(const Hive& hive, const Recovery& recovery, const RecoveredKey& key) {
    auto parent_of = [&](const KeyNode& node) -> std::optional<KeyNode> {
        const RecoveredKey* recovered = find_at(recovery.keys, node.offset, key_offset);
        if (recovered != nullptr && recovered->parent == RecoveredParent::Recovered) {
            return recovery.keys[recovered->parent_index].node;
        }
        if (recovered != nullptr && recovered->parent == RecoveredParent::Missing) return std::nullopt;
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
