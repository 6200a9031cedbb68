#include "viewer/DateName.h"

#include <charconv>
#include <cstdio>
#include <string_view>

namespace orvi::viewer {

namespace {

// Days from 1970-01-01 of a civil date (the proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

bool Number(std::string_view& text, int low, int high, int& out, char then) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    const size_t used = size_t(ptr - text.data());
    if (ec != std::errc() || used == 0 || (text[0] == '0' && used > 1) || out < low || out > high)
        return false;
    text.remove_prefix(used);
    if (text.empty() || text[0] != then)
        return false;
    text.remove_prefix(1);
    return true;
}

// The minute and what follows it: "." directly, or the acquirer's "_2", "_3", ... that
// tells apart files made in the same minute.
bool Minute(std::string_view& text, int& minute) {
    std::string_view plain = text;
    if (Number(plain, 0, 59, minute, '.')) {
        text = plain;
        return true;
    }
    int suffix = 0;
    return Number(text, 0, 59, minute, '_') && Number(text, 2, 1 << 30, suffix, '.');
}

struct TStamp {
    int64_t Year;
    int Month, Day, Hour, Minute, Second, Ms;
};

TStamp Stamp(const TDateName& date, int64_t ms) {
    const int64_t total =
        (DaysFromCivil(date.Year, date.Month, date.Day) * 1440 + date.Hour * 60 + date.Minute) *
            60000 +
        ms;
    TStamp s{};
    const int64_t dayMs = 86400000;
    int64_t days = total / dayMs, inDay = total % dayMs;
    if (inDay < 0) {
        inDay += dayMs;
        --days;
    }
    CivilFromDays(days, s.Year, s.Month, s.Day);
    s.Hour = int(inDay / 3600000);
    s.Minute = int(inDay / 60000 % 60);
    s.Second = int(inDay / 1000 % 60);
    s.Ms = int(inDay % 1000);
    return s;
}

} // namespace

std::optional<TDateName> ParseDateName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    std::string_view name(path);
    if (slash != std::string::npos)
        name.remove_prefix(slash + 1);
    TDateName d;
    if (!Number(name, 1970, 9999, d.Year, '_') || !Number(name, 1, 12, d.Month, '_') ||
        !Number(name, 1, 31, d.Day, '_') || !Number(name, 0, 23, d.Hour, '_') ||
        !Minute(name, d.Minute) || name != "txt")
        return std::nullopt;
    int64_t y = 0;
    int m = 0, day = 0;
    CivilFromDays(DaysFromCivil(d.Year, d.Month, d.Day), y, m, day);
    if (m != d.Month || day != d.Day)
        return std::nullopt; // 31 April and the like
    return d;
}

std::string LocalTimeText(const TDateName& date, int64_t ms) {
    const TStamp s = Stamp(date, ms);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%03d", (long long)s.Year,
                  s.Month, s.Day, s.Hour, s.Minute, s.Second, s.Ms);
    return text;
}

std::string ClockText(const TDateName& date, int64_t ms, bool withMs) {
    const TStamp s = Stamp(date, ms);
    char text[24];
    if (withMs)
        std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", s.Hour, s.Minute, s.Second, s.Ms);
    else
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", s.Hour, s.Minute, s.Second);
    return text;
}

} // namespace orvi::viewer
