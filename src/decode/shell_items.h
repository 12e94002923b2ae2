// Shell items: the item lists (PIDLs) that ShellBags, MRU lists and shortcuts store, each item decoded by its class
// type into its fields, file entries with their extension blocks, GUIDs named, and the path the list stands for
// ("My Computer\C:\Users\x").
//
// A list is walked item by item until its u16 0 terminator; an item whose size is 1 or 2 or runs past the data ends
// the walk (noted), keeping the items before it. An item of a class without a known layout is reported as
// "unknown" with its size, and the walk goes on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decode/fields.h"
#include "decode/reader.h"

namespace tarnu::decode {

struct ExtensionBlock {
    size_t offset = 0;  // from the start of the item list
    uint16_t size = 0;
    uint16_t version = 0;
    uint32_t signature = 0;  // 0xbeefxxxx
    Fields fields;           // 0xbeef0004: "created", "accessed", "long_name", "mft_entry", ...
};

struct ShellItem {
    size_t offset = 0;
    uint16_t size = 0;
    uint8_t class_type = 0;
    // "root folder", "volume", "file entry", "network location", "URI", "control panel item", "delegate",
    // "control panel category", "control panel file", "users property view", "removable drive", "MTP volume",
    // "MTP folder", "application", "CD burning", "unknown".
    const char* kind = "unknown";
    std::string name;  // what the item adds to the path; "" when it names nothing
    Fields fields;
    std::vector<ExtensionBlock> blocks;
};

struct ShellItemList {
    std::vector<ShellItem> items;
    std::string path;
    Notes notes;
};

ShellItemList parse_shell_items(Bytes data);

// The path of decoded items: root folders by name, volume names ending in '\', other names joined with '\', a
// network location starting its own path, items without a name as "<unknown 0xNN>".
std::string shell_item_path(const std::vector<ShellItem>& items);

}  // namespace tarnu::decode
