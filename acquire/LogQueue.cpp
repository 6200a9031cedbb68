#include "acquire/LogQueue.h"

#include "acquire/Output.h"
#include "app/DataLogFile.h"
#include "app/LogReplay.h"
#include "app/RecordFields.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace orvi::acquire {

namespace {

constexpr size_t kReadBlock = 64 * 1024;

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// "key value key value ...": the value of `key`, when there.
template <class T> std::optional<T> Value(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    std::string name;
    T value{};
    while (in >> name >> value) {
        if (name == key)
            return value;
    }
    return std::nullopt;
}

// A number of a log line: the log's integer and real forms, and the words the log writes for
// values that are not finite.
std::optional<double> FieldValue(const app::TRecordField& field, const std::string& text) {
    if (field.Type == app::TFieldType::Integer) {
        const auto n = app::ParseLogInteger(text);
        return n ? std::optional<double>(*n) : std::nullopt;
    }
    if (text == "NAN")
        return NAN;
    if (text == "INF" || text == "-INF")
        return text[0] == '-' ? -INFINITY : INFINITY;
    return app::ParseLogReal(text);
}

// The twelve numbers of a line without its line end into `record`; false when it is none.
bool ParseLine(const std::string& line, app::TMeasurementRecord& record) {
    size_t at = 0;
    for (const app::TRecordField& field : app::RecordFields()) {
        if (at > line.size())
            return false;
        const size_t end = std::min(line.find(' ', at), line.size());
        const auto value = FieldValue(field, line.substr(at, end - at));
        if (!value)
            return false;
        field.Set(record, *value);
        at = end + 1;
    }
    return at == line.size() + 1;
}

} // namespace

std::string ClockPath(const std::string& log) {
    return log + ".clock";
}

std::string PositionPath(const std::string& log) {
    return log + ".acked";
}

std::optional<TLogClock> ReadClock(const std::string& log) {
    const std::string text = Slurp(ClockPath(log));
    const auto tick = Value<uint32_t>(text, "tick");
    const auto utc = Value<int64_t>(text, "utc_ms");
    if (!tick || !utc)
        return std::nullopt;
    return TLogClock{*tick, *utc};
}

bool WriteClock(const std::string& log, const TLogClock& clock, std::string& reason) {
    return WriteFileAtomically(ClockPath(log),
                               "tick " + std::to_string(clock.Tick) + " utc_ms " +
                                   std::to_string(clock.UtcMs) + "\n",
                               reason);
}

TLogPosition ReadPosition(const std::string& log, const TLogClock& clock) {
    const std::string text = Slurp(PositionPath(log));
    TLogPosition p;
    const auto offset = Value<uint64_t>(text, "offset");
    const auto seq = Value<uint64_t>(text, "seq");
    const auto tick = Value<uint32_t>(text, "tick");
    const auto utc = Value<int64_t>(text, "utc_ms");
    const auto start = Value<int64_t>(text, "log_start_ms");
    if (!offset || !seq || !tick || !utc || !start || *start != clock.UtcMs)
        return TLogPosition{0, 0, 0, 0, clock.UtcMs};
    return TLogPosition{*offset, *seq, *tick, *utc, *start};
}

bool WritePosition(const std::string& log, const TLogPosition& p, std::string& reason) {
    return WriteFileAtomically(
        PositionPath(log),
        "offset " + std::to_string(p.Offset) + " seq " + std::to_string(p.Seq) + " tick " +
            std::to_string(p.Tick) + " utc_ms " + std::to_string(p.UtcMs) + " log_start_ms " +
            std::to_string(p.LogStartMs) + "\n",
        reason);
}

std::vector<std::string> LogsToForward(const std::string& dir, const std::string& current) {
    namespace fs = std::filesystem;
    std::vector<std::pair<int64_t, std::string>> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, error)) {
        const std::string path = entry.path().string();
        if (entry.path().extension() != ".txt" || fs::equivalent(path, current, error))
            continue;
        const auto clock = ReadClock(path);
        if (!clock)
            continue;
        const uint64_t size = entry.file_size(error);
        if (!error && ReadPosition(path, *clock).Offset < size)
            found.emplace_back(clock->UtcMs, path);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& [start, path] : found)
        paths.push_back(std::move(path));
    return paths;
}

TLogTail::TLogTail(std::string path, TLogClock clock, TLogPosition from)
    : path_(std::move(path)), clock_(clock), at_(from) {
    if (at_.Seq == 0) {
        at_.Tick = clock_.Tick;
        at_.UtcMs = clock_.UtcMs;
    }
}

TLogTail::~TLogTail() {
    if (file_)
        std::fclose(file_);
}

// Reads what the file holds after the buffer; false when nothing more is there.
bool TLogTail::Fill() {
    if (!file_) {
        file_ = app::detail::OpenForReading(path_);
        if (!file_)
            return false;
    }
    buffer_.erase(0, used_); // what was handed out goes once per read, not once per line
    used_ = 0;
    if (std::fseek(file_, long(at_.Offset + buffer_.size()), SEEK_SET) != 0)
        return false;
    char block[kReadBlock];
    const size_t n = std::fread(block, 1, sizeof block, file_);
    std::clearerr(file_);
    buffer_.append(block, n);
    return n > 0;
}

std::optional<TReadRecord> TLogTail::Next() {
    for (;;) {
        size_t end = buffer_.find('\n', used_);
        // One read for what the file holds now; a line not yet ended waits for the next call.
        if (end == std::string::npos &&
            (!Fill() || (end = buffer_.find('\n', used_)) == std::string::npos))
            return std::nullopt;
        std::string line = buffer_.substr(used_, end - used_);
        at_.Offset += end + 1 - used_;
        used_ = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        ++at_.Seq;
        app::TMeasurementRecord record;
        if (!ParseLine(line, record)) {
            ++skipped_;
            continue;
        }
        // The tick is unwrapped from the line before (or the clock's moment): the steps
        // between lines are short, whatever the log's length.
        const uint32_t tick = uint32_t(record.Tick);
        at_.UtcMs += int32_t(tick - at_.Tick);
        at_.Tick = tick;
        const auto measured =
            std::chrono::system_clock::time_point(std::chrono::milliseconds(at_.UtcMs));
        return TReadRecord{JsonLine(at_.Seq, record, measured), at_};
    }
}

uint64_t TLogTail::LinesLeft() {
    uint64_t lines = uint64_t(std::count(buffer_.begin() + long(used_), buffer_.end(), '\n'));
    std::FILE* file = app::detail::OpenForReading(path_);
    if (!file)
        return lines;
    if (std::fseek(file, long(at_.Offset + buffer_.size() - used_), SEEK_SET) == 0) {
        char block[kReadBlock];
        for (size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;)
            lines += uint64_t(std::count(block, block + n, '\n'));
    }
    std::fclose(file);
    return lines;
}

} // namespace orvi::acquire
