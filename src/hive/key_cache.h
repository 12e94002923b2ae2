// The per-hive cache of parsed key nodes, keyed by cell offset.
//
// It only grows: every distinct offset at which a key node was read successfully has one entry. A readers-writer
// lock guards it, held only for a lookup (with the copy of a hit) or an insertion, never across a cell read.
#pragma once

#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "hive/key_node.h"

namespace tarnu {

class KeyCache {
public:
    // Copies the cached node for `offset` into `out` and returns true, or returns false on a miss.
    bool lookup(uint32_t offset, KeyNode& out) const {
        std::shared_lock lock(mutex_);
        auto it = nodes_.find(offset);
        if (it == nodes_.end()) return false;
        out = it->second;
        return true;
    }

    // Stores `node` under `offset`, replacing an (equal) entry another thread may have stored meanwhile.
    void insert(uint32_t offset, const KeyNode& node) const {
        KeyNode entry = node;
        entry.hive = nullptr;
        std::unique_lock lock(mutex_);
        nodes_.insert_or_assign(offset, std::move(entry));
    }

private:
    mutable std::shared_mutex mutex_;
    mutable std::unordered_map<uint32_t, KeyNode> nodes_;
};

}  // namespace tarnu
