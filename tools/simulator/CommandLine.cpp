#include "tools/simulator/CommandLine.h"

#include <charconv>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <sstream>

namespace orvi::sim {

namespace {

constexpr int kMaxPortNumber = 256;
constexpr size_t kLongReply = kReplyLength + 5;
constexpr size_t kShortReply = 15;
constexpr int64_t kMaxFlashRecords = 1000000;

// What the options chose, before the scenario is put together.
struct Choices {
    CommandLine line;
    bool steady = false;
    std::optional<Codes> housing;
    std::optional<Codes> sensor;
    std::optional<int16_t> roll;
    std::optional<int16_t> pitch;
    std::optional<size_t> flashRecords;
    uint8_t flashEnd = kRecordEnd;
    bool flashEndGiven = false;
};

bool ParseInt(const std::string& text, int64_t low, int64_t high, int64_t& value) {
    int base = 10;
    size_t at = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        at = 2;
    }
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data() + at, end, value, base);
    return !text.empty() && ec == std::errc() && ptr == end && value >= low && value <= high;
}

std::string Range(int64_t low, int64_t high) {
    return " (" + std::to_string(low) + " to " + std::to_string(high) + ")";
}

// Parses one number into `out`; the error text when it is not one in the range.
template <class T>
std::string Number(const std::string& option, const std::string& text, int64_t low, int64_t high,
                   T& out) {
    int64_t value = 0;
    if (!ParseInt(text, low, high, value))
        return option + ": \"" + text + "\" is not a whole number" + Range(low, high);
    out = T(value);
    return {};
}

std::string CodeList(const std::string& option, const std::string& text,
                     std::optional<Codes>& out) {
    Codes codes{};
    std::istringstream in(text);
    std::string item;
    size_t n = 0;
    while (std::getline(in, item, ',')) {
        if (n == codes.size())
            return option + ": four codes expected";
        if (const std::string e = Number(option, item, 0, 65535, codes[n++]); !e.empty())
            return e;
    }
    if (n != codes.size())
        return option + ": four codes expected, separated by commas";
    out = codes;
    return {};
}

std::string FlashEnd(const std::string& text, Choices& c) {
    c.flashEndGiven = true;
    if (text.size() == 1) {
        c.flashEnd = uint8_t(text[0]);
        return {};
    }
    return Number("--flash-end", text, 0, 255, c.flashEnd);
}

// "N,MS,LEN": housing request N answered MS ms later than the others, with LEN bytes.
std::string OddReply(const std::string& text, Scenario& s) {
    const std::string option = "--odd-reply";
    std::istringstream in(text);
    std::string n, ms, length, rest;
    if (!std::getline(in, n, ',') || !std::getline(in, ms, ',') || !std::getline(in, length, ',') ||
        std::getline(in, rest))
        return option + ": N,MS,LEN expected (request number, ms later, bytes)";
    s.oddHousing.emplace();
    std::string e = Number(option, n, 0, std::numeric_limits<int64_t>::max(), *s.oddHousing);
    if (e.empty())
        e = Number(option, ms, 0, UINT32_MAX, s.oddDelayMs);
    if (e.empty())
        e = Number(option, length, 0, int64_t(kMaxReplyLength), s.oddLength);
    return e;
}

std::string NoReply(const std::string& kind, Scenario& s) {
    if (kind == "housing")
        s.answerHousing = false;
    else if (kind == "sensor")
        s.answerSensor = false;
    else if (kind == "flash")
        s.answerFlash = false;
    else
        return "--no-reply: \"" + kind + "\" is not housing, sensor or flash";
    return {};
}

using Apply = std::function<std::string(Choices&, const std::string&)>;

struct Option {
    const char* name;
    bool takesValue;
    Apply apply;
};

// An option without a value.
Apply Flag(std::function<void(Choices&)> set) {
    return [set](Choices& c, const std::string&) {
        set(c);
        return std::string();
    };
}

