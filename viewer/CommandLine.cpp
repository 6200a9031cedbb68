#include "viewer/CommandLine.h"

#include "viewer/CsvExport.h"
#include "viewer/IndexedLog.h"

#include <charconv>
#include <cmath>
#include <fstream>
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

bool SetMode(TCommandLine& out, TCommandLine::TMode mode, std::string& error) {
    if (out.Mode != TCommandLine::TMode::Window) {
        error = "--png and --csv exclude each other";
        return false;
    }
    out.Mode = mode;
    return true;
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
    const bool png = out.Mode == TCommandLine::TMode::Png;
    const bool csv = out.Mode == TCommandLine::TMode::Csv;
    if ((png || csv) && out.File.empty())
        error = std::string(png ? "--png" : "--csv") + " needs a FILE to read";
    else if (sizeGiven && !png)
        error = "--size goes with --png";
    else if ((out.From || out.To) && !csv)
        error = "--from and --to go with --csv";
    return error.empty();
}

std::string UsageText() {
    return "Usage: orvi_viewer [FILE]\n"
           "       orvi_viewer --png OUT.png [--size WIDTHxHEIGHT] FILE\n"
           "       orvi_viewer --csv OUT.csv [--from SECONDS] [--to SECONDS] FILE\n"
           "Shows a data log of the Orvi console as a trend chart and follows it while it\n"
           "grows; without a window, draws it to a PNG picture or exports it as CSV.\n"
           "\n"
           "  --png OUT.png   draw the whole log into OUT.png and exit\n"
           "  --size WxH      the picture's size in pixels (default 1600x900)\n"
           "  --csv OUT.csv   write the records as CSV into OUT.csv and exit\n"
           "  --from S        export only records from S seconds after the first one\n"
           "  --to S          export only records up to S seconds (both bounds inclusive)\n"
           "  -h, --help      show this text and exit\n"
           "\n"
           "Lines that hold no record are skipped and named on standard error.\n"
           "Exit status: 0 success, 1 the file cannot be read or holds no record,\n"
           "2 a bad command line.\n";
}

std::unique_ptr<TIndexedLog> LoadForCommandLine(const std::string& path, std::ostream& err) {
    std::string error;
    std::unique_ptr<TIndexedLog> log = TIndexedLog::Open(path, error);
    if (!log) {
        err << "orvi_viewer: cannot read " << path << ": " << error << '\n';
        return nullptr;
    }
    log->IndexHere();
    return log->Query([&](const TLogIndex& index, const TByteReader&) {
        for (const uint64_t line : index.MalformedLines())
            err << "orvi_viewer: " << path << ": line " << line << " skipped: not a record\n";
        if (index.Malformed() > index.MalformedLines().size())
            err << "orvi_viewer: " << path << ": " << index.Malformed()
                << " lines skipped in all\n";
        if (index.Empty()) {
            err << "orvi_viewer: " << path << " is not a data log: no line holds a record\n";
            return false;
        }
        return true;
    })
               ? std::move(log)
               : nullptr;
}

int RunCsv(const TCommandLine& line, std::ostream& err) {
    const std::unique_ptr<TIndexedLog> log = LoadForCommandLine(line.File, err);
    if (!log)
        return kExitUnreadable;
    std::ofstream out(line.Output, std::ios::binary | std::ios::trunc);
    if (!out) {
        err << "orvi_viewer: cannot create " << line.Output << '\n';
        return kExitUnreadable;
    }
    const TMsRange range =
        RangeOfSeconds(line.From.value_or(-HUGE_VAL), line.To.value_or(HUGE_VAL));
    const int64_t written = log->Query([&](const TLogIndex& index, const TByteReader& read) {
        return WriteCsv(index, read, range, ParseDateName(line.File), out);
    });
    out.close();
    if (written < 0 || !out) {
        err << "orvi_viewer: cannot write " << line.Output
            << (written < 0 ? ": the log changed while it was read" : "") << '\n';
        return kExitUnreadable;
    }
    return kExitOk;
}

} // namespace orvi::viewer
