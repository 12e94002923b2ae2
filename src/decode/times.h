// Times stored inside value data: FILETIME, FAT date and time, Unix seconds (4 or 8 bytes), and the two 16-byte
// calendar forms, SYSTEMTIME and TIME_FIELDS (the same eight u16 fields with the weekday third or last).
//
// Each result keeps the raw value beside what it means and says whether the time is set: 0 is "not set", a
// FILETIME of 0x7FFFFFFFFFFFFFFF is "never", and a value no calendar holds (a FILETIME past the year 9999, a month
// of 0 or 13, a 31st of April, ...) is "invalid" and kept raw only.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "utils/bytes.h"

namespace tarnu::decode {

enum class TimeState : uint8_t {
    Set,
    NotSet,
    Never,    // FILETIME 0x7FFFFFFFFFFFFFFF
    Invalid,
    Yearly,   // a calendar time of year 0: a yearly time-zone rule (week `day` of the month, on `weekday`)
};

// A moment in UTC: `raw` as stored, and when it is `Set`, the same moment as a FILETIME.
struct Instant {
    uint64_t raw = 0;
    TimeState state = TimeState::NotSet;
    uint64_t filetime = 0;
};

Instant from_filetime(uint64_t raw);
// `raw` as stored: the u16 date in the low half, the u16 time in the high half. FAT times carry 2-second steps.
Instant from_fat(uint32_t raw);
Instant from_unix(uint64_t seconds);

// The instant at `at`, or nothing when its bytes are not all there.
std::optional<Instant> filetime_at(Bytes data, size_t at);
std::optional<Instant> fat_time_at(Bytes data, size_t at);
std::optional<Instant> unix_time_at(Bytes data, size_t at, size_t size);  // size 4 or 8

// A SYSTEMTIME or TIME_FIELDS, its fields in one order whatever order they were stored in.
struct CalendarTime {
    std::array<uint16_t, 8> raw{};  // the eight u16 as stored
    uint16_t year = 0, month = 0, weekday = 0, day = 0, hour = 0, minute = 0, second = 0, milliseconds = 0;
    TimeState state = TimeState::NotSet;
};

// SYSTEMTIME: year, month, weekday, day, hour, minute, second, milliseconds.
std::optional<CalendarTime> systemtime_at(Bytes data, size_t at);
// TIME_FIELDS: year, month, day, hour, minute, second, milliseconds, weekday.
std::optional<CalendarTime> time_fields_at(Bytes data, size_t at);

// Days from 1970-01-01 to the proleptic Gregorian date (negative before it).
int64_t days_from_civil(int64_t year, unsigned month, unsigned day);
unsigned days_in_month(int64_t year, unsigned month);

}  // namespace tarnu::decode
