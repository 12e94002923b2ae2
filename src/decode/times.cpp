#include "decode/times.h"

#include "utils/filetime.h"

namespace tarnu::decode {
namespace {

constexpr uint64_t kNever = 0x7FFFFFFFFFFFFFFFull;
constexpr int64_t kDaysFrom1601To1970 = 134774;

// The FILETIME of a calendar moment from 1601 on.
uint64_t filetime_of(int64_t year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second) {
    const int64_t days = days_from_civil(year, month, day) + kDaysFrom1601To1970;
    const uint64_t seconds = static_cast<uint64_t>(days) * 86400 + hour * 3600u + minute * 60u + second;
    return seconds * kFiletimeTicksPerSecond;
}

using CalendarField = uint16_t CalendarTime::*;
constexpr CalendarField kSystemtimeOrder[8] = {&CalendarTime::year,   &CalendarTime::month,  &CalendarTime::weekday,
                                               &CalendarTime::day,    &CalendarTime::hour,   &CalendarTime::minute,
                                               &CalendarTime::second, &CalendarTime::milliseconds};
constexpr CalendarField kTimeFieldsOrder[8] = {&CalendarTime::year,   &CalendarTime::month,  &CalendarTime::day,
                                               &CalendarTime::hour,   &CalendarTime::minute, &CalendarTime::second,
                                               &CalendarTime::milliseconds, &CalendarTime::weekday};

CalendarTime calendar(Bytes data, size_t at, bool weekday_last) {
    CalendarTime t;
    const CalendarField* order = weekday_last ? kTimeFieldsOrder : kSystemtimeOrder;
    for (size_t i = 0; i < 8; ++i) {
        t.raw[i] = le16(data, at + 2 * i);
        t.*order[i] = t.raw[i];
    }
    bool zero = true;
    for (uint16_t v : t.raw) zero = zero && v == 0;
    const bool clock = t.hour < 24 && t.minute < 60 && t.second < 60 && t.milliseconds < 1000 && t.weekday < 7;
    if (zero) {
        t.state = TimeState::NotSet;
    } else if (t.year == 0) {
        t.state = clock && t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 5 ? TimeState::Yearly
                                                                                      : TimeState::Invalid;
    } else {
        const bool date = t.year >= 1601 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
                          t.day <= days_in_month(t.year, t.month);
        t.state = clock && date ? TimeState::Set : TimeState::Invalid;
    }
    return t;
}

}  // namespace

int64_t days_from_civil(int64_t year, unsigned month, unsigned day) {
    // H. Hinnant's civil-to-days algorithm.
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + static_cast<int64_t>(day_of_era) - 719468;
}

unsigned days_in_month(int64_t year, unsigned month) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

Instant from_filetime(uint64_t raw) {
    if (raw == 0) return Instant{raw, TimeState::NotSet, 0};
    if (raw == kNever) return Instant{raw, TimeState::Never, 0};
    if (raw >= kFirstFiletimePastYear9999) return Instant{raw, TimeState::Invalid, 0};
    return Instant{raw, TimeState::Set, raw};
}

Instant from_fat(uint32_t raw) {
    if (raw == 0) return Instant{raw, TimeState::NotSet, 0};
    const unsigned date = raw & 0xFFFF, time = raw >> 16;
    const unsigned day = date & 0x1F, month = (date >> 5) & 0xF, year = 1980 + (date >> 9);
    const unsigned second = (time & 0x1F) * 2, minute = (time >> 5) & 0x3F, hour = time >> 11;
    if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) || hour > 23 || minute > 59 ||
        second > 59) {
        return Instant{raw, TimeState::Invalid, 0};
    }
    return Instant{raw, TimeState::Set, filetime_of(year, month, day, hour, minute, second)};
}

Instant from_unix(uint64_t seconds) {
    if (seconds == 0) return Instant{0, TimeState::NotSet, 0};
    // Whatever lies past the year 9999 once moved to 1601 is invalid; the check also keeps the sum from wrapping.
    const uint64_t limit = kFirstFiletimePastYear9999 / kFiletimeTicksPerSecond - kFiletimeEpochOffsetSeconds;
    if (seconds >= limit) return Instant{seconds, TimeState::Invalid, 0};
    const uint64_t since_1601 = seconds + static_cast<uint64_t>(kFiletimeEpochOffsetSeconds);
    return Instant{seconds, TimeState::Set, since_1601 * kFiletimeTicksPerSecond};
}

std::optional<Instant> filetime_at(Bytes data, size_t at) {
    if (at > data.size() || data.size() - at < 8) return std::nullopt;
    return from_filetime(le64(data, at));
}

std::optional<Instant> fat_time_at(Bytes data, size_t at) {
    if (at > data.size() || data.size() - at < 4) return std::nullopt;
    return from_fat(le32(data, at));
}

std::optional<Instant> unix_time_at(Bytes data, size_t at, size_t size) {
    if ((size != 4 && size != 8) || at > data.size() || data.size() - at < size) return std::nullopt;
    return from_unix(size == 4 ? le32(data, at) : le64(data, at));
}

std::optional<CalendarTime> systemtime_at(Bytes data, size_t at) {
    if (at > data.size() || data.size() - at < 16) return std::nullopt;
    return calendar(data, at, false);
}

std::optional<CalendarTime> time_fields_at(Bytes data, size_t at) {
    if (at > data.size() || data.size() - at < 16) return std::nullopt;
    return calendar(data, at, true);
}

}  // namespace tarnu::decode
