// The order of MRU lists: MRUList (a REG_SZ of value-name letters, most recent first: "cab") and MRUListEx
// (REG_BINARY u32 value numbers, most recent first, ended by 0xFFFFFFFF; the values are named by the number).
//
// Given the names of the values the key holds, the order keeps only names that exist, each once, and the values
// that the list leaves out are reported apart as unranked; each name skipped is noted.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "decode/reader.h"

namespace tarnu::decode {

struct MruOrder {
    std::vector<std::string> ranked;    // value names, most recent first
    std::vector<std::string> unranked;  // names of the key's MRU values that the list does not name
    Notes notes;
};

// `names`: the names of the key's values, or nothing to take the list as it is (repeats still dropped).
MruOrder mru_list(const std::string& letters, const std::optional<std::vector<std::string>>& names);
MruOrder mru_list_ex(Bytes data, const std::optional<std::vector<std::string>>& names);

}  // namespace tarnu::decode
