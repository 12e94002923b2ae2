#include "subkey_list/subkey_list.h"

#include "hive/cell.h"
#include "hive/hive.h"
#include "hive/limits.h"
#include "utils/format.h"

namespace tarnu {
namespace {

// An index list being walked: its entries and the next one to follow.
struct IndexFrame {
    Bytes entries;
    uint32_t count;
    uint32_t next;
};

class SubkeyCollector {
public:
    SubkeyCollector(const Hive& hive, std::vector<uint32_t>& out)
        : hive_(hive), out_(out), budget_(hive.bytes().size() / 4) {}

    Status collect(uint32_t list_offset) {
        origin_ = list_offset;
        TARNU_CHECK(visit(list_offset));
        while (!stack_.empty()) {
            IndexFrame& frame = stack_.back();
            if (frame.next == frame.count) {
                stack_.pop_back();
                continue;
            }
            const uint32_t entry = le32(frame.entries, 4 * size_t{frame.next++});
            TARNU_CHECK(visit(entry));
        }
        return Ok{};
    }

private:
    // Reads one list: a leaf list's entries go to the output, an index list is pushed to be walked next.
    Status visit(uint32_t list_offset) {
        if (list_offset == 0 || list_offset == kNoCell) return Ok{};
        TARNU_TRY(Bytes cell, read_cell(hive_, list_offset));
        if (cell.size() < kSubkeyListHeaderSize) {
            return HiveError::truncated_data(list_offset, kSubkeyListHeaderSize, cell.size());
        }
        const uint8_t kind0 = cell[0], kind1 = cell[1];
        size_t entry_size;
        if (kind0 == 'r' && kind1 == 'i') {
            entry_size = 4;
        } else if (kind0 == 'l' && (kind1 == 'f' || kind1 == 'h')) {
            entry_size = 8;
        } else if (kind0 == 'l' && kind1 == 'i') {
            entry_size = 4;
        } else {
            return HiveError::invalid_subkey_list_type(kind0, kind1);
        }
        const uint32_t count = le16(cell, 2);
        const size_t needed = kSubkeyListHeaderSize + entry_size * count;
        if (needed > cell.size()) return HiveError::truncated_data(list_offset, needed, cell.size());

        // Every list visited and every entry gathered costs one unit; a real hive never needs more units than a
        // quarter of its size, since each list and entry occupies at least four bytes of it. The message names the
        // list the collection started from: the list where the units run out is only where the excess showed.
        if (!spend(1 + (kind0 == 'l' ? count : 0))) {
            return HiveError::invalid_format("Subkey lists reached from offset " + hex(origin_) +
                                             " name more entries than the hive holds");
        }
        const Bytes entries = cell.subspan(kSubkeyListHeaderSize, entry_size * count);
        if (kind0 == 'r') {
            if (stack_.size() >= kMaxSubkeyListDepth) {
                return HiveError::invalid_format("Subkey index list at offset " + hex(list_offset) +
                                                 " is nested more than " + dec(kMaxSubkeyListDepth) + " levels deep");
            }
            stack_.push_back(IndexFrame{entries, count, 0});
        } else {
            for (uint32_t i = 0; i < count; ++i) out_.push_back(le32(entries, entry_size * i));
        }
        return Ok{};
    }

    bool spend(size_t units) {
        if (units > budget_) return false;
        budget_ -= units;
        return true;
    }

    const Hive& hive_;
    std::vector<uint32_t>& out_;
    size_t budget_;
    uint32_t origin_ = 0;
    std::vector<IndexFrame> stack_;
};

}  // namespace

Status collect_subkey_offsets(const KeyNode& key, uint32_t list_offset, std::vector<uint32_t>& out) {
    return SubkeyCollector(*key.hive, out).collect(list_offset);
}

}  // namespace tarnu
