#include "decode/system_values.h"

#include <cstring>

#include "decode/identifiers.h"

namespace tarnu::decode {

TimeZoneInfo parse_tzi(Bytes data) {
    TimeZoneInfo tzi;
    Reader in(data, tzi.notes);
    (void)in.need(0, 44, "a TZI value");
    auto i32_at = [&](size_t at) {
        return in.fits(at, 4) ? std::optional<int32_t>(static_cast<int32_t>(le32(data, at))) : std::nullopt;
    };
    tzi.bias = i32_at(0);
    tzi.standard_bias = i32_at(4);
    tzi.daylight_bias = i32_at(8);
    tzi.standard_date = systemtime_at(data, 12);
    tzi.daylight_date = systemtime_at(data, 28);
    return tzi;
}

MountedDevice parse_mounted_device(Bytes data) {
    MountedDevice device;
    if (data.size() == 12) {
        device.kind = "mbr";
        device.disk_signature = le32(data, 0);
        device.partition_offset = le64(data, 4);
    } else if (data.size() == 24 && std::memcmp(data.data(), "DMIO:ID:", 8) == 0) {
        device.kind = "gpt";
        device.partition_guid = guid_text(data, 8);
    } else {
        device.path = utf16_text(data);
    }
    return device;
}

}  // namespace tarnu::decode
