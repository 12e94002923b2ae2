// One walk over a key and every key below it: depth-first, each key before its children, children in stored order.
//
// `KeyWalk` is an iterator: each `next()` reads only what it needs to hand out the next key with its path (the
// names below the walk's first key joined by backslashes, "" for the first key itself). It is bounded whatever the
// hive holds: a key reached a second time (through a loop or a repeat in the subkey lists) is neither handed out
// nor entered again, the walk goes at most `kMaxKeyDepth` levels below its first key, and the subkey lists of the
// whole walk may name at most as many entries as the image has four-byte words.
//
// Under `WalkErrors::Raise` the first failure (an unreadable subkey list or child, a key nested too deep, lists
// naming too many entries) is returned and ends the walk. Under `WalkErrors::Skip` an unreadable list or child is
// passed over while its readable siblings are still walked, a key nested too deep is not entered, and once the
// lists have named too many entries no further key is entered; `skipped()` counts what was passed over, and
// `take_skipped()` hands out why, with the path of the key where it happened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "records/key_node.h"
#include "tree/offset_set.h"
#include "utils/error.h"

namespace tarnu {

struct Hive;

enum class WalkErrors : uint8_t { Raise, Skip };

struct WalkStep {
    std::string path;
    KeyNode node;
};

// What a walk under `WalkErrors::Skip` passed over: the failure, and the path of the key whose subkey list or
// child it was (relative to the walk's first key, like `WalkStep::path`).
struct SkippedPart {
    std::string path;
    HiveError error;
};

class KeyWalk {
public:
    // `hive` must outlive the walk.
    KeyWalk(const Hive& hive, KeyNode first, WalkErrors errors);

    // The next key, or nothing once the walk is over.
    Result<std::optional<WalkStep>> next();

    // The next key as `next()` hands it out, without copying it: its node (which the caller may move away) or
    // nullptr once the walk is over; its path is `path()` until the following call.
    Result<KeyNode*> advance();
    const std::string& path() const { return path_; }

    // Lists, children and levels passed over under `WalkErrors::Skip`.
    size_t skipped() const { return skipped_; }

    // What was passed over since the last call, in the order it happened. A caller that never asks lets the walk
    // keep at most one entry per subkey-list entry of the hive, the bound the walk sets itself.
    std::vector<SkippedPart> take_skipped() { return std::exchange(skipped_parts_, {}); }

private:
    // The children of one entered key, the next one to hand out, and the length of that key's path. Levels that
    // are done keep their arrays for the next key entered at their depth.
    struct Level {
        std::vector<uint32_t> children;
        size_t next = 0;
        size_t path_length = 0;
    };

    // What entering a key needs of its node.
    struct Entry {
        uint32_t offset;
        uint32_t subkey_count;
        uint32_t subkey_list_offset;
    };

    // Reads the children of the key handed out last, unless it is to be passed over.
    Status enter(const Entry& key);
    // Under Raise returns `error` and ends the walk; under Skip counts and keeps it, with the path of the key
    // `where` names (the length of its path in `path_`), and goes on.
    Status fail(HiveError error, size_t where);

    const Hive& hive_;
    const WalkErrors errors_;
    std::optional<KeyNode> first_;  // not handed out yet
    std::optional<Entry> to_enter_;  // handed out, children not read yet
    std::vector<Level> levels_;      // the first `depth_` are in use
    size_t depth_ = 0;
    OffsetSet seen_;
    KeyNode current_;   // the key handed out last
    std::string path_;  // and its path
    size_t entry_budget_;
    size_t skipped_ = 0;
    std::vector<SkippedPart> skipped_parts_;
    bool over_ = false;
};

}  // namespace tarnu
