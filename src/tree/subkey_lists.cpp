#include "tree/subkey_lists.h"

#include <optional>

#include "hive/cell.h"
#include "hive/hive.h"
#include "hive/limits.h"

namespace tarnu {
namespace {

// An index list being walked, and its next entry to follow.
struct IndexFrame {
    SubkeyList list;
    uint32_t next;
};

class SubkeyCollector {
public:
    SubkeyCollector(const Hive& hive, ListErrors errors, LeafVisitor visit)
        : hive_(hive), errors_(errors), visit_(visit), budget_(hive.bytes().size() / 4) {}

    Status collect(uint32_t list_offset) {
        origin_ = list_offset;
        if (!settle(visit(list_offset))) return std::move(*first_error_);
        while (!stack_.empty() && !stopped_) {
            IndexFrame& frame = stack_.back();
            if (frame.next == frame.list.count) {
                stack_.pop_back();
                continue;
            }
            if (!settle(visit(frame.list[frame.next++].offset))) return std::move(*first_error_);
        }
        if (first_error_) return std::move(*first_error_);
        return Ok{};
    }

private:
    // Keeps the first failure; says whether the collection goes on.
    bool settle(Status status) {
        if (status.ok()) return true;
        if (!first_error_) first_error_ = std::move(status).error();
        return errors_ == ListErrors::Skip && !exhausted_;
    }

    // Reads one list: a leaf list's entries go to the output, an index list is pushed to be walked next.
    Status visit(uint32_t list_offset) {
        if (list_offset == 0 || list_offset == kNoCell) return Ok{};
        TARNU_TRY(Bytes cell, read_cell(hive_, list_offset));
        TARNU_TRY(const SubkeyList list, parse_subkey_list(cell, list_offset));

        // Every list visited and every entry gathered costs one unit; a real hive never needs more units than a
        // quarter of its size, since each list and entry occupies at least four bytes of it. The error names the
        // list the collection started from: the list where the units run out is only where the excess showed.
        if (!spend(1 + (list.index ? 0 : list.count))) {
            exhausted_ = true;
            return HiveError::invalid_format(origin_, malformed::ListEntries{});
        }
        if (list.index) {
            if (stack_.size() >= kMaxSubkeyListDepth) {
                return HiveError::invalid_format(list_offset, malformed::IndexDepth{.limit = kMaxSubkeyListDepth});
            }
            stack_.push_back(IndexFrame{list, 0});
        } else {
            stopped_ = !visit_(list);
        }
        return Ok{};
    }

    bool spend(size_t units) {
        if (units > budget_) return false;
        budget_ -= units;
        return true;
    }

    const Hive& hive_;
    const ListErrors errors_;
    const LeafVisitor visit_;
    size_t budget_;
    bool exhausted_ = false;
    bool stopped_ = false;  // the visitor asked for no more entries
    uint32_t origin_ = 0;
    std::vector<IndexFrame> stack_;
    std::optional<HiveError> first_error_;
};

}  // namespace

Status collect_subkey_offsets(const KeyNode& key, uint32_t list_offset, std::vector<uint32_t>& out) {
    return collect_subkey_offsets(*key.hive, list_offset, ListErrors::Fail, out);
}

Status collect_subkey_offsets(const Hive& hive, uint32_t list_offset, ListErrors errors, std::vector<uint32_t>& out) {
    auto append = [&out](const LeafList& list) {
        for (uint32_t i = 0; i < list.count; ++i) out.push_back(list[i].offset);
        return true;
    };
    return SubkeyCollector(hive, errors, append).collect(list_offset);
}

Status visit_leaf_lists(const Hive& hive, uint32_t list_offset, ListErrors errors, LeafVisitor visit) {
    return SubkeyCollector(hive, errors, visit).collect(list_offset);
}

}  // namespace tarnu
