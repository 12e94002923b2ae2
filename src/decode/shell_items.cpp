#include "decode/shell_items.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "decode/guid_names.h"
#include "decode/identifiers.h"
#include "decode/shell_parts.h"
#include "utils/format.h"

namespace tarnu::decode {
namespace {

// Signatures of the items whose class byte says little (0x00, 0x01, 0x1F), as little-endian u32.
constexpr uint32_t kControlPanelCategory = 0x39DE2184;
constexpr uint32_t kRemovableDrive = 0xF5A6B710;
constexpr uint32_t kKnownFolderView = 0x23FEBBEE;
constexpr uint32_t kPropertyViews[] = {0x23A3DFD5, 0x3B93AFBB, 0x10141981, 0xBEEBEE00, 0x49505241 /* "ARPI" */};
constexpr uint32_t kMtpVolume = 0x10312005, kMtpFolder = 0x07192006;
constexpr uint32_t kApps = 0x53505041;  // "APPS"
constexpr uint32_t kAugm = 0x4D677541;  // "AugM"

std::string folder_name(const std::string& guid) {
    const char* name = shell_folder_name(guid);
    return name ? name : guid;
}

void root_folder(Reader& in, ShellItem& item) {
    item.kind = "root folder";
    if (!in.need(4, kGuidSize, "a root folder's GUID")) return;
    const std::string guid = guid_text(in.data(), 4);
    item.fields.add("sort_index", uint64_t{in.data()[3]});
    item.fields.add("guid", guid);
    item.name = folder_name(guid);
    walk_blocks(in, 20, item);
}

// A volume item's fields from `at`, the place of its class byte.
void volume(Reader& in, size_t at, ShellItem& item) {
    const Bytes d = in.data();
    if (!in.need(at, 2, "a volume item")) return;
    if (d[at] & 0x01) {
        item.name = ascii_text(in.rest(at + 1).first(std::min<size_t>(20, d.size() - at - 1)));
        item.fields.add("volume", item.name);
        return;
    }
    item.fields.add("flags", uint64_t{d[at + 1]});
    if (!in.need(at + 2, kGuidSize, "a volume item's GUID")) return;
    const std::string guid = guid_text(d, at + 2);
    item.fields.add("guid", guid);
    item.name = folder_name(guid);
}

void network(Reader& in, ShellItem& item) {
    static constexpr const char* kKinds[16] = {nullptr, "domain", "server", "share", nullptr, nullptr,
                                              "Windows Network", "entire network"};
    item.kind = "network location";
    const auto flags = in.u8(4, "a network item's flags");
    if (!flags) return;
    const Bytes d = in.data();
    if (const char* what = kKinds[item.class_type & 0xF]) item.fields.add("network_type", std::string(what));
    item.fields.add("flags", uint64_t{*flags});
    size_t at = 5;
    auto next_text = [&](const char* name) {
        const Bytes rest = in.rest(at);
        const std::string text = ascii_text(rest);
        at += text.size() + 1;
        item.fields.add(name, text);
        return text;
    };
    item.name = next_text("location");
    if ((*flags & 0x80) && at < d.size()) next_text("description");
    if ((*flags & 0x40) && at < d.size()) next_text("comments");
}

void uri(Reader& in, ShellItem& item) {
    item.kind = "URI";
    const auto flags = in.u8(3, "a URI item's flags");
    const auto data_size = in.u16(4, "a URI item's data size");
    if (!flags || !data_size) return;
    const bool wide = *flags & 0x80;
    auto text = [wide](Bytes b) { return wide ? utf16_text(b) : ascii_text(b); };
    item.fields.add("flags", uint64_t{*flags});
    if (*data_size > 0) {
        if (const auto time = filetime_at(in.data(), 14)) item.fields.add("connected", *time);
        size_t at = 42;
        for (const char* name : {"ftp_host", "user", "password"}) {
            const auto size = in.u32(at, "a URI item's string size");
            if (!size || !in.need(at + 4, *size, "a URI item's string")) return;
            item.fields.add(name, text(in.data().subspan(at + 4, *size)));
            at += 4 + *size;
        }
    }
    item.name = text(in.rest(6 + size_t{*data_size}));
    item.fields.add("uri", item.name);
}

void control_panel_item(Reader& in, ShellItem& item) {
    item.kind = "control panel item";
    if (!in.need(14, kGuidSize, "a control panel item's GUID")) return;
    const std::string guid = guid_text(in.data(), 14);
    item.fields.add("guid", guid);
    item.name = folder_name(guid);
}

// A delegate item ("Users files"): a file entry whose size field sits at 10, then the delegate GUIDs, then the
// extension blocks that hold its long name.
void delegate(Reader& in, ShellItem& item) {
    item.kind = "delegate";
    const auto size = in.u16(10, "a delegate item's entry size");
    if (!size) return;
    if (*size < 14) {
        in.note(10, "an entry size of at least 14", dec(*size));
        return;
    }
    Reader entry = in.sub(10, *size);
    file_entry(entry, item, false);
    const size_t guids = 10 + size_t{*size};
    if (!in.need(guids, 2 * kGuidSize, "a delegate item's GUIDs")) return;
    item.fields.add("delegate_guid", guid_text(in.data(), guids));
    item.fields.add("class_guid", guid_text(in.data(), guids + kGuidSize));
    walk_blocks(in, guids + 2 * kGuidSize, item);
    if (const std::string* long_name = long_name_of(item)) item.name = *long_name;
}

// The items known by a signature rather than by their class byte; false when none matches.
bool signature_item(Reader& in, ShellItem& item) {
    const Bytes d = in.data();
    const uint32_t at6 = d.size() >= 10 ? le32(d, 6) : 0;
    for (uint32_t signature : kPropertyViews) {
        if (d.size() >= 10 && at6 == signature) {
            property_view(in, item, false);
            return true;
        }
    }
    if (d.size() >= 10 && at6 == kKnownFolderView) {
        property_view(in, item, true);
        return true;
    }
    if (d.size() >= 10 && at6 == kRemovableDrive && item.class_type == 0x1F) {
        item.kind = "removable drive";
        volume(in, 12, item);
        return true;
    }
    if (d.size() >= 10 && (at6 == kMtpVolume || at6 == kMtpFolder)) {
        item.kind = at6 == kMtpVolume ? "MTP volume" : "MTP folder";
        return true;
    }
    if (d.size() >= 10 && at6 == kApps) {
        item.kind = "application";
        return true;
    }
    const uint32_t at4 = d.size() >= 8 ? le32(d, 4) : 1;
    if (d.size() >= 8 && at4 == kAugm) {
        item.kind = "CD burning";
        return true;
    }
    if (item.class_type == 0x01 && at4 == kControlPanelCategory) {
        control_panel_category(in, item);
        return true;
    }
    if (item.class_type == 0x00 && d.size() >= 8 && (at4 == 0 || (at4 >> 16) == 0xFFFF)) {
        control_panel_file(in, item);
        return true;
    }
    return false;
}

void parse_item(Reader& in, ShellItem& item) {
    const Bytes d = in.data();
    const uint8_t type = item.class_type;
    if (type == 0x1F) {
        const bool root = d.size() == 20 || (d.size() >= 28 && (le32(d, 24) >> 16) == 0xBEEF);
        if (root || !signature_item(in, item)) root_folder(in, item);
    } else if (type == 0x00 || type == 0x01) {
        signature_item(in, item);
    } else if (type == 0x61) {
        uri(in, item);
    } else if (type == 0x71) {
        control_panel_item(in, item);
    } else if (type == 0x74) {
        delegate(in, item);
    } else if ((type & 0x70) == 0x20) {
        // The high bit and the low nibble are flags; the bits 0x70 give the class.
        item.kind = "volume";
        volume(in, 2, item);
    } else if ((type & 0x70) == 0x30) {
        file_entry(in, item, true);
    } else if ((type & 0x70) == 0x40) {
        network(in, item);
    }
}

}  // namespace

ShellItemList parse_shell_items(Bytes data) {
    ShellItemList list;
    Reader in(data, list.notes);
    size_t at = 0;
    while (true) {
        const auto size = in.u16(at, "an item size or the 0 terminator");
        if (!size || *size == 0) break;
        if (*size < 3 || *size > data.size() - at) {
            in.note(at, "an item size from 3 to " + dec(data.size() - at), dec(*size));
            break;
        }
        ShellItem item;
        item.offset = at;
        item.size = *size;
        item.class_type = data[at + 2];
        Reader item_in = in.sub(at, *size);
        parse_item(item_in, item);
        list.items.push_back(std::move(item));
        at += *size;
    }
    list.path = shell_item_path(list.items);
    return list;
}

std::string shell_item_path(const std::vector<ShellItem>& items) {
    std::string path;
    for (const ShellItem& item : items) {
        std::string part = item.name;
        if (part.empty()) {
            char text[32];
            std::snprintf(text, sizeof text, "<unknown 0x%02x>", item.class_type);
            part = text;
        }
        if (std::string_view(item.kind) == "network location" || path.empty()) {
            path = part;
        } else {
            if (path.back() != '\\') path += '\\';
            path += part;
        }
    }
    return path;
}

}  // namespace tarnu::decode
