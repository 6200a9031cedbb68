#include "viewer/CommandLine.h"

#include "viewer/CsvExport.h"
#include "viewer/IndexedLog.h"
#include "viewer/OutputFile.h"
#include "viewer/RangeStats.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ostream>

namespace orvi::viewer {

namespace {

constexpr int kMinSide = 64, kMaxSide = 10000;

bool ParseSeconds(const std::string& text, std::optional<double>& out) {
    double value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() ||
        !std::isfinite(value))
        return false;
    out = value;
    return true;
}

bool ParseSize(const std::string& text, int& width, int& height) {
    const size_t x = text.find('x');
    if (x == std::string::npos)
        return false;
    const char* end = text.data() + text.size();
    const auto w = std::from_chars(text.data(), text.data() + x, width);
    const auto h = std::from_chars(text.data() + x + 1, end, height);
    return w.ec == std::errc() && w.ptr == text.data() + x && h.ec == std::errc() && h.ptr == end &&
           width >= kMinSide && width <= kMaxSide && height >= kMinSide && height <= kMaxSide;
}

std::string SecondsOf(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

bool SetMode(TCommandLine& out, TCommandLine::TMode mode, std::string& error) {
    if (out.Mode != TCommandLine::TMode::Window) {
        error = "--png, --csv and --stats exclude each other";
        return false;
    }
    out.Mode = mode;
    return true;
}

bool CheckCombination(const TCommandLine& out, bool sizeGiven, std::string& error) {
    const bool png = out.Mode == TCommandLine::TMode::Png;
    const bool ranged =
        out.Mode == TCommandLine::TMode::Csv || out.Mode == TCommandLine::TMode::Stats;
    if ((png || ranged) && out.File.empty())
        error = std::string(png                                    ? "--png"
                            : out.Mode == TCommandLine::TMode::Csv ? "--csv"
                                                                   : "--stats") +
                " needs a FILE to read";
    else if (sizeGiven && !png)
        error = "--size goes with --png";
    else if ((out.From || out.To) && !ranged)
        error = "--from and --to go with --csv or --stats";
    else if (out.From && out.To && *out.From > *out.To)
        error =
            std::string("--from ") + SecondsOf(*out.From) + " is after --to " + SecondsOf(*out.To);
    return error.empty();
}

} // namespace

bool ParseCommandLine(const std::vector<std::string>& args, TCommandLine& out, std::string& error) {
    bool sizeGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--help" || arg == "-h") {
            out.Mode = TCommandLine::TMode::Help;
            return true;
        }
        if (arg == "--stats") {
            if (!SetMode(out, TCommandLine::TMode::Stats, error))
                return false;
            continue;
        }
        if (arg == "--png" || arg == "--csv" || arg == "--size" || arg == "--from" ||
            arg == "--to") {
            if (!hasValue) {
                error = arg + " needs a value";
                return false;
            }
            const std::string& value = args[++i];
            bool ok = true;
            if (arg == "--png" || arg == "--csv") {
                ok = SetMode(out,
                             arg == "--png" ? TCommandLine::TMode::Png : TCommandLine::TMode::Csv,
                             error);
                out.Output = value;
                ok = ok && !value.empty();
            } else if (arg == "--size") {
                ok = sizeGiven = ParseSize(value, out.Width, out.Height);
            } else {
                ok = ParseSeconds(value, arg == "--from" ? out.From : out.To);
            }
            if (!ok) {
                if (error.empty())
                    error = arg + ": \"" + value + "\" is not a valid value";
                return false;
            }
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            error = "unknown option " + arg;
            return false;
        } else if (!out.File.empty()) {
            error = "only one FILE can be given";
            return false;
        } else {
            out.File = arg;
        }
    }
    return CheckCombination(out, sizeGiven, error);
}

