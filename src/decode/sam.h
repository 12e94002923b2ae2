// SAM user records: the fixed `F` value (times, RID, account control flags, counters) and the `V` value (17
// descriptors of offset and length into the data after 0xCC: security descriptor, names, paths, logon hours and the
// hash blobs, which stay encrypted), and the machine SID at the end of `SAM\Domains\Account\V`.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decode/reader.h"
#include "decode/security.h"
#include "decode/times.h"

namespace tarnu::decode {

struct SamF {
    std::optional<uint16_t> major, minor;
    std::optional<Instant> last_logon, last_logoff, password_last_set, account_expires, last_failed_logon;
    std::optional<uint32_t> rid, primary_group_rid, account_control;
    std::optional<uint16_t> country_code, code_page, bad_password_count, logon_count;
    Notes notes;
};
SamF parse_sam_f(Bytes data);
// The names of the account control (ACB) bits that are set: "disabled", "normal account", ...
std::vector<const char*> account_control_names(uint32_t flags);

struct SamVPart {
    uint32_t offset = 0;  // relative to 0xCC, as stored
    uint32_t length = 0;
    std::vector<uint8_t> data;  // empty when the part is empty or does not lie inside the value
};

struct SamV {
    std::array<SamVPart, 17> parts;
    // Index 1, 2, 3, 4, 6, 7, 8, 9 and 10 as text.
    std::string user_name, full_name, comment, user_comment, home_directory, home_drive, script_path, profile_path,
        workstations;
    std::optional<SecurityDescriptor> security;  // index 0
    Notes notes;
};
SamV parse_sam_v(Bytes data);

// The S-1-5-21-a-b-c SID nearest the end of the data, or nothing.
std::optional<std::string> machine_sid(Bytes data);

}  // namespace tarnu::decode
