// REG_LINK data: the target of a symbolic-link key, an NT registry path stored as UTF-16 without a terminator
// ("\REGISTRY\MACHINE\SYSTEM\ControlSet001"), and the same path in the short form analysts paste ("HKLM\...").
#pragma once

#include <optional>
#include <string>

#include "utils/bytes.h"

namespace tarnu::decode {

struct RegLink {
    std::string target;
    // "HKLM\..." for "\REGISTRY\MACHINE\...", "HKU\..." for "\REGISTRY\USER\..."; nothing for other paths.
    std::optional<std::string> short_path;
};

RegLink parse_reg_link(Bytes data);

}  // namespace tarnu::decode
