#include "viewer/RangeStats.h"

#include "viewer/CsvExport.h"
#include "viewer/IndexedLog.h"

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string_view>

namespace orvi::viewer {

namespace {

// The text of channel `channel` in the first record at `ms` that holds `value`.
bool FieldText(const TLogIndex& index, const TByteReader& read, int64_t ms, size_t channel,
               double value, std::string& out) {
    return index.ForEach(read, ms, ms, [&](const TSample& s) {
        if (s.Record.Values[channel] != value)
            return true;
        std::array<std::string_view, app::kRecordFieldCount> fields;
        SplitFields(s.Line, fields);
        out = std::string(fields[channel + 1]);
        return false;
    });
}

std::string Number(double value) {
    if (std::isnan(value))
        return {};
    char text[40];
    std::snprintf(text, sizeof text, "%.12g", value);
    return text;
}

} // namespace

std::optional<TRangeStats> ComputeRangeStats(const TLogIndex& index, const TByteReader& read,
                                             TMsRange range) {
    TStatsChunk sums;
    if (!index.Summarize(read, range, sums))
        return std::nullopt;
    TRangeStats stats;
    stats.Range = range;
    stats.Records = sums[0].Count + sums[0].NotFinite;
    for (size_t c = 0; c < kChannelCount; ++c) {
        const TChannelSummary& s = sums[c];
        TChannelStats& out = stats.Channels[c];
        out.Count = s.Count;
        out.NotFinite = s.NotFinite;
        if (s.Count == 0)
            continue;
        out.Min = s.Min;
        out.MinMs = s.MinMs;
        out.Max = s.Max;
        out.MaxMs = s.MaxMs;
        out.Mean = s.Mean;
        if (s.Count > 1)
            out.StdDev = std::sqrt(s.M2 / double(s.Count - 1));
        if (!FieldText(index, read, s.MinMs, c, s.Min, out.MinText) ||
            !FieldText(index, read, s.MaxMs, c, s.Max, out.MaxText))
            return std::nullopt;
    }
    return stats;
}

std::optional<TRangeStats> ComputeRangeStats(const TIndexedLog& log, TMsRange range) {
    return log.Query([&](const TLogIndex& index, const TByteReader& read) {
        return ComputeRangeStats(index, read, range);
    });
}

// Appends the fields, each after a comma.
void Append(std::string& out, std::initializer_list<std::string_view> fields) {
    for (const std::string_view field : fields) {
        out += ',';
        out += field;
    }
}

std::string StatsCsv(const TRangeStats& stats, const std::optional<TDateName>& date) {
    const std::string_view when = date ? ",local time" : "";
    std::string out = "channel,unit,count,not finite,min,min time (s)";
    out += when;
    out += ",max,max time (s)";
    out += when;
    out += ",mean,standard deviation\r\n";
    const auto time = [&](int64_t ms) {
        std::string text = SecondsText(ms);
        if (date)
            Append(text, {LocalTimeText(*date, ms)});
        return text;
    };
    for (size_t c = 0; c < kChannelCount; ++c) {
        const app::TRecordField& field = app::RecordFields()[c + 1];
        const TChannelStats& s = stats.Channels[c];
        out += field.Key;
        Append(out, {field.Unit, std::to_string(s.Count), std::to_string(s.NotFinite)});
        if (s.Count > 0)
            Append(out, {s.MinText, time(s.MinMs), s.MaxText, time(s.MaxMs)});
        else
            out += date ? ",,,,,," : ",,,,";
        Append(out, {Number(s.Mean), Number(s.StdDev)});
        out += "\r\n";
    }
    return out;
}

} // namespace orvi::viewer
