#include "decode/shell_parts.h"

#include "decode/guid_names.h"
#include "decode/identifiers.h"
#include "utils/format.h"

namespace tarnu::decode {
namespace {

constexpr size_t kBlockHeaderSize = 8;
constexpr size_t kFileEntryFixedSize = 14;
constexpr uint32_t kFileEntryBlock = 0xBEEF0004;

bool block_at(Bytes d, size_t at) {
    return at <= d.size() && d.size() - at >= kBlockHeaderSize && le16(d, at) >= kBlockHeaderSize &&
           (le32(d, at + 4) >> 16) == 0xBEEF;
}

// Adds the text at `at` as `name` (empty past the end): UTF-16 when `wide`, else single-byte; gives the offset past
// its terminator.
size_t add_text(const Bytes d, size_t at, bool wide, const char* name, Fields& fields) {
    if (at >= d.size()) {
        fields.add(name, std::string());
        return at;
    }
    if (wide) {
        const size_t end = utf16_string_end(d, at);
        fields.add(name, utf16_text(d.subspan(at, end - at)));
        return end;
    }
    const std::string text = ascii_text(d.subspan(at));
    fields.add(name, text);
    return at + text.size() + 1;
}

void file_entry_block(Reader& in, ExtensionBlock& block) {
    const Bytes d = in.data().first(in.size() - 2);  // the last u16 is the first block's offset
    Fields& f = block.fields;
    if (!in.need(0, 18, "a 0xbeef0004 block")) return;
    f.add("created", from_fat(le32(d, 8)));
    f.add("accessed", from_fat(le32(d, 12)));
    size_t name_at = 0, long_size_at = 0;
    switch (block.version) {
        case 3: name_at = 20, long_size_at = 18; break;
        case 7: name_at = 38, long_size_at = 36; break;
        case 8: name_at = 42, long_size_at = 36; break;
        case 9: name_at = 46, long_size_at = 36; break;
        default:
            in.note(2, "a 0xbeef0004 block of version 3, 7, 8 or 9", dec(block.version));
            return;
    }
    if (!in.need(0, name_at + 2, "a 0xbeef0004 block")) return;
    if (block.version >= 7) {
        f.add("mft_entry", le32(d, 20) | uint64_t{le16(d, 24)} << 32);
        f.add("mft_sequence", uint64_t{le16(d, 26)});
    }
    const uint16_t long_size = le16(d, long_size_at);
    const size_t end = add_text(d, name_at, true, "long_name", f);
    if (long_size != 0) add_text(d, end, block.version >= 7, "localized_name", f);
}

void other_block(Reader& in, ExtensionBlock& block) {
    const Bytes d = in.data();
    Fields& f = block.fields;
    switch (block.signature) {
        case 0xBEEF0003:
        case 0xBEEF0014:
            if (in.need(8, kGuidSize, "a CLSID")) f.add("clsid", guid_text(d, 8));
            break;
        case 0xBEEF0008:
            if (const auto time = filetime_at(d, 16)) f.add("deleted", *time);
            if (d.size() > 24) f.add("original_path", utf16_text(d.subspan(24)));
            break;
        case 0xBEEF0025:
        case 0xBEEF0026: {
            static constexpr const char* kNames[] = {"time_at_12", "time_at_20", "time_at_28"};
            const size_t times = block.signature == 0xBEEF0025 ? 2 : 3;
            for (size_t i = 0; i < times; ++i) {
                if (const auto time = filetime_at(d, 12 + 8 * i)) f.add(kNames[i], *time);
            }
            break;
        }
        case 0xBEEF0005:
        case 0xBEEF0006:
        case 0xBEEF001A:
        case 0xBEEF0021:
        case 0xBEEF0027:
            f.add_bytes("data", d.subspan(kBlockHeaderSize));
            break;
        default:
            break;
    }
}

}  // namespace

void walk_blocks(Reader& in, size_t at, ShellItem& item) {
    const Bytes d = in.data();
    while (block_at(d, at)) {
        const uint16_t size = le16(d, at);
        if (size > d.size() - at) {
            in.note(at, "an extension block of at most " + byte_count(d.size() - at), byte_count(size));
            return;
        }
        ExtensionBlock block;
        block.offset = in.base() + at;
        block.size = size;
        block.version = le16(d, at + 2);
        block.signature = le32(d, at + 4);
        Reader block_in = in.sub(at, size);
        if (block.signature == kFileEntryBlock) {
            file_entry_block(block_in, block);
        } else {
            other_block(block_in, block);
        }
        item.blocks.push_back(std::move(block));
        at += size;
    }
}

const std::string* long_name_of(const ShellItem& item) {
    for (const ExtensionBlock& block : item.blocks) {
        if (block.signature == kFileEntryBlock) {
            if (const std::string* name = block.fields.text("long_name")) return name;
        }
    }
    return nullptr;
}

void file_entry(Reader& in, ShellItem& item, bool with_blocks) {
    if (with_blocks) item.kind = "file entry";
    if (!in.need(0, kFileEntryFixedSize, "a file entry")) return;
    const Bytes d = in.data();
    const uint8_t type = d[2];
    const bool wide = type & 0x04;
    Fields& f = item.fields;
    f.add("entry_flags", uint64_t{type & 0x8Fu});
    f.add("file_size", uint64_t{le32(d, 4)});
    f.add("modified", from_fat(le32(d, 8)));
    f.add("attributes", uint64_t{le16(d, 12)});
    size_t end = add_text(d, kFileEntryFixedSize, wide, "primary_name", f);
    if (!wide) end += end % 2;  // single-byte names are padded to an even offset
    item.name = *f.text("primary_name");
    if (!with_blocks) return;
    size_t first = end;
    if (!block_at(d, first) && d.size() >= 2) {
        first = le16(d, d.size() - 2);
        if (first < end || !block_at(d, first)) {
            // Before XP: a second name where the blocks would be.
            if (end + 2 < d.size()) add_text(d, end, wide, "secondary_name", f);
            return;
        }
    }
    walk_blocks(in, first, item);
    if (const std::string* long_name = long_name_of(item)) item.name = *long_name;
}

void property_view(Reader& in, ShellItem& item, bool known_folder) {
    item.kind = "users property view";
    if (!in.need(0, 14, "a users property view")) return;
    const Bytes d = in.data();
    Fields& f = item.fields;
    f.add("signature", uint64_t{le32(d, 6)});
    const uint16_t store_size = le16(d, 10), id_size = le16(d, 12);
    if (known_folder) {
        if (!in.need(14, kGuidSize, "a known-folder GUID")) return;
        const std::string guid = guid_text(d, 14);
        f.add("known_folder", guid);
        const char* name = shell_folder_name(guid);
        if (!name) name = known_folder_path(guid);
        item.name = name ? name : guid;
        return;
    }
    if (!in.need(14, id_size, "a property view's identifier")) return;
    f.add_bytes("identifier", d.subspan(14, id_size));
    if (!in.need(14 + size_t{id_size}, store_size, "a property view's property store")) return;
    f.add_bytes("property_store", d.subspan(14 + size_t{id_size}, store_size));
}

void control_panel_category(Reader& in, ShellItem& item) {
    static constexpr const char* kCategories[] = {
        "All Control Panel Items", "Appearance and Personalization", "Hardware and Sound", "Network and Internet",
        nullptr, "System and Security", "Clock, Language, and Region", "Ease of Access", "Programs", "User Accounts",
    };
    item.kind = "control panel category";
    const auto category = in.u32(8, "a control panel category");
    if (!category) return;
    item.fields.add("category", uint64_t{*category});
    if (*category < std::size(kCategories) && kCategories[*category]) item.name = kCategories[*category];
}

void control_panel_file(Reader& in, ShellItem& item) {
    item.kind = "control panel file";
    if (!in.need(0, 24, "a control panel file item")) return;
    const Bytes d = in.data();
    Fields& f = item.fields;
    add_text(d, 24, true, "path", f);
    add_text(d, 24 + 2 * size_t{le16(d, 20)}, true, "display_name", f);
    add_text(d, 24 + 2 * size_t{le16(d, 22)}, true, "comment", f);
    const std::string* name = f.text("display_name");
    item.name = name && !name->empty() ? *name : *f.text("path");
}

}  // namespace tarnu::decode
