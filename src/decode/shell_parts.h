// The parts of shell items that several item kinds share: file entries (also inside delegate items), extension
// blocks, and the signature items of the users property view, control panel category and control panel file. Used
// by shell_items.cpp only; each reads through a `Reader` over one item (offset 0 = the item's size field).
#pragma once

#include <string>

#include "decode/reader.h"
#include "decode/shell_items.h"

namespace tarnu::decode {

// The file entry fields from offset 4 on; with `with_blocks`, its extension blocks too (found after the primary
// name, or through the item's last u16), and the item's name is the long name when a block has one.
void file_entry(Reader& in, ShellItem& item, bool with_blocks);
// The extension blocks from `at` while they fit and carry a 0xBEEF signature.
void walk_blocks(Reader& in, size_t at, ShellItem& item);
// The long name of the item's 0xbeef0004 block, if it has one.
const std::string* long_name_of(const ShellItem& item);
void property_view(Reader& in, ShellItem& item, bool known_folder);
void control_panel_category(Reader& in, ShellItem& item);
void control_panel_file(Reader& in, ShellItem& item);

}  // namespace tarnu::decode
