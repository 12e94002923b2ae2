// FILETIME (100-nanosecond ticks since 1601-01-01 UTC) as a calendar date and time of day in UTC, as Unix
// seconds, and as ISO-8601 text.
#pragma once

#include <cstdint>
#include <string>

namespace tarnu {

struct UtcTime {
    int64_t year;
    unsigned month, day, hour, minute, second, microsecond;
};

inline constexpr uint64_t kFiletimeTicksPerMicrosecond = 10;
inline constexpr uint64_t kFiletimeTicksPerSecond = 10000000;
// Seconds from 1601-01-01, where FILETIMEs start, to 1970-01-01.
inline constexpr int64_t kFiletimeEpochOffsetSeconds = 11644473600;
// The first FILETIME past 9999-12-31 23:59:59.999999, the last moment that four-digit years (and Python's
// datetime) hold: the days from 1601-01-01 to 10000-01-01 in ticks.
inline constexpr uint64_t kFirstFiletimePastYear9999 = 3067671ull * 86400 * kFiletimeTicksPerSecond;

// The proleptic Gregorian date and time of `filetime`, to the microsecond (the last decimal is dropped).
UtcTime utc_from_filetime(uint64_t filetime);

// Whole seconds since 1970-01-01 UTC, rounded down.
int64_t unix_seconds(uint64_t filetime);

// "2012-04-04T11:47:06.687500+00:00", the form Python's datetime.isoformat() gives and fromisoformat() reads.
// Only for FILETIMEs before `kFirstFiletimePastYear9999`.
std::string iso8601(uint64_t filetime);

}  // namespace tarnu