const std::vector<Option>& Options() {
    constexpr int64_t kMaxCount = std::numeric_limits<int64_t>::max();
    static const std::vector<Option> options = {
        {"--help", false, Flag([](Choices& c) { c.line.help = true; })},
        {"-h", false, Flag([](Choices& c) { c.line.help = true; })},
        {"--port", true,
         [](Choices& c, auto& v) {
             return Number("--port", v, 1, kMaxPortNumber, c.line.port.comNumber);
         }},
        {"--port-dir", true,
         [](Choices& c, auto& v) {
             c.line.port.folder = v;
             return v.empty() ? std::string("--port-dir: folder name missing") : std::string();
         }},
        {"--sweep", false, Flag([](Choices& c) { c.steady = false; })},
        {"--steady", false, Flag([](Choices& c) { c.steady = true; })},
        {"--housing", true,
         [](Choices& c, auto& v) { return CodeList("--housing", v, c.housing); }},
        {"--sensor", true, [](Choices& c, auto& v) { return CodeList("--sensor", v, c.sensor); }},
        {"--roll", true,
         [](Choices& c, auto& v) {
             c.roll.emplace();
             return Number("--roll", v, INT16_MIN, INT16_MAX, *c.roll);
         }},
        {"--pitch", true,
         [](Choices& c, auto& v) {
             c.pitch.emplace();
             return Number("--pitch", v, INT16_MIN, INT16_MAX, *c.pitch);
         }},
        {"--zero-count", true,
         [](Choices& c, auto& v) {
             return Number("--zero-count", v, INT16_MIN, INT16_MAX, c.line.scenario.zeroCount);
         }},
        {"--end-after", true,
         [](Choices& c, auto& v) {
             c.line.scenario.endAfterPolls.emplace();
             return Number("--end-after", v, 0, kMaxCount, *c.line.scenario.endAfterPolls);
         }},
        {"--silent", false, Flag([](Choices& c) { c.line.scenario.silent = true; })},
        {"--no-reply", true, [](Choices& c, auto& v) { return NoReply(v, c.line.scenario); }},
        {"--answer-first", true,
         [](Choices& c, auto& v) {
             c.line.scenario.answerFirst.emplace();
             return Number("--answer-first", v, 0, kMaxCount, *c.line.scenario.answerFirst);
         }},
        {"--late", true,
         [](Choices& c, auto& v) {
             return Number("--late", v, 0, UINT32_MAX, c.line.scenario.replyDelayMs);
         }},
        {"--long-replies", false,
         Flag([](Choices& c) { c.line.scenario.replyLength = kLongReply; })},
        {"--short-replies", false,
         Flag([](Choices& c) { c.line.scenario.replyLength = kShortReply; })},
        {"--reply-length", true,
         [](Choices& c, auto& v) {
             return Number("--reply-length", v, 0, int64_t(kMaxReplyLength),
                           c.line.scenario.replyLength);
         }},
        {"--odd-reply", true, [](Choices& c, auto& v) { return OddReply(v, c.line.scenario); }},
        {"--flash-records", true,
         [](Choices& c, auto& v) {
             c.flashRecords.emplace();
             return Number("--flash-records", v, 0, kMaxFlashRecords, *c.flashRecords);
         }},
        {"--flash-end", true, [](Choices& c, auto& v) { return FlashEnd(v, c); }},
    };
    return options;
}

// Applies one argument (and, for an option with a value, the next one).
std::string ApplyArgument(const std::vector<std::string>& args, size_t& i, Choices& c) {
    const std::string& arg = args[i];
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    for (const Option& o : Options()) {
        if (name != o.name)
            continue;
        if (!o.takesValue)
            return eq == std::string::npos ? o.apply(c, {}) : name + " takes no value";
        if (eq != std::string::npos)
            return o.apply(c, arg.substr(eq + 1));
        if (i + 1 >= args.size())
            return name + ": value missing";
        return o.apply(c, args[++i]);
    }
    return "unknown option \"" + arg + "\"";
}

void BuildScenario(Choices& c) {
    Scenario& s = c.line.scenario;
    if (c.steady) {
        const Scenario steady = SteadyScenario();
        s.housing = steady.housing;
        s.sensor = steady.sensor;
        s.roll = steady.roll;
        s.pitch = steady.pitch;
    }
    for (size_t i = 0; i < 4; ++i) {
        if (c.housing)
            s.housing[i] = Signal::Steady((*c.housing)[i]);
        if (c.sensor)
            s.sensor[i] = Signal::Steady((*c.sensor)[i]);
    }
    if (c.roll)
        s.roll = Signal::Steady(*c.roll);
    if (c.pitch)
        s.pitch = Signal::Steady(*c.pitch);
    if (c.flashRecords || c.flashEndGiven)
        s.flash = MakeFlashRecords(c.flashRecords.value_or(0), c.flashEnd);
}

