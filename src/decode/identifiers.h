// GUIDs and SIDs inside binary data, as text.
//
// - `guid_text`: "{B4BFCC3A-DB2C-424C-B029-7FE99A87C641}" from the 16 stored bytes (three little-endian fields, then
//   eight bytes as stored); `guid_sddl` is the same lower-case without braces, as SDDL writes object GUIDs.
// - `parse_sid`: a SID (revision 1, up to 15 sub-authorities, a big-endian identifier authority) and its size;
//   `sid_text` writes "S-1-5-32-544", `sid_name` gives the well-known name of a SID text ("Administrators") and
//   `sid_alias` its two-letter SDDL alias ("BA").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decode/reader.h"

namespace tarnu::decode {

inline constexpr size_t kGuidSize = 16;

// The GUID of the 16 bytes at `at`; the caller has checked that they are there.
std::string guid_text(Bytes data, size_t at = 0);
std::string guid_sddl(Bytes data, size_t at = 0);

struct Sid {
    uint8_t revision = 1;
    uint64_t authority = 0;
    std::vector<uint32_t> sub_authorities;
    size_t size() const { return 8 + 4 * sub_authorities.size(); }
};

// The SID at `at` of the reader; notes what does not fit or is not a SID (revision other than 1, more than 15
// sub-authorities) and gives nothing then. `what` names the SID in notes ("owner SID").
std::optional<Sid> parse_sid(Reader& in, size_t at, const char* what);

std::string sid_text(const Sid& sid);
// The well-known name of a SID text ("Administrators", "DWM-1"), or nothing.
std::optional<std::string> sid_name(const std::string& text);
// The SDDL alias of a SID text, or nullptr (domain-relative SIDs have none without the machine's domain).
const char* sid_alias(const std::string& text);

}  // namespace tarnu::decode
