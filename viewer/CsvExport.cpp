#include "viewer/CsvExport.h"

#include "viewer/IndexedLog.h"
#include "viewer/OutputFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>

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

void WriteHeader(const std::optional<TDateName>& date, std::ostream& out) {
    out << "time (s)";
    if (date)
        out << ",local time";
    for (const app::TRecordField& field : app::RecordFields()) {
        out << ',' << field.Key;
        if (!field.Unit.empty())
            out << " (" << field.Unit << ')';
    }
    out << "\r\n";
}

void AppendRow(const TSample& sample, const std::optional<TDateName>& date, std::string& out) {
    std::array<std::string_view, app::kRecordFieldCount> fields;
    SplitFields(sample.Line, fields);
    out += SecondsText(sample.Ms);
    if (date) {
        out += ',';
        out += LocalTimeText(*date, sample.Ms);
    }
    for (const std::string_view field : fields) {
        out += ',';
        out += field;
    }
    out += "\r\n";
}

} // namespace

std::string SecondsText(int64_t ms) {
    char text[32];
    const char* sign = ms < 0 ? "-" : "";
    const uint64_t magnitude = ms < 0 ? uint64_t(0) - uint64_t(ms) : uint64_t(ms);
    std::snprintf(text, sizeof text, "%s%llu.%03llu", sign, (unsigned long long)(magnitude / 1000),
                  (unsigned long long)(magnitude % 1000));
    return text;
}

TMsRange RangeOfSeconds(double fromS, double toS) {
    return {Bound(fromS, true), Bound(toS, false)};
}

int64_t WriteCsv(const TLogIndex& index, const TByteReader& read, TMsRange range,
                 const std::optional<TDateName>& date, std::ostream& out) {
    WriteHeader(date, out);
    int64_t written = 0;
    std::string row;
    const bool readable = index.ForEach(read, range.From, range.To, [&](const TSample& sample) {
        row.clear();
        AppendRow(sample, date, row);
        out << row;
        ++written;
        return bool(out);
    });
    return readable ? written : -1;
}

TExportResult ExportCsv(const TIndexedLog& log, TMsRange range,
                        const std::optional<TDateName>& date, std::ostream& out,
                        const TExportProgress& progress) {
    TExportResult result;
    size_t next = 0;
    uint64_t total = 0;
    log.Query([&](const TLogIndex& index, const TByteReader&) {
        range.To = std::min(range.To, index.LastMs());
        next = index.FirstBlockFor(double(range.From));
        total = range.From <= range.To ? index.RecordsNear(range.From, range.To) : 0;
        return true;
    });
    WriteHeader(date, out);
    std::string piece;
    for (bool more = range.From <= range.To; more;) {
        piece.clear();
        const bool readable = log.Query([&](const TLogIndex& index, const TByteReader& read) {
            const size_t end = next + kExportBlocks;
            more = end < index.BlockCount() && index.Block(end).FirstMs <= range.To;
            return index.ForEachInBlocks(read, next, end, range, [&](const TSample& sample) {
                AppendRow(sample, date, piece);
                ++result.Records;
                return true;
            });
        });
        next += kExportBlocks;
        if (!readable)
            return {TExportStatus::Unreadable, result.Records, "the log changed while it was read"};
        if (!out.write(piece.data(), std::streamsize(piece.size())))
            return {TExportStatus::WriteFailed, result.Records, "cannot write"};
        if (progress && !progress(result.Records, std::max(total, result.Records)))
            return {TExportStatus::Cancelled, result.Records, {}};
    }
    if (!out.flush())
        return {TExportStatus::WriteFailed, result.Records, "cannot write"};
    return result;
}

TExportResult ExportCsvFile(const TIndexedLog& log, TMsRange range,
                            const std::optional<TDateName>& date, const std::string& path,
                            const TExportProgress& progress) {
    if (SameFile(path, log.Path()))
        return {TExportStatus::SameFile, 0, path + " is the log being read"};
    TExportResult result;
    std::string error;
    const bool written = WriteReplacing(
        path,
        [&](const std::string& temporary, std::string& why) {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            if (!out) {
                result = {TExportStatus::WriteFailed, 0, "cannot create it"};
                return false;
            }
            result = ExportCsv(log, range, date, out, progress);
            out.close();
            if (result.Status == TExportStatus::Done && !out)
                result = {TExportStatus::WriteFailed, result.Records, "cannot write"};
            why = result.Error;
            return result.Status == TExportStatus::Done;
        },
        error);
    if (!written && result.Status == TExportStatus::Done)
        result = {TExportStatus::WriteFailed, result.Records, error};
    return result;
}

} // namespace orvi::viewer
