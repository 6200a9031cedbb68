#include "viewer/CsvExport.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace orvi::viewer {

namespace {

constexpr int64_t kMaxMs = int64_t(1) << 60;

// The least (or, with `up` false, the greatest) millisecond whose seconds pass `bound`.
int64_t Bound(double seconds, bool up) {
    if (std::isnan(seconds))
        return up ? kMaxMs : -kMaxMs;
    if (seconds * 1000 > double(kMaxMs))
        return kMaxMs;
    if (seconds * 1000 < -double(kMaxMs))
        return -kMaxMs;
    int64_t ms = int64_t(up ? std::ceil(seconds * 1000) : std::floor(seconds * 1000));
    // The product may round across a whole millisecond; settle on the exact side.
    if (up) {
        while (double(ms) / 1000 < seconds)
            ++ms;
        while (double(ms - 1) / 1000 >= seconds)
            --ms;
    } else {
        while (double(ms) / 1000 > seconds)
            --ms;
        while (double(ms + 1) / 1000 <= seconds)
            ++ms;
    }
    return ms;
}

std::string SecondsText(int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", (long long)(ms / 1000), (long long)(ms % 1000));
    return text;
}

} // namespace

TMsRange RangeOfSeconds(double fromS, double toS) {
    return {Bound(fromS, true), Bound(toS, false)};
}

int64_t WriteCsv(const TLogIndex& index, const TByteReader& read, TMsRange range,
                 const std::optional<TDateName>& date, std::ostream& out) {
    out << "time (s)";
    if (date)
        out << ",local time";
    for (const app::TRecordField& field : app::RecordFields()) {
        out << ',' << field.Key;
        if (!field.Unit.empty())
            out << " (" << field.Unit << ')';
    }
    out << "\r\n";
    int64_t written = 0;
    std::array<std::string_view, app::kRecordFieldCount> fields;
    const bool readable = index.ForEach(read, range.From, range.To, [&](const TSample& sample) {
        SplitFields(sample.Line, fields);
        out << SecondsText(sample.Ms);
        if (date)
            out << ',' << LocalTimeText(*date, sample.Ms);
        for (const std::string_view field : fields)
            out << ',' << field;
        out << "\r\n";
        ++written;
        return bool(out);
    });
    return readable ? written : -1;
}

} // namespace orvi::viewer