std::string KindText(uint8_t kind) {
    if (kind >= 0x21 && kind < 0x7F)
        return std::string("'") + char(kind) + "'";
    return "byte " + std::to_string(kind);
}

} // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    Choices c;
    for (size_t i = 0; i < args.size() && c.line.error.empty(); ++i)
        c.line.error = ApplyArgument(args, i, c);
    if (c.line.error.empty()) {
        BuildScenario(c);
        c.line.error = CheckScenario(c.line.scenario);
    }
    return c.line;
}

std::string UsageText() {
    return R"(Usage: orvi_device_sim [options]
Simulates the measuring device on a pseudo-terminal linked as COM<N>, so that a
console started with the printed ORVI_PORT_DIR finds it as its USB-serial port.
Runs until interrupted (Ctrl+C) or terminated.

Port:
  --port N              port number of the link COM<N> (1 to 256, default 5)
  --port-dir DIR        put the COM<N> link in DIR (an existing folder) instead of
                        a temporary folder
Values:
  --sweep               temperatures and angles sweep gently (default): 20 to 40 °C,
                        roll and pitch within +-30 degrees
  --steady              temperatures and angles stay fixed
  --housing C1,C2,C3,C4 steady housing temperatures as raw codes (0.02 K each from
                        absolute zero: 14950 is 25.85 °C)
  --sensor C1,C2,C3,C4  steady sensor temperatures as raw codes
  --roll V, --pitch V   steady roll or pitch in hundredths of a degree (-32768 to 32767)
  --zero-count N        zero count (-32768 to 32767, default 12; 0 makes the console
                        show the spread between sensor channels 3 and 1)
  --end-after N         the end-of-data mark in every sensor reply after the first N
Misbehaviour:
  --silent              never answer
  --no-reply KIND       never answer one kind of request: housing, sensor or flash
                        (may be repeated)
  --answer-first N      answer only the first N requests of each kind
  --late MS             answer MS milliseconds late
  --long-replies        replies of 25 bytes (5 filler bytes after the 20)
  --short-replies       replies of 15 bytes
  --reply-length N      replies of N bytes (0 to 4096)
  --odd-reply N,MS,LEN  housing request N (from 0) answered MS ms later than the
                        others and with LEN bytes: 2,5500,20 answers after the
                        console's 5 s wait, 2,0,25 sends one reply of 25 bytes
Flash memory:
  --flash-records N     N records, alternating housing ('a') and sensor ('o') sets,
                        then the end record; without it the memory is empty
  --flash-end K         kind of the end record: one character (default f; x makes a
                        bad kind) or a byte value such as 0x78
  --help                this text
)";
}

std::string DescribeScenario(const Scenario& s) {
    std::ostringstream out;
    out << (s.roll.step == 0 && s.housing[0].step == 0 ? "steady values" : "sweeping values");
    out << ", zero count " << s.zeroCount;
    if (s.endAfterPolls)
        out << ", end-of-data mark after " << *s.endAfterPolls << " polls";
    if (s.silent)
        out << ", silent";
    if (!s.answerHousing || !s.answerSensor || !s.answerFlash)
        out << ", no reply to" << (s.answerHousing ? "" : " housing")
            << (s.answerSensor ? "" : " sensor") << (s.answerFlash ? "" : " flash");
    if (s.answerFirst)
        out << ", answers only the first " << *s.answerFirst << " requests";
    if (s.replyDelayMs != 0)
        out << ", replies " << s.replyDelayMs << " ms late";
    if (s.replyLength != kReplyLength)
        out << ", replies of " << s.replyLength << " bytes";
    if (s.oddHousing)
        out << ", housing request " << *s.oddHousing << " answered " << s.oddDelayMs
            << " ms later with " << s.oddLength << " bytes";
    if (!s.flash.empty())
        out << ", flash memory of " << s.flash.size() - 1 << " records ending in "
            << KindText(s.flash.back().kind);
    return out.str();
}

} // namespace orvi::sim
