#include "tree/root_paths.h"

#include <array>

#include "tree/name_compare.h"

namespace tarnu {
namespace {

enum class Root : uint8_t { None, LocalMachine, CurrentUser, Users, ClassesRoot, CurrentConfig };

Root root_of(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, Root>, 10> kRoots{{
        {"HKLM", Root::LocalMachine}, {"HKEY_LOCAL_MACHINE", Root::LocalMachine},
        {"HKCU", Root::CurrentUser}, {"HKEY_CURRENT_USER", Root::CurrentUser},
        {"HKU", Root::Users}, {"HKEY_USERS", Root::Users},
        {"HKCR", Root::ClassesRoot}, {"HKEY_CLASSES_ROOT", Root::ClassesRoot},
        {"HKCC", Root::CurrentConfig}, {"HKEY_CURRENT_CONFIG", Root::CurrentConfig},
    }};
    for (const auto& [text, root] : kRoots) {
        if (key_names_match(name, text)) return root;
    }
    return Root::None;
}

// The type of hive that HKLM's child `name` is loaded from; Unknown for a child that no hive file holds.
HiveType machine_hive(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, HiveType>, 6> kHives{{
        {"SYSTEM", HiveType::System}, {"SOFTWARE", HiveType::Software}, {"SAM", HiveType::Sam},
        {"SECURITY", HiveType::Security}, {"COMPONENTS", HiveType::Components}, {"DRIVERS", HiveType::Drivers},
    }};
    for (const auto& [text, type] : kHives) {
        if (key_names_match(name, text)) return type;
    }
    // The store's key is BCD followed by eight digits: BCD00000000 on every system seen.
    if (name.size() == 11 && key_names_match(name.substr(0, 3), "BCD")) return HiveType::Bcd;
    return HiveType::Unknown;
}

bool is_user_type(HiveType type) { return type == HiveType::NtUser || type == HiveType::Default; }

RootMapping mapped(HiveType type, HiveType wanted, size_t skip, std::vector<std::string_view> insert = {}) {
    RootMapping mapping;
    const bool fits = type == HiveType::Unknown || type == wanted || (is_user_type(type) && is_user_type(wanted));
    mapping.kind = fits ? RootMapping::Kind::Mapped : RootMapping::Kind::OtherType;
    mapping.skip = skip;
    mapping.insert = std::move(insert);
    mapping.wanted = wanted;
    return mapping;
}

}  // namespace

bool is_root_name(std::string_view name) { return root_of(name) != Root::None; }

RootMapping map_root_path(const std::vector<std::string_view>& names, HiveType type) {
    if (names.empty()) return {};
    switch (root_of(names[0])) {
        case Root::None: return {};
        case Root::LocalMachine: {
            if (names.size() < 2) return {};
            const HiveType wanted = machine_hive(names[1]);
            if (wanted == HiveType::Unknown) return {};
            return mapped(type, wanted, 2);
        }
        case Root::CurrentUser:
            // A user's classes are HKCU\Software\Classes, and live in UsrClass.dat.
            if (type == HiveType::UsrClass && names.size() >= 3 && key_names_match(names[1], "Software") &&
                key_names_match(names[2], "Classes")) {
                return mapped(type, HiveType::UsrClass, 3);
            }
            return mapped(type, HiveType::NtUser, 1);
        case Root::Users: {
            if (names.size() < 2) return {};
            const std::string_view user = names[1];
            constexpr std::string_view kClasses = "_Classes";
            const size_t end = user.size() > kClasses.size() ? user.size() - kClasses.size() : 0;
            if (end > 0 && key_names_match(user.substr(end), kClasses)) {
                return mapped(type, HiveType::UsrClass, 2);
            }
            return mapped(type, key_names_match(user, ".DEFAULT") ? HiveType::Default : HiveType::NtUser, 2);
        }
        case Root::ClassesRoot:
            // The machine's classes are SOFTWARE\Classes; a user's merge in from UsrClass.dat.
            if (type == HiveType::UsrClass) return mapped(type, HiveType::UsrClass, 1);
            return mapped(type, HiveType::Software, 1, {"Classes"});
        case Root::CurrentConfig:
            // The current hardware profile; "Current" is a link to the profile that the hive stores as 0001.
            return mapped(type, HiveType::System, 1, {"CurrentControlSet", "Hardware Profiles", "0001"});
    }
    return {};
}

}  // namespace tarnu
