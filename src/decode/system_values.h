// Binary values of a SYSTEM or SOFTWARE hive's configuration: the 44-byte `TZI` of a time zone (three biases in
// minutes and two SYSTEMTIME rules) and the data of a MountedDevices value (an MBR disk signature and partition
// offset, a GPT partition GUID, or a device path).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "decode/reader.h"
#include "decode/times.h"

namespace tarnu::decode {

struct TimeZoneInfo {
    std::optional<int32_t> bias, standard_bias, daylight_bias;  // minutes; UTC = local + bias
    std::optional<CalendarTime> standard_date, daylight_date;
    Notes notes;
};
TimeZoneInfo parse_tzi(Bytes data);

struct MountedDevice {
    const char* kind = "path";  // "mbr", "gpt" or "path"
    std::optional<uint32_t> disk_signature;
    std::optional<uint64_t> partition_offset;
    std::optional<std::string> partition_guid;
    std::optional<std::string> path;
};
MountedDevice parse_mounted_device(Bytes data);

}  // namespace tarnu::decode
