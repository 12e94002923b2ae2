// The complete read of a hive that the fuzz targets share: the base block, the hive bins, and through the key API
// the key tree with every key's values, data and decoding, class name, security descriptor, parent, path and
// lookups by name and path, walked once passing over what cannot be read and once stopping at it.
// Every error met is turned into its message (seen.h). A value's data read with the key's values and read on its own must agree, or the target aborts.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <cstdlib>
#include <string>
#include <vector>

#include "hive/cell.h"
#include "hive/hive.h"
#include "records/key_node.h"
#include "records/value_key.h"
#include "decode/value_data.h"
#include "records/value_type.h"
#include "seen.h"
#include "tree/key.h"
#include "tree/hive_type.h"
#include "tree/key_path.h"
#include "tree/lookup.h"
#include "tree/nodes.h"
#include "tree/value_data.h"
#include "tree/value_reader.h"
#include "tree/walk.h"

namespace tarnu::fuzz {

// Everything the key API shows of one key, reached at `path` below the root.
inline void read_key(const Hive& hive, const KeyNode& node, const std::string& path) {
    auto values = read_values(hive, node);
    if (seen(values)) {
        for (const KeyValue& value : values.value()) {
            auto decoded = decode_value_data(value.key.value_type, value.data.view());
            if (seen(decoded)) {
                std::string text;
                append_utf8(decoded.value().text, text);
                for_each_piece(decoded.value().text, [&](const StoredText& piece) {
                    append_utf8(piece, text);
                    return true;
                });
            }
            (void)value.key.value_type.name();
            // The same data read on its own, as value(name) reads it: where it can be read, the same bytes.
            auto alone = read_value_data(value.key);
            if (alone.ok() != value.readable) std::abort();
            if (alone.ok() && !std::ranges::equal(alone.value().view(), value.data.view())) std::abort();
        }
    }
    (void)seen(find_value(hive, node, node.name));
    (void)seen(find_subkey(hive, node, node.name));
    (void)seen(read_class_name(hive, node));
    (void)seen(read_security_descriptor(hive, node));
    (void)seen(read_parent(hive, node));
    (void)seen(key_path(hive, node));
    (void)seen(find_key_from_root(hive, path));
}

inline void walk_hive(const Hive& hive) {
    (void)seen(hbins(hive));
    // The hive's type, and paths with a registry root, which are mapped by that type.
    (void)seen(find_hive_type(hive));
    for (const char* path : {"HKLM\\SYSTEM\\CurrentControlSet\\Control", "HKCU\\Software", "HKCR\\CLSID", "HKCC"}) {
        (void)seen(find_key_from_root(hive, path));
    }
    auto root = parse_key_node(hive, hive.base_block.root_cell_offset);
    if (!seen(root)) return;
    KeyWalk skipping(hive, root.value(), WalkErrors::Skip);
    for (auto step = skipping.next(); seen(step) && step.value(); step = skipping.next()) {
        read_key(hive, step.value()->node, step.value()->path);
    }
    KeyWalk raising(hive, root.value(), WalkErrors::Raise);
    for (auto step = raising.next(); seen(step) && step.value(); step = raising.next()) {
        (void)seen(read_subkeys(hive, step.value()->node));
    }
}

}  // namespace tarnu::fuzz
