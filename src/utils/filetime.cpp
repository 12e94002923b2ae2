#include "utils/filetime.h"

namespace tarnu {
namespace {

constexpr uint64_t kMicrosecondsPerDay = 86400000000;
constexpr int64_t kDaysFrom1601To1970 = 134774;

struct CivilDate {
    int64_t year;
    unsigned month, day;
};

// The proleptic Gregorian date `days` days after 1970-01-01 (H. Hinnant's days-to-civil algorithm).
CivilDate civil_from_days(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned shifted_month = (5 * day_of_year + 2) / 153;
    const unsigned day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    const unsigned month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    return CivilDate{static_cast<int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

}  // namespace

UtcTime utc_from_filetime(uint64_t filetime) {
    const uint64_t micros = filetime / kFiletimeTicksPerMicrosecond;
    const uint64_t of_day = micros % kMicrosecondsPerDay;
    const CivilDate date = civil_from_days(static_cast<int64_t>(micros / kMicrosecondsPerDay) - kDaysFrom1601To1970);
    const uint64_t seconds = of_day / 1000000;
    return UtcTime{date.year,
                   date.month,
                   date.day,
                   static_cast<unsigned>(seconds / 3600),
                   static_cast<unsigned>(seconds / 60 % 60),
                   static_cast<unsigned>(seconds % 60),
                   static_cast<unsigned>(of_day % 1000000)};
}

int64_t unix_seconds(uint64_t filetime) {
    return static_cast<int64_t>(filetime / kFiletimeTicksPerSecond) - kFiletimeEpochOffsetSeconds;
}

std::string iso8601(uint64_t filetime) {
    const UtcTime t = utc_from_filetime(filetime);
    // Written digit by digit: this runs once per key of an export, where a formatted print costs more.
    std::string text = "0000-00-00T00:00:00.000000+00:00";
    auto digits = [&](size_t end, uint64_t number, int count) {
        for (int i = 0; i < count; ++i, number /= 10) text[end - static_cast<size_t>(i)] = static_cast<char>('0' + number % 10);
    };
    digits(3, static_cast<uint64_t>(t.year), 4);
    digits(6, t.month, 2);
    digits(9, t.day, 2);
    digits(12, t.hour, 2);
    digits(15, t.minute, 2);
    digits(18, t.second, 2);
    digits(25, t.microsecond, 6);
    return text;
}

}  // namespace tarnu
