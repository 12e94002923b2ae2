// What kind of hive an image holds (SYSTEM, SOFTWARE, NTUSER.DAT, ...), told from its content.
//
// The root key's children decide: Select with a ControlSetNNN is SYSTEM, a sole SAM is SAM, and so on. The file
// name that the base block keeps and the root key's own name only break ties: they name the type when the children
// say nothing, and they tell DEFAULT from NTUSER.DAT, whose children are alike. When a clue disagrees with the
// children, the children win and the disagreement is kept as a note.
#pragma once

#include <string>
#include <string_view>

#include "utils/error.h"

namespace tarnu {

struct Hive;

enum class HiveType : uint8_t {
    Unknown, System, Software, Sam, Security, NtUser, UsrClass, Amcache, Bcd, Components, Drivers, Default
};

struct HiveTypeFinding {
    HiveType type = HiveType::Unknown;
    std::string note;  // "" unless a clue disagreed with the content, or the content said nothing
};

// The short fixed name of a type: "SYSTEM", "NTUSER.DAT", "UsrClass.dat", ..., "unknown".
std::string_view hive_type_name(HiveType type);

// The type that the last component of a base-block file name stands for ("...\Config\SYSTEM"), or Unknown.
HiveType hive_type_of_file_name(std::string_view file_name);

// Reads the root key and looks up a fixed set of names among its children (each lookup passes over the children
// by name hash, as any lookup does).
Result<HiveTypeFinding> find_hive_type(const Hive& hive);

}  // namespace tarnu
