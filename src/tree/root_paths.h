// Paths as analysts paste them: "HKLM\SYSTEM\...", "HKEY_CURRENT_USER\...", "HKU\<SID>_Classes\...", "HKCR\...".
//
// A hive file holds one of the registry's roots. `map_root_path` says which hive-relative names such a path stands
// for in a hive of a given type: "HKLM\SOFTWARE\Microsoft" is "Microsoft" in a SOFTWARE hive, "HKCR\.txt" is
// "Classes\.txt" there and ".txt" in a UsrClass.dat hive, "HKCC\..." is the current hardware profile of a SYSTEM
// hive. A prefix for another type of hive is reported as such, so that the lookup can say why the key is not
// there; a hive of unknown type takes any prefix as its own.
#pragma once

#include <string_view>
#include <vector>

#include "tree/hive_type.h"

namespace tarnu {

// The long and short names of the registry's roots: HKEY_LOCAL_MACHINE, HKLM, HKCU, HKU, HKCR, HKCC...
bool is_root_name(std::string_view name);

struct RootMapping {
    enum class Kind : uint8_t { NotRooted, Mapped, OtherType } kind = Kind::NotRooted;
    size_t skip = 0;                       // leading names the prefix takes up
    std::vector<std::string_view> insert;  // hive-relative names that stand in for them
    HiveType wanted = HiveType::Unknown;   // for OtherType, a type the prefix belongs to
};

// What the leading names of `names` (a path split at backslashes) stand for in a hive of type `type`.
RootMapping map_root_path(const std::vector<std::string_view>& names, HiveType type);

}  // namespace tarnu
