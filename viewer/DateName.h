#pragma once
// The wall-clock time of a log whose file name is the console's date name
// ("2024_3_7_9_5.txt": year, month, day, hour, minute, made when the operator asked for it;
// "2024_3_7_9_5_2.txt", the acquirer's second file of that minute, is one too).
// Times are civil local times, counted on from that minute without time-zone rules.
#include <cstdint>
#include <optional>
#include <string>

namespace orvi::viewer {

struct TDateName {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0;
};

// The date of a file name (folders are ignored); none when the name is not a date name.
std::optional<TDateName> ParseDateName(const std::string& path);

// "2024-03-07T09:05:12.345": the date name's minute plus `ms`.
std::string LocalTimeText(const TDateName& date, int64_t ms);
// "09:05:12" (with ".345" when `withMs`), the time of day only.
std::string ClockText(const TDateName& date, int64_t ms, bool withMs);

} // namespace orvi::viewer