std::string UsageText() {
    return "Usage: orvi_viewer [FILE]\n"
           "       orvi_viewer --png OUT.png [--size WIDTHxHEIGHT] FILE\n"
           "       orvi_viewer --csv OUT.csv [--from SECONDS] [--to SECONDS] FILE\n"
           "       orvi_viewer --stats [--from SECONDS] [--to SECONDS] FILE\n"
           "Shows a data log of the Orvi console as a trend chart and follows it while it\n"
           "grows; without a window, draws it to a PNG picture, exports it as CSV or prints\n"
           "the statistics of each channel.\n"
           "\n"
           "  --png OUT.png   draw the whole log into OUT.png and exit\n"
           "  --size WxH      the picture's size in pixels (default 1600x900)\n"
           "  --csv OUT.csv   write the records as CSV into OUT.csv and exit\n"
           "  --stats         print per channel, as CSV on standard output: count, values\n"
           "                  that are not finite, min and max (as the log holds them) with\n"
           "                  their times, mean and sample standard deviation\n"
           "  --from S        only records from S seconds after the first one\n"
           "  --to S          only records up to S seconds (both bounds inclusive)\n"
           "  -h, --help      show this text and exit\n"
           "\n"
           "An output is written to a temporary file and renamed when complete; an output\n"
           "that is FILE itself is refused. Lines that hold no record are skipped, and\n"
           "values that are not finite left out; both are named on standard error.\n"
           "Exit status: 0 success, 1 the file cannot be read or holds no record, or the\n"
           "output cannot be written, 2 a bad command line or an output that is FILE.\n";
}

namespace {

// Names on `err` what the index skipped or left out; false when it holds no record.
bool ReportSkipped(const TIndexedLog& log, const TLogIndex& index, std::ostream& err) {
    const std::string& path = log.Path();
    for (const uint64_t line : index.MalformedLines())
        err << "orvi_viewer: " << path << ": line " << line << " skipped: not a record\n";
    if (index.Malformed() > index.MalformedLines().size())
        err << "orvi_viewer: " << path << ": " << index.Malformed() << " lines skipped in all\n";
    for (const uint64_t line : index.NotFiniteLines())
        err << "orvi_viewer: " << path << ": line " << line
            << ": a value that is not a finite number left out\n";
    if (index.NotFinite() > index.NotFiniteLines().size())
        err << "orvi_viewer: " << path << ": " << index.NotFinite()
            << " values that are not finite numbers left out in all\n";
    if (index.Empty()) {
        if (log.FileBytes() == 0)
            err << "orvi_viewer: " << path << " is an empty file\n";
        else
            err << "orvi_viewer: " << path << " is not a data log: no line holds a record\n";
        return false;
    }
    return true;
}

TMsRange RangeOf(const TCommandLine& line) {
    return RangeOfSeconds(line.From.value_or(-HUGE_VAL), line.To.value_or(HUGE_VAL));
}

} // namespace

std::unique_ptr<TIndexedLog> LoadForCommandLine(const std::string& path, std::ostream& err) {
    std::string error;
    std::unique_ptr<TIndexedLog> log = TIndexedLog::Open(path, error);
    if (!log) {
        err << "orvi_viewer: cannot read " << path << ": " << error << '\n';
        return nullptr;
    }
    log->IndexHere();
    const bool any = log->Query([&](const TLogIndex& index, const TByteReader&) {
        return ReportSkipped(*log, index, err);
    });
    return any ? std::move(log) : nullptr;
}

int CheckOutputIsNotLog(const TCommandLine& line, std::ostream& err) {
    if (!SameFile(line.Output, line.File))
        return kExitOk;
    err << "orvi_viewer: the output " << line.Output << " is the log " << line.File
        << " itself; nothing written\n";
    return kExitUsage;
}

int RunCsv(const TCommandLine& line, std::ostream& err) {
    if (const int refused = CheckOutputIsNotLog(line, err))
        return refused;
    const std::unique_ptr<TIndexedLog> log = LoadForCommandLine(line.File, err);
    if (!log)
        return kExitUnreadable;
    const TExportResult result =
        ExportCsvFile(*log, RangeOf(line), ParseDateName(line.File), line.Output, nullptr);
    switch (result.Status) {
    case TExportStatus::Done:
        return kExitOk;
    case TExportStatus::SameFile:
        err << "orvi_viewer: the output " << line.Output << " is the log itself; nothing written\n";
        return kExitUsage;
    default:
        err << "orvi_viewer: cannot write " << line.Output << ": " << result.Error << '\n';
        return kExitUnreadable;
    }
}

int RunStats(const TCommandLine& line, std::ostream& out, std::ostream& err) {
    const std::unique_ptr<TIndexedLog> log = LoadForCommandLine(line.File, err);
    if (!log)
        return kExitUnreadable;
    const std::optional<TRangeStats> stats = ComputeRangeStats(*log, RangeOf(line));
    if (!stats) {
        err << "orvi_viewer: " << line.File << ": the log changed while it was read\n";
        return kExitUnreadable;
    }
    out << StatsCsv(*stats, ParseDateName(line.File)) << std::flush;
    return out ? kExitOk : kExitUnreadable;
}

} // namespace orvi::viewer
