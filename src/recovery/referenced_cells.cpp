#include "recovery/referenced_cells.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "hive/cell.h"
#include "hive/hive.h"
#include "hive/limits.h"
#include "records/big_data.h"
#include "records/key_node.h"
#include "records/security_key.h"
#include "records/subkey_list.h"
#include "records/value_key.h"

namespace tarnu {
namespace {

bool names_cell(uint32_t offset) { return offset != 0 && offset != kNoCell; }

class ReferenceWalk {
public:
    explicit ReferenceWalk(const Hive& hive) : hive_(hive), used_(hive.bytes().size()) {}

    OffsetSet run() {
        keys_.push_back(hive_.base_block.root_cell_offset);
        while (!keys_.empty() || !lists_.empty()) {
            if (!lists_.empty()) {
                const uint32_t list = lists_.back();
                lists_.pop_back();
                subkey_list(list);
            } else {
                const uint32_t key = keys_.back();
                keys_.pop_back();
                key_node(key);
            }
        }
        return std::move(used_);
    }

private:
    // The payload of a cell named for the first time; nothing for one seen before or one that cannot be read.
    std::optional<Bytes> enter(uint32_t offset) {
        if (!names_cell(offset) || !used_.insert(offset)) return std::nullopt;
        auto cell = read_cell(hive_, offset);
        if (!cell.ok()) return std::nullopt;
        return cell.value();
    }

    void key_node(uint32_t offset) {
        std::optional<Bytes> node = enter(offset);
        if (!node || node->size() < kKeyNodeFixedSize || !has_signature(*node, "nk")) return;
        namespace f = key_node_field;
        // A key that states no subkeys uses its list cell, if it names one, but leads to no key through it.
        const uint32_t subkeys = le32(*node, f::kSubkeyListOffset);
        if (le32(*node, f::kSubkeyCount) != 0) {
            lists_.push_back(subkeys);
        } else {
            enter(subkeys);
        }
        value_list(le32(*node, f::kValueListOffset), le32(*node, f::kValueCount));
        security_keys(le32(*node, f::kSecurityOffset));
        enter(le32(*node, f::kClassNameOffset));
    }

    void subkey_list(uint32_t offset) {
        std::optional<Bytes> cell = enter(offset);
        if (!cell) return;
        auto list = parse_subkey_list(*cell, offset);
        if (!list.ok()) return;
        std::vector<uint32_t>& to = list->index ? lists_ : keys_;
        for (uint32_t i = 0; i < list->count; ++i) to.push_back((*list)[i].offset);
    }

    void value_list(uint32_t offset, uint32_t count) {
        std::optional<Bytes> list = enter(offset);
        if (!list) return;
        const size_t entries = std::min<size_t>(count, list->size() / 4);
        for (size_t i = 0; i < entries; ++i) value_key(le32(*list, 4 * i));
    }

    void value_key(uint32_t offset) {
        std::optional<Bytes> value = enter(offset);
        if (!value || value->size() < kValueKeyFixedSize || !has_signature(*value, "vk")) return;
        const uint32_t size = le32(*value, value_key_field::kDataSize) & kDataSizeMask;
        if (size <= kMaxInlineData) return;
        const uint32_t data = le32(*value, value_key_field::kDataOffset);
        std::optional<Bytes> record = enter(data);
        if (!record || size <= kMaxSingleCellData || hive_.base_block.minor_version < kFirstBigDataMinorVersion) return;
        auto big_data = parse_big_data(*record, data);
        if (!big_data.ok()) return;
        std::optional<Bytes> segments = enter(big_data->segment_list_offset);
        if (!segments) return;
        const size_t count = std::min<size_t>(big_data->segment_count, segments->size() / 4);
        for (size_t i = 0; i < count; ++i) enter(le32(*segments, 4 * i) & kDataSizeMask);
    }

    // A key's security cell and the others that the list of security cells links it with.
    void security_keys(uint32_t offset) {
        std::vector<uint32_t> pending{offset};
        while (!pending.empty()) {
            const uint32_t at = pending.back();
            pending.pop_back();
            std::optional<Bytes> cell = enter(at);
            if (!cell) continue;
            auto security = parse_security_key(*cell, at);
            if (!security.ok()) continue;
            pending.push_back(security->previous);
            pending.push_back(security->next);
        }
    }

    const Hive& hive_;
    OffsetSet used_;
    std::vector<uint32_t> keys_;   // key nodes still to enter
    std::vector<uint32_t> lists_;  // subkey lists still to enter
};

}  // namespace

OffsetSet referenced_cells(const Hive& hive) { return ReferenceWalk(hive).run(); }

}  // namespace tarnu
