#include "tree/hive_type.h"

#include <array>
#include <initializer_list>

#include "hive/hive.h"
#include "tree/lookup.h"
#include "tree/name_compare.h"
#include "tree/nodes.h"

namespace tarnu {
namespace {

bool ends_with_name(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && key_names_match(text.substr(text.size() - end.size()), end);
}

// The root key's children that the types are told by. A child that cannot be read counts as absent: the type is
// a guide, and the hive's damage shows in every read of that child.
class RootChildren {
public:
    RootChildren(const Hive& hive, const KeyNode& root) : hive_(hive), root_(root) {}

    bool has(std::string_view name) const {
        auto found = find_subkey(hive_, root_, name);
        return found.ok() && found.value().has_value();
    }
    bool has_any(std::initializer_list<std::string_view> names) const {
        for (std::string_view name : names) {
            if (has(name)) return true;
        }
        return false;
    }
    bool sole(std::string_view name) const { return root_.subkey_count == 1 && has(name); }

private:
    const Hive& hive_;
    const KeyNode& root_;
};

HiveType type_of_content(const Hive& hive, const RootChildren& children, HiveType file_type) {
    if (children.has("Select")) {
        if (children.has_any({"ControlSet001", "ControlSet002", "ControlSet003"})) return HiveType::System;
        auto current = find_key_from_root(hive, "CurrentControlSet");
        if (current.ok() && current.value()) return HiveType::System;
    }
    if (children.sole("SAM")) return HiveType::Sam;
    if (children.has("Policy") && children.has("RXACT")) return HiveType::Security;
    if (children.sole("Root")) return HiveType::Amcache;
    if (children.has("Description") && children.has("Objects")) return HiveType::Bcd;
    if (children.has("CanonicalData")) return HiveType::Components;
    if (children.has("DriverDatabase") && !children.has("Select")) return HiveType::Drivers;
    if (children.has("Software") &&
        children.has_any({"Control Panel", "Environment", "AppEvents", "Console", "Keyboard Layout", "Printers"})) {
        return file_type == HiveType::Default ? HiveType::Default : HiveType::NtUser;
    }
    if (children.has_any({"*", "CLSID", "Local Settings"})) return HiveType::UsrClass;
    if (children.has("Microsoft") && children.has("Classes")) return HiveType::Software;
    return HiveType::Unknown;
}

// The type that a root key's name stands for: the names Windows gives the roots of hives it creates.
HiveType type_of_root_name(std::string_view name) {
    if (ends_with_name(name, "_Classes")) return HiveType::UsrClass;
    if (key_names_match(name, "NewStoreRoot")) return HiveType::Bcd;
    if (key_names_match(name, "CMI-CreateHive{F10156BE-0E87-4EFB-969E-5DA29D131144}")) return HiveType::System;
    if (key_names_match(name, "CMI-CreateHive{899121E8-11D8-44B6-ACEB-301713D5ED8C}")) return HiveType::Sam;
    if (key_names_match(name, "CMI-CreateHive{6A1C4018-979D-4291-A7DC-7AED1C75B67C}")) return HiveType::NtUser;
    return HiveType::Unknown;
}

// The file name the base block keeps (UTF-16LE up to the first NUL), with characters past ASCII as '?': the
// names compared with it are ASCII.
std::string stored_file_name(const Hive& hive) {
    const Bytes image = hive.bytes();
    std::string name;
    if (image.size() < base_block_field::kFileName + base_block_field::kFileNameSize) return name;
    for (size_t i = 0; i < base_block_field::kFileNameSize; i += 2) {
        const uint16_t unit = le16(image, base_block_field::kFileName + i);
        if (unit == 0) break;
        name.push_back(unit >= 0x20 && unit < 0x7F ? static_cast<char>(unit) : '?');
    }
    return name;
}

}  // namespace

std::string_view hive_type_name(HiveType type) {
    switch (type) {
        case HiveType::System: return "SYSTEM";
        case HiveType::Software: return "SOFTWARE";
        case HiveType::Sam: return "SAM";
        case HiveType::Security: return "SECURITY";
        case HiveType::NtUser: return "NTUSER.DAT";
        case HiveType::UsrClass: return "UsrClass.dat";
        case HiveType::Amcache: return "Amcache.hve";
        case HiveType::Bcd: return "BCD";
        case HiveType::Components: return "COMPONENTS";
        case HiveType::Drivers: return "DRIVERS";
        case HiveType::Default: return "DEFAULT";
        case HiveType::Unknown: break;
    }
    return "unknown";
}

HiveType hive_type_of_file_name(std::string_view file_name) {
    const size_t slash = file_name.find_last_of("\\/");
    const std::string_view last = slash == std::string_view::npos ? file_name : file_name.substr(slash + 1);
    static constexpr std::array<std::pair<std::string_view, HiveType>, 12> kNames{{
        {"SYSTEM", HiveType::System}, {"SOFTWARE", HiveType::Software}, {"SAM", HiveType::Sam},
        {"SECURITY", HiveType::Security}, {"NTUSER.DAT", HiveType::NtUser}, {"UsrClass.dat", HiveType::UsrClass},
        {"Amcache.hve", HiveType::Amcache}, {"BCD", HiveType::Bcd}, {"BCD-Template", HiveType::Bcd},
        {"COMPONENTS", HiveType::Components}, {"DRIVERS", HiveType::Drivers}, {"DEFAULT", HiveType::Default},
    }};
    for (const auto& [name, type] : kNames) {
        if (key_names_match(last, name)) return type;
    }
    return HiveType::Unknown;
}

Result<HiveTypeFinding> find_hive_type(const Hive& hive) {
    TARNU_TRY(KeyNode root, parse_key_node(hive, hive.base_block.root_cell_offset));
    const std::string file_name = stored_file_name(hive);
    const HiveType by_file = hive_type_of_file_name(file_name);
    const HiveType by_root = type_of_root_name(root.name);
    HiveTypeFinding finding;
    finding.type = type_of_content(hive, RootChildren(hive, root), by_file);
    auto disagrees = [&](HiveType clue) {
        if (clue == HiveType::Unknown || clue == finding.type) return false;
        // DEFAULT holds what NTUSER.DAT holds: only the file name tells them apart.
        return !(finding.type == HiveType::NtUser && clue == HiveType::Default);
    };
    if (finding.type == HiveType::Unknown) {
        finding.type = by_root != HiveType::Unknown ? by_root : by_file;
        if (by_root != HiveType::Unknown) {
            finding.note = "told by the root key's name '" + root.name + "' alone";
        } else if (by_file != HiveType::Unknown) {
            finding.note = "told by the file name '" + file_name + "' alone";
        }
    } else if (disagrees(by_file)) {
        finding.note = "the file name '" + file_name + "' says " + std::string(hive_type_name(by_file)) +
                       "; the root key's children decide";
    } else if (disagrees(by_root)) {
        finding.note = "the root key's name '" + root.name + "' says " + std::string(hive_type_name(by_root)) +
                       "; the root key's children decide";
    }
    return finding;
}

}  // namespace tarnu
