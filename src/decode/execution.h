// Fixed binary records of execution and autostart artifacts: UserAssist entries (version 3, 16 bytes; version 5,
// 72 bytes) and their ROT13 value names, BAM/DAM entries, StartupApproved values and TaskCache DynamicInfo.
//
// A record shorter than its layout keeps the fields that fit and notes the rest; a record whose size matches no
// layout is noted as an unknown layout.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decode/reader.h"
#include "decode/times.h"

namespace tarnu::decode {

struct UserAssistEntry {
    unsigned version = 0;  // 3 or 5; 0 for data of neither size
    std::optional<uint32_t> session;
    std::optional<uint32_t> run_count;  // as stored (version 3 on XP starts counting at 5)
    std::optional<uint32_t> focus_count, focus_time_ms;  // version 5
    std::vector<float> scores;                           // version 5: ten usage scores, -1.0 unset
    std::optional<uint32_t> score_index;                 // version 5: the dword at 56 (0xFFFFFFFF unset)
    std::optional<Instant> last_run;
    Notes notes;
};

// `version` 3 or 5 as the key's `Version` says, or 0 to tell it by the data's size.
UserAssistEntry parse_userassist(Bytes data, unsigned version);
// ROT13 of the ASCII letters; everything else as it is (UserAssist value names).
std::string rot13(std::string text);

struct BamEntry {
    std::optional<Instant> last_run;
    std::optional<uint32_t> packaged;  // the u32 at 16: 1 for a packaged app, 0 for a Win32 program
    std::optional<uint32_t> version;   // the u32 at 20 (2)
    std::vector<uint8_t> rest;         // data longer than 24 bytes: everything after the FILETIME
    Notes notes;
};
BamEntry parse_bam(Bytes data);

struct StartupApproved {
    std::optional<uint32_t> state;      // 2 enabled, 3 disabled (other values as stored)
    std::optional<Instant> changed;     // when it was last switched
    Notes notes;
};
StartupApproved parse_startup_approved(Bytes data);

struct DynamicInfo {
    std::optional<uint32_t> version;    // 3
    std::optional<Instant> created, last_run, last_completed;  // last_completed: 36-byte form (8+)
    std::optional<uint32_t> state, last_result;
    Notes notes;
};
DynamicInfo parse_dynamic_info(Bytes data);

}  // namespace tarnu::decode
