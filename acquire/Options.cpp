#include "acquire/Options.h"

#include <charconv>
#include <functional>
#include <limits>

namespace orvi::acquire {

namespace {

// The longest run: a million hours (114 years), well inside what the steady clock's
// nanoseconds hold (292 years), so that the end of a run is never computed past them.
constexpr uint64_t kMaxDurationMs = uint64_t(1000000) * 60 * 60 * 1000;

std::optional<uint64_t> WholeNumber(const std::string& text, uint64_t low, uint64_t high) {
    uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high)
        return std::nullopt;
    return value;
}

using TApply = std::function<std::string(TAcquireOptions&, const std::string&)>;

struct TOption {
    const char* Name;
    bool TakesValue;
    TApply Apply;
};

std::string Range(const std::string& option, const std::string& text, uint64_t low, uint64_t high) {
    return option + ": \"" + text + "\" is not a whole number from " + std::to_string(low) +
           " to " + std::to_string(high);
}

TApply Int32(const char* option, int32_t TAcquireOptions::*field, uint64_t low) {
    return [=](TAcquireOptions& o, const std::string& v) {
        const uint64_t high = uint64_t(std::numeric_limits<int32_t>::max());
        const auto n = WholeNumber(v, low, high);
        if (!n)
            return Range(option, v, low, high);
        o.*field = int32_t(*n);
        return std::string();
    };
}

TApply Text(const char* option, std::string TAcquireOptions::*field) {
    return [=](TAcquireOptions& o, const std::string& v) {
        o.*field = v;
        return v.empty() ? std::string(option) + ": a name is missing" : std::string();
    };
}

TApply Flag(bool TAcquireOptions::*field) {
    return [=](TAcquireOptions& o, const std::string&) {
        o.*field = true;
        return std::string();
    };
}

const std::vector<TOption>& Options() {
    static const std::vector<TOption> options = {
        {"--port", true, Text("--port", &TAcquireOptions::Port)},
        {"--baud", true, Int32("--baud", &TAcquireOptions::Baud, 1)},
        {"--interval", true, Int32("--interval", &TAcquireOptions::IntervalMs, 1)},
        {"--log", true, Text("--log", &TAcquireOptions::LogFile)},
        {"--log-dir", true, Text("--log-dir", &TAcquireOptions::LogDir)},
        {"--polls", true,
         [](TAcquireOptions& o, const std::string& v) {
             o.Polls = WholeNumber(v, 1, std::numeric_limits<uint64_t>::max());
             return o.Polls ? std::string()
                            : Range("--polls", v, 1, std::numeric_limits<uint64_t>::max());
         }},
        {"--duration", true,
         [](TAcquireOptions& o, const std::string& v) {
             o.DurationMs = ParseDuration(v);
             return o.DurationMs
                        ? std::string()
                        : "--duration: \"" + v +
                              "\" is not a time such as 90, 90s, 10m or 12h, at most 1000000h";
         }},
        {"--reconnect", false, Flag(&TAcquireOptions::Reconnect)},
        {"--json", false, Flag(&TAcquireOptions::Json)},
        {"--help", false, Flag(&TAcquireOptions::Help)},
        {"-h", false, Flag(&TAcquireOptions::Help)},
        {"--version", false, Flag(&TAcquireOptions::Version)},
    };
    return options;
}

std::string ApplyArgument(const std::vector<std::string>& args, size_t& i, TAcquireOptions& o) {
    const std::string& arg = args[i];
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    for (const TOption& option : Options()) {
        if (name != option.Name)
            continue;
        if (!option.TakesValue)
            return eq == std::string::npos ? option.Apply(o, {}) : name + " takes no value";
        if (eq != std::string::npos)
            return option.Apply(o, arg.substr(eq + 1));
        if (i + 1 >= args.size())
            return name + ": value missing";
        return option.Apply(o, args[++i]);
    }
    return "unknown argument \"" + arg + "\"";
}

} // namespace

std::optional<uint64_t> ParseDuration(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    uint64_t unitMs = 0;
    size_t digits = text.size() - 1;
    switch (text.back()) {
    case 's':
        unitMs = 1000;
        break;
    case 'm':
        unitMs = 60 * 1000;
        break;
    case 'h':
        unitMs = 60 * 60 * 1000;
        break;
    default: // a bare number is seconds, as timeout, sleep and systemd read it
        unitMs = 1000;
        digits = text.size();
    }
    const auto units = WholeNumber(text.substr(0, digits), 1, kMaxDurationMs / unitMs);
    if (!units)
        return std::nullopt;
    return *units * unitMs;
}

TParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    TParsedCommandLine parsed;
    for (size_t i = 0; i < args.size() && parsed.Error.empty(); ++i)
        parsed.Error = ApplyArgument(args, i, parsed.Options);
    if (parsed.Error.empty() && !parsed.Options.LogFile.empty() && !parsed.Options.LogDir.empty())
        parsed.Error = "--log and --log-dir exclude each other";
    return parsed;
}

std::string UsageText() {
    return R"(Usage: orvi_acquire [options]
Polls the measuring device as a run of the console does and writes each reading to
a data log (the console's format, byte for byte) and, with --json, to standard output.

Port:
  --port PORT       the port: COM5, or a device such as /dev/ttyUSB0; without it the
                    USB-serial adapter is searched for as the console's "Старт" does
  --baud N          line speed in bits per second (default 19200)
  --interval MS     poll interval in milliseconds, at least 1 (default 1); a poll
                    that takes longer drops the ticks that fall into it
  --reconnect       a lost port or a silent device does not end the run: wait for
                    the same port (its USB serial number and interface number, or
                    its place on the bus; a /dev/serial/by-id link as given) and go
                    on; the gap shows in the ticks
Output:
  --log FILE        write the data log to FILE (an existing file is emptied)
  --log-dir DIR     write the data log to DIR under a name made from the local date
                    and time, YYYY_M_D_h_m.txt; when that name is taken, _2, _3, ...
                    is added, so an earlier file is never emptied
                    (without --log or --log-dir no file is written)
  --json            one JSON object per record on standard output: seq (its line
                    in the log), tick, time (UTC, ISO 8601 with milliseconds, when
                    the reply came) and the fields housing1, sensor1, ... housing4,
                    sensor4 (°C), roll, pitch (°), zero_count; a reader that falls
                    behind loses stream records (counted), never log lines
End of the run:
  --polls N         after N logged polls
  --duration T      after T: seconds, or a number followed by s, m or h (90, 90s,
                    10m, 12h); at most 1000000h
  The run also ends at the device's end-of-data mark and at SIGINT or SIGTERM
  (Ctrl+C, Ctrl+Break on Windows): the poll in progress completes and is logged.
  SIGHUP closes the data log and opens it again under the same name (for log
  rotation; a file still there keeps its lines and the new ones follow). The log
  is written in append mode: a file emptied by copytruncate goes on at its start.
Other:
  --help            this text
  --version         the program's version

On a terminal a status line (refreshed at most twice a second) goes to standard
error; otherwise only warnings and errors, one line each.

Exit status:
  0  ended as asked: count, duration, end of data, or a stop signal
  1  no answer from the device, the port lost, or the log or the stream could not
     be written (the log keeps whole lines only)
  2  a bad command line
  3  no adapter found, or the port could not be opened
)";
}

} // namespace orvi::acquire
