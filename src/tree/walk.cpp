#include "tree/walk.h"

#include "hive/hive.h"
#include "hive/limits.h"
#include "tree/nodes.h"
#include "tree/subkey_lists.h"

namespace tarnu {
KeyWalk::KeyWalk(const Hive& hive, KeyNode first, WalkErrors errors)
    : hive_(hive),
      errors_(errors),
      first_(std::move(first)),
      seen_(hive.bytes().size()),
      entry_budget_(hive.bytes().size() / 4) {}

Status KeyWalk::fail(HiveError error, size_t where) {
    if (errors_ == WalkErrors::Raise) {
        over_ = true;
        return error;
    }
    ++skipped_;
    skipped_parts_.push_back(SkippedPart{path_.substr(0, where), std::move(error)});
    return Ok{};
}

Status KeyWalk::enter(const Entry& key) {
    if (key.subkey_count == 0) return Ok{};
    // Every entered key with children keeps a level until they are done, so the levels are the key's depth.
    if (depth_ >= kMaxKeyDepth) {
        return fail(HiveError::invalid_format(key.offset, malformed::WalkDepth{.limit = kMaxKeyDepth}), path_.size());
    }
    if (depth_ == levels_.size()) levels_.emplace_back();
    Level& level = levels_[depth_];
    level.children.clear();
    level.next = 0;
    level.path_length = path_.size();
    const ListErrors list_errors = errors_ == WalkErrors::Raise ? ListErrors::Fail : ListErrors::Skip;
    Status listed = collect_subkey_offsets(hive_, key.subkey_list_offset, list_errors, level.children);
    // Under Skip the readable part of the lists is walked all the same.
    if (!listed.ok()) TARNU_CHECK(fail(std::move(listed).error(), path_.size()));
    // In a real hive each key's list entries fill cells of their own, four bytes or more apiece.
    if (level.children.size() > entry_budget_) {
        entry_budget_ = 0;
        return fail(HiveError::invalid_format(key.offset, malformed::WalkEntries{}), path_.size());
    }
    entry_budget_ -= level.children.size();
    if (!level.children.empty()) ++depth_;
    return Ok{};
}

Result<KeyNode*> KeyWalk::advance() {
    if (over_) return nullptr;
    if (first_) {
        current_ = std::move(*first_);
        first_.reset();
        seen_.insert(current_.offset);
        to_enter_ = Entry{current_.offset, current_.subkey_count, current_.subkey_list_offset};
        return &current_;
    }
    if (to_enter_) {
        const Entry key = *to_enter_;
        to_enter_.reset();
        TARNU_CHECK(enter(key));
    }
    while (depth_ > 0) {
        Level& level = levels_[depth_ - 1];
        if (level.next == level.children.size()) {
            --depth_;
            continue;
        }
        const uint32_t offset = level.children[level.next++];
        if (seen_.contains(offset)) continue;
        // Read into the node handed out last, reusing its name's storage; a node that fails is not handed out.
        Status read = read_key_node(hive_, offset, current_);
        if (!read.ok()) {
            TARNU_CHECK(fail(std::move(read).error(), level.path_length));
            continue;
        }
        seen_.insert(offset);
        path_.resize(level.path_length);
        // The first key's level is the bottom one; its children's paths start without a separator.
        if (depth_ > 1) path_ += '\\';
        path_ += current_.name;
        to_enter_ = Entry{offset, current_.subkey_count, current_.subkey_list_offset};
        return &current_;
    }
    over_ = true;
    return nullptr;
}

Result<std::optional<WalkStep>> KeyWalk::next() {
    using Step = std::optional<WalkStep>;
    TARNU_TRY(KeyNode* node, advance());
    if (node == nullptr) return Step{};
    return Step(WalkStep{path_, std::move(*node)});
}

}  // namespace tarnu
