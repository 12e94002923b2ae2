// Subkey lists ("lf", "lh", "li", "ri" cells): their layout, the entries of a leaf list, and `parse_subkey_list`,
// which parses one from the bytes of its cell. tree/subkey_lists.h follows them from a key to its children.
//
// A list is a 2-byte signature, a 2-byte entry count, then the entries. Leaf lists name key nodes: "li" by offset
// alone (4-byte entries), "lf" with the first four characters of the name and "lh" with the hash of the upper-cased
// name beside each offset (8-byte entries). Index lists ("ri") name further lists by offset (4-byte entries).
#pragma once

#include <cstddef>
#include <cstdint>

#include "utils/bytes.h"
#include "utils/error.h"

namespace tarnu {

// The header of a subkey list, before its entries.
inline constexpr size_t kSubkeyListHeaderSize = 4;

// Positions of the subkey-list fields in the cell's payload.
namespace subkey_list_field {
inline constexpr size_t kSignature = 0;
inline constexpr size_t kCount = 2;
inline constexpr size_t kEntries = 4;
}  // namespace subkey_list_field

// What a leaf entry stores beside the key node's offset.
enum class SubkeyHint : uint8_t {
    None,      // "li": nothing
    NameHint,  // "lf": the first four characters of the name, the first in the lowest byte
    NameHash,  // "lh": the hash of the upper-cased name
};

struct SubkeyEntry {
    uint32_t offset = 0;  // of the child's key node, or of a further list in an index list
    uint32_t hint = 0;    // as stored, 0 for "li" and "ri"
    SubkeyHint kind = SubkeyHint::None;
};

// The entries of one list as stored: `count` entries of 8 bytes ("lf", "lh") or 4 bytes ("li", "ri").
struct SubkeyList {
    Bytes entries;
    uint32_t count = 0;
    SubkeyHint kind = SubkeyHint::None;
    bool index = false;  // "ri": the entries name further lists

    SubkeyEntry operator[](uint32_t i) const {
        if (kind == SubkeyHint::None) return SubkeyEntry{le32(entries, 4 * size_t{i}), 0, kind};
        return SubkeyEntry{le32(entries, 8 * size_t{i}), le32(entries, 8 * size_t{i} + 4), kind};
    }
};

// A list that names key nodes ("lf", "lh", "li").
using LeafList = SubkeyList;

// Parses the list held by `payload`, the payload of the cell at `offset`: at least its header (TruncatedData), a
// signature of one of the four kinds (InvalidSubkeyListType) and its entries inside the payload (TruncatedData).
// The entries are a view of `payload`. Inline: the walk parses one list per key.
inline Result<SubkeyList> parse_subkey_list(Bytes payload, uint32_t offset) {
    if (payload.size() < kSubkeyListHeaderSize) {
        return HiveError::truncated_data(offset, kSubkeyListHeaderSize, payload.size());
    }
    const uint8_t kind0 = payload[subkey_list_field::kSignature], kind1 = payload[subkey_list_field::kSignature + 1];
    SubkeyList list;
    size_t entry_size = 4;
    if (kind0 == 'r' && kind1 == 'i') {
        list.index = true;
    } else if (kind0 == 'l' && (kind1 == 'f' || kind1 == 'h')) {
        entry_size = 8;
        list.kind = kind1 == 'f' ? SubkeyHint::NameHint : SubkeyHint::NameHash;
    } else if (kind0 != 'l' || kind1 != 'i') {
        return HiveError::invalid_subkey_list_type(offset, kind0, kind1);
    }
    list.count = le16(payload, subkey_list_field::kCount);
    const size_t needed = kSubkeyListHeaderSize + entry_size * list.count;
    if (needed > payload.size()) return HiveError::truncated_data(offset, needed, payload.size());
    list.entries = payload.subspan(subkey_list_field::kEntries, entry_size * list.count);
    return list;
}

}  // namespace tarnu
